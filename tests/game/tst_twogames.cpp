// Checks two copies of the game at once on one settings file, as real
// processes: a copy that opened before the other stored a higher score
// neither calls a lower score a record nor writes it over the stored one,
// and shows the stored score from then on; a score above both is a record.

#include "support/TestMain.h"
#include "support/TestPlatform.h"

#include <QProcess>
#include <QtTest>

namespace {

// One running copy, driven line by line.
class Copy
{
public:
    explicit Copy(const QString &settingsFolder)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral(TOVRIKA_SCOREPLAYER), {settingsFolder});
    }
    ~Copy()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
    }

    // The copy's next report line.
    QByteArray report()
    {
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(20000))
                return "no answer: " + m_process.errorString().toUtf8();
        }
        return m_process.readLine().trimmed();
    }

    QByteArray play(int score)
    {
        m_process.write("play " + QByteArray::number(score) + '\n');
        return report();
    }

private:
    QProcess m_process;
};

} // namespace

class TestTwoGames : public QObject
{
    Q_OBJECT

private slots:
    void lowerScoreOfTheOtherCopyKeepsTheStoredRecord()
    {
        TestPlatform t;
        t.store("mode0", "-1");
        Copy a(t.dir.path());
        Copy b(t.dir.path());
        QCOMPARE(a.report(), QByteArray("label=-1 record=0 messages=0"));
        QCOMPARE(b.report(), QByteArray("label=-1 record=0 messages=0"));

        QCOMPARE(a.play(4), QByteArray("label=4 record=1 messages=1"));
        QCOMPARE(t.stored("mode0"), QStringLiteral("4"));

        // B still showed -1: its 0 is no record against the 4 now stored.
        QCOMPARE(b.play(0), QByteArray("label=4 record=0 messages=0"));
        QCOMPARE(t.stored("mode0"), QStringLiteral("4"));
        QCOMPARE(b.play(4), QByteArray("label=4 record=0 messages=0"));
        QCOMPARE(t.stored("mode0"), QStringLiteral("4"));

        // A score above both is a record in either copy.
        QCOMPARE(b.play(6), QByteArray("label=6 record=1 messages=1"));
        QCOMPARE(t.stored("mode0"), QStringLiteral("6"));
        QCOMPARE(a.play(5), QByteArray("label=6 record=0 messages=1"));
        QCOMPARE(t.stored("mode0"), QStringLiteral("6"));
    }
};

TOVRIKA_TEST_MAIN(TestTwoGames)
#include "tst_twogames.moc"
