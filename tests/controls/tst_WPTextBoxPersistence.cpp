// Checks how WPTextBox is initialised, restored and saved: a new instance's
// values, the ranking name field's stored definition read from a lower-case
// text bag (also through the window definition's dynamic property), the
// restore shortcuts (text neither cut nor filtered, no reports, margins
// untested), the eighteen entries in order, and save-restore round trips.

#include "controls/PropertyBag.h"
#include "controls/WPTextBox.h"
#include "support/TestMain.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

const QStringList NameFieldDefinition{
    "font=ＭＳ Ｐゴシック,9", "imemode=3", "text=", "maxlength=15",
    "checkmode=3", "leftmargin=2", "topmargin=2"};

} // namespace

class tst_WPTextBoxPersistence : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void newInstance();
    void restoreRankingNameField();
    void restoreThroughWindowDefinition();
    void definitionWithoutTextShowsDesignedText();
    void storedTextIsNeitherFilteredNorReported();
    void restoredMarginsAreNotTested();
    void restoredSelectionSurvivesText();
    void restoredDisabledStateHasNoColourStep();
    void savingDefaultsStoresNothingButADifferentFont();
    void savingWritesEighteenEntriesInOrder();
    void saveAndRestoreGiveTheSameControl();

private:
    WPTextBox *newBox();

    std::unique_ptr<QWidget> m_window;
    int m_beeps = 0;
};

void tst_WPTextBoxPersistence::init()
{
    m_window = std::make_unique<QWidget>();
    QFont ambient(QStringLiteral("IPAPGothic"));
    ambient.setPointSize(11);
    m_window->setFont(ambient);
    m_window->resize(300, 100);
    m_beeps = 0;
}

void tst_WPTextBoxPersistence::cleanup()
{
    m_window.reset();
}

WPTextBox *tst_WPTextBoxPersistence::newBox()
{
    auto *box = new WPTextBox(m_window.get());
    box->setBeep([this] { ++m_beeps; });
    return box;
}

void tst_WPTextBoxPersistence::newInstance()
{
    WPTextBox *box = newBox();
    QCOMPARE(box->text(), QStringLiteral("WPTextBox"));
    QCOMPARE(box->selectOnFocus(), true);
    QCOMPARE(box->checkMode(), 0);
    QCOMPARE(box->checkPattern(), QString());
    QCOMPARE(box->leftMargin(), 0);
    QCOMPARE(box->topMargin(), 0);
    QCOMPARE(box->rightMargin(), 0);
    QCOMPARE(box->backColor(), 0x80000005u);
    QCOMPARE(box->foreColor(), 0x80000008u);
    QCOMPARE(box->alignment(), 0);
    QCOMPARE(box->imeMode(), 0);
    QCOMPARE(box->maxLength(), 0);
    QCOMPARE(box->selStart(), 0);
    QCOMPARE(box->selLength(), 0);
    QCOMPARE(box->isControlEnabled(), true);
    QCOMPARE(box->passwordChar(), QString());
    QCOMPARE(box->textFont(), box->ambientFont());
    QCOMPARE(box->ambientFont(), m_window->font());
    box->setText(QString());
    QTest::keyClicks(box->editor(), QStringLiteral("a1 ~\x1b"));  // nothing filtered
    QCOMPARE(box->text(), QStringLiteral("a1 ~"));  // (QLineEdit ignores Escape)
    QCOMPARE(m_beeps, 0);
}

