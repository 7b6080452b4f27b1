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

#include <QAction>
#include <QMenu>

namespace app {

void TForm1::BuildChart()
{
    if (chartBuilder->BuildChart(recording()))
        presenter->chartBuilt();
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
