// Checks the result window: its definition as created (flags, size, colours,
// every control's kind, text, place, font and alignment, the tab order, the
// white picture box), the load step (texts, chart on Pic, the offer of the
// ranking entry with the red score or the exclamation sound), the scale's
// figures drawn whole, and, on the
// shown modal window, the focus on first and later activations, Enter and
// Esc, the entry window's round trip and the centring over the main window.

#include "game/PlayRecord.h"
#include "result/ResultChart.h"
#include "result/frmResult.h"
#include "support/TestMain.h"
#include "support/TestPlatform.h"

#include <QApplication>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QObject>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>
#include <tuple>

namespace {

// The window with the entry window replaced by a stand-in that records how
// it was opened, and with the definition-only constructor in reach.
class ProbeResult : public frmResult
{
public:
    ProbeResult(const PlayRecord &record, int modeIndex, Platform &platform,
                QWidget *parent = nullptr)
        : frmResult(record, modeIndex, platform, parent)
    {
    }
    ProbeResult(DefinitionOnly tag, const PlayRecord &record, Platform &platform)
        : frmResult(tag, record, 0, platform)
    {
    }
    using frmResult::DefinitionOnly;

    int entryOpened = 0;
    bool resultInactiveWhileEntryOpen = false;

protected:
    void openEntryWindow() override
    {
        ++entryOpened;
        QDialog entry(this);
        entry.resize(200, 100);
        QTimer::singleShot(0, &entry, [&] {
            QTRY_VERIFY(entry.isActiveWindow());
            resultInactiveWhileEntryOpen = !isActiveWindow();
            entry.accept();
        });
        entry.exec();
    }
};

PlayRecord workedExample(bool hiScore)
{
    PlayRecord r;
    r.nTime = 30;
    r.nMode = 0;
    r.bHiScore = hiScore;
    r.nScore = 12;
    r.nAnswerCnt = 14;
    r.lRealTime = 28500;
    r.lMinInt = 523;
    r.strMinQt = QStringLiteral("7 ＋ 8 ?");
    r.lMaxInt = 4210;
    r.strMaxQt = QStringLiteral("3 × 9 ?");
    for (int i = 0; i < 14; ++i) {
        r.lAnswerInt[std::size_t(i)] = 300 + 100 * i;
        r.bAnswerOk[std::size_t(i)] = i != 3 && i != 9;
    }
    return r;
}

template <typename T>
T *child(QWidget &window, const char *name)
{
    return window.findChild<T *>(QLatin1String(name));
}

// Runs the dialog modally; script runs once the event loop has started. A
// watchdog closes the dialog if the script leaves it open. Returns false
// when the watchdog had to step in.
bool runModal(QDialog &dialog, const std::function<void()> &script)
{
    bool timedOut = false;
    QTimer::singleShot(0, &dialog, script);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &dialog, [&] {
        timedOut = true;
        dialog.done(-1);
    });
    watchdog.start(10000);
    dialog.exec();
    return !timedOut;
}

// Presses a key where the player's key would go: the focused widget.
bool pressKey(Qt::Key key)
{
    QWidget *focus = QApplication::focusWidget();
    if (!focus)
        return false;
    QTest::keyClick(focus, key);
    return true;
}

QString focusName()
{
    QWidget *focus = QApplication::focusWidget();
    return focus ? focus->objectName() : QStringLiteral("(none)");
}

bool allPixels(const QImage &image, const QRect &rect, QRgb colour)
{
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (image.pixel(x, y) != colour)
                return false;
    return true;
}

} // namespace

