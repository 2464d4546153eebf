#include "result/frmResult.h"

#include "result/ResultChart.h"
#include "result/ResultStats.h"
#include "result/frmEntry.h"
#include "shell/Platform.h"
#include "shell/Sound.h"

#include "ui_frmResult.h"

#include <QEvent>
#include <QPixmap>
#include <QScreen>
#include <QShowEvent>

#include <algorithm>

frmResult::frmResult(const PlayRecord &record, int modeIndex, Platform &platform, QWidget *parent)
    : frmResult(DefinitionOnly{}, record, modeIndex, platform, parent)
{
    loadWindow();
}

frmResult::frmResult(DefinitionOnly, const PlayRecord &record, int modeIndex, Platform &platform,
                     QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint),
      m_ui(std::make_unique<Ui::frmResult>()),
      m_record(record),
      m_modeIndex(modeIndex),
      m_platform(platform)
{
    m_ui->setupUi(this);
    setFixedSize(482, 267);

    // The window definition gives some sizes in fractions of a point, which
    // the .ui format cannot hold.
    const auto setPointSize = [](QWidget *widget, qreal points) {
        QFont font = widget->font();
        font.setPointSizeF(points);
        widget->setFont(font);
    };
    for (QWidget *axisLabel : {m_ui->Label1, m_ui->Label2, m_ui->Label3, m_ui->Label4,
                               m_ui->Label5, m_ui->Label6, m_ui->Label8})
        setPointSize(axisLabel, 8.25);
    setPointSize(m_ui->lblScore, 20.25);
    setPointSize(m_ui->Label7, 11.25);

    connect(m_ui->btnEntry, &QPushButton::clicked, this, &frmResult::btnEntryClicked);
    connect(m_ui->btnClose, &QPushButton::clicked, this, &frmResult::btnCloseClicked);
}

frmResult::~frmResult() = default;

void frmResult::loadWindow()
{
    bFirstActivate = true;
    drawChart();
    setTexts();
    setUpEntry();
}

void frmResult::drawChart()
{
    // Drawn once into an image of the drawing area inside Pic's border; the
    // label repaints it unchanged however often it is covered and uncovered.
    const QImage chart = drawResultChart(m_record, m_modeIndex, m_ui->Pic->contentsRect().size());
    m_ui->Pic->setPixmap(QPixmap::fromImage(chart));
}

void frmResult::setTexts()
{
    const ResultTexts texts = makeResultTexts(m_record);
    m_ui->lblScore->setText(texts.score);
    m_ui->lblSeikairitu->setText(texts.seikairitu);
    m_ui->lblAvSpeed->setText(texts.avSpeed);
    m_ui->lblPace->setText(texts.pace);
    m_ui->lblAvTime->setText(texts.avTime);
    m_ui->lblMinInt->setText(texts.minInt);
    m_ui->lblMaxInt->setText(texts.maxInt);
}

void frmResult::setUpEntry()
{
    // Only a new high score may go into the ranking; a game without one is
    // marked by the exclamation sound.
    if (m_record.bHiScore) {
        QPalette palette = m_ui->lblScore->palette();
        palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
        m_ui->lblScore->setPalette(palette);
        m_ui->btnEntry->setEnabled(true);
    } else {
        m_platform.sound.exclamation();
        m_ui->btnEntry->setEnabled(false);
    }
}

void frmResult::activationStep()
{
    if (bFirstActivate) {
        bFirstActivate = false;
        (m_record.bHiScore ? m_ui->btnEntry : m_ui->btnClose)->setFocus(Qt::ActiveWindowFocusReason);
    } else {
        m_ui->btnClose->setFocus(Qt::ActiveWindowFocusReason);
    }
}

void frmResult::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        activationStep();
}

void frmResult::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        centreOverOwner();
}

void frmResult::centreOverOwner()
{
    // QDialog's own placement allows for a title bar this window does not
    // have, which leaves it off centre by half a title bar; place it here
    // instead, frame and all, and keep it on the owner's screen.
    const QWidget *owner = parentWidget() ? parentWidget()->window() : nullptr;
    if (!owner)
        return;
    QRect placed = frameGeometry();
    placed.moveCenter(owner->frameGeometry().center());
    if (const QScreen *screen = owner->screen()) {
        const QRect available = screen->availableGeometry();
        placed.moveLeft(std::clamp(placed.left(), available.left(),
                                   std::max(available.left(), available.right() + 1 - placed.width())));
        placed.moveTop(std::clamp(placed.top(), available.top(),
                                  std::max(available.top(), available.bottom() + 1 - placed.height())));
    }
    move(placed.topLeft());
}

void frmResult::openEntryWindow()
{
    frmEntry entry(m_record, m_modeIndex, m_platform, this);
    entry.exec();
}

void frmResult::btnEntryClicked()
{
    openEntryWindow();
    // Closing the entry window makes this window active again, and the
    // activation step moves the focus to btnClose. Not every platform
    // reports that reactivation (the offscreen one does not, and a window
    // manager may be late), so the step runs here as well; it is the same
    // step, and running it twice changes nothing.
    if (!bFirstActivate)
        activationStep();
}

void frmResult::btnCloseClicked()
{
    QDialog::reject();
}

void frmResult::reject()
{
    m_ui->btnClose->click();
}
