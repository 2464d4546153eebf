// Checks the start routine's installation identifier (its arithmetic, that it
// is made once and then kept) and that the settings store survives missing,
// corrupt, hand-edited and unwritable files and reports a write it lost.

#include "game/frmMain.h"
#include "shell/modMain.h"
#include "support/TestMain.h"
#include "support/TestPlatform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QScopeGuard>
#include <QRegularExpression>

#include "ui_frmMain.h"

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void dayNumber()
    {
        QCOMPARE(modMain::DayNumber(QDate(2001, 10, 5)), 37169);
        QCOMPARE(modMain::DayNumber(QDate(1899, 12, 30)), 0);
        QCOMPARE(modMain::DayNumber(QDate(1900, 1, 1)), 2);
    }

    void identifierText_data()
    {
        QTest::addColumn<qint32>("tick");
        QTest::addColumn<qint64>("day");
        QTest::addColumn<QString>("expected");

        QTest::newRow("tick 0") << 0 << qint64(37169) << "0";
        QTest::newRow("negative tick") << -5 << qint64(37169) << "-185845";
        QTest::newRow("negative tick on day 0") << -5 << qint64(0) << "0";
        QTest::newRow("ordinary") << 123456 << qint64(46000) << "5678976000";
        // Largest tick on a day in the 29th century: 15 digits, no exponent.
        QTest::newRow("large") << INT32_MAX << qint64(400000) << "858993458800000";
        QTest::newRow("most negative") << INT32_MIN << qint64(46000) << "-98784247808000";
    }

    void identifierText()
    {
        QFETCH(qint32, tick);
        QFETCH(qint64, day);
        QFETCH(QString, expected);
        QCOMPARE(modMain::MakeUserID(tick, day), expected);
    }

    void firstStartWritesOnceSecondStartKeeps()
    {
        TestPlatform t;
        t.clock.tick = 4242;
        t.clock.date = QDate(2001, 10, 5);
        auto window = modMain::Main(t.platform);
        QCOMPARE(strUserID, QStringLiteral("157670898"));
        // Stored once the first frame is painted, not before.
        QCOMPARE(t.stored("UserID"), QString());
        QVERIFY(window->isVisible());
        QTRY_COMPARE(t.stored("UserID"), strUserID);
        window.reset();

        t.clock.tick = 999; // a later start must not make a new one
        window = modMain::Main(t.platform);
        QCOMPARE(strUserID, QStringLiteral("157670898"));
        QCOMPARE(t.stored("UserID"), QStringLiteral("157670898"));
    }

    void emptyStoredIdentifierIsReplaced()
    {
        TestPlatform t;
        t.store("UserID", QString());
        t.clock.tick = -7;
        t.clock.date = QDate(2001, 10, 5);
        auto window = modMain::Main(t.platform);
        QCOMPARE(strUserID, QStringLiteral("-260183"));
        window.reset(); // a game gone before its first frame stores it too
        QCOMPARE(t.stored("UserID"), QStringLiteral("-260183"));
    }

    void oddStoredIdentifierIsUsedAsItIs()
    {
        TestPlatform t;
        t.store("UserID", QStringLiteral("abc,def"));
        auto window = modMain::Main(t.platform);
        QCOMPARE(strUserID, QStringLiteral("abc,def"));
    }

    void missingKeysReadEmpty()
    {
        TestPlatform t;
        QCOMPARE(t.stored("EntryName"), QString());
        QVERIFY(!QFileInfo::exists(t.iniFile()));
    }

    void writesReachTheFileAtOnce()
    {
        TestPlatform t;
        QVERIFY(t.settings.write("Tovrika", "UserData", "mode0", "17"));
        QFile file(t.iniFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.contains("[UserData]"));
        QVERIFY(text.contains("mode0=17"));
        QCOMPARE(t.settings.fileName("Tovrika"), t.dir.filePath("Tovrika/Tovrika.ini"));
    }

    void corruptFileStillStarts()
    {
        TestPlatform t;
        QDir(t.dir.path()).mkpath("Tovrika");
        QFile file(t.iniFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\x00\xff\xfe[[[UserData\nmode0=\"unclosed\nUserID\n=\n\x01\x02", 40);
        file.close();

        auto window = modMain::Main(t.platform);
        QVERIFY(window->isVisible());
        QVERIFY(!strUserID.isEmpty());
    }

    void highScoreThatIsNoNumberIsShownAsStored()
    {
        TestPlatform t;
        t.store("mode0", QStringLiteral("12abc"));
        auto window = modMain::Main(t.platform);
        QCOMPARE(window->controls().lblHiScore->text(), QStringLiteral("12abc"));
    }

    void unwritableFolderIsReportedAndPlayable()
    {
        TestPlatform t;
        const QString folder = t.dir.filePath("Tovrika");
        QDir(t.dir.path()).mkpath("Tovrika");
        // Root writes through permission bits, so for root the folder is a
        // read-only file system instead.
        const bool root = geteuid() == 0;
        if (root && QProcess::execute("mount", {"-t", "tmpfs", "-o", "ro,size=64k", "tovrika-ro", folder}) != 0)
            TOVRIKA_SKIP("cannot mount a read-only file system for root");
        const auto restore = qScopeGuard([&] {
            if (root)
                QProcess::execute("umount", {folder});
            else
                QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        });
        if (!root)
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QVERIFY(!t.settings.write("Tovrika", "UserData", "mode0", "5"));
        auto window = modMain::Main(t.platform);
        QVERIFY(window->isVisible());
        QVERIFY(!strUserID.isEmpty());
    }

    void fileInPlaceOfFolderIsReported()
    {
        // Works for root too: a plain file where the settings folder belongs.
        TestPlatform t;
        QFile blocker(t.dir.filePath("Tovrika"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY(!t.settings.write("Tovrika", "UserData", "mode0", "5"));
        auto window = modMain::Main(t.platform);
        QVERIFY(window->isVisible());
        QVERIFY(!strUserID.isEmpty());
    }
};

TOVRIKA_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
