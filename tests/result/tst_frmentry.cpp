// Checks the ranking-entry window against a real HTTP server on 127.0.0.1:
// the window as defined (name field restored from its saved values), the
// name loaded and filtered, OK offered only with a name, Enter and Escape,
// and for every answer and every failure of the transfer the one request,
// the state of the window and the pointer while it is open and when the
// message shows, the message, the stored name and the closing. Cancel sends
// and stores nothing.

#include "controls/WPTextBox.h"
#include "game/PlayRecord.h"
#include "result/frmEntry.h"
#include "shell/modMain.h"
#include "support/LoopbackHttpServer.h"
#include "support/ReadOnlySettings.h"
#include "support/TestMain.h"
#include "support/FreePort.h"
#include "support/TestPlatform.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using Icon = MessageBoxes::Icon;
Q_DECLARE_METATYPE(MessageBoxes::Icon)

namespace {

const QString Failure = QStringLiteral("なぜかエントリーできませんでした。");
const QByteArray WorkedTarget = "/cgi-bin/tovrika/tovrentry.cgi?hs=46&nm=ABC@123456789&md=0&vr=2";

// One test's world: fake platform, loopback ranking server, a play record
// with score 46 in the 30-second mode.
struct Fixture
{
    Fixture()
    {
        server.listen();
        tp.platform.site.rankingServer = server.baseUrl();
        record.nScore = 46;
        record.bHiScore = true;
    }

    std::unique_ptr<frmEntry> open(QWidget *parent = nullptr)
    {
        return std::make_unique<frmEntry>(record, 0, tp.platform, parent);
    }

    TestPlatform tp;
    LoopbackHttpServer server;
    PlayRecord record;
};

WPTextBox *nameField(QWidget *window) { return window->findChild<WPTextBox *>("txtName"); }
QPushButton *button(QWidget *window, const char *name) { return window->findChild<QPushButton *>(name); }

bool showAndActivate(QWidget *window)
{
    window->show();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

bool storedHasEntryName(const TestPlatform &tp)
{
    QFile file(tp.iniFile());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return file.readAll().contains("EntryName");
}

quint16 closedPort() { return freeLoopbackPort(); }

} // namespace

class TestFrmEntry : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void windowAsDefined();
    void nameFieldRestoredFromItsSavedValues();
    void tabOrder();
    void centredOverTheResultWindow();
    void opensEmptyWithNothingStored();
    void opensWithTheStoredName();
    void storedNameIsFilteredLikeAnyText_data();
    void storedNameIsFilteredLikeAnyText();
    void typedSpacesAndPunctuationDoNotStay();
    void sixteenthCharacterRefused();
    void sendShowsTheAnswer_data();
    void sendShowsTheAnswer();
    void enterSendsWhileOkIsEnabled();
    void enterDoesNothingWhileOkIsDisabled();
    void cancelSendsAndStoresNothing_data();
    void cancelSendsAndStoresNothing();
    void nothingCutsIntoASend();
    void nameThatCannotBeStoredIsReportedToTheOpener();
};

void TestFrmEntry::initTestCase()
{
    strUserID = QStringLiteral("123456789");
    // The loopback server is reached directly whatever proxy the machine names.
    for (const char *name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
}

void TestFrmEntry::cleanup()
{
    // A failed check must not leave the pointer busy for the next test.
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
}

void TestFrmEntry::windowAsDefined()
{
    Fixture f;
    const auto window = f.open();

    QCOMPARE(window->size(), QSize(170, 93));
    QCOMPARE(window->minimumSize(), QSize(170, 93));
    QCOMPARE(window->maximumSize(), QSize(170, 93));
    const Qt::WindowFlags flags = window->windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Dialog);
    QVERIFY(flags & Qt::CustomizeWindowHint);
    QVERIFY(!(flags & (Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                       | Qt::WindowMinMaxButtonsHint)));
    QVERIFY(window->autoFillBackground());
    QCOMPARE(window->palette().color(QPalette::Window), QColor(0x40, 0x40, 0x40));

    const auto *txtName = nameField(window.get());
    QVERIFY(txtName);
    QCOMPARE(txtName->geometry(), QRect(12, 28, 145, 21));

    QPushButton *btnOk = button(window.get(), "btnOk");
    QCOMPARE(btnOk->geometry(), QRect(12, 60, 69, 25));
    QCOMPARE(btnOk->text(), QStringLiteral("OK"));
    QVERIFY(!btnOk->isEnabled());
    QVERIFY(btnOk->isDefault());
    QCOMPARE(btnOk->toolTip(), QStringLiteral("ハイスコアをインターネット上のランキングにエントリー。"));

    QPushButton *btnCancel = button(window.get(), "btnCancel");
    QCOMPARE(btnCancel->geometry(), QRect(88, 60, 69, 25));
    QCOMPARE(btnCancel->text(), QStringLiteral("キャンセル"));
    QVERIFY(btnCancel->isEnabled());
    QVERIFY(btnCancel->toolTip().isEmpty());

    const auto *label = window->findChild<QLabel *>("lblMessage2");
    QCOMPARE(label->geometry(), QRect(12, 12, 145, 13));
    QCOMPARE(label->text(), QStringLiteral("エントリー名（半角英数字）"));
    QCOMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::white));
    QVERIFY(label->alignment() & Qt::AlignLeft);
}

