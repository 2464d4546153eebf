#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// What the game and the ranking server both mean by the ranking protocol:
// the paths, the query keys, the answer words and the rules of a valid
// entry. Qt Core only, so that the server links it without any widget.
namespace RankingProtocol {

// Path of the entry CGI on the ranking server.
inline constexpr char EntryPath[] = "/cgi-bin/tovrika/tovrentry.cgi";
// The ranking page; the installation identifier follows as "?id=".
inline constexpr char RankingPagePath[] = "/wuppet/wpbrand/tovrika/";
inline constexpr char RankingPageIdKey[] = "id";
// The maker's home page.
inline constexpr char HomePagePath[] = "/";

// Query keys of an entry.
inline constexpr char ScoreKey[] = "hs";
inline constexpr char NameKey[] = "nm";
inline constexpr char ModeKey[] = "md";
inline constexpr char VersionKey[] = "vr";
// Request format version sent as "vr".
inline constexpr int RequestVersion = 2;

// The three answer words, compared whole by the game.
inline constexpr char AnswerOk[] = "OK";
inline constexpr char AnswerCannotRankIn[] = "CANNOT_RANK_IN";
inline constexpr char AnswerInvalidVersion[] = "INVALID_VERSION";

// A timed game records at most this many answers, so no honest score is higher.
inline constexpr int MaxScore = 301;
// The two timed modes, as sent in "md".
inline constexpr int ModeCount = 2;
inline constexpr int NameMaxLength = 15;
inline constexpr int UserIdMaxDigits = 17;

// NAME of NAME@ID: 1 to 15 ASCII letters and digits.
bool isValidName(QStringView name);
// ID of NAME@ID: an optional "-" and 1 to 17 digits.
bool isValidUserId(QStringView userId);

struct Entry
{
    int score = 0;
    int mode = 0;
    QString name;
    QString userId;
};

struct ParsedEntry
{
    enum class Status { Valid, InvalidVersion, Malformed };
    Status status = Status::Malformed;
    Entry entry;
};

// Reads the raw query of an entry request (the part after "?", still
// percent-encoded). "vr" missing, repeated or not exactly "2" is an old
// game; otherwise "hs", "md" and "nm" must each be there exactly once,
// percent-decoded, within the rules above. Keys of no meaning here are
// ignored, so that a later game may send more.
ParsedEntry parseEntryQuery(QByteArrayView rawQuery);

} // namespace RankingProtocol
