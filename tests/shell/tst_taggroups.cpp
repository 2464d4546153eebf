// Checks the tag syntax (absent, bare key, key=value, first match wins, exact
// comparison) and that SetGroupEnabled reaches tagged controls inside
// containers while leaving untagged ones alone.

#include "shell/modCommon.h"
#include "support/TestMain.h"

#include <QGroupBox>
#include <QPushButton>

class TestTagGroups : public QObject
{
    Q_OBJECT

private slots:
    void lookUp_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("present");
        QTest::addColumn<QString>("value");

        QTest::newRow("bare key closed by ;") << "Group1;" << "Group1" << true << "";
        QTest::newRow("case matters") << "Group1;" << "group1" << false << "";
        QTest::newRow("prefix is not the key") << "Group1;" << "Group" << false << "";
        QTest::newRow("value") << "a=1;b;c=x=y" << "a" << true << "1";
        QTest::newRow("bare in the middle") << "a=1;b;c=x=y" << "b" << true << "";
        QTest::newRow("value holding =") << "a=1;b;c=x=y" << "c" << true << "x=y";
        QTest::newRow("missing key") << "a=1;b;c=x=y" << "d" << false << "";
        QTest::newRow("first match wins") << "a=1;a=2" << "a" << true << "1";
        QTest::newRow("one character") << "x" << "x" << true << "";
        QTest::newRow("one character closed") << "x;" << "x" << true << "";
        QTest::newRow("last of two") << "y;x" << "x" << true << "";
        QTest::newRow("key with value") << "Group1=off" << "Group1" << true << "off";
        QTest::newRow("empty value") << "k=" << "k" << true << "";
        QTest::newRow("empty tag") << "" << "Group1" << false << "";
        QTest::newRow("empty tag, empty key") << "" << "" << false << "";
        QTest::newRow("empty item matches empty key") << "a;;b" << "" << true << "";
        QTest::newRow("trailing ; adds no empty item") << "a;" << "" << false << "";
        QTest::newRow("spaces are not trimmed") << " a;" << "a" << false << "";
        QTest::newRow("value ends at ;") << "a=1;2" << "2" << true << "";
    }

    void lookUp()
    {
        QFETCH(QString, tag);
        QFETCH(QString, key);
        QFETCH(bool, present);
        QFETCH(QString, value);

        const std::optional<QString> result = GetTagValue(tag, key);
        QCOMPARE(result.has_value(), present);
        if (present) {
            QCOMPARE(*result, value);
            QVERIFY(!result->isNull() || value.isEmpty());
        }
    }

    void groupReachesContainersAndSparesOthers()
    {
        QWidget window;
        auto *top = new QPushButton(&window);
        top->setProperty("Tag", QStringLiteral("Group1;"));
        auto *frame = new QGroupBox(&window);
        auto *inner = new QPushButton(frame);
        inner->setProperty("Tag", QStringLiteral("x;Group1=off"));
        auto *untagged = new QPushButton(&window);
        auto *otherGroup = new QPushButton(&window);
        otherGroup->setProperty("Tag", QStringLiteral("Group2;"));

        SetGroupEnabled(&window, QStringLiteral("Group1"), false);
        QVERIFY(!top->isEnabled());
        QVERIFY(!inner->isEnabled());
        QVERIFY(frame->isEnabled());
        QVERIFY(untagged->isEnabled());
        QVERIFY(otherGroup->isEnabled());

        SetGroupEnabled(&window, QStringLiteral("Group1"), true);
        QVERIFY(top->isEnabled());
        QVERIFY(inner->isEnabled());
    }
};

TOVRIKA_TEST_MAIN(TestTagGroups)
#include "tst_taggroups.moc"
