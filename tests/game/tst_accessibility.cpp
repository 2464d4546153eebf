// Checks what a screen reader gets through Qt's accessibility interfaces:
// the Japanese name (and description) of every control of the main window,
// the result window and the entry window, a gauge without a value, the
// mode list's spoken line and each change of mode put into it, good news
// as a dialog, the focus on the question during a game, each question put
// into its unseen spoken line (the question itself unselected), a repeated
// one included and a wrong answer said before the next, and exactly one
// NameChanged event for each change of the answer label.
// That Orca speaks them, and reads them back, e2e_orca checks.

#include "controls/SpokenLine.h"
#include "controls/WPTextBox.h"
#include "game/PlayRecord.h"
#include "game/frmMain.h"
#include "result/frmEntry.h"
#include "result/frmResult.h"
#include "shell/Accessibility.h"
#include "support/TestMain.h"
#include "support/TestPlatform.h"

#include "ui_frmMain.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QtTest>

// Qt sends accessibility events only while its platform accessibility is
// active, which normally a screen reader switches on; this is how Qt's own
// tests switch it on without one.
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>

namespace {

struct Recorded
{
    QAccessible::Event type;
    QObject *object;
    QString name;     // the object's accessible name when the event came
    QString inserted; // the text of a TextInserted event
};

QList<Recorded> recorded;

void record(QAccessibleEvent *event)
{
    QAccessibleInterface *iface = event->accessibleInterface();
    const QString inserted = event->type() == QAccessible::TextInserted
                                 ? static_cast<QAccessibleTextInsertEvent *>(event)->textInserted()
                                 : QString();
    recorded << Recorded{event->type(), event->object(), iface ? iface->text(QAccessible::Name) : QString(),
                         inserted};
}

QList<Recorded> eventsOf(QAccessible::Event type, const QObject *object)
{
    QList<Recorded> found;
    for (const Recorded &r : std::as_const(recorded))
        if (r.type == type && r.object == object)
            found << r;
    return found;
}

QString nameOf(QObject *object)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(QAccessible::Name) : QStringLiteral("<no interface>");
}

