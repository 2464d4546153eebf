// Checks the windows on scaled screens, as real processes started with
// QT_SCALE_FACTOR: at scale 2 the main window and the result window are
// grabbed at exactly twice the size of scale 1, the backdrop along the
// orange panel's edge carries detail of its own rather than the scale-1
// picture enlarged, and the chart is the scale-1 chart with each pixel a
// hard-edged block; at scale 1.5 the sizes follow too. The grabs stay in
// hidpi-grabs/ of the build folder for a look.

#include "support/TestMain.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QtTest>

namespace {

QString grabFolder(const QString &scale)
{
    return QDir::current().absoluteFilePath(QStringLiteral("hidpi-grabs/scale-") + scale);
}

// Runs the grabbing tool at one scale; the folder of its pictures.
bool grabAt(const QString &scale)
{
    const QString folder = grabFolder(scale);
    QDir().mkpath(folder);
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_SCALE_FACTOR"), scale);
    environment.remove(QStringLiteral("QT_SCREEN_SCALE_FACTORS"));
    environment.remove(QStringLiteral("QT_ENABLE_HIGHDPI_SCALING"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(QStringLiteral(TOVRIKA_GRAB), {folder});
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0;
}

QImage grabbed(const QString &scale, const char *name)
{
    return QImage(QDir(grabFolder(scale)).filePath(QLatin1String(name))).convertToFormat(QImage::Format_RGB32);
}

int distinctColours(const QImage &image, const QRect &rect)
{
    QSet<QRgb> colours;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            colours.insert(image.pixel(x, y));
    return int(colours.size());
}

// 2x2 blocks of device pixels that are not one colour: none in a picture
// that was merely enlarged.
int mixedBlocks(const QImage &image, const QRect &deviceRect)
{
    int mixed = 0;
    for (int y = deviceRect.top(); y + 1 <= deviceRect.bottom(); y += 2)
        for (int x = deviceRect.left(); x + 1 <= deviceRect.right(); x += 2) {
            const QRgb c = image.pixel(x, y);
            if (image.pixel(x + 1, y) != c || image.pixel(x, y + 1) != c || image.pixel(x + 1, y + 1) != c)
                ++mixed;
        }
    return mixed;
}

QRect scaled(const QRect &logical, int factor)
{
    return QRect(logical.topLeft() * factor, logical.size() * factor);
}

} // namespace

class TestHiDpi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(grabAt(QStringLiteral("1")));
        QVERIFY(grabAt(QStringLiteral("2")));
        QVERIFY(grabAt(QStringLiteral("1.5")));
    }

    void grabsAreExactlyScaled()
    {
        for (const char *name : {"main.png", "result.png"}) {
            const QImage one = grabbed(QStringLiteral("1"), name);
            QVERIFY2(!one.isNull(), name);
            QCOMPARE(grabbed(QStringLiteral("2"), name).size(), one.size() * 2);
            QCOMPARE(grabbed(QStringLiteral("1.5"), name).size(), one.size() * 1.5);
        }
        QCOMPARE(grabbed(QStringLiteral("1"), "main.png").size(), QSize(324, 156));
    }

    void backdropIsDrawnForTheScale()
    {
        // The orange panel's left edge (x = 72) from its top corner to its
        // bottom one, left of the question label.
        const QRect edge(62, 60, 16, 54);
        const QImage one = grabbed(QStringLiteral("1"), "main.png");
        const QImage two = grabbed(QStringLiteral("2"), "main.png");
        const QImage enlarged = one.scaled(one.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        const int sharp = distinctColours(two, scaled(edge, 2));
        const int blown = distinctColours(enlarged, scaled(edge, 2));
        qInfo("distinct colours along the panel edge: %d at scale 2, %d enlarged from scale 1", sharp, blown);
        QVERIFY2(sharp > blown, qPrintable(QStringLiteral("%1 <= %2").arg(sharp).arg(blown)));
        QCOMPARE(mixedBlocks(enlarged, scaled(edge, 2)), 0);
        QVERIFY(mixedBlocks(two, scaled(edge, 2)) >= 20);
    }

    void buttonPicturesAreDrawnForTheScale()
    {
        // The three picture buttons along the top right.
        const QRect buttons(228, 0, 96, 24);
        const QImage two = grabbed(QStringLiteral("2"), "main.png");
        QVERIFY(mixedBlocks(two, scaled(buttons, 2)) >= 20);
    }

    void chartIsTheScaleOneChartInHardBlocks()
    {
        // Inside the chart's drawing area, clear of its border.
        const QRect inside(40, 70, 260, 170);
        const QImage one = grabbed(QStringLiteral("1"), "result.png").copy(inside);
        const QImage two = grabbed(QStringLiteral("2"), "result.png").copy(scaled(inside, 2));
        QVERIFY(distinctColours(one, one.rect()) >= 3);  // grid, and bars of both colours
        QCOMPARE(two, one.scaled(one.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    }
};

TOVRIKA_TEST_MAIN(TestHiDpi)
#include "tst_hidpi.moc"
