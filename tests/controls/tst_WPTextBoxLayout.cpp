// Checks WPTextBox's design surface, its layout pass (the inner box's place
// for given sizes and margins, the clamps, ignored negative margins) and its
// painting, read back from grabs: the sunken edge pixel by pixel, the fill,
// the grey disabled look, a picture that survives repainting, and Refresh
// touching only the inner box.

#include "controls/SystemColor.h"
#include "controls/WPTextBox.h"
#include "support/TestMain.h"

#include <QApplication>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPalette>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class tst_WPTextBoxLayout : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void designSurface();
    void systemColours();
    void innerBoxPlacement_data();
    void innerBoxPlacement();
    void negativeMarginIsIgnoredWithoutLayout();
    void largerFontDoesNotMoveInnerBox();
    void edgePixels();
    void fillAndInnerBackground();
    void disabledLook();
    void backColorWhileDisabled();
    void pictureSurvivesRepaint();
    void refreshRepaintsInnerBoxOnly();

private:
    // Pixels are compared as 8-bit RGB values (QImage::pixel, QColor::rgb).
    QImage grabBox() { return m_box->grab().toImage(); }
    static QRgb role(QPalette::ColorRole r)
    {
        return QGuiApplication::palette().color(QPalette::Active, r).rgb();
    }

    std::unique_ptr<QWidget> m_window;
    WPTextBox *m_box = nullptr;
};

void tst_WPTextBoxLayout::init()
{
    m_window = std::make_unique<QWidget>();
    m_window->resize(300, 150);
    m_box = new WPTextBox(m_window.get());
    m_box->setGeometry(10, 10, 100, 20);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void tst_WPTextBoxLayout::cleanup()
{
    m_window.reset();
}

void tst_WPTextBoxLayout::designSurface()
{
    WPTextBox box;  // never resized by a container
    QCOMPARE(box.size(), QSize(254, 61));
    const QList<QWidget *> children = box.findChildren<QWidget *>();
    QCOMPARE(children.size(), 1);
    QLineEdit *txtOld = box.findChild<QLineEdit *>(QStringLiteral("txtOld"));
    QVERIFY(txtOld);
    QCOMPARE(txtOld, box.editor());
    QCOMPARE(txtOld->geometry(), QRect(4, 2, 153, 25));
    QCOMPARE(txtOld->text(), QStringLiteral("WPTextBox"));
    QVERIFY(!txtOld->hasFrame());
}

void tst_WPTextBoxLayout::systemColours()
{
    QCOMPARE(SystemColor::toColor(0x80000005).rgb(), role(QPalette::Base));
    QCOMPARE(SystemColor::toColor(0x80000008).rgb(), role(QPalette::Text));
    QCOMPARE(SystemColor::toColor(0x8000000F).rgb(), role(QPalette::Button));
    QCOMPARE(SystemColor::toColor(0x80000010).rgb(), role(QPalette::Dark));
    QCOMPARE(SystemColor::toColor(0x80000016).rgb(), role(QPalette::Midlight));
    QCOMPARE(SystemColor::toColor(0x00336699), QColor(0x99, 0x66, 0x33));
    QCOMPARE(SystemColor::fromColor(QColor(0x99, 0x66, 0x33)), 0x00336699u);
    QCOMPARE(SystemColor::toColor(0x800000FF), QColor(Qt::black));  // no such system colour
}

void tst_WPTextBoxLayout::innerBoxPlacement_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("right");
    QTest::addColumn<QRect>("inner");

    QTest::newRow("ranking name field") << QSize(145, 21) << 2 << 2 << 0 << QRect(4, 4, 139, 15);
    QTest::newRow("no margins") << QSize(100, 20) << 0 << 0 << 0 << QRect(2, 2, 96, 16);
    QTest::newRow("right margin") << QSize(100, 20) << 0 << 0 << 10 << QRect(2, 2, 86, 16);
    QTest::newRow("side margins too wide") << QSize(100, 20) << 60 << 0 << 40 << QRect(62, 2, 0, 16);
    QTest::newRow("top margin too high") << QSize(100, 20) << 0 << 17 << 0 << QRect(2, 18, 96, 0);
    QTest::newRow("tiny control") << QSize(3, 3) << 0 << 0 << 0 << QRect(2, 1, 0, 0);
}