// The window definition keeps the field's values as data under lower-case
// names, and the control restores itself from them.
void TestFrmEntry::nameFieldRestoredFromItsSavedValues()
{
    Fixture f;
    const auto window = f.open();
    const WPTextBox *txtName = nameField(window.get());

    const QStringList saved = txtName->property(WPTextBox::DefinitionProperty).toStringList();
    QCOMPARE(saved, (QStringList{QStringLiteral("font=ＭＳ Ｐゴシック,9"), "imemode=3", "text=",
                                 "maxlength=15", "checkmode=3", "leftmargin=2", "topmargin=2"}));

    QCOMPARE(txtName->textFont().family(), QStringLiteral("ＭＳ Ｐゴシック"));
    QCOMPARE(txtName->textFont().pointSizeF(), 9.0);
    QCOMPARE(txtName->imeMode(), 3);
    QVERIFY(!txtName->editor()->testAttribute(Qt::WA_InputMethodEnabled));
    QCOMPARE(txtName->text(), QString()); // not the control's own designed text
    QCOMPARE(txtName->maxLength(), 15);
    QCOMPARE(txtName->checkMode(), int(WPTextBox::CheckAlphaNumeric));
    QCOMPARE(txtName->leftMargin(), 2);
    QCOMPARE(txtName->topMargin(), 2);
    QCOMPARE(txtName->rightMargin(), 0);
}

void TestFrmEntry::tabOrder()
{
    Fixture f;
    f.tp.store("EntryName", "ABC"); // btnOk enabled, so it takes the focus too
    const auto window = f.open();
    QVERIFY(showAndActivate(window.get()));

    QStringList visited;
    for (int i = 0; i < 3; ++i) {
        QWidget *focus = window->focusWidget();
        QVERIFY(focus);
        const bool inName = focus == nameField(window.get())->editor();
        visited << (inName ? QStringLiteral("txtName") : focus->objectName());
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    QCOMPARE(visited, (QStringList{"txtName", "btnOk", "btnCancel"}));
}

void TestFrmEntry::centredOverTheResultWindow()
{
    Fixture f;
    QWidget owner;
    owner.setGeometry(200, 150, 482, 267);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));

    const auto window = f.open(&owner);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QPoint delta = window->frameGeometry().center() - owner.frameGeometry().center();
    QVERIFY2(delta.manhattanLength() <= 2, qPrintable(QStringLiteral("%1,%2").arg(delta.x()).arg(delta.y())));
}

void TestFrmEntry::opensEmptyWithNothingStored()
{
    Fixture f;
    const auto window = f.open();
    QVERIFY(showAndActivate(window.get()));
    WPTextBox *txtName = nameField(window.get());
    QPushButton *btnOk = button(window.get(), "btnOk");

    QCOMPARE(txtName->text(), QString());
    QVERIFY(!btnOk->isEnabled());
    QCOMPARE(window->focusWidget(), txtName->editor());
    QVERIFY(!storedHasEntryName(f.tp));

    QTest::keyClick(txtName->editor(), Qt::Key_A);
    QCOMPARE(txtName->text(), QStringLiteral("a"));
    QVERIFY(btnOk->isEnabled());
    QTest::keyClick(txtName->editor(), Qt::Key_Backspace);
    QCOMPARE(txtName->text(), QString());
    QVERIFY(!btnOk->isEnabled());
    QCOMPARE(f.tp.sound.beeps, 0);
}

void TestFrmEntry::opensWithTheStoredName()
{
    Fixture f;
    f.tp.store("EntryName", "Taro99");
    const auto window = f.open();
    QVERIFY(showAndActivate(window.get()));

    QCOMPARE(nameField(window.get())->text(), QStringLiteral("Taro99"));
    QVERIFY(button(window.get(), "btnOk")->isEnabled());
    QCOMPARE(window->focusWidget(), nameField(window.get())->editor());
}

