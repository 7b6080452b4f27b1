#pragma once

#include "channelchart/channelchart.h"
#include "chart/chart.h"

#include <QFont>
#include <QFontMetrics>
#include <gtest/gtest.h>

namespace charttest {

// A font whose text height is exactly pixels, so that label counts do not depend on the
// system font.
inline QFont fontOfHeight(int pixels)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    for (int size = 4; size <= 2 * pixels; ++size) {
        font.setPixelSize(size);
        if (QFontMetrics(font).height() == pixels)
            return font;
    }
    ADD_FAILURE() << "no font size gives a text height of " << pixels;
    return font;
}

// Chart of the window's size and margins with the eight channel series.
inline void setUpChart(chart::TChart &c, int width = 641, int height = 353)
{
    c.setFont(fontOfHeight(13));
    c.resize(width, height);
    chart::setUpChannelChart(c);
}

} // namespace charttest
