// Pastes a megabyte of mixed text into a WPTextBox in CheckAlphaNumeric mode
// and prints how long the filter and the whole paste take. The result is
// checked against the character-at-a-time removal on a prefix (that one is
// quadratic, so only a prefix is affordable).

#include "controls/CharPattern.h"
#include "controls/WPTextBox.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRandomGenerator>

#include <cstdio>

namespace {

QString mixedText(qsizetype units)
{
    const QString pieces[] = {
        QStringLiteral("Tovrika"), QStringLiteral("2001"), QStringLiteral(" "),
        QStringLiteral("-_!?"), QStringLiteral("名前"), QStringLiteral("ﾄｳﾞﾘｶ"),
        QStringLiteral("ＡＢＣ１"), QStringLiteral("\t\r\n"), QString::fromUcs4(U"\U0001F600"),
    };
    QRandomGenerator random(2001);
    QString text;
    text.reserve(units + 16);
    while (text.size() < units)
        text += pieces[random.bounded(int(std::size(pieces)))];
    text.truncate(units);
    return text;
}

QString oneAtATime(QString text, const CharPattern &pattern)
{
    qsizetype i = 0;
    while (i < text.size()) {
        if (pattern.matches(char32_t(text[i].unicode())))
            ++i;
        else
            text.remove(i, 1);
    }
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const QString pasted = mixedText(512 * 1024);  // 512 Ki UTF-16 units: 1 MiB
    const CharPattern pattern(u"[a-zA-Z0-9]");

    QElapsedTimer timer;
    timer.start();
    const QString filtered = pattern.filtered(pasted);
    const double filterMs = timer.nsecsElapsed() / 1e6;

    const qsizetype prefix = 64 * 1024;
    const bool same = pattern.filtered(QStringView(pasted).left(prefix))
                   == oneAtATime(pasted.left(prefix), pattern);

    WPTextBox box;
    int beeps = 0, changes = 0;
    box.setBeep([&beeps] { ++beeps; });
    QObject::connect(&box, &WPTextBox::Change, [&changes] { ++changes; });
    box.setCheckMode(WPTextBox::CheckAlphaNumeric);
    box.setText(QString());
    changes = 0;
    QApplication::clipboard()->setText(pasted);
    timer.restart();
    box.editor()->paste();
    const double pasteMs = timer.nsecsElapsed() / 1e6;

    QLineEdit plain;  // the same paste without any filter, for comparison
    plain.setMaxLength(box.editor()->maxLength());  // its own limit would cut at 32767
    timer.restart();
    plain.paste();
    const double plainMs = timer.nsecsElapsed() / 1e6;

    const bool pasteOk = box.text() == filtered && beeps == 1 && changes == 2;
    std::printf("pasted %lld UTF-16 units (%lld bytes), kept %lld\n",
                static_cast<long long>(pasted.size()), static_cast<long long>(pasted.size() * 2),
                static_cast<long long>(filtered.size()));
    std::printf("filter alone:              %8.2f ms (goal < 50 ms)\n", filterMs);
    std::printf("paste into the text box:   %8.2f ms (QLineEdit's own work included)\n", pasteMs);
    std::printf("same paste, plain QLineEdit: %6.2f ms\n", plainMs);
    std::printf("same as one at a time (first %lld units): %s\n",
                static_cast<long long>(prefix), same ? "yes" : "NO");
    std::printf("paste result, one beep, two Change events: %s\n", pasteOk ? "yes" : "NO");
    return same && pasteOk ? 0 : 1;
}
