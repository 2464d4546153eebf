// Checks that a damaged settings file loses nothing a person can read in it:
// the plain line-by-line reading, the values read back through the store
// from files that QSettings misreads (a stray quote, random bytes, a line
// ending in "\"), the damaged original kept beside the file before the first
// write, a clean file written byte for byte as before, a repair that cannot
// be written leaving everything in place, and the game starting on a damaged
// file with its identifier and high scores.

#include "game/frmMain.h"
#include "shell/SettingsRecovery.h"
#include "shell/modMain.h"
#include "support/ReadOnlySettings.h"
#include "support/TestMain.h"
#include "support/TestPlatform.h"

#include "ui_frmMain.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QtTest>

using SettingsRecovery::Entry;

namespace {

const QByteArray Values = "[UserData]\r\nUserID=4589326750\r\nmode0=57\r\nmode1=123\r\nEntryName=Tovrik4\r\n";

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QStringList damagedCopies(const QString &iniFile)
{
    const QFileInfo info(iniFile);
    return info.dir().entryList({info.fileName() + QStringLiteral(".damaged-*")}, QDir::Files);
}

} // namespace

class TestSettingsRecovery : public QObject
{
    Q_OBJECT

private slots:
    void plainReading()
    {
        const QList<Entry> entries = SettingsRecovery::readPlainly(
            "top=1\n; comment=no\n# also=no\n[General]\ng=2\n[UserData]\n  mode0 = \"57\" \r\n"
            "mode0=58\nnot a key\n=empty\nbad key=x\n[we ird]\nlost=1\n[Other]\nk=a=b\n"
            "[GENERAL]\nh=3\n[%General]\ng=4\n");
        // "General" in any case is the top level, "%General" a section of
        // that name, as QSettings reads (and writes) them.
        const QList<Entry> expected{{"", "top", "1"}, {"", "g", "2"}, {"UserData", "mode0", "58"},
                                    {"Other", "k", "a=b"}, {"", "h", "3"}, {"General", "g", "4"}};
        QCOMPARE(entries, expected);
        QVERIFY(SettingsRecovery::valueOf(entries, "UserData", "mode1").isNull());
        QCOMPARE(SettingsRecovery::valueOf(entries, "Other", "k"), QStringLiteral("a=b"));
    }