// A settings file edited by hand: the field filters the stored name like any
// text assigned to it.
void TestFrmEntry::storedNameIsFilteredLikeAnyText_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("beeps");

    QTest::newRow("space and punctuation") << "Ta ro!" << "Taro" << 1;
    QTest::newRow("query characters") << "a&hs=9" << "ahs9" << 1;
    QTest::newRow("nothing left") << "!?#" << "" << 1;
    QTest::newRow("Japanese") << QStringLiteral("太郎Z") << "Z" << 1;
    QTest::newRow("too long") << "ABCDEFGHIJKLMNOPQRST" << "ABCDEFGHIJKLMNO" << 0;
}

void TestFrmEntry::storedNameIsFilteredLikeAnyText()
{
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    QFETCH(int, beeps);

    Fixture f;
    f.tp.store("EntryName", stored);
    const auto window = f.open();

    QCOMPARE(nameField(window.get())->text(), shown);
    QCOMPARE(button(window.get(), "btnOk")->isEnabled(), !shown.isEmpty());
    QCOMPARE(f.tp.sound.beeps, beeps);
}

void TestFrmEntry::typedSpacesAndPunctuationDoNotStay()
{
    Fixture f;
    const auto window = f.open();
    QVERIFY(showAndActivate(window.get()));
    WPTextBox *txtName = nameField(window.get());
    QPushButton *btnOk = button(window.get(), "btnOk");

    QTest::keyClick(txtName->editor(), Qt::Key_Space);
    QCOMPARE(txtName->text(), QString());
    QVERIFY(!btnOk->isEnabled());

    QTest::keyClicks(txtName->editor(), QStringLiteral("a b.c!-9_"));
    QCOMPARE(txtName->text(), QStringLiteral("abc9"));
    QVERIFY(btnOk->isEnabled());
    // One beep for each character that did not stay, the first space included.
    QCOMPARE(f.tp.sound.beeps, 6);
}

void TestFrmEntry::sixteenthCharacterRefused()
{
    Fixture f;
    const auto window = f.open();
    QVERIFY(showAndActivate(window.get()));
    WPTextBox *txtName = nameField(window.get());

    QTest::keyClicks(txtName->editor(), QStringLiteral("ABCDEFGHIJKLMNOP"));
    QCOMPARE(txtName->text(), QStringLiteral("ABCDEFGHIJKLMNO"));
}

enum class Setup { Answer, AnswerStatus, Refused, Silent, Halfway, Huge };
Q_DECLARE_METATYPE(Setup)

void TestFrmEntry::sendShowsTheAnswer_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Icon>("icon");
    QTest::addColumn<QString>("message");

    QTest::newRow("OK") << Setup::Answer << QByteArray("OK") << Icon::Information
                        << QStringLiteral("おめでとうございます。ランクインしました！");
    QTest::newRow("CANNOT_RANK_IN") << Setup::Answer << QByteArray("CANNOT_RANK_IN") << Icon::Information
        << QStringLiteral("残念ながらランクインできませんでした。\r\nさらなる高得点を目指してみてください。");
    QTest::newRow("INVALID_VERSION") << Setup::Answer << QByteArray("INVALID_VERSION") << Icon::Information
        << QStringLiteral("Tovrikaのバージョンが現在のランキングに対応していません。\r\n"
                          "Tovrikaを最新のバージョンにしてください。");
    QTest::newRow("connection refused") << Setup::Refused << QByteArray() << Icon::Error << Failure;
    QTest::newRow("never answers") << Setup::Silent << QByteArray() << Icon::Error << Failure;
    QTest::newRow("closed halfway through OKOK") << Setup::Halfway << QByteArray("OKOK") << Icon::Error
                                                 << Failure;
    QTest::newRow("500 error page") << Setup::AnswerStatus
        << QByteArray("<html><body>Internal Server Error</body></html>") << Icon::Error << Failure;
    QTest::newRow("500 with OK") << Setup::AnswerStatus << QByteArray("OK") << Icon::Information
        << QStringLiteral("おめでとうございます。ランクインしました！"); // only the body is read
    QTest::newRow("empty") << Setup::Answer << QByteArray() << Icon::Error << Failure;
    QTest::newRow("OK and a line break") << Setup::Answer << QByteArray("OK\n") << Icon::Error << Failure;
    QTest::newRow("lower-case ok") << Setup::Answer << QByteArray("ok") << Icon::Error << Failure;
    QTest::newRow("10 MB") << Setup::Huge << QByteArray() << Icon::Error << Failure;
}

