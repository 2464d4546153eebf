#include "game/frmMain.h"

#include "ui_frmMain.h"

#include "controls/FocusRingStyle.h"
#include "controls/SpokenLine.h"

#include "game/GameRules.h"
#include "game/QuestionGenerator.h"
#include "protocol/RankingProtocol.h"
#include "result/frmResult.h"
#include "shell/Accessibility.h"
#include "shell/AppTitle.h"
#include "shell/Browser.h"
#include "shell/BuildConfig.h"
#include "shell/Clock.h"
#include "shell/MessageBoxes.h"
#include "shell/Platform.h"
#include "shell/SettingsStore.h"
#include "shell/Sound.h"
#include "shell/WindowDefinition.h"
#include "shell/modCommon.h"
#include "shell/modMain.h"


#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <QUrl>

#include <algorithm>

using namespace GameRules;

namespace {

const QString settingsApp = QStringLiteral("Tovrika");
const QString settingsSection = QStringLiteral("UserData");
const QString groupKey = QStringLiteral("Group1");

const QColor dimmed(0x40, 0x40, 0x40);
const QColor modeStrip(0x40, 0x40, 0x40);
const QColor white(0xFF, 0xFF, 0xFF);
const QColor black(0x00, 0x00, 0x00);
const QColor blue(0x00, 0x00, 0xFF);
const QColor red(0xFF, 0x00, 0x00);

constexpr char16_t keyEscape = 27;

bool isTimedMode(int mode)
{
    return mode < 2;
}

QString versionTitle()
{
    return QStringLiteral("Tovrika？ Ver.%1.%2.%3  (C) 2026 Tovrika Works")
        .arg(BuildConfig::versionMajor())
        .arg(BuildConfig::versionMinor())
        .arg(BuildConfig::versionRevision());
}

QString joinLines(std::initializer_list<QString> lines)
{
    return QStringList(lines).join(QStringLiteral("\r\n"));
}

} // namespace

frmMain::frmMain(Platform &platform, QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::frmMain>())
    , m_platform(platform)
{
    ui->setupUi(this);
    m_modeLine = new SpokenLine(ui->cmbMode);
    applyExactPointSizes(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    setWindowIcon(svgIcon(QStringLiteral(":/ui/images/icon.svg")));
    DrawPictures();

    // The focus plainly shown on every button the keyboard works (the mode
    // list draws its own ring), and the gauge silent to screen readers: its
    // time is said when asked for.
    // The style is a child made after the controls, so it outlives them.
    auto *focusStyle = new FocusRingStyle;
    focusStyle->setParent(this);
    for (QWidget *control : std::initializer_list<QWidget *>{ui->btnClear, ui->btnRanking, ui->btnWuppet})
        control->setStyle(focusStyle);
    setAccessibleRole(ui->PB1, QAccessible::ProgressBar);

    // Digits must arrive as ASCII digits whatever input method the player
    // has switched on.
    setAttribute(Qt::WA_InputMethodEnabled, false);
    ui->cmbMode->setAttribute(Qt::WA_InputMethodEnabled, false);

    Timer1.setTimerType(Qt::PreciseTimer);
    Timer1.setInterval(100);
    connect(&Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);

    // Key preview: the window sees every character key before its controls.
    qApp->installEventFilter(this);

    connect(ui->cmbMode, &QComboBox::currentIndexChanged, this, &frmMain::cmbMode_Click);
    connect(ui->btnClear, &QPushButton::clicked, this, &frmMain::btnClear_Click);
    connect(ui->btnRanking, &QPushButton::clicked, this, &frmMain::btnRanking_Click);
    connect(ui->btnWuppet, &QPushButton::clicked, this, &frmMain::btnWuppet_Click);

    // Centred now for a window without a frame; again on its frame once a
    // window manager has put one around it, so the title bar counts too.
    m_frameWatch.setInterval(25);
    connect(&m_frameWatch, &QTimer::timeout, this, &frmMain::centreFrameWhenKnown);

    Form_Load();
    centreOver(this, nullptr);
}

void frmMain::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_frameChecks == 0)
        m_frameWatch.start();
}

