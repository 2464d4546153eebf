#include "result/frmResult.h"

#include "result/ResultChart.h"
#include "result/ResultStats.h"
#include "result/frmEntry.h"
#include "shell/Accessibility.h"
#include "shell/Platform.h"
#include "shell/Sound.h"
#include "shell/WindowDefinition.h"

#include "ui_frmResult.h"

#include <QEvent>
#include <QPainter>
#include <QPixmap>
#include <QShowEvent>
#include <QStringList>


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

    applyExactPointSizes(this);

    // The chart's scale labels are 9 px high, less than their font's line:
    // the window draws their text itself, from the top of each label and
    // past its bottom, so that every figure is whole.
    for (QLabel *tick : scaleLabels())
        tick->installEventFilter(this);

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
    m_ui->Pic->setPixmap(QPixmap::fromImage(chartAtScale(chart, devicePixelRatioF())));
}

void frmResult::setTexts()
{
    const ResultTexts texts = makeResultTexts(m_record);
    showSpokenText(m_ui->lblScore, texts.score);
    showSpokenText(m_ui->lblSeikairitu, texts.seikairitu);
    showSpokenText(m_ui->lblAvSpeed, texts.avSpeed);
    showSpokenText(m_ui->lblPace, texts.pace);
    showSpokenText(m_ui->lblAvTime, texts.avTime);
    showSpokenText(m_ui->lblMinInt, texts.minInt);
    showSpokenText(m_ui->lblMaxInt, texts.maxInt);

    // The window's name carries the figures: a screen reader says a window's
    // name as it opens, and leaves out the labels that the name holds.
    QStringList figures;
    for (const QLabel *label : {m_ui->lblScore, m_ui->lblSeikairitu, m_ui->lblAvSpeed, m_ui->lblPace,
                                m_ui->lblAvTime, m_ui->lblMinInt, m_ui->lblMaxInt})
        figures << label->accessibleName();
    setAccessibleName(QStringLiteral("結果 ") + figures.join(QStringLiteral("、")));
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
    // QDialog's own placement allows for a title bar this window does not
    // have, which leaves it off centre by half a title bar.
    if (!event->spontaneous())
        centreOver(this, parentWidget());
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

QList<QLabel *> frmResult::scaleLabels() const
{
    return {m_ui->Label1, m_ui->Label2, m_ui->Label3, m_ui->Label4, m_ui->Label5, m_ui->Label8};
}

bool frmResult::eventFilter(QObject *watched, QEvent *event)
{
    // A scale label paints nothing of its own: the window paints its text.
    if (event->type() == QEvent::Paint && scaleLabels().contains(watched))
        return true;
    return QDialog::eventFilter(watched, event);
}

void frmResult::paintEvent(QPaintEvent *event)
{
    QDialog::paintEvent(event);
    QPainter painter(this);
    for (const QLabel *tick : scaleLabels()) {
        if (!tick->isVisible())
            continue;
        painter.setFont(tick->font());
        painter.setPen(tick->palette().color(QPalette::WindowText));
        const QRect geometry = tick->geometry();
        const QRect line(geometry.topLeft(), QSize(geometry.width(), painter.fontMetrics().height()));
        painter.drawText(line, int(tick->alignment()) | Qt::TextDontClip, tick->text());
    }
}
