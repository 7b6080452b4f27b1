#pragma once

// What the window's benches share: the median of their timings, and a window of their own
// in a temporary folder, offscreen, with no board to find and its settings set for degrees
// against time in ms, 250°, no integration.
#include "app/contexthelp.h"
#include "app/form1.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace benchwindow {

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The folder and the window in it, shown; messages go to standard error. `form` stays empty
// when the folder or the settings file cannot be made.
struct Window
{
    QTemporaryDir dir;
    std::unique_ptr<app::TForm1> form;

    Window()
    {
        if (!dir.isValid())
            return;
        QFile ini(dir.filePath(QStringLiteral("Ferrun.ini")));
        if (!ini.open(QIODevice::WriteOnly)
            || ini.write("[Options]\r\nXYmode=0\r\nX scale=1\r\nTrange=0\r\n") < 0)
            return;
        ini.close();
        app::ContextHelp::setHelpFile(QStringLiteral("Ferrun.HLP"));
        app::FormEnvironment environment;
        environment.showMessage
            = [](const QString &text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); };
        environment.sysfsRoot = dir.filePath(QStringLiteral("no-sys"));
        environment.devRoot = dir.filePath(QStringLiteral("no-dev"));
        environment.recoveryFolder = dir.filePath(QStringLiteral("recovery"));
        form = std::make_unique<app::TForm1>(ini.fileName(), app::AppOptions {}, environment);
        form->show();
        QApplication::processEvents();
    }
};

} // namespace benchwindow
