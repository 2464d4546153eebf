#pragma once

#include "protocol/RankingProtocol.h"
#include "shell/MessageBoxes.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

// The ranking-entry request and the meaning of the server's answer: plain
// functions, so the exact bytes sent and the message chosen for every body
// can be checked without a window or a network.
namespace RankingEntry {

// Path of the entry CGI on the ranking server.
inline constexpr const char *CgiPath = RankingProtocol::EntryPath;
// Request format version sent as "vr".
inline constexpr int RequestVersion = RankingProtocol::RequestVersion;

// A query value as sent: ASCII letters, digits and "-" as they are, every
// other character as %XX of its UTF-8 bytes. The name field admits only
// letters and digits and the identifier is digits (and "-"), so ordinary
// values go out unchanged; a settings file edited by hand cannot smuggle in
// "&", "=", "#" or spaces that would add query keys or cut the URL short.
QByteArray queryValue(const QString &value);

// The full request URL, already encoded, byte for byte what goes on the
// wire: server + path + "?hs=<score>&nm=<name>@<id>&md=<mode>&vr=2".
// rankingServer is "http://host[:port]" without a trailing slash.
QByteArray requestUrl(const QString &rankingServer, qint16 nScore, const QString &name,
                      const QString &userId, int modeIndex);

struct Answer
{
    MessageBoxes::Icon icon;
    QString message;
};

// The message for a response body, compared whole and exactly with the three
// answer words. No body at all (the transfer failed) gives the error message,
// like any body that is not an answer word.
Answer answerFor(const std::optional<QByteArray> &body);

// The message of an entry that did not succeed.
QString failureMessage();

} // namespace RankingEntry
