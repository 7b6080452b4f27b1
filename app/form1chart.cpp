// The window's chart build and what follows each build: the status bar's readout, the
// recordings laid over the chart, and the two cursors with the panel of their region under
// the chart (placed and moved on the chart, listed in the chart's menu, cleared when another
// recording becomes the current one, kept through the builds of the same one).

#include "app/chartbuilder.h"
#include "app/cursorreadout.h"
#include "app/form1.h"
#include "app/overlays.h"
#include "app/regioncursors.h"
#include "app/regionpanel.h"
#include "app/sessionpresenter.h"
#include "chart/chart.h"

#include <QAction>
#include <QLabel>
#include <QTimer>
#include <QMenu>

namespace app {

void TForm1::BuildChart()
{
    liveChartEnded();
    if (chartBuilder->BuildChart(recording()))
        presenter->chartBuilt();
    // The remains of a failed transfer are drawn for a look, marked.
    if (!m_incompleteMark) {
        m_incompleteMark = new QLabel(tr("Запись неполна: сбой передачи"), Chart1);
        m_incompleteMark->setObjectName(QStringLiteral("incompleteMark"));
        m_incompleteMark->setStyleSheet(QStringLiteral("QLabel { color: red; font-weight: bold; }"));
        m_incompleteMark->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    m_incompleteMark->adjustSize();
    m_incompleteMark->move(Chart1->ChartRect().topLeft() + QPoint(6, 4));
    m_incompleteMark->setVisible(recording().faulty);
    cursorReadout->recordingChanged();
    if (overlays)
        overlays->redraw();
    regionCursors->chartBuilt();
}

void TForm1::displayChanged()
{
    // Redrawn at once only between exchanges: a build puts its own status and hides the
    // progress of the exchange under way. The new setting takes effect at the build that
    // ends the exchange.
    if (session->state() == acquisition::SessionState::Idle && !CycleRunning)
        BuildChart();
}

void TForm1::bindLiveChart()
{
    m_liveRedraw = new QTimer(this);
    m_liveRedraw->setSingleShot(true);
    m_liveRedraw->setInterval(LiveFallbackMs);
    connect(m_liveRedraw, &QTimer::timeout, this, &TForm1::drawLive);
    // The transfer begins: its recording is drawn as it arrives, each cycle of a run too
    // when the chart is cleared between them (cycles drawn over one another are drawn whole).
    connect(session, &acquisition::MeasurementSession::stateChanged, this,
        [this](acquisition::SessionState state) {
            if (state != acquisition::SessionState::WaitingToTransfer || !m_environment.liveChart)
                return;
            m_liveBytes.clear();
            if (!chartBuilder->beginLive(session->recordingHeader(),
                    qint64(session->blocksExpected()) * acquisition::DataBlockPayload))
                return;
            m_liveDrawn.start();
            // What stood on the chart before is gone: its cursors and readout with it.
            regionCursors->clear();
            cursorReadout->recordingChanged();
            if (m_incompleteMark)
                m_incompleteMark->hide();
        });
    connect(session, &acquisition::MeasurementSession::blockStored, this,
        [this](int, int, const QByteArray &block) {
            if (!chartBuilder->live())
                return;
            m_liveBytes += block;
            if (!m_liveRedraw->isActive())
                m_liveRedraw->start();
        });
    // The request for the next block has gone out: while that block is on the wire, the
    // blocks received are drawn, once the handler that sent it has returned.
    connect(session, &acquisition::MeasurementSession::commandSent, this,
        [this](const QByteArray &command) {
            if (!chartBuilder->live() || m_liveDrawQueued || m_liveBytes.isEmpty()
                || !acquisition::isTransferCommand(command) || m_liveDrawn.elapsed() < LiveRedrawMs)
                return;
            m_liveDrawQueued = true;
            QMetaObject::invokeMethod(this, &TForm1::drawLive, Qt::QueuedConnection);
        });
}

void TForm1::drawLive()
{
    m_liveDrawQueued = false;
    m_liveRedraw->stop();
    if (m_liveBytes.isEmpty())
        return;
    chartBuilder->appendLive(std::exchange(m_liveBytes, QByteArray()));
    m_liveDrawn.start();
}

void TForm1::liveChartEnded()
{
    m_liveRedraw->stop();
    m_liveBytes.clear();
    chartBuilder->endLive();
}

void TForm1::createRegionCursors()
{
    regionCursors = new RegionCursors(*Chart1, *chartBuilder, this);
    regionPanel = new RegionPanel(*Chart1, *chartBuilder, *regionCursors, this);
    // The panel takes its height from the chart's.
    connect(regionPanel, &RegionPanel::heightChanged, this, &TForm1::FormResize);
    pmChart->addSeparator();
    for (QAction *action : regionCursors->actions())
        pmChart->addAction(action);
}

} // namespace app
