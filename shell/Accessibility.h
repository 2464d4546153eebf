#pragma once

class QLabel;
class QString;

// Shows text in a label whose text is a value that changes while the player
// watches (the answer, a score, a statistic). Its accessible name becomes
// its caption, which the window definition keeps in the label's "caption"
// property, followed by the text ("答え 5"), and exactly one NameChanged
// event announces it, also when the text repeats the last one.
void showSpokenText(QLabel *label, const QString &text);
