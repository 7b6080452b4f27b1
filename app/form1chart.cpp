// The window's chart build and what follows each build: the status bar's readout, the
// recordings laid over the chart, and the two cursors with the panel of their region under
// the chart (placed and moved on the chart, listed in the chart's menu, cleared when another
// recording becomes the current one, kept through the builds of the same one).

#include "app/chartbuilder.h"
#include "app/cursorreadout.h"
#include "app/form1.h"
#include "app/form1ui.h"
#include "app/overlays.h"
#include "app/regioncursors.h"
#include "app/regionpanel.h"
#include "app/sessionpresenter.h"
#include "chart/chart.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QTimer>

namespace app {

void TForm1::BuildChart()
{
    liveChartEnded();
    if (m_chartBuilder->BuildChart(recording()))
        m_presenter->chartBuilt();
    // The remains of a failed transfer are drawn for a look, marked.
    if (!m_incompleteMark) {
        m_incompleteMark = new QLabel(tr("Запись неполна: сбой передачи"), ui->Chart1);
        m_incompleteMark->setObjectName(QStringLiteral("incompleteMark"));
        m_incompleteMark->setStyleSheet(
            QStringLiteral("QLabel { color: red; font-weight: bold; }"));
        m_incompleteMark->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    m_incompleteMark->adjustSize();
    m_incompleteMark->move(ui->Chart1->ChartRect().topLeft() + QPoint(6, 4));
    m_incompleteMark->setVisible(recording().faulty);
    m_cursorReadout->recordingChanged();
    if (m_overlays)
        m_overlays->redraw();
    m_regionCursors->chartBuilt();
}

void TForm1::displayChanged()
{
    // Redrawn at once only between exchanges: a build puts its own status and hides the
    // progress of the exchange under way. The new setting takes effect at the build that
    // ends the exchange.
    if (m_session->state() == acquisition::SessionState::Idle && !cycleRunning())
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
    connect(m_session, &acquisition::MeasurementSession::stateChanged, this,
        [this](acquisition::SessionState state) {
            if (state != acquisition::SessionState::WaitingToTransfer || !m_environment.liveChart)
                return;
            m_liveBytes.clear();
            if (!m_chartBuilder->beginLive(m_session->recordingHeader(),
                    qint64(m_session->blocksExpected()) * acquisition::DataBlockPayload))
                return;
            m_liveDrawn.start();
            // What stood on the chart before is gone: its cursors and readout with it.
            m_regionCursors->clear();
            m_cursorReadout->recordingChanged();
            if (m_incompleteMark)
                m_incompleteMark->hide();
        });
    connect(m_session, &acquisition::MeasurementSession::blockStored, this,
        [this](int, int, const QByteArray &block) {
            if (!m_chartBuilder->live())
                return;
            m_liveBytes += block;
            if (!m_liveRedraw->isActive())
                m_liveRedraw->start();
        });
    // The request for the next block has gone out: while that block is on the wire, the
    // blocks received are drawn, once the handler that sent it has returned.
    connect(m_session, &acquisition::MeasurementSession::commandSent, this,
        [this](const QByteArray &command) {
            if (!m_chartBuilder->live() || m_liveDrawQueued || m_liveBytes.isEmpty()
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
    m_chartBuilder->appendLive(std::exchange(m_liveBytes, QByteArray()));
    m_liveDrawn.start();
}

void TForm1::liveChartEnded()
{
    m_liveRedraw->stop();
    m_liveBytes.clear();
    m_chartBuilder->endLive();
}

void TForm1::createRegionCursors()
{
    m_regionCursors = std::make_unique<RegionCursors>(*ui->Chart1, *m_chartBuilder);
    // A widget of the window, deleted as a member before the other widgets go.
    m_regionPanel
        = std::make_unique<RegionPanel>(*ui->Chart1, *m_chartBuilder, *m_regionCursors, this);
    // The panel takes its height from the chart's.
    connect(m_regionPanel.get(), &RegionPanel::heightChanged, this, &TForm1::FormResize);
}

} // namespace app