void tst_WPTextBoxLayout::innerBoxPlacement()
{
    QFETCH(QSize, size);
    QFETCH(int, left);
    QFETCH(int, top);
    QFETCH(int, right);
    QFETCH(QRect, inner);
    m_box->setLeftMargin(left);
    m_box->setTopMargin(top);
    m_box->setRightMargin(right);
    m_box->resize(size);
    QCOMPARE(m_box->editor()->geometry(), inner);
    // The margins alone relayout too: set them again after the resize.
    m_box->setLeftMargin(0);
    m_box->setLeftMargin(left);
    QCOMPARE(m_box->editor()->geometry(), inner);
}

void tst_WPTextBoxLayout::negativeMarginIsIgnoredWithoutLayout()
{
    m_box->setTopMargin(3);
    m_box->setLeftMargin(1);
    QSignalSpy reports(m_box, &WPTextBox::propertyChanged);
    m_box->editor()->move(50, 50);  // a layout pass would put it back
    m_box->setTopMargin(-5);
    m_box->setLeftMargin(-1);
    m_box->setProperty("RightMargin", -1);
    QCOMPARE(m_box->topMargin(), 3);
    QCOMPARE(m_box->leftMargin(), 1);
    QCOMPARE(m_box->rightMargin(), 0);
    QCOMPARE(m_box->editor()->pos(), QPoint(50, 50));
    QCOMPARE(reports.count(), 0);
    m_box->setTopMargin(0);
    QCOMPARE(m_box->editor()->pos(), QPoint(3, 2));
    QCOMPARE(reports.count(), 1);
    QCOMPARE(reports[0][0].toString(), QStringLiteral("TopMargin"));
}

void tst_WPTextBoxLayout::largerFontDoesNotMoveInnerBox()
{
    const QRect before = m_box->editor()->geometry();
    QFont big = m_box->textFont();
    big.setPointSize(36);
    m_box->setTextFont(big);
    m_box->resize(m_box->size());
    m_box->setBackColor(m_box->backColor());
    QCOMPARE(m_box->editor()->geometry(), before);
}

void tst_WPTextBoxLayout::edgePixels()
{
    const QImage image = grabBox();
    const int w = 100, h = 20;
    QCOMPARE(image.size(), QSize(w, h));
    const QRgb shadow = role(QPalette::Dark), light = role(QPalette::Midlight);
    const QRgb black = qRgb(0, 0, 0), white = qRgb(255, 255, 255);
    struct Expected { int x, y; QRgb color; const char *what; };
    const Expected expected[] = {
        {0, 0, shadow, "outer top-left"},     {50, 0, shadow, "outer top"},
        {0, 10, shadow, "outer left"},        {w - 2, 0, shadow, "outer top's last pixel"},
        {1, 1, black, "inner top-left"},      {50, 1, black, "inner top"},
        {1, 10, black, "inner left"},         {w - 1, 0, white, "top-right corner"},
        {0, h - 1, white, "bottom-left corner"}, {50, h - 1, white, "outer bottom"},
        {w - 1, 10, white, "outer right"},    {w - 1, h - 1, white, "bottom-right corner"},
        {50, h - 2, light, "inner bottom"},   {w - 2, 10, light, "inner right"},
        {1, h - 2, light, "inner bottom's first pixel"}, {w - 2, 1, light, "inner right's first pixel"},
        {w - 2, h - 2, light, "inner bottom-right"},
    };
    for (const Expected &e : expected)
        QVERIFY2(image.pixel(e.x, e.y) == e.color, e.what);
}