void frmMain::centreFrameWhenKnown()
{
    // The frame arrives a moment after the window is mapped; give up after
    // two seconds (no window manager, or one that draws no frame).
    if (frameGeometry().size() != size()) {
        m_frameWatch.stop();
        m_frameChecks = 80; // once only: a window the player moved stays where it is
        const QScreen *screen = this->screen();
        if (!screen || !windowHandle())
            return;
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        // The frame's own position: QWidget::move would count the frame twice
        // under a window manager that honours the window's gravity.
        windowHandle()->setFramePosition(frame.topLeft());
    } else if (++m_frameChecks >= 80) {
        m_frameWatch.stop();
    }
}

frmMain::~frmMain() = default;

void frmMain::Form_Load()
{
    ui->cmbMode->addItems({QStringLiteral("30秒間激走モード"), QStringLiteral("90秒間耐久モード"),
                           QStringLiteral("Tovrika養成マシン"), QStringLiteral("足し算マシン"),
                           QStringLiteral("引き算マシン"), QStringLiteral("掛け算マシン")});
    // Adding to an empty list already selects entry 0 and runs the selection
    // handler; selecting it again would not, so run it for certain.
    if (ui->cmbMode->currentIndex() != 0)
        ui->cmbMode->setCurrentIndex(0);
    else
        cmbMode_Click(0);
    ReturnToReady();
}

void frmMain::cmbMode_Click(int index)
{
    if (index < 0)
        return;
    nMode = qint16(index);
    LoadHighScore();
    ui->btnClear->setEnabled(isTimedMode(nMode));
    describeMode();
    m_modeLine->say(ui->cmbMode->accessibleDescription());
}

void frmMain::describeMode()
{
    // Said as the list takes the focus (and by the mode line on Up and
    // Down): the mode, and its high score where it has one.
    QString line = ui->cmbMode->currentText();
    if (isTimedMode(nMode))
        line += QStringLiteral(" ハイスコア ") + ui->lblHiScore->text();
    ui->cmbMode->setAccessibleDescription(line);
}

void frmMain::sayTimeLeft()
{
    Timer1_Timer();
    if (!bPlaying)
        return;
    // Said and not shown; the question stays what is shown and read back.
    ui->lblQuestion->say(isTimedMode(nMode) ? timeLeftLine(ui->PB1->value())
                         : nAnswerCnt > 0     ? ui->lblTitle->text()
                                              : QStringLiteral("ペースは最初の答えの後に出ます"));
}

QString frmMain::StoredHighScore() const
{
    const QString key = nMode == 0 ? QStringLiteral("mode0") : QStringLiteral("mode1");
    return m_platform.settings.read(settingsApp, settingsSection, key);
}

void frmMain::LoadHighScore()
{
    // Decided first and shown once: each shown text is announced.
    QString shown = (nMode == 0 || nMode == 1) ? StoredHighScore() : QStringLiteral("---");
    if (shown.isEmpty())
        shown = QStringLiteral("0");
    showSpokenText(ui->lblHiScore, shown);
}

bool frmMain::SaveHighScore()
{
    const QString key = nMode == 0 ? QStringLiteral("mode0") : QStringLiteral("mode1");
    return m_platform.settings.write(settingsApp, settingsSection, key, ui->lblHiScore->text());
}

void frmMain::btnClear_Click()
{
    const QString question = QStringLiteral("ハイスコアをクリアします。間違えてクリアするととても残念です。")
                             + QStringLiteral("\r\n") + QStringLiteral("本当にクリアしますか？");
    if (!m_platform.messages.askYesNo(this, question))
        return;
    const QString kept = ui->lblHiScore->text();
    showSpokenText(ui->lblHiScore, QStringLiteral("0"));
    if (!SaveHighScore()) {
        // The file still holds the old score: show what is kept, and say so.
        showSpokenText(ui->lblHiScore, kept);
        m_platform.messages.inform(this, MessageBoxes::Icon::Error,
                                   joinLines({QStringLiteral("ハイスコアをクリアできませんでした。"),
                                              QStringLiteral("設定ファイルに保存できません。")}));
    }
    describeMode();
}