class TestFrmResult : public QObject
{
    Q_OBJECT

private slots:
    void definitionWindow();
    void definitionControls_data();
    void definitionControls();
    void definitionInitialState();
    void definitionPaintsRuleAndWhitePicture();
    void tabOrder();
    void loadSetsTextsAndDrawsChartBeforeShowing();
    void loadWithoutValidStatistics();
    void entryOffer_data();
    void entryOffer();
    void firstActivationFocus_data();
    void firstActivationFocus();
    void enterOnEntryOpensEntryThenFocusReturnsToClose();
    void entryButtonOpensTheRankingEntryWindow();
    void escapeClosesWhereverTheFocusIs_data();
    void escapeClosesWhereverTheFocusIs();
    void enterOnPictureBoxCloses();
    void laterActivationFocusesClose();
    void centredOverTheMainWindow_data();
    void centredOverTheMainWindow();
    void chartSurvivesBeingCovered();
    void scaleFiguresAreWhole();
};

void TestFrmResult::definitionWindow()
{
    TestPlatform tp;
    ProbeResult window(ProbeResult::DefinitionOnly{}, workedExample(true), tp.platform);
    QCOMPARE(window.objectName(), QStringLiteral("frmResult"));
    const Qt::WindowFlags flags = window.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Dialog);
    QVERIFY(flags & Qt::CustomizeWindowHint);
    for (const Qt::WindowType hint : {Qt::WindowTitleHint, Qt::WindowSystemMenuHint,
                                      Qt::WindowCloseButtonHint, Qt::WindowMinimizeButtonHint,
                                      Qt::WindowMaximizeButtonHint})
        QVERIFY(!(flags & hint));
    QCOMPARE(window.size(), QSize(482, 267));
    QCOMPARE(window.minimumSize(), QSize(482, 267));
    QCOMPARE(window.maximumSize(), QSize(482, 267));
    QCOMPARE(window.palette().color(QPalette::Window), QColor(0, 0, 0));
}

void TestFrmResult::definitionControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<double>("points");  // 0: the window's default font
    QTest::addColumn<bool>("bold");
    QTest::addColumn<int>("alignment");  // horizontal part; -1: not a label

    const QString frm = QStringLiteral("frmResult");
    const double none = 0;
    const int left = Qt::AlignLeft, right = Qt::AlignRight, centre = Qt::AlignHCenter;
    auto row = [](const char *name, const char *kind, const QString &parent, const char *text,
                  QRect geometry, double points, bool bold, int alignment) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(kind) << parent
                            << QString::fromUtf8(text) << geometry << points << bold << alignment;
    };
    // Twips / 15.
    row("Frame4", "QGroupBox", frm, "最長回答時間", {340, 192, 133, 33}, none, false, -1);
    row("lblMaxInt", "QLabel", "Frame4", "無効", {0, 16, 133, 17}, none, false, centre);
    row("Frame3", "QGroupBox", frm, "最短回答時間", {340, 152, 133, 33}, none, false, -1);
    row("lblMinInt", "QLabel", "Frame3", "無効", {0, 16, 133, 17}, none, false, centre);
    row("Frame2", "QGroupBox", frm, "平均回答速度・時間", {340, 80, 133, 65}, none, false, -1);
    row("lblAvSpeed", "QLabel", "Frame2", "無効", {0, 16, 133, 17}, none, false, centre);
    row("lblAvTime", "QLabel", "Frame2", "無効", {0, 32, 133, 17}, none, false, centre);
    row("lblPace", "QLabel", "Frame2", "無効", {0, 48, 133, 17}, none, false, centre);
    row("btnClose", "QPushButton", frm, "閉じる", {408, 232, 65, 25}, none, false, -1);
    row("btnEntry", "QPushButton", frm, "エントリー", {340, 232, 65, 25}, none, false, -1);
    row("Pic", "QLabel", frm, "", {28, 56, 300, 200}, none, false, left);
    row("Frame1", "QGroupBox", frm, "正解率", {340, 40, 133, 33}, none, false, -1);
    row("lblSeikairitu", "QLabel", "Frame1", "無効", {0, 16, 133, 17}, none, false, centre);
    row("Label8", "QLabel", frm, "0.5", {4, 200, 21, 9}, 8.25, false, right);
    row("Label5", "QLabel", frm, "1.5", {4, 104, 21, 9}, 8.25, false, right);
    row("lblTitle", "QLabel", frm, "ただいまの結果 >>>", {8, 8, 273, 21}, 12, true, left);
    row("lblScore", "QLabel", frm, "46", {396, 3, 69, 25}, 20.25, true, right);
    row("Label7", "QLabel", frm, "スコア：", {344, 10, 57, 17}, 11.25, true, left);
    row("Label6", "QLabel", frm, "1問あたりの所要時間の推移", {104, 40, 149, 13}, 8.25, false, centre);
    row("Label4", "QLabel", frm, "（秒）", {8, 44, 29, 9}, 8.25, false, left);
    row("Label3", "QLabel", frm, "1.0", {8, 152, 17, 9}, 8.25, false, right);
    row("Label2", "QLabel", frm, "2.0", {4, 56, 21, 9}, 8.25, false, right);
    row("Label1", "QLabel", frm, "0.0", {8, 248, 17, 9}, 8.25, false, right);
}

