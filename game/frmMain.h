#pragma once

#include "game/PlayRecord.h"

#include <QTimer>
#include <QWidget>

#include <memory>

namespace Ui {
class frmMain;
}
class SpokenLine;
struct Platform;

// The main window: the ready state, the game loop and the mode list with its
// high scores and page buttons. Its public PlayRecord fields describe the
// running or the last game; the result and entry windows read them.
class frmMain : public QWidget, public PlayRecord
{
    Q_OBJECT

public:
    explicit frmMain(Platform &platform, QWidget *parent = nullptr);
    ~frmMain() override;

    void StartGame();
    void ReturnToReady();
    void MakeQuestion();
    // The high score of the current timed mode as the settings file holds it now.
    QString StoredHighScore() const;
    void LoadHighScore();
    // Stores the shown high score of the mode; false when the settings store
    // could not keep it.
    bool SaveHighScore();

    // Handles one character key while the window is active. Always takes the
    // key away from the focused control.
    void Form_KeyPress(char16_t keyAscii);
    // The game timer's tick; also run once after every handled key.
    void Timer1_Timer();

    bool isPlaying() const { return bPlaying; }
    qint16 expectedAnswer() const { return nAnswer; }
    QTimer &gameTimer() { return Timer1; }
    Ui::frmMain &controls() { return *ui; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    // Shows the result window of the timed game that just ended and waits
    // until it is closed.
    virtual void ShowResultWindow();

private:
    void Form_Load();
    void cmbMode_Click(int index);
    void btnClear_Click();
    void btnRanking_Click();
    void btnWuppet_Click();
    // Gives the mode list the line a screen reader says with it.
    void describeMode();
    // The time-left key: the seconds left in a timed game, the pace in practice.
    void sayTimeLeft();
    // Opens a page in the browser, or says where it is when none starts.
    void openWebPage(const QUrl &url);
    void EndTimedGame();
    // Centres the framed window once the window manager has framed it.
    void centreFrameWhenKnown();
    // Renders the backdrop and the button pictures for the screen's scale.
    void DrawPictures();

    std::unique_ptr<Ui::frmMain> ui;
    Platform &m_platform;
    QTimer Timer1;
    SpokenLine *m_modeLine = nullptr;
    QPixmap m_background;
    qreal m_picturesRatio = 1.0;
    QTimer m_frameWatch;
    int m_frameChecks = 0;

    bool bPlaying = false;
    qint16 nAnswer = 0;
    qint64 lStartTick = 0;
    qint16 nWrongRun = 0;
    qint64 lLastTick = 0;
};
