// Checks the pictures the build draws ahead: each is the very picture its SVG
// gives at that size now, and the main window at scale 1 finds every picture
// of its first frame among them, so a new size in the window definition that
// the build's list lacks is caught here rather than as a slower start.

#include "game/frmMain.h"
#include "shell/SvgPicture.h"
#include "shell/WindowDefinition.h"
#include "support/TestMain.h"
#include "support/TestPlatform.h"

#include <QDirIterator>
#include <QRegularExpression>

class TestPrerenderedPictures : public QObject
{
    Q_OBJECT

private slots:
    void eachIsItsSvgDrawnNow()
    {
        static const QRegularExpression name(QStringLiteral("^(.+)-([0-9]+)x([0-9]+)\\.argb$"));
        QStringList seen;
        for (QDirIterator it(QStringLiteral(":/prerendered")); it.hasNext();) {
            const QRegularExpressionMatch match = name.match(it.next().section(QLatin1Char('/'), -1));
            QVERIFY2(match.hasMatch(), qPrintable(it.filePath()));
            const QString svg = QStringLiteral(":/ui/images/%1.svg").arg(match.captured(1));
            const QSize pixels(match.captured(2).toInt(), match.captured(3).toInt());
            const int drawnBefore = svgPicturesDrawn();
            const QImage kept = svgPixmap(svg, pixels).toImage();
            QCOMPARE(svgPicturesDrawn(), drawnBefore);
            const QImage drawn = renderSvgPicture(svg, pixels);
            QVERIFY2(!drawn.isNull(), qPrintable(svg));
            QVERIFY2(kept.convertToFormat(drawn.format()) == drawn, qPrintable(it.filePath()));
            seen << it.fileName();
        }
        QVERIFY2(seen.contains(QStringLiteral("background-364x150.argb")), qPrintable(seen.join(u' ')));
    }

    void mainWindowTakesEveryPictureFromThem()
    {
        TestPlatform t;
        const int drawnBefore = svgPicturesDrawn();
        frmMain w(t.platform);
        QCOMPARE(w.devicePixelRatioF(), 1.0);
        QCOMPARE(svgPicturesDrawn(), drawnBefore);
        // Any other size is drawn from the SVG.
        QVERIFY(!svgPixmap(QStringLiteral(":/ui/images/clear.svg"), {26, 18}).isNull());
        QCOMPARE(svgPicturesDrawn(), drawnBefore + 1);
    }
};

TOVRIKA_TEST_MAIN(TestPrerenderedPictures)
#include "tst_prerenderedpictures.moc"
