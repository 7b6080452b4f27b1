// The window's controls as a test finds them: by their object names, as a user finds them by
// sight, never through the window's members.
#pragma once

#include "app/commandbuttons.h"
#include "app/statusbar.h"
#include "chart/chart.h"
#include "files/channels.h"

#include <QCheckBox>
#include <QObject>
#include <stdexcept>
#include <string>

namespace apptest {

// The child of `window` (a widget, menu or action) named `name`; a missing one fails the test.
template <class T> T *control(const QObject &window, const char *name)
{
    T *found = window.findChild<T *>(QLatin1String(name));
    if (!found)
        throw std::logic_error(std::string("no control named ") + name);
    return found;
}

inline app::StatusBar *statusBar(const QObject &window)
{
    return control<app::StatusBar>(window, "status");
}

inline chart::TChart *chartOf(const QObject &window)
{
    return control<chart::TChart>(window, "Chart1");
}

// cbT1..cbT7, cbFD and the colour swatches pT1..pFD.
inline QCheckBox *channelBox(const QObject &window, int channel)
{
    const QByteArray name = "cb" + QByteArray(files::channelName(files::ChannelId(channel)));
    return control<QCheckBox>(window, name.constData());
}

inline app::ColorPanel *swatch(const QObject &window, int channel)
{
    const QByteArray name = "p" + QByteArray(files::channelName(files::ChannelId(channel)));
    return control<app::ColorPanel>(window, name.constData());
}

inline QCheckBox *channelBox(const QObject &window, files::ChannelId channel)
{
    return channelBox(window, int(channel));
}

inline app::ColorPanel *swatch(const QObject &window, files::ChannelId channel)
{
    return swatch(window, int(channel));
}

} // namespace apptest

using apptest::channelBox;
using apptest::chartOf;
using apptest::control;
using apptest::statusBar;
using apptest::swatch;