void TestFrmResult::definitionControls()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, parentName);
    QFETCH(QString, text);
    QFETCH(QRect, geometry);
    QFETCH(double, points);
    QFETCH(bool, bold);
    QFETCH(int, alignment);

    TestPlatform tp;
    ProbeResult window(ProbeResult::DefinitionOnly{}, workedExample(true), tp.platform);
    QWidget *widget = window.findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->metaObject()->className(), kind.toLatin1());
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    QCOMPARE(widget->geometry(), geometry);

    if (auto *label = qobject_cast<QLabel *>(widget)) {
        QCOMPARE(label->text(), text);
        QCOMPARE(int(label->alignment() & Qt::AlignHorizontal_Mask), alignment);
        // Label texts are drawn from the top, as the axis marks' 9-pixel
        // boxes need.
        QCOMPARE(int(label->alignment() & Qt::AlignVertical_Mask), int(Qt::AlignTop));
        if (name != QLatin1String("Pic")) {
            QCOMPARE(label->palette().color(QPalette::WindowText), QColor(255, 255, 255));
            QVERIFY(!label->autoFillBackground());
        }
    } else if (auto *frame = qobject_cast<QGroupBox *>(widget)) {
        QCOMPARE(frame->title(), text);
        QCOMPARE(frame->palette().color(QPalette::WindowText), QColor(255, 255, 255));
        QCOMPARE(frame->palette().color(QPalette::Window), QColor(0, 0, 0));
    } else if (auto *button = qobject_cast<QPushButton *>(widget)) {
        QCOMPARE(button->text(), text);
    }

    const QFont font = widget->font();
    if (points > 0) {
        QCOMPARE(font.family(), QStringLiteral("ＭＳ Ｐゴシック"));
        QCOMPARE(font.pointSizeF(), points);
        QCOMPARE(font.weight(), bold ? QFont::Bold : QFont::Normal);
    } else {
        const QFont standard = QApplication::font(widget);
        QCOMPARE(font.family(), standard.family());
        QCOMPARE(font.pointSizeF(), standard.pointSizeF());
        QCOMPARE(font.weight(), standard.weight());
    }
}

void TestFrmResult::definitionInitialState()
{
    TestPlatform tp;
    ProbeResult window(ProbeResult::DefinitionOnly{}, workedExample(false), tp.platform);
    for (const char *name : {"lblSeikairitu", "lblAvSpeed", "lblPace", "lblAvTime", "lblMinInt",
                             "lblMaxInt"})
        QCOMPARE(child<QLabel>(window, name)->text(), QStringLiteral("無効"));
    QCOMPARE(child<QLabel>(window, "lblScore")->text(), QStringLiteral("46"));
    QVERIFY(child<QPushButton>(window, "btnEntry")->isEnabled());
    QVERIFY(child<QPushButton>(window, "btnClose")->isEnabled());
    QVERIFY(child<QPushButton>(window, "btnClose")->isDefault());
    QVERIFY(!child<QPushButton>(window, "btnEntry")->isDefault());
    QCOMPARE(tp.sound.exclamations, 0);

    // The drawing area is what remains inside a 2-pixel sunken border.
    auto *pic = child<QLabel>(window, "Pic");
    QCOMPARE(pic->contentsRect(), QRect(2, 2, 296, 196));
    QCOMPARE(pic->frameShadow(), QFrame::Sunken);
    QVERIFY(pic->pixmap().isNull());
}

