#pragma once

#include "game/PlayRecord.h"

#include <QDialog>
#include <QList>

#include <memory>

class QLabel;

struct Platform;

namespace Ui {
class frmResult;
}

// The window shown at the end of a timed game: the score, six statistics and
// a chart of the time taken per answer, and after a new high score the way
// into the internet ranking. It reads the play record once, while loading,
// and writes nothing back.
class frmResult : public QDialog
{
    Q_OBJECT

public:
    // modeIndex is the main window's selected mode (0: 30 seconds, 1: 90
    // seconds); it decides the spacing of the chart's bars.
    frmResult(const PlayRecord &record, int modeIndex, Platform &platform,
              QWidget *parent = nullptr);
    ~frmResult() override;

    // Esc and closing the window press btnClose.
    void reject() override;

protected:
    // Builds the window exactly as defined, without the load step (texts,
    // chart, entry button): lets the tests see the window definition itself.
    struct DefinitionOnly
    {
    };
    frmResult(DefinitionOnly, const PlayRecord &record, int modeIndex, Platform &platform,
              QWidget *parent = nullptr);

    // Shows the ranking-entry window modally and returns when it has closed;
    // virtual so that tests can put a stand-in there.
    virtual void openEntryWindow();

    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // The chart's scale labels, whose text the window paints.
    QList<QLabel *> scaleLabels() const;
    void loadWindow();
    void drawChart();
    void setTexts();
    void setUpEntry();
    void activationStep();
    void btnEntryClicked();
    void btnCloseClicked();

    std::unique_ptr<Ui::frmResult> m_ui;
    const PlayRecord m_record;
    const int m_modeIndex;
    Platform &m_platform;
    // Set while loading, cleared by the first activation: the first
    // activation puts the focus on the offered action, later ones on
    // btnClose.
    bool bFirstActivate = false;
};
