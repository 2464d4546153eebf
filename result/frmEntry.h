#pragma once

#include "result/Inet.h"

#include <QDialog>

#include <memory>

struct PlayRecord;
struct Platform;

namespace Ui {
class frmEntry;
}

// The small modal window in which the player names a new high score and
// sends it to the internet ranking. It remembers the last name used, offers
// OK only while a name is typed, keeps the player out while the request is
// open, shows the server's answer, stores the name and closes.
class frmEntry : public QDialog
{
    Q_OBJECT

public:
    // record and modeIndex are the main window's; the score is read from the
    // record when OK is pressed.
    frmEntry(const PlayRecord &record, int modeIndex, Platform &platform,
             QWidget *parent = nullptr);
    ~frmEntry() override;

    // Escape and every other way of closing the window press btnCancel:
    // nothing is sent, nothing is stored. Ignored while an entry is being
    // sent and answered.
    void reject() override;

    // Whether the name of the last entry reached the settings file; false
    // before an entry was sent and when the file could not be written.
    bool EntryNameSaved() const { return m_entryNameSaved; }

protected:
    // Escape in the name field goes straight to btnCancel, the way a cancel
    // button takes the key before the field: the field would otherwise test
    // it as a character and beep.
    bool eventFilter(QObject *watched, QEvent *event) override;
    // Centres the window over the one that opened it, once its frame is known.
    void showEvent(QShowEvent *event) override;

private:
    void loadWindow();
    void UpdateOkButton();
    void btnOkClicked();
    void btnCancelClicked();

    std::unique_ptr<Ui::frmEntry> m_ui;
    const PlayRecord &m_record;
    const int m_modeIndex;
    Platform &m_platform;
    // The transfer object of the window definition.
    Inet Inet1;
    // From OK until the window closes: a second OK or a close cannot cut in.
    bool m_sending = false;
    bool m_entryNameSaved = false;
};