void TestFrmResult::definitionPaintsRuleAndWhitePicture()
{
    TestPlatform tp;
    ProbeResult window(ProbeResult::DefinitionOnly{}, workedExample(true), tp.platform);
    const QImage image = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(image.size(), QSize(482, 267));

    // Line1: one white pixel row from x = 8 up to 471 at y = 32, black
    // around it.
    QVERIFY(allPixels(image, QRect(8, 32, 464, 1), qRgb(255, 255, 255)));
    QCOMPARE(image.pixel(7, 32), qRgb(0, 0, 0));
    QCOMPARE(image.pixel(472, 32), qRgb(0, 0, 0));
    QVERIFY(allPixels(image, QRect(8, 31, 464, 1), qRgb(0, 0, 0)));
    QVERIFY(allPixels(image, QRect(8, 33, 464, 1), qRgb(0, 0, 0)));

    // The picture box is plain white inside its border; the window around
    // it is black.
    QVERIFY(allPixels(image, QRect(30, 58, 296, 196), qRgb(255, 255, 255)));
    QCOMPARE(image.pixel(27, 150), qRgb(0, 0, 0));
    QCOMPARE(image.pixel(1, 1), qRgb(0, 0, 0));

    // Frame captions are drawn in white on black.
    bool whiteCaption = false;
    for (int x = 340; x < 473 && !whiteCaption; ++x)
        for (int y = 40; y < 56 && !whiteCaption; ++y)
            whiteCaption = qGray(image.pixel(x, y)) > 200;
    QVERIFY(whiteCaption);
}

void TestFrmResult::tabOrder()
{
    TestPlatform tp;
    ProbeResult window(ProbeResult::DefinitionOnly{}, workedExample(true), tp.platform);
    // The controls that Tab reaches, in order, starting from Pic.
    QStringList order;
    QWidget *w = child<QWidget>(window, "Pic");
    do {
        if (w->focusPolicy() & Qt::TabFocus)
            order << w->objectName();
        w = w->nextInFocusChain();
    } while (w != child<QWidget>(window, "Pic"));
    QCOMPARE(order, (QStringList{"Pic", "btnEntry", "btnClose"}));
}