QString descriptionOf(QObject *object)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(QAccessible::Description) : QString();
}

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QAccessible::installUpdateHandler(record);
        QPlatformIntegration *integration = QGuiApplicationPrivate::platformIntegration();
        QVERIFY(integration && integration->accessibility());
        integration->accessibility()->setActive(true);
        QVERIFY(QAccessible::isActive());
    }

    void cleanupTestCase() { QAccessible::installUpdateHandler(nullptr); }

    void init() { recorded.clear(); }

    void mainWindowControlsHaveNames()
    {
        TestPlatform t;
        t.store("mode0", "57");
        frmMain w(t.platform);
        auto &ui = w.controls();
        // On Linux Qt names a combo box by its chosen entry, and labels it
        // through relations; the name of its own serves the other platforms.
        QCOMPARE(nameOf(ui.cmbMode), QStringLiteral("30秒間激走モード"));
        QCOMPARE(ui.cmbMode->accessibleName(), QStringLiteral("モード"));
        QCOMPARE(descriptionOf(ui.cmbMode), QStringLiteral("30秒間激走モード ハイスコア 57"));
        QCOMPARE(nameOf(ui.lblHiScore), QStringLiteral("ハイスコア 57"));
        QCOMPARE(nameOf(ui.PB1), QStringLiteral("残り時間"));
        // No value, so none is read out as the gauge drains.
        QVERIFY(!QAccessible::queryAccessibleInterface(ui.PB1)->valueInterface());
        QCOMPARE(nameOf(ui.btnClear), QStringLiteral("ハイスコアをクリア"));
        QCOMPARE(descriptionOf(ui.btnClear), QStringLiteral("ハイスコアをクリア。"));
        QCOMPARE(nameOf(ui.btnRanking), QStringLiteral("ランキング"));
        QCOMPARE(descriptionOf(ui.btnRanking), QStringLiteral("インターネット上のランキングを表示。"));
        QCOMPARE(nameOf(ui.btnWuppet), QStringLiteral("ホームページ"));
        QCOMPARE(nameOf(ui.lblQuestion), QStringLiteral("問題"));
        QCOMPARE(nameOf(ui.lblAnswer), QStringLiteral("答え !!"));
        QCOMPARE(nameOf(ui.lblMessage2), ui.lblMessage2->text());

        // Each change of mode is text put into the list's spoken line, which
        // a screen reader says: the mode, and its high score where it has one.
        recorded.clear();
        ui.cmbMode->setCurrentIndex(1);
        ui.cmbMode->setCurrentIndex(2);
        QCOMPARE(descriptionOf(ui.cmbMode), QStringLiteral("Tovrika養成マシン"));
        const QList<Recorded> said =
            eventsOf(QAccessible::TextInserted, ui.cmbMode->findChild<SpokenLine *>());
        QCOMPARE(said.size(), 2);
        QCOMPARE(said.at(0).inserted, QStringLiteral("90秒間耐久モード ハイスコア 0"));
        QCOMPARE(said.at(1).inserted, QStringLiteral("Tovrika養成マシン"));
    }

    void goodNewsIsADialog()
    {
        // A message box of good news is a dialog, not an alert.
        QMessageBox box(QMessageBox::Information, QString(), QStringLiteral("x"));
        QCOMPARE(QAccessible::queryAccessibleInterface(&box)->role(), QAccessible::AlertMessage);
        setAccessibleRole(&box, QAccessible::Dialog);
        QCOMPARE(QAccessible::queryAccessibleInterface(&box)->role(), QAccessible::Dialog);
    }

    void eachQuestionIsAnnouncedOnce()
    {
        TestPlatform t;
        frmMain w(t.platform);
        auto &ui = w.controls();
        ui.cmbMode->setCurrentIndex(3); // additions only: two draws a question
        // The first two questions are both "3 ＋ 4 ?": the repeat must be
        // announced too.
        t.random.queued = {0.3, 0.4, 0.3, 0.4};
        recorded.clear();

        QStringList shown;
        w.Form_KeyPress(u'a');
        shown << ui.lblQuestion->text();
        for (int i = 0; i < 6; ++i) {
            w.Form_KeyPress(char16_t(u'0' + w.expectedAnswer()));
            shown << ui.lblQuestion->text();
        }
        QCOMPARE(shown.at(0), QStringLiteral("3 ＋ 4 ?"));
        QCOMPARE(shown.at(1), QStringLiteral("3 ＋ 4 ?"));

        // A wrong answer: its outcome goes before the next question.
        w.Form_KeyPress(char16_t(u'0' + (w.expectedAnswer() + 1) % 10));
        shown << QStringLiteral("はずれ ") + ui.lblQuestion->text();

        const QList<Recorded> events = eventsOf(QAccessible::TextInserted, ui.lblQuestion->findChild<SpokenLine *>());
        QCOMPARE(events.size(), shown.size());
        for (qsizetype i = 0; i < events.size(); ++i)
            QCOMPARE(events.at(i).inserted, shown.at(i));
        QVERIFY(eventsOf(QAccessible::NameChanged, ui.lblQuestion).isEmpty());
    }

    void questionHoldsTheFocusDuringAGame()
    {
        TestPlatform t;
        frmMain w(t.platform);
        auto &ui = w.controls();
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(QApplication::focusWidget(), ui.cmbMode);
        recorded.clear();
        w.Form_KeyPress(u'a');
        // Taken before the controls were disabled: no disabled control ever
        // had the focus, and a screen reader says no "greyed".
        QCOMPARE(QApplication::focusWidget(), ui.lblQuestion);
        // Read as it is, with no "selected" after it.
        QCOMPARE(QAccessible::queryAccessibleInterface(ui.lblQuestion)->textInterface()->selectionCount(), 0);
        for (const Recorded &r : std::as_const(recorded))
            if (r.type == QAccessible::Focus)
                QCOMPARE(r.object, ui.lblQuestion);
        w.Form_KeyPress(u'\x1b');
        QCOMPARE(QApplication::focusWidget(), ui.cmbMode);
    }

    void answerLabelIsAnnouncedOnEachChange()
    {
        TestPlatform t;
        frmMain w(t.platform);
        auto &ui = w.controls();
        w.Form_KeyPress(u'a');  // the answer label is cleared
        recorded.clear();
        const qint16 right = w.expectedAnswer();
        w.Form_KeyPress(char16_t(u'0' + right));
        w.Form_KeyPress(char16_t(u'0' + (w.expectedAnswer() + 1) % 10));

        const QList<Recorded> events = eventsOf(QAccessible::NameChanged, ui.lblAnswer);
        QCOMPARE(events.size(), 2);
        QCOMPARE(events.at(0).name, QStringLiteral("答え ") + QString::number(right));
        QCOMPARE(events.at(1).name, QStringLiteral("答え ") + ui.lblAnswer->text());
    }

    void resultWindowStatisticsHaveNames()
    {
        TestPlatform t;
        PlayRecord record;
        record.nScore = 12;
        record.nAnswerCnt = 0;
        frmResult window(record, 0, t.platform);
        const auto label = [&](const char *name) { return window.findChild<QLabel *>(name); };
        QCOMPARE(nameOf(label("lblScore")), QStringLiteral("スコア ") + label("lblScore")->text());
        for (const auto &[name, caption] :
             {std::pair{"lblSeikairitu", "正解率"}, std::pair{"lblAvSpeed", "平均回答速度"},
              std::pair{"lblAvTime", "平均回答時間"}, std::pair{"lblPace", "ペース"},
              std::pair{"lblMinInt", "最短回答時間"}, std::pair{"lblMaxInt", "最長回答時間"}}) {
            QLabel *statistic = label(name);
            QVERIFY2(statistic, name);
            QCOMPARE(nameOf(statistic), QString::fromUtf8(caption) + u' ' + statistic->text());
            // The window's name holds it: a screen reader says it as the
            // window opens.
            QVERIFY2(nameOf(&window).contains(nameOf(statistic)), name);
        }
        QVERIFY(nameOf(&window).startsWith(QStringLiteral("結果 スコア ")));
        // The chart's scale reads as such, not as bare numbers.
        for (const char *tick : {"Label1", "Label2", "Label3", "Label4", "Label5", "Label8"})
            QVERIFY2(nameOf(label(tick)).startsWith(QStringLiteral("グラフの目盛り")), tick);
        QCOMPARE(nameOf(label("Pic")), QStringLiteral("1問あたりの所要時間のグラフ"));
        QVERIFY(!descriptionOf(label("Pic")).isEmpty());
        for (const char *button : {"btnEntry", "btnClose"})
            QVERIFY(!nameOf(window.findChild<QWidget *>(button)).isEmpty());
    }

    void nameFieldIsNamedWhereTheFocusIs()
    {
        TestPlatform t;
        PlayRecord record;
        frmEntry window(record, 0, t.platform);
        auto *field = window.findChild<WPTextBox *>("txtName");
        QVERIFY(field);
        QCOMPARE(nameOf(&window), QStringLiteral("ランキングへのエントリー"));
        QCOMPARE(nameOf(field), QStringLiteral("名前"));
        QCOMPARE(nameOf(field->editor()), QStringLiteral("名前"));
        QVERIFY(descriptionOf(field->editor()).contains(QStringLiteral("15文字")));
    }
};

TOVRIKA_TEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