void TestFrmEntry::sendShowsTheAnswer()
{
    QFETCH(Setup, setup);
    QFETCH(QByteArray, body);
    QFETCH(Icon, icon);
    QFETCH(QString, message);

    Fixture f;
    f.tp.platform.site.transferTimeoutMs = 400;
    switch (setup) {
    case Setup::Answer: f.server.answer(body); break;
    case Setup::AnswerStatus: f.server.answer(body, 500); break;
    case Setup::Refused:
        f.tp.platform.site.rankingServer = QStringLiteral("http://127.0.0.1:%1").arg(closedPort());
        break;
    case Setup::Silent: f.server.neverAnswer(); break;
    case Setup::Halfway: f.server.closeHalfway(body); break;
    case Setup::Huge: f.server.sendHuge(); break;
    }
    f.tp.store("EntryName", "ABC");
    const auto window = f.open();
    QVERIFY(showAndActivate(window.get()));

    // While the request is open: the window disabled, the busy pointer up.
    bool disabledWhileOpen = false;
    bool busyWhileOpen = false;
    connect(&f.server, &LoopbackHttpServer::requestReceived, this, [&] {
        disabledWhileOpen = !window->isEnabled();
        const QCursor *cursor = QGuiApplication::overrideCursor();
        busyWhileOpen = cursor && cursor->shape() == Qt::WaitCursor;
    });
    // When the message shows: the window enabled, the default pointer, the
    // name not yet stored, the window still open.
    bool enabledAtMessage = false;
    bool defaultPointerAtMessage = false;
    QString storedAtMessage;
    bool openAtMessage = false;
    f.tp.messages.onShow = [&] {
        enabledAtMessage = window->isEnabled();
        defaultPointerAtMessage = QGuiApplication::overrideCursor() == nullptr;
        storedAtMessage = f.tp.stored(QStringLiteral("EntryName"));
        openAtMessage = window->isVisible();
    };
    // Stored earlier, then replaced by what the field holds now.
    f.tp.store("EntryName", "Previous1");
    nameField(window.get())->setText(QStringLiteral("ABC"));

    button(window.get(), "btnOk")->click();

    QCOMPARE(f.tp.messages.shown.size(), 1);
    QCOMPARE(f.tp.messages.shown.at(0).kind, PresetMessageBoxes::Shown::Inform);
    QCOMPARE(f.tp.messages.shown.at(0).icon, icon);
    QCOMPARE(f.tp.messages.shown.at(0).text, message);
    QVERIFY(enabledAtMessage);
    QVERIFY(defaultPointerAtMessage);
    QVERIFY(openAtMessage);
    QCOMPARE(storedAtMessage, QStringLiteral("Previous1"));
    QCOMPARE(f.tp.stored("EntryName"), QStringLiteral("ABC"));
    QVERIFY(window->EntryNameSaved());
    QVERIFY(window->isEnabled());
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QVERIFY(!window->isVisible());
    QCOMPARE(window->result(), int(QDialog::Accepted));

    if (setup == Setup::Refused) {
        QCOMPARE(f.server.connections(), 0);
    } else {
        QVERIFY(disabledWhileOpen);
        QVERIFY(busyWhileOpen);
        QCOMPARE(f.server.requestTargets(), QList<QByteArray>{WorkedTarget});
        // No second request after the answer either.
        QTest::qWait(100);
        QCOMPARE(f.server.connections(), 1);
    }
}

void TestFrmEntry::enterSendsWhileOkIsEnabled()
{
    Fixture f;
    f.server.answer("OK");
    const auto window = f.open();
    QVERIFY(showAndActivate(window.get()));
    WPTextBox *txtName = nameField(window.get());

    QTest::keyClicks(txtName->editor(), QStringLiteral("ABC"));
    QTest::keyClick(txtName->editor(), Qt::Key_Return);

    QCOMPARE(f.server.requestTargets(), QList<QByteArray>{WorkedTarget});
    QCOMPARE(f.tp.messages.shown.size(), 1);
    QCOMPARE(f.tp.messages.shown.at(0).icon, Icon::Information);
    QCOMPARE(f.tp.stored("EntryName"), QStringLiteral("ABC"));
    QCOMPARE(window->result(), int(QDialog::Accepted));
    QCOMPARE(f.tp.sound.beeps, 0); // the field swallowed the Enter without a beep
}

void TestFrmEntry::enterDoesNothingWhileOkIsDisabled()
{
    Fixture f;
    f.server.answer("OK");
    const auto window = f.open();
    QVERIFY(showAndActivate(window.get()));
    WPTextBox *txtName = nameField(window.get());

    QTest::keyClick(txtName->editor(), Qt::Key_Return);
    QTest::keyClick(txtName->editor(), Qt::Key_Enter, Qt::KeypadModifier);
    QTest::qWait(50);

    QVERIFY(window->isVisible());
    QCOMPARE(f.server.connections(), 0);
    QVERIFY(f.tp.messages.shown.isEmpty());
    QVERIFY(!storedHasEntryName(f.tp));
    QCOMPARE(txtName->text(), QString());
}