void TestFrmResult::loadSetsTextsAndDrawsChartBeforeShowing()
{
    TestPlatform tp;
    const PlayRecord record = workedExample(true);
    ProbeResult window(record, 0, tp.platform);
    QVERIFY(!window.isVisible());

    QCOMPARE(child<QLabel>(window, "lblScore")->text(), QStringLiteral("12"));
    QCOMPARE(child<QLabel>(window, "lblSeikairitu")->text(), QStringLiteral("85.71％（12／14）"));
    QCOMPARE(child<QLabel>(window, "lblAvSpeed")->text(), QStringLiteral("0.49問／秒"));
    QCOMPARE(child<QLabel>(window, "lblPace")->text(), QStringLiteral("（15問ペース）"));
    QCOMPARE(child<QLabel>(window, "lblAvTime")->text(), QStringLiteral("2035.71ミリ秒"));
    QCOMPARE(child<QLabel>(window, "lblMinInt")->text(), QStringLiteral("<7 ＋ 8 ?> 523ミリ秒"));
    QCOMPARE(child<QLabel>(window, "lblMaxInt")->text(), QStringLiteral("<3 × 9 ?> 4210ミリ秒"));

    // The chart is on Pic already, drawn over the whole drawing area.
    const QImage shown = child<QLabel>(window, "Pic")->pixmap().toImage().convertToFormat(
        QImage::Format_RGB32);
    QCOMPARE(shown.size(), QSize(296, 196));
    for (const auto &[x, y, rgb] : {std::tuple{0, 0, 0xffffffffu}, {1, 0, chartGridRgb}, {295, 49, chartGridRgb},
                                    {2, 98, chartGridRgb}, {2, 147, chartGridRgb}, {2, 148, 0xffffffffu},
                                    {1, 195, chartRightRgb}, {1, 195 - 29, chartRightRgb},
                                    {1, 195 - 30, 0xffffffffu}, {10, 195 - 59, chartWrongRgb},
                                    {40, 195, chartRightRgb}, {41, 195, 0xffffffffu}})
        QVERIFY2(shown.pixel(x, y) == rgb, qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));

    // Read back through Pic itself: bar i of the 30-second mode at drawing
    // x = 3i + 1, which is Pic x = 3i + 3; answer 3 (600 ms) was wrong:
    // red, 60 px.
    const QImage pic = child<QLabel>(window, "Pic")->grab().toImage().convertToFormat(
        QImage::Format_RGB32);
    QCOMPARE(pic.pixel(2 + 1, 2 + 195), chartRightRgb);
    QCOMPARE(pic.pixel(2 + 10, 2 + 195), chartWrongRgb);
    QCOMPARE(pic.pixel(2 + 10, 2 + 195 - 59), chartWrongRgb);
    QCOMPARE(pic.pixel(2 + 10, 2 + 195 - 60), qRgb(255, 255, 255));
    QCOMPARE(pic.pixel(2 + 11, 2 + 195), qRgb(255, 255, 255));
    // Answer 12 (1500 ms, right) crosses the grid line at a quarter height.
    QCOMPARE(pic.pixel(2 + 37, 2 + 49), chartRightRgb);
    QCOMPARE(pic.pixel(2 + 37, 2 + 195 - 149), chartRightRgb);
    QCOMPARE(pic.pixel(2 + 37, 2 + 195 - 150), qRgb(255, 255, 255));
    QCOMPARE(pic.pixel(2 + 38, 2 + 49), chartGridRgb);
}

void TestFrmResult::loadWithoutValidStatistics()
{
    // No real time: the six statistics stay "無効", the score is set, and
    // the bars of the recorded answers are drawn all the same.
    TestPlatform tp;
    PlayRecord record = workedExample(false);
    record.lRealTime = 0;
    ProbeResult window(record, 1, tp.platform);
    QCOMPARE(child<QLabel>(window, "lblScore")->text(), QStringLiteral("12"));
    for (const char *name : {"lblSeikairitu", "lblAvSpeed", "lblPace", "lblAvTime", "lblMinInt",
                             "lblMaxInt"})
        QCOMPARE(child<QLabel>(window, name)->text(), QStringLiteral("無効"));
    QCOMPARE(child<QLabel>(window, "Pic")->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
             drawResultChart(record, 1, QSize(296, 196)));
}

void TestFrmResult::entryOffer_data()
{
    QTest::addColumn<bool>("hiScore");
    QTest::addColumn<QColor>("scoreColour");
    QTest::addColumn<bool>("entryEnabled");
    QTest::addColumn<int>("exclamations");

    QTest::newRow("new high score") << true << QColor(255, 0, 0) << true << 0;
    QTest::newRow("no new high score") << false << QColor(255, 255, 255) << false << 1;
}

void TestFrmResult::entryOffer()
{
    QFETCH(bool, hiScore);
    QFETCH(QColor, scoreColour);
    QFETCH(bool, entryEnabled);
    QFETCH(int, exclamations);

    TestPlatform tp;
    ProbeResult window(workedExample(hiScore), 0, tp.platform);
    QCOMPARE(child<QLabel>(window, "lblScore")->palette().color(QPalette::WindowText), scoreColour);
    QCOMPARE(child<QPushButton>(window, "btnEntry")->isEnabled(), entryEnabled);
    QVERIFY(child<QPushButton>(window, "btnClose")->isEnabled());
    QCOMPARE(tp.sound.exclamations, exclamations);
    QCOMPARE(tp.sound.beeps, 0);
}