void tst_WPTextBoxPersistence::restoreRankingNameField()
{
    WPTextBox *box = newBox();
    QSignalSpy reports(box, &WPTextBox::propertyChanged);
    box->ReadProperties(PropertyBag::fromStringList(NameFieldDefinition));
    QCOMPARE(reports.count(), 0);
    QCOMPARE(box->imeMode(), 3);
    QVERIFY(!box->editor()->testAttribute(Qt::WA_InputMethodEnabled));
    QCOMPARE(box->text(), QString());
    QCOMPARE(box->maxLength(), 15);
    QCOMPARE(box->checkMode(), 3);
    QCOMPARE(box->leftMargin(), 2);
    QCOMPARE(box->topMargin(), 2);
    QCOMPARE(box->rightMargin(), 0);
    QCOMPARE(box->textFont().family(), QStringLiteral("ＭＳ Ｐゴシック"));
    QCOMPARE(box->textFont().pointSizeF(), 9.0);
    // Everything else at its default.
    QCOMPARE(box->backColor(), 0x80000005u);
    QCOMPARE(box->foreColor(), 0x80000008u);
    QCOMPARE(box->selectOnFocus(), true);
    QCOMPARE(box->isControlEnabled(), true);
    QCOMPARE(box->passwordChar(), QString());
    QCOMPARE(box->alignment(), 0);

    box->setGeometry(12, 28, 145, 21);  // 2175 x 315 twips at 96 dpi
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QCOMPARE(box->editor()->geometry(), QRect(4, 4, 139, 15));
    box->setFocus();
    QTest::keyClicks(box->editor(), QStringLiteral("Tovrika-2001 name too long"));
    QCOMPARE(box->text(), QStringLiteral("Tovrika2001name"));
}

void tst_WPTextBoxPersistence::restoreThroughWindowDefinition()
{
    WPTextBox *box = newBox();
    QVERIFY(!box->restoreFromDefinition());  // nothing stored: left as it is
    QCOMPARE(box->text(), QStringLiteral("WPTextBox"));
    // What uic generates for a <property name="propertyBag" stdset="0">.
    box->setProperty(WPTextBox::DefinitionProperty, NameFieldDefinition);
    QVERIFY(box->restoreFromDefinition());
    QCOMPARE(box->text(), QString());
    QCOMPARE(box->checkMode(), 3);
    QCOMPARE(box->maxLength(), 15);
}

void tst_WPTextBoxPersistence::definitionWithoutTextShowsDesignedText()
{
    WPTextBox *box = newBox();
    box->setText(QStringLiteral("changed"));
    box->ReadProperties(PropertyBag::fromStringList({"checkmode=3"}));
    QCOMPARE(box->text(), QStringLiteral("WPTextBox"));
    box->ReadProperties(PropertyBag::fromStringList({"TEXT="}));
    QCOMPARE(box->text(), QString());
}

void tst_WPTextBoxPersistence::storedTextIsNeitherFilteredNorReported()
{
    WPTextBox *box = newBox();
    box->setCheckMode(WPTextBox::CheckDigits);  // must neither filter
    box->setMaxLength(2);                        // nor cut the restored text
    m_beeps = 0;
    QSignalSpy reports(box, &WPTextBox::propertyChanged);
    box->ReadProperties(PropertyBag::fromStringList({"text=a1 b2", "checkmode=1"}));
    QCOMPARE(box->text(), QStringLiteral("a1 b2"));
    QCOMPARE(m_beeps, 0);
    QCOMPARE(reports.count(), 0);
    QCOMPARE(box->checkMode(), 1);
    // The first change of the text removes every failing character at once.
    m_window->show();
    box->setFocus();
    box->editor()->setCursorPosition(5);
    QTest::keyClick(box->editor(), Qt::Key_Backspace);
    QCOMPARE(box->text(), QStringLiteral("1"));
    QCOMPARE(m_beeps, 1);
}

void tst_WPTextBoxPersistence::restoredMarginsAreNotTested()
{
    WPTextBox *box = newBox();
    box->ReadProperties(PropertyBag::fromStringList({"leftmargin=-3", "rightmargin=-1"}));
    QCOMPARE(box->leftMargin(), -3);
    QCOMPARE(box->rightMargin(), -1);
    box->resize(100, 20);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QCOMPARE(box->editor()->geometry(), QRect(-1, 2, 100, 16));
}

void tst_WPTextBoxPersistence::restoredSelectionSurvivesText()
{
    WPTextBox *box = newBox();
    box->ReadProperties(PropertyBag::fromStringList({"text=hello", "selstart=1", "sellength=3"}));
    QCOMPARE(box->editor()->selectedText(), QStringLiteral("ell"));
    QCOMPARE(box->selStart(), 1);
}