    void damagedFileReadsAsAPersonSeesIt_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("stray quote before the section") << "[General]\r\nnote=\"oops\r\n" + Values;
        QTest::newRow("random bytes before the section")
            << QByteArray("\x01\xfe\xff\"\x80junk\r\n", 11) + Values;
        QTest::newRow("line ending in a backslash") << "x=1\\\r\n" + Values;
        QTest::newRow("quote inside the section")
            << QByteArray("[UserData]\r\nUserID=4589326750\r\nbroken=\"\r\nmode0=57\r\nmode1=123\r\n"
                          "EntryName=Tovrik4\r\n");
    }

    void damagedFileReadsAsAPersonSeesIt()
    {
        QFETCH(QByteArray, contents);
        TestPlatform t;
        writeFile(t.iniFile(), contents);
        {
            // The fault itself: QSettings alone loses the values.
            QSettings plain(t.iniFile(), QSettings::IniFormat);
            QVERIFY(!plain.contains("UserData/mode1"));
        }
        QCOMPARE(t.stored("UserID"), QStringLiteral("4589326750"));
        QCOMPARE(t.stored("mode0"), QStringLiteral("57"));
        QCOMPARE(t.stored("mode1"), QStringLiteral("123"));
        QCOMPARE(t.stored("EntryName"), QStringLiteral("Tovrik4"));
        QCOMPARE(contentsOf(t.iniFile()), contents);  // reading changes nothing
        QVERIFY(damagedCopies(t.iniFile()).isEmpty());

        QFile::setPermissions(t.iniFile(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        // The first write keeps the original beside the file, then leaves a
        // clean file with every legible value and the new one, private as
        // the original was.
        QVERIFY(t.settings.write("Tovrika", "UserData", "mode0", "60"));
        const QStringList copies = damagedCopies(t.iniFile());
        QCOMPARE(copies.size(), 1);
        QVERIFY(copies[0].contains(QRegularExpression("^Tovrika\\.ini\\.damaged-\\d{8}-\\d{6}$")));
        QCOMPARE(contentsOf(QFileInfo(t.iniFile()).dir().filePath(copies[0])), contents);

        QSettings clean(t.iniFile(), QSettings::IniFormat);
        QCOMPARE(clean.value("UserData/UserID").toString(), QStringLiteral("4589326750"));
        QCOMPARE(clean.value("UserData/mode0").toString(), QStringLiteral("60"));
        QCOMPARE(clean.value("UserData/mode1").toString(), QStringLiteral("123"));
        QCOMPARE(clean.value("UserData/EntryName").toString(), QStringLiteral("Tovrik4"));
        const QFileDevice::Permissions rights = QFile::permissions(t.iniFile());
        QVERIFY(rights.testFlag(QFileDevice::ReadOwner) && rights.testFlag(QFileDevice::WriteOwner));
        QVERIFY(!(rights & (QFileDevice::ReadGroup | QFileDevice::ReadOther)));

        // Clean now: a second write goes the ordinary way, no new copy.
        QVERIFY(t.settings.write("Tovrika", "UserData", "mode1", "124"));
        QCOMPARE(damagedCopies(t.iniFile()).size(), 1);
        QCOMPARE(t.stored("mode1"), QStringLiteral("124"));
        QCOMPARE(t.stored("mode0"), QStringLiteral("60"));
        QCOMPARE(QDir(QFileInfo(t.iniFile()).absolutePath()).entryList(QDir::Files).size(), 2);
    }

    void cleanFileIsWrittenAsQSettingsWritesIt()
    {
        TestPlatform t;
        QTemporaryDir reference;
        const QString referenceFile = reference.filePath("Tovrika.ini");
        writeFile(t.iniFile(), Values);
        writeFile(referenceFile, Values);
        {
            QSettings settings(referenceFile, QSettings::IniFormat);
            settings.setValue("UserData/mode0", "58");
        }
        QVERIFY(t.settings.write("Tovrika", "UserData", "mode0", "58"));
        QCOMPARE(contentsOf(t.iniFile()), contentsOf(referenceFile));
        QVERIFY(damagedCopies(t.iniFile()).isEmpty());
    }

    void repairThatCannotBeWrittenLosesNothing()
    {
        TestPlatform t;
        const QByteArray contents = "[General]\nnote=\"oops\n" + Values;
        writeFile(t.iniFile(), contents);
        {
            ReadOnlySettings readOnly(t.iniFile());
            QVERIFY(!t.settings.write("Tovrika", "UserData", "mode0", "60"));
            QCOMPARE(t.stored("mode0"), QStringLiteral("57"));
            QCOMPARE(t.stored("UserID"), QStringLiteral("4589326750"));
        }
        QCOMPARE(contentsOf(t.iniFile()), contents);
        QVERIFY(damagedCopies(t.iniFile()).isEmpty());
    }

    void gameStartsWithTheRecoveredValues()
    {
        TestPlatform t;
        writeFile(t.iniFile(), "[General]\r\nnote=\"oops\r\n" + Values);
        auto window = modMain::Main(t.platform);
        QCOMPARE(strUserID, QStringLiteral("4589326750"));
        QCOMPARE(window->controls().lblHiScore->text(), QStringLiteral("57"));
        window->controls().cmbMode->setCurrentIndex(1);
        QCOMPARE(window->controls().lblHiScore->text(), QStringLiteral("123"));
        // The identifier was found, so nothing was written yet.
        QVERIFY(damagedCopies(t.iniFile()).isEmpty());
    }
};

TOVRIKA_TEST_MAIN(TestSettingsRecovery)
#include "tst_settingsrecovery.moc"