void TestFrmResult::firstActivationFocus_data()
{
    QTest::addColumn<bool>("hiScore");
    QTest::addColumn<QString>("focus");

    QTest::newRow("new high score") << true << "btnEntry";
    QTest::newRow("no new high score") << false << "btnClose";
}

void TestFrmResult::firstActivationFocus()
{
    QFETCH(bool, hiScore);
    QFETCH(QString, focus);

    TestPlatform tp;
    ProbeResult window(workedExample(hiScore), 0, tp.platform);
    QString focusOnActivation;
    bool closedByEnter = false;
    const bool finished = runModal(window, [&] {
        QTRY_VERIFY(window.isActiveWindow());
        focusOnActivation = focusName();
        if (!hiScore) {
            // Without a record Enter closes the window at once.
            QVERIFY(pressKey(Qt::Key_Return));
            closedByEnter = !window.isVisible();
        } else {
            window.done(0);
        }
    });
    QVERIFY(finished);
    QCOMPARE(focusOnActivation, focus);
    QCOMPARE(closedByEnter, !hiScore);
    QCOMPARE(window.entryOpened, 0);
}

void TestFrmResult::enterOnEntryOpensEntryThenFocusReturnsToClose()
{
    TestPlatform tp;
    ProbeResult window(workedExample(true), 0, tp.platform);
    QString focusAfterEntry;
    bool entryStillEnabled = false;
    bool openAfterEntry = false;
    bool closedBySecondEnter = false;
    const bool finished = runModal(window, [&] {
        QTRY_VERIFY(window.isActiveWindow());
        QTRY_COMPARE(focusName(), QStringLiteral("btnEntry"));
        QVERIFY(pressKey(Qt::Key_Return));  // opens the entry window, returns when it closed
        // The focus is back on btnClose at once, whether or not the platform
        // has reported the reactivation yet (the offscreen one never does).
        focusAfterEntry = window.focusWidget() ? window.focusWidget()->objectName() : QString();
        entryStillEnabled = child<QPushButton>(window, "btnEntry")->isEnabled();
        openAfterEntry = window.isVisible();
        // What a window manager does next: make the window active again.
        window.activateWindow();
        QTRY_VERIFY(window.isActiveWindow());
        QCOMPARE(focusName(), QStringLiteral("btnClose"));
        QVERIFY(pressKey(Qt::Key_Return));
        closedBySecondEnter = !window.isVisible();
    });
    QVERIFY(finished);
    QCOMPARE(window.entryOpened, 1);
    QVERIFY(window.resultInactiveWhileEntryOpen);
    QCOMPARE(focusAfterEntry, QStringLiteral("btnClose"));
    QVERIFY(entryStillEnabled);
    QVERIFY(openAfterEntry);
    QVERIFY(closedBySecondEnter);
}

void TestFrmResult::entryButtonOpensTheRankingEntryWindow()
{
    // The real window behind btnEntry: a modal frmEntry over the result
    // window; cancelling it brings the focus back to btnClose.
    TestPlatform tp;
    frmResult window(workedExample(true), 0, tp.platform);
    QString entryKind;
    bool entryOverResult = false;
    bool entryModal = false;
    QString focusAfterEntry;
    bool entryStillEnabled = false;
    const bool finished = runModal(window, [&] {
        QTRY_VERIFY(window.isActiveWindow());
        QTRY_COMPARE(focusName(), QStringLiteral("btnEntry"));
        QTimer::singleShot(0, &window, [&] {
            auto *entry = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            QVERIFY(entry);
            entryKind = QString::fromLatin1(entry->metaObject()->className());
            entryOverResult = entry->parentWidget() == &window;
            entryModal = entry->isModal() || entry->windowModality() != Qt::NonModal;
            entry->reject();
        });
        QVERIFY(pressKey(Qt::Key_Return));
        focusAfterEntry = window.focusWidget() ? window.focusWidget()->objectName() : QString();
        entryStillEnabled = child<QPushButton>(window, "btnEntry")->isEnabled();
        window.done(0);
    });
    QVERIFY(finished);
    QCOMPARE(entryKind, QStringLiteral("frmEntry"));
    QVERIFY(entryOverResult);
    QVERIFY(entryModal);
    QCOMPARE(focusAfterEntry, QStringLiteral("btnClose"));
    QVERIFY(entryStillEnabled);
}