void frmMain::btnRanking_Click()
{
    // The identifier holds digits and perhaps a "-": appended as it is.
    using namespace RankingProtocol;
    openWebPage(QUrl(m_platform.site.makerSite + QLatin1String(RankingPagePath) + u'?'
                         + QLatin1String(RankingPageIdKey) + u'=' + strUserID,
                     QUrl::StrictMode));
}

void frmMain::btnWuppet_Click()
{
    openWebPage(QUrl(m_platform.site.makerSite + QLatin1String(RankingProtocol::HomePagePath),
                     QUrl::StrictMode));
}

void frmMain::openWebPage(const QUrl &url)
{
    if (m_platform.browser.open(url))
        return;
    // Without a browser (no xdg-open, say) Qt only writes to standard error,
    // which a player started from the menu never sees.
    m_platform.messages.inform(this, MessageBoxes::Icon::Error,
                               joinLines({QStringLiteral("ブラウザを起動できませんでした。"),
                                          QStringLiteral("次のアドレスをブラウザで開いてください。"),
                                          url.toString(QUrl::FullyEncoded)}));
}

void frmMain::StartGame()
{
    nTime = nMode == 0 ? 30 : 90;
    ui->PB1->setMinimum(0);
    ui->PB1->setMaximum(nTime * 10);
    ui->PB1->setValue(ui->PB1->maximum());
    MakeQuestion();
    ui->lblQuestion->say(ui->lblQuestion->text());
    // The question holds the focus during a game, taken before the controls
    // are disabled so that it never rests on a disabled one: a screen reader
    // reads the first question as the focus arrives, and each later one as
    // it is said.
    ui->lblQuestion->setFocus();
    SetGroupEnabled(this, groupKey, false);
    setForeColor(ui->lblHiCaption, dimmed);
    setForeColor(ui->lblHiScore, dimmed);
    if (isTimedMode(nMode))
        setForeColor(ui->lblTitle, dimmed);
    nAnswerCnt = 0;
    nScore = 0;
    nWrong = 0;
    nWrongRun = 0;
    showSpokenText(ui->lblAnswer, QString());
    Timer1.setInterval(100);
    lStartTick = m_platform.clock.monotonicMs();
    lLastTick = m_platform.clock.monotonicMs();
    lMinInt = 0;
    lMaxInt = 0;
    strMinQt.clear();
    strMaxQt.clear();
    ui->lblMessage2->setText(QStringLiteral("ESCキーを押すと途中で棄権します。"));
    bPlaying = true;
    Timer1.start();
}

void frmMain::ReturnToReady()
{
    Timer1.stop();
    bPlaying = false;
    ui->PB1->setValue(ui->PB1->maximum());
    SetGroupEnabled(this, groupKey, true);
    if (nMode >= 2)
        ui->btnClear->setEnabled(false);
    setForeColor(ui->lblHiCaption, white);
    setForeColor(ui->lblHiScore, white);
    setForeColor(ui->lblTitle, white);
    ui->lblQuestion->setText(QStringLiteral("Hit any key～"));
    // Shown in English as it always was, said in the player's language.
    ui->lblQuestion->say(QStringLiteral("何かキーを押すと開始します"));
    setForeColor(ui->lblAnswer, black);
    showSpokenText(ui->lblAnswer, QStringLiteral("!!"));
    ui->lblMessage2->setText(QStringLiteral("何かキーを押すと突然開始します。"));
    ui->lblTitle->setText(versionTitle());
    describeMode();
    ui->cmbMode->setFocus();
}

void frmMain::MakeQuestion()
{
    const Question q = QuestionGenerator::drawQuestion(nMode, m_platform.random,
                                                       m_platform.clock.secondsOfDay());
    ui->lblQuestion->setText(q.text);
    nAnswer = q.answer;
}

