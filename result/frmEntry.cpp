#include "result/frmEntry.h"

#include "controls/WPTextBox.h"
#include "game/PlayRecord.h"
#include "result/BusyCursor.h"
#include "result/RankingEntry.h"
#include "shell/MessageBoxes.h"
#include "shell/Platform.h"
#include "shell/SettingsStore.h"
#include "shell/Sound.h"
#include "shell/WindowDefinition.h"
#include "shell/modMain.h"

#include "ui_frmEntry.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QShowEvent>

namespace {

const QString SettingsApp = QStringLiteral("Tovrika");
const QString SettingsSection = QStringLiteral("UserData");
const QString EntryNameKey = QStringLiteral("EntryName");

} // namespace

frmEntry::frmEntry(const PlayRecord &record, int modeIndex, Platform &platform, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint),
      m_ui(std::make_unique<Ui::frmEntry>()),
      m_record(record),
      m_modeIndex(modeIndex),
      m_platform(platform)
{
    m_ui->setupUi(this);
    setFixedSize(170, 93);

    // The name field comes back from the values its definition keeps for it,
    // through the control's own restore, like any saved control; only then
    // does it learn how to beep here.
    m_ui->txtName->restoreFromDefinition();
    // The focus lives in the control's inner line edit: that is what a
    // screen reader reads out, so it carries the field's name too.
    m_ui->txtName->editor()->setAccessibleName(m_ui->txtName->accessibleName());
    m_ui->txtName->editor()->setAccessibleDescription(m_ui->txtName->accessibleDescription());
    m_ui->txtName->setBeep([this] { m_platform.sound.beep(); });
    Inet1.setRequestTimeoutMs(platform.site.transferTimeoutMs);

    // Installed after the control's own filter, so it sees keys first.
    m_ui->txtName->editor()->installEventFilter(this);
    connect(m_ui->txtName, &WPTextBox::Change, this, &frmEntry::UpdateOkButton);
    connect(m_ui->btnOk, &QPushButton::clicked, this, &frmEntry::btnOkClicked);
    connect(m_ui->btnCancel, &QPushButton::clicked, this, &frmEntry::btnCancelClicked);

    loadWindow();
    m_ui->txtName->setFocus(Qt::OtherFocusReason);
}

frmEntry::~frmEntry() = default;

void frmEntry::loadWindow()
{
    // An unchanged (empty) text raises no Change: btnOk then keeps its
    // designed disabled state.
    m_ui->txtName->setText(m_platform.settings.read(SettingsApp, SettingsSection, EntryNameKey));
}

void frmEntry::UpdateOkButton()
{
    m_ui->btnOk->setEnabled(!m_ui->txtName->text().isEmpty());
}

void frmEntry::btnOkClicked()
{
    if (m_sending)
        return;
    m_sending = true;

    setEnabled(false);
    std::optional<QByteArray> body;
    {
        BusyCursor busy;
        body = Inet1.OpenURL(RankingEntry::requestUrl(m_platform.site.rankingServer, m_record.nScore,
                                                      m_ui->txtName->text(), strUserID, m_modeIndex));
        setEnabled(true);
        busy.restore();
    }

    const RankingEntry::Answer answer = RankingEntry::answerFor(body);
    m_platform.messages.inform(this, answer.icon, answer.message);

    // Kept whatever the answer: the player will want the same name next
    // time. A store that cannot be written has no message of its own; the
    // opener can still learn of it from EntryNameSaved().
    m_entryNameSaved = m_platform.settings.write(SettingsApp, SettingsSection, EntryNameKey,
                                                 m_ui->txtName->text());
    done(QDialog::Accepted);
}

void frmEntry::btnCancelClicked()
{
    if (m_sending)
        return;
    QDialog::reject();
}

void frmEntry::reject()
{
    btnCancelClicked();
}

void frmEntry::showEvent(QShowEvent *event)
{
    if (!event->spontaneous())
        centreOver(this, parentWidget());
    QDialog::showEvent(event);
}

bool frmEntry::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui->txtName->editor() && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            m_ui->btnCancel->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