void TestFrmResult::escapeClosesWhereverTheFocusIs_data()
{
    QTest::addColumn<bool>("hiScore");
    QTest::addColumn<QString>("focus");

    QTest::newRow("on btnEntry") << true << "btnEntry";
    QTest::newRow("on btnClose") << true << "btnClose";
    QTest::newRow("on Pic") << true << "Pic";
    QTest::newRow("on btnClose, no record") << false << "btnClose";
    QTest::newRow("on Pic, no record") << false << "Pic";
}

void TestFrmResult::escapeClosesWhereverTheFocusIs()
{
    QFETCH(bool, hiScore);
    QFETCH(QString, focus);

    TestPlatform tp;
    ProbeResult window(workedExample(hiScore), 0, tp.platform);
    int closeClicks = 0;
    connect(child<QPushButton>(window, "btnClose"), &QPushButton::clicked, this,
            [&] { ++closeClicks; });
    bool closedByEscape = false;
    const bool finished = runModal(window, [&] {
        QTRY_VERIFY(window.isActiveWindow());
        window.findChild<QWidget *>(focus)->setFocus();
        QTRY_COMPARE(focusName(), focus);
        QVERIFY(pressKey(Qt::Key_Escape));
        closedByEscape = !window.isVisible();
    });
    QVERIFY(finished);
    QVERIFY(closedByEscape);
    QCOMPARE(closeClicks, 1);  // Esc goes through btnClose
    QCOMPARE(window.entryOpened, 0);
}

void TestFrmResult::enterOnPictureBoxCloses()
{
    TestPlatform tp;
    ProbeResult window(workedExample(true), 0, tp.platform);
    bool closedByEnter = false;
    const bool finished = runModal(window, [&] {
        QTRY_VERIFY(window.isActiveWindow());
        // Tabbing from btnEntry past btnClose wraps round to Pic.
        QTRY_COMPARE(focusName(), QStringLiteral("btnEntry"));
        QVERIFY(pressKey(Qt::Key_Tab));
        QCOMPARE(focusName(), QStringLiteral("btnClose"));
        QVERIFY(pressKey(Qt::Key_Tab));
        QCOMPARE(focusName(), QStringLiteral("Pic"));
        QVERIFY(pressKey(Qt::Key_Enter));
        closedByEnter = !window.isVisible();
    });
    QVERIFY(finished);
    QVERIFY(closedByEnter);
    QCOMPARE(window.entryOpened, 0);
}

void TestFrmResult::laterActivationFocusesClose()
{
    TestPlatform tp;
    ProbeResult window(workedExample(true), 0, tp.platform);
    // Another window the player could switch to while the result window is
    // open (a window of the modal dialog itself, which modality allows).
    QDialog other(&window);
    other.resize(100, 100);
    QString firstFocus;
    QString laterFocus;
    const bool finished = runModal(window, [&] {
        QTRY_VERIFY(window.isActiveWindow());
        firstFocus = focusName();
        other.show();
        other.activateWindow();
        QTRY_VERIFY(other.isActiveWindow());
        window.activateWindow();
        QTRY_VERIFY(window.isActiveWindow());
        QTRY_COMPARE(focusName(), QStringLiteral("btnClose"));
        laterFocus = focusName();
        window.done(0);
    });
    QVERIFY(finished);
    QCOMPARE(firstFocus, QStringLiteral("btnEntry"));
    QCOMPARE(laterFocus, QStringLiteral("btnClose"));
}