void TestFrmEntry::cancelSendsAndStoresNothing_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("btnCancel") << "button";
    QTest::newRow("Escape in the field") << "escape";
    QTest::newRow("Escape on btnOk") << "escape on ok";
    QTest::newRow("window closed") << "close";
}

void TestFrmEntry::cancelSendsAndStoresNothing()
{
    QFETCH(QString, how);

    Fixture f;
    f.server.answer("OK");
    f.tp.store("EntryName", "Old1");
    {
        const auto window = f.open();
        QVERIFY(showAndActivate(window.get()));
        WPTextBox *txtName = nameField(window.get());
        // The focus selected the stored name; typing replaces it.
        QTest::keyClicks(txtName->editor(), QStringLiteral("New2"));
        QCOMPARE(txtName->text(), QStringLiteral("New2"));

        if (how == "button") {
            button(window.get(), "btnCancel")->click();
        } else if (how == "escape") {
            QTest::keyClick(txtName->editor(), Qt::Key_Escape);
        } else if (how == "escape on ok") {
            button(window.get(), "btnOk")->setFocus();
            QTest::keyClick(button(window.get(), "btnOk"), Qt::Key_Escape);
        } else {
            window->close();
        }

        QVERIFY(!window->isVisible());
        QCOMPARE(window->result(), int(QDialog::Rejected));
        QCOMPARE(f.tp.sound.beeps, 0);
    }
    QTest::qWait(50);
    QCOMPARE(f.server.connections(), 0);
    QVERIFY(f.tp.messages.shown.isEmpty());
    QCOMPARE(f.tp.stored("EntryName"), QStringLiteral("Old1"));

    // The edit is forgotten: the next opening starts from the stored name.
    const auto again = f.open();
    QCOMPARE(nameField(again.get())->text(), QStringLiteral("Old1"));
}

// While the request is open, a second OK, Cancel, Escape or a close request
// from outside change nothing: one request, then the normal end.
void TestFrmEntry::nothingCutsIntoASend()
{
    Fixture f;
    f.server.answer("CANNOT_RANK_IN");
    f.tp.store("EntryName", "ABC");
    const auto window = f.open();
    QVERIFY(showAndActivate(window.get()));

    connect(&f.server, &LoopbackHttpServer::requestReceived, this, [&] {
        button(window.get(), "btnOk")->click();
        button(window.get(), "btnCancel")->click();
        QTest::ignoreMessage(QtWarningMsg, "Keyboard event not accepted by receiving widget");
        QTest::keyClick(nameField(window.get())->editor(), Qt::Key_Escape);
        window->reject();
        window->close();
    });
    bool openAtMessage = false;
    f.tp.messages.onShow = [&] {
        openAtMessage = window->isVisible();
        window->reject(); // Escape meant for the message box must not reach us
    };

    button(window.get(), "btnOk")->click();

    QVERIFY(openAtMessage);
    QCOMPARE(f.tp.messages.shown.size(), 1);
    QCOMPARE(f.tp.stored("EntryName"), QStringLiteral("ABC"));
    QCOMPARE(window->result(), int(QDialog::Accepted));
    QTest::qWait(100);
    QCOMPARE(f.server.connections(), 1);
}

void TestFrmEntry::nameThatCannotBeStoredIsReportedToTheOpener()
{
    Fixture f;
    f.server.answer("OK");
    f.tp.store("EntryName", "Previous1");
    const auto window = f.open();
    QVERIFY(!window->EntryNameSaved());  // nothing sent yet
    nameField(window.get())->setText(QStringLiteral("ABC"));
    {
        ReadOnlySettings readOnly(f.tp.iniFile());
        button(window.get(), "btnOk")->click();
        QVERIFY(!window->EntryNameSaved());
    }
    // The entry itself went through and is the only message; the old name
    // stays stored.
    QCOMPARE(f.server.requestTargets(), QList<QByteArray>{WorkedTarget});
    QCOMPARE(f.tp.messages.shown.size(), 1);
    QCOMPARE(f.tp.messages.shown.at(0).icon, Icon::Information);
    QCOMPARE(f.tp.stored("EntryName"), QStringLiteral("Previous1"));
    QCOMPARE(window->result(), int(QDialog::Accepted));
}

TOVRIKA_TEST_MAIN(TestFrmEntry)
#include "tst_frmentry.moc"
