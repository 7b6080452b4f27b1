// The two cursors over the chart and the panel of their region under it, bound into the
// window: placed and moved on the chart, listed in the chart's menu, cleared when another
// recording becomes the current one, kept through the builds of the same one.

#include "app/cursorreadout.h"
#include "app/form1.h"
#include "app/regioncursors.h"
#include "app/regionpanel.h"

#include <QAction>
#include <QMenu>

namespace app {

void TForm1::createRegionCursors()
{
    regionCursors = new RegionCursors(*Chart1, *chartBuilder, this);
    regionCursors->readoutX = [this] { return cursorReadout->shownX(); };
    regionPanel = new RegionPanel(*Chart1, *chartBuilder, *regionCursors, this);
    // The panel takes its height from the chart's.
    connect(regionPanel, &RegionPanel::heightChanged, this, &TForm1::FormResize);
    pmChart->addSeparator();
    for (QAction *action : regionCursors->actions())
        pmChart->addAction(action);
}

} // namespace app