void tst_WPTextBoxLayout::fillAndInnerBackground()
{
    m_box->setText(QString());
    m_box->setLeftMargin(3);
    m_box->setBackColor(0x00336699);
    const QRgb colour = qRgb(0x99, 0x66, 0x33);
    QCOMPARE(m_box->editor()->palette().color(QPalette::Base).rgb(), colour);
    const QImage image = grabBox();
    QCOMPARE(image.pixel(3, 10), colour);   // the margin shows the fill
    QCOMPARE(image.pixel(60, 10), colour);  // inside the (empty) inner box
}

void tst_WPTextBoxLayout::disabledLook()
{
    m_box->setText(QStringLiteral("WWWWWW"));
    m_box->setForeColor(0x000000FF);  // red text
    m_box->setLeftMargin(3);
    m_box->setControlEnabled(false);
    QVERIFY(!m_box->isEnabled());
    QVERIFY(!m_box->editor()->testAttribute(Qt::WA_ForceDisabled));  // its own state untouched
    const QRgb face = role(QPalette::Button);
    const QImage image = grabBox();
    QCOMPARE(image.pixel(3, 10), face);
    QCOMPARE(image.pixel(95, 10), face);
    QCOMPARE(image.pixel(0, 0), role(QPalette::Dark));  // the edge keeps its colours
    QCOMPARE(image.pixel(50, 19), qRgb(255, 255, 255));
    bool redText = false;  // anti-aliased glyphs: look for a strong red
    for (int x = 4; x < 60 && !redText; ++x) {
        for (int y = 2; y < 18 && !redText; ++y)
            redText = qRed(image.pixel(x, y)) > 200 && qGreen(image.pixel(x, y)) < 60
                   && qBlue(image.pixel(x, y)) < 60;
    }
    QVERIFY2(redText, "the text keeps its colour");

    m_box->setControlEnabled(true);
    QCOMPARE(grabBox().pixel(95, 10), role(QPalette::Base));
}

void tst_WPTextBoxLayout::backColorWhileDisabled()
{
    m_box->setText(QString());
    m_box->setControlEnabled(false);
    m_box->setBackColor(0x0000FF00);
    QCOMPARE(m_box->backColor(), 0x0000FF00u);
    QCOMPARE(grabBox().pixel(50, 10), role(QPalette::Button));
    m_box->setControlEnabled(true);
    const QImage image = grabBox();
    QCOMPARE(image.pixel(50, 10), qRgb(0, 255, 0));
    QCOMPARE(image.pixel(2, 10), qRgb(0, 255, 0));
}

void tst_WPTextBoxLayout::pictureSurvivesRepaint()
{
    m_box->setBackColor(0x00FF0000);  // blue
    const QImage before = grabBox();
    auto *cover = new QWidget(m_window.get());
    cover->setAutoFillBackground(true);
    cover->setGeometry(0, 0, 300, 150);
    cover->show();
    QCoreApplication::processEvents();
    delete cover;
    m_box->repaint();
    QCOMPARE(grabBox(), before);
    QCOMPARE(before.pixel(50, 0), role(QPalette::Dark));
}

// Records the regions painted on a widget.
class PaintRecorder : public QObject
{
public:
    QRegion painted;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent *>(event)->region();
        return false;
    }
};

void tst_WPTextBoxLayout::refreshRepaintsInnerBoxOnly()
{
    QCoreApplication::processEvents();
    PaintRecorder onSurface, onInner;
    m_box->installEventFilter(&onSurface);
    m_box->editor()->installEventFilter(&onInner);
    m_box->Refresh();
    QCoreApplication::processEvents();
    QVERIFY(!onInner.painted.isEmpty());
    QVERIFY(m_box->editor()->geometry().contains(onSurface.painted.boundingRect())
            || onSurface.painted.isEmpty());
}

TOVRIKA_TEST_MAIN(tst_WPTextBoxLayout)
#include "tst_WPTextBoxLayout.moc"