void frmMain::Form_KeyPress(char16_t keyAscii)
{
    if (!bPlaying) {
        if (keyAscii == keyEscape) {
            // Scores were stored when they were made; nothing is left to save.
            close();
            return;
        }
        StartGame(); // the starting key is not an answer
        Timer1_Timer();
        return;
    }

    const bool timed = isTimedMode(nMode);
    if (keyAscii != keyEscape && timed && nAnswerCnt >= AnswerSlots) {
        // The record of a timed game is full: further answers are not taken
        // until the gauge runs out.
        Timer1_Timer();
        return;
    }

    // Intervals come from a monotonic clock, so they never wrap; the record
    // keeps them in 32 bits.
    const qint64 now = m_platform.clock.monotonicMs();
    const qint32 interval = qint32(std::clamp<qint64>(now - lLastTick, 0, INT32_MAX));
    if (timed)
        lAnswerInt[nAnswerCnt] = interval;
    else
        ui->lblTitle->setText(paceLine(interval));

    if (keyAscii == keyEscape) {
        ReturnToReady(); // abandoned: no result, no high score
        return;
    }

    int digit = -1;
    if (keyAscii >= u'0' && keyAscii <= u'9') {
        digit = keyAscii - u'0';
        showSpokenText(ui->lblAnswer, QString(QChar(keyAscii)));
    } else {
        showSpokenText(ui->lblAnswer, QStringLiteral("あ"));
    }

    if (interval > lMaxInt) {
        lMaxInt = interval;
        strMaxQt = ui->lblQuestion->text();
    }

    const bool right = digit == nAnswer;
    if (right) {
        if (nWrongRun == 0 && (interval < lMinInt || lMinInt == 0)) {
            lMinInt = interval;
            strMinQt = ui->lblQuestion->text();
        }
        setForeColor(ui->lblAnswer, blue);
        nWrongRun = 0;
        nScore = saturatingAdd(nScore, 1);
        if (timed)
            bAnswerOk[nAnswerCnt] = true;
    } else {
        m_platform.sound.beep();
        setForeColor(ui->lblAnswer, red);
        if (timed) {
            bAnswerOk[nAnswerCnt] = false;
            nWrongRun = saturatingAdd(nWrongRun, 1);
            nWrong = saturatingAdd(nWrong, penaltyUnits(nWrongRun));
        }
    }

    nAnswerCnt = saturatingAdd(nAnswerCnt, 1);
    MakeQuestion();
    // One utterance for the outcome and the next question, so that neither
    // cuts off the other; a right answer says nothing but the question.
    ui->lblQuestion->say(right ? ui->lblQuestion->text() : QStringLiteral("はずれ ") + ui->lblQuestion->text());
    lLastTick = m_platform.clock.monotonicMs();
    Timer1_Timer();
}

void frmMain::Timer1_Timer()
{
    if (!bPlaying || !isTimedMode(nMode))
        return;
    const qint64 now = m_platform.clock.monotonicMs();
    const qint16 v = gaugeValue(ui->PB1->maximum(), now - lStartTick, nWrong);
    if (v > ui->PB1->minimum()) {
        ui->PB1->setValue(v);
        return;
    }
    EndTimedGame();
}

void frmMain::EndTimedGame()
{
    // Stop first: the message box and the result window below are modal and
    // run their own event loops, which must not re-enter the game.
    bPlaying = false;
    Timer1.stop();
    lRealTime = qint32(std::clamp<qint64>(m_platform.clock.monotonicMs() - lStartTick, 0, INT32_MAX));
    ui->PB1->setValue(ui->PB1->minimum());

    // Another copy of the game may have stored a higher score since this one
    // showed its own: the record to beat is the greater of the two, and it is
    // what this window shows from now on.
    const QString stored = StoredHighScore();
    if (highScoreValue(stored) > highScoreValue(ui->lblHiScore->text()))
        showSpokenText(ui->lblHiScore, stored);

    if (nScore > highScoreValue(ui->lblHiScore->text())) {
        bHiScore = true;
        showSpokenText(ui->lblHiScore, QString::number(nScore));
        const QString yourScore = QStringLiteral("あなたのスコアは ") + QString::number(nScore)
                                  + QStringLiteral(" です。");
        const QString entryHint = QStringLiteral(
            "この後表示される画面中のエントリーボタンでインターネットランキングにエントリーできます。");
        const QString onlyNow = QStringLiteral("※今しかエントリーできませんので要注意。");
        if (SaveHighScore()) {
            m_platform.messages.inform(this, MessageBoxes::Icon::Information,
                                       joinLines({QStringLiteral("おめでとうございます！！！"),
                                                  QStringLiteral("最高得点が記録されました。"),
                                                  yourScore, entryHint, onlyNow}));
        } else {
            // The record stands for this session, but it is not on disk:
            // never claim it was kept.
            m_platform.messages.inform(
                this, MessageBoxes::Icon::Error,
                joinLines({QStringLiteral("おめでとうございます！！！"),
                           QStringLiteral("最高得点を出しましたが、設定ファイルに保存できませんでした。"),
                           yourScore, entryHint, onlyNow}));
        }
    } else {
        bHiScore = false;
    }

    ShowResultWindow();
    ReturnToReady();
}

