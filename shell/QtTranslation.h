#pragma once

class QCoreApplication;

// Qt's own texts (the buttons of message boxes, the text box's context menu)
// in Japanese, like every other text of the interface, whatever the
// desktop's locale. False when Qt's Japanese translation is not installed;
// the game then runs with Qt's English texts.
bool installQtJapanese(QCoreApplication *application);
