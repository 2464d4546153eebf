// Checks the property bag: names without regard to case, defaults that are
// not stored, and the text form a window definition holds, read back into
// the types the control asks for.

#include "controls/PropertyBag.h"
#include "support/TestMain.h"

#include <QFont>
#include <QTest>

class tst_PropertyBag : public QObject
{
    Q_OBJECT

private slots:
    void namesIgnoreCase();
    void defaultsAreNotStored();
    void absentNameGivesDefault();
    void textFormRoundTrip();
    void textValuesConvertToTheDefaultsType_data();
    void textValuesConvertToTheDefaultsType();
    void malformedEntries();
};

void tst_PropertyBag::namesIgnoreCase()
{
    PropertyBag bag;
    bag.write("MaxLength", 15, 0);
    QVERIFY(bag.contains("maxlength"));
    QCOMPARE(bag.read("MAXLENGTH", 0).toInt(), 15);
    bag.write("maxLENGTH", 20, 0);
    QCOMPARE(bag.size(), 1);
    QCOMPARE(bag.names(), QStringList{"maxlength"});
    QCOMPARE(bag.read("MaxLength", 0).toInt(), 20);
}

void tst_PropertyBag::defaultsAreNotStored()
{
    PropertyBag bag;
    bag.write("Text", QString("WPTextBox"), QString("WPTextBox"));
    bag.write("CheckPattern", QString(""), QString());
    bag.write("BackColor", uint(0x80000005), uint(0x80000005));
    QVERIFY(bag.isEmpty());
    bag.write("CheckMode", 3, 0);
    bag.write("CheckMode", 0, 0);  // back to its default: the entry goes
    QVERIFY(bag.isEmpty());
}

void tst_PropertyBag::absentNameGivesDefault()
{
    const PropertyBag bag;
    QCOMPARE(bag.read("Text", QString("WPTextBox")).toString(), QString("WPTextBox"));
    QCOMPARE(bag.read("Enabled", true).toBool(), true);
}

void tst_PropertyBag::textFormRoundTrip()
{
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPointSizeF(9);
    PropertyBag bag;
    bag.write("Font", font, QFont());
    bag.write("IMEMode", 3, 0);
    bag.write("Text", QString(""), QString("WPTextBox"));
    bag.write("ToolTipText", QString("a=b, c"), QString());
    bag.write("SelectOnFocus", false, true);
    bag.write("BackColor", uint(0x00FF8040), uint(0x80000005));

    const QStringList text = bag.toStringList();
    QCOMPARE(text.size(), 6);
    QCOMPARE(text[1], QStringLiteral("imemode=3"));
    QCOMPARE(text[2], QStringLiteral("text="));

    const PropertyBag back = PropertyBag::fromStringList(text);
    QCOMPARE(back.names(), bag.names());
    // What the text form holds comes back; the rest (the hinting) is the
    // game's own.
    QCOMPARE(back.read("Font", QFont()).value<QFont>().toString(), font.toString());
    QCOMPARE(back.read("IMEMode", 0).toInt(), 3);
    QCOMPARE(back.read("Text", QString("WPTextBox")).toString(), QString());
    QCOMPARE(back.read("ToolTipText", QString()).toString(), QString("a=b, c"));
    QCOMPARE(back.read("SelectOnFocus", true).toBool(), false);
    QCOMPARE(back.read("BackColor", uint(0x80000005)).toUInt(), uint(0x00FF8040));
}

void tst_PropertyBag::textValuesConvertToTheDefaultsType_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QVariant>("defaultValue");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("decimal") << "15" << QVariant(0) << QVariant(15);
    QTest::newRow("leading zero is decimal") << "010" << QVariant(0) << QVariant(10);
    QTest::newRow("negative") << "-1" << QVariant(0) << QVariant(-1);
    QTest::newRow("hex colour") << "0x80000010" << QVariant(uint(0)) << QVariant(uint(0x80000010));
    QTest::newRow("decimal colour") << "2147483653" << QVariant(uint(0)) << QVariant(uint(0x80000005));
    QTest::newRow("not a number") << "abc" << QVariant(7) << QVariant(7);
    QTest::newRow("flag true") << "True" << QVariant(false) << QVariant(true);
    QTest::newRow("flag -1") << "-1" << QVariant(false) << QVariant(true);
    QTest::newRow("flag 0") << "0" << QVariant(true) << QVariant(false);
    QTest::newRow("flag nonsense") << "maybe" << QVariant(true) << QVariant(true);
    QTest::newRow("text kept as is") << " a " << QVariant(QString()) << QVariant(QString(" a "));
}

void tst_PropertyBag::textValuesConvertToTheDefaultsType()
{
    QFETCH(QString, stored);
    QFETCH(QVariant, defaultValue);
    QFETCH(QVariant, expected);
    const PropertyBag bag = PropertyBag::fromStringList({"value=" + stored});
    const QVariant value = bag.read("Value", defaultValue);
    QCOMPARE(value.metaType(), defaultValue.metaType());
    QCOMPARE(value, expected);
}

void tst_PropertyBag::malformedEntries()
{
    const PropertyBag bag = PropertyBag::fromStringList({"nothing", "Text=a=b", "TEXT=c", "font=,"});
    QCOMPARE(bag.names(), (QStringList{"text", "font"}));
    QCOMPARE(bag.read("text", QString()).toString(), QString("c"));
    const QFont fallback(QStringLiteral("Sans"));
    QCOMPARE(bag.read("Font", fallback).value<QFont>(), fallback);
}

TOVRIKA_TEST_MAIN(tst_PropertyBag)
#include "tst_PropertyBag.moc"