void frmMain::ShowResultWindow()
{
    frmResult result(*this, ui->cmbMode->currentIndex(), m_platform, this);
    result.exec();
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    // The dropped-down mode list is a popup window of its own; its keys are
    // this window's keys too.
    QWidget *modeList = ui->cmbMode->view() ? ui->cmbMode->view()->window() : nullptr;
    const bool inModeList = modeList && modeList != this && widget->window() == modeList && modeList->isVisible();
    if (!inModeList && (widget->window() != this || !isActiveWindow()))
        return false;
    // Keys that make no character (arrows, function keys) go to the control:
    // in the ready state the arrows still move the mode list.
    if (key->text().isEmpty())
        return false;
    if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
        // Tab walks the controls in the ready state. During a game it is no
        // answer and must not take the focus away from the game: it says
        // the time left (the pace in practice) instead.
        if (bPlaying)
            sayTimeLeft();
        return bPlaying;
    }
    if (!bPlaying && !inModeList && qobject_cast<QPushButton *>(widget) && widget->hasFocus()) {
        // A focused button is pressed by Space and Return, as buttons are
        // everywhere; every other key still starts a game.
        if (key->key() == Qt::Key_Space)
            return false;
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (!key->isAutoRepeat())
                static_cast<QPushButton *>(widget)->click();
            return true;
        }
    }
    if (inModeList) {
        // Esc only closes the list, as the list itself does.
        if (key->key() == Qt::Key_Escape)
            return false;
        ui->cmbMode->hidePopup();
    }
    Form_KeyPress(key->text().at(0).unicode());
    return true;
}

void frmMain::DrawPictures()
{
    const qreal ratio = devicePixelRatioF();
    m_picturesRatio = ratio;
    m_background = svgPixmap(QStringLiteral(":/ui/images/background.svg"), {364, 150}, ratio);

    const auto pictureButton = [ratio](QPushButton *button, const QString &name) {
        const QSize size = button->iconSize();
        QIcon icon(svgPixmap(QStringLiteral(":/ui/images/%1.svg").arg(name), size, ratio));
        icon.addPixmap(svgPixmap(QStringLiteral(":/ui/images/%1_disabled.svg").arg(name), size, ratio),
                       QIcon::Disabled);
        button->setIcon(icon);
    };
    pictureButton(ui->btnClear, QStringLiteral("clear"));
    pictureButton(ui->btnRanking, QStringLiteral("ranking"));
    pictureButton(ui->btnWuppet, QStringLiteral("wuppet"));
}

void frmMain::paintEvent(QPaintEvent *)
{
    // Moved to a screen of another scale: the pictures are drawn for it
    // before they are shown there.
    if (!qFuzzyCompare(devicePixelRatioF(), m_picturesRatio))
        DrawPictures();
    // The backdrop is drawn unscaled at the top-left and cut off at the
    // window's right edge.
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_background);
    // The strips behind the top controls and the bottom line, drawn here
    // rather than as panels of their own: they are decoration, and a panel
    // would stand in a screen reader's view of the window.
    painter.fillRect(QRect(0, 0, 329, 29), black);
    painter.fillRect(QRect(0, 140, 329, 17), black);
    painter.fillRect(QRect(0, 0, 129, 29), modeStrip);
}