void TestFrmResult::centredOverTheMainWindow_data()
{
    QTest::addColumn<QRect>("mainGeometry");
    QTest::addColumn<bool>("atScreenCorner");

    QTest::newRow("main window mid-screen") << QRect(150, 120, 324, 156) << false;
    // Centred over a small window in the corner the dialog would hang off
    // the screen; it stays on it instead.
    QTest::newRow("main window in the corner") << QRect(0, 0, 100, 50) << true;
}

void TestFrmResult::centredOverTheMainWindow()
{
    QFETCH(QRect, mainGeometry);
    QFETCH(bool, atScreenCorner);

    TestPlatform tp;
    QWidget mainWindow;
    mainWindow.setGeometry(mainGeometry);
    mainWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
    ProbeResult window(workedExample(false), 0, tp.platform, &mainWindow);
    QRect placed;
    QPoint mainCentre;
    QRect available;
    bool transientOfMain = false;
    const bool finished = runModal(window, [&] {
        QTRY_VERIFY(window.isActiveWindow());
        placed = window.frameGeometry();
        mainCentre = mainWindow.frameGeometry().center();
        available = mainWindow.screen()->availableGeometry();
        // A transient of the main window: kept above it and out of the
        // taskbar.
        transientOfMain = window.windowHandle()->transientParent() == mainWindow.windowHandle();
        window.done(0);
    });
    QVERIFY(finished);
    QVERIFY(transientOfMain);
    if (atScreenCorner) {
        QCOMPARE(placed.topLeft(), available.topLeft());
    } else {
        const QPoint centre = placed.center();
        QVERIFY2((centre - mainCentre).manhattanLength() <= 2,
                 qPrintable(QStringLiteral("centre %1,%2 main %3,%4")
                                .arg(centre.x()).arg(centre.y())
                                .arg(mainCentre.x()).arg(mainCentre.y())));
    }
}

void TestFrmResult::chartSurvivesBeingCovered()
{
    TestPlatform tp;
    const PlayRecord record = workedExample(false);
    ProbeResult window(record, 1, tp.platform);
    QImage before;
    QImage after;
    const bool finished = runModal(window, [&] {
        QTRY_VERIFY(window.isActiveWindow());
        auto *pic = child<QLabel>(window, "Pic");
        before = pic->grab(pic->contentsRect()).toImage().convertToFormat(QImage::Format_RGB32);
        QWidget cover;
        cover.setGeometry(window.geometry());
        cover.show();
        QVERIFY(QTest::qWaitForWindowExposed(&cover));
        cover.hide();
        window.repaint();
        after = pic->grab(pic->contentsRect()).toImage().convertToFormat(QImage::Format_RGB32);
        window.done(0);
    });
    QVERIFY(finished);
    const QImage chart = drawResultChart(record, 1, QSize(296, 196));
    QCOMPARE(before, chart);
    QCOMPARE(after, chart);
}

TOVRIKA_TEST_MAIN(TestFrmResult)
#include "tst_frmresult.moc"

void TestFrmResult::scaleFiguresAreWhole()
{
    // Each figure of the scale is drawn from the top of its 9 px label and
    // past its bottom: white ink starts in the label's first rows and runs
    // lower than its last row, where a label-clipped figure would stop.
    TestPlatform tp;
    ProbeResult window(workedExample(false), 0, tp.platform);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QImage image = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (const char *name : {"Label1", "Label2", "Label3", "Label4", "Label5", "Label8"}) {
        const QRect label = child<QLabel>(window, name)->geometry();
        int top = -1, bottom = -1;
        for (int y = label.top(); y <= label.bottom() + 8; ++y)
            for (int x = label.left(); x <= label.right(); ++x)
                if (qGray(image.pixel(x, y)) > 128) {
                    top = top < 0 ? y : top;
                    bottom = y;
                }
        QVERIFY2(top >= 0 && top <= label.top() + 3, name);
        QVERIFY2(bottom > label.bottom(), qPrintable(QStringLiteral("%1: ink %2..%3, label %4..%5")
                                                         .arg(name).arg(top).arg(bottom)
                                                         .arg(label.top()).arg(label.bottom())));
    }
}