void tst_WPTextBoxPersistence::restoredDisabledStateHasNoColourStep()
{
    WPTextBox *box = newBox();
    box->setGeometry(10, 10, 100, 20);
    box->setText(QString());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QSignalSpy reports(box, &WPTextBox::propertyChanged);
    box->ReadProperties(PropertyBag::fromStringList({"enabled=false", "text="}));
    QCOMPARE(box->isControlEnabled(), false);
    QCOMPARE(reports.count(), 0);
    const QRgb base = QGuiApplication::palette().color(QPalette::Base).rgb();
    QCOMPARE(box->grab().toImage().pixel(50, 10), base);  // no repaint grey yet
    box->hide();
    box->show();  // showing applies the background rule
    const QRgb face = QGuiApplication::palette().color(QPalette::Button).rgb();
    QCOMPARE(box->grab().toImage().pixel(50, 10), face);
}

void tst_WPTextBoxPersistence::savingDefaultsStoresNothingButADifferentFont()
{
    WPTextBox *box = newBox();
    PropertyBag bag;
    box->WriteProperties(bag);
    QVERIFY2(bag.isEmpty(), qPrintable(bag.toStringList().join(' ')));

    QFont other(QStringLiteral("ＭＳ Ｐゴシック"));
    other.setPointSize(9);
    box->setTextFont(other);
    box->WriteProperties(bag);
    QCOMPARE(bag.names(), QStringList{"font"});
}

void tst_WPTextBoxPersistence::savingWritesEighteenEntriesInOrder()
{
    WPTextBox *box = newBox();
    QFont other(QStringLiteral("ＭＳ Ｐゴシック"));
    other.setPointSize(9);
    box->setForeColor(0x000000FF);
    box->setTextFont(other);
    box->setAlignment(2);
    box->setIMEMode(3);
    box->setText(QStringLiteral("hello"));
    box->setToolTipText(QStringLiteral("tip"));
    box->setSelStart(1);
    box->setSelLength(2);
    box->setMaxLength(15);
    box->setSelectOnFocus(false);
    box->setControlEnabled(false);
    box->setPasswordChar(QStringLiteral("*"));
    box->setCheckMode(9);
    box->setCheckPattern(QStringLiteral("[a-z]"));
    box->setLeftMargin(1);
    box->setTopMargin(2);
    box->setBackColor(0x00C0C0C0);
    box->setRightMargin(3);
    PropertyBag bag;
    box->WriteProperties(bag);
    QCOMPARE(bag.names(), (QStringList{"forecolor", "font", "alignment", "imemode", "text",
                                       "tooltiptext", "selstart", "sellength", "maxlength",
                                       "selectonfocus", "enabled", "passwordchar", "checkmode",
                                       "checkpattern", "leftmargin", "topmargin", "backcolor",
                                       "rightmargin"}));
}

void tst_WPTextBoxPersistence::saveAndRestoreGiveTheSameControl()
{
    WPTextBox *box = newBox();
    box->ReadProperties(PropertyBag::fromStringList(NameFieldDefinition));
    box->setForeColor(0x00112233);
    box->setToolTipText(QStringLiteral("名前, a=b"));
    box->setPasswordChar(QStringLiteral("●"));
    box->setBackColor(0x80000016);
    PropertyBag saved;
    box->WriteProperties(saved);
    const QStringList definition = saved.toStringList();

    WPTextBox *copy = newBox();
    copy->ReadProperties(PropertyBag::fromStringList(definition));
    PropertyBag again;
    copy->WriteProperties(again);
    QCOMPARE(again.toStringList(), definition);
    const QMetaObject *meta = box->metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const char *name = meta->property(i).name();
        QVERIFY2(box->property(name) == copy->property(name), name);
    }
}

TOVRIKA_TEST_MAIN(tst_WPTextBoxPersistence)
#include "tst_WPTextBoxPersistence.moc"
