#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Text from strangers (a request line, a header, a name typed by a player)
// made safe for a log line or a terminal: nothing in it can end the line,
// move the cursor, change colours or reorder what follows.

// For a log: every byte outside printable ASCII, and the quote and the
// backslash, as \xHH.
QByteArray escapeBytes(QByteArrayView bytes);

// For a terminal: C0 controls but the tab, C1 controls, DEL and the bidirectional marks and
// overrides as \u{HHHH}; other text, Japanese names among it, stays as it is.
QString escapeControls(const QString &text);
