#include "files/settings.h"

#include "files/inifile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <unistd.h>

namespace files {

QString SettingsKeys::channel(int n)
{
    return QStringLiteral("Channel ") + QString::number(n);
}

Settings Settings::read(const IniFile &file)
{
    namespace K = SettingsKeys;
    Settings s;
    const Settings d;
    s.height = file.readInteger(K::chartSection, K::height, d.height);
    s.width = file.readInteger(K::chartSection, K::width, d.width);
    s.left = file.readInteger(K::chartSection, K::left, d.left);
    s.top = file.readInteger(K::chartSection, K::top, d.top);
    s.xScale = file.readInteger(K::optionsSection, K::xScale, d.xScale);
    s.xyMode = file.readInteger(K::optionsSection, K::xyMode, d.xyMode);
    s.tRange = file.readInteger(K::optionsSection, K::tRange, d.tRange);
    s.smoothInController = file.readBool(K::smoothSection, K::smooth, d.smoothInController);
    s.integrateSamples = file.readInteger(K::optionsSection, K::integrate, d.integrateSamples);
    for (int n = 1; n <= ChannelCount; ++n) {
        s.colors[n - 1] = file.readInteger(K::colorSection, K::channel(n), d.colors[n - 1]);
        s.shown[n - 1] = file.readBool(K::selectSection, K::channel(n), d.shown[n - 1]);
    }
    s.writeToOneFile = file.readBool(K::cycleSection, K::oneFile, d.writeToOneFile);
    s.clearChart = file.readBool(K::cycleSection, K::clearChart, d.clearChart);
    s.chartSkipPoints = file.readInteger(K::cycleSection, K::skipPoints, d.chartSkipPoints);
    s.yMax = file.readInteger(K::yScaleSection, K::yMax, d.yMax);
    s.yMin = file.readInteger(K::yScaleSection, K::yMin, d.yMin);
    s.launchType = file.readInteger(K::launchSection, K::launchType, d.launchType);
    s.sramBlocks = file.readInteger(K::ftSection, K::sramBlocks, d.sramBlocks);
    if (s.sramBlocks < 1 || s.sramBlocks > 8)
        s.sramBlocks = 8;
    s.time4allSram = file.readInteger(K::ftSection, K::time4allSram, d.time4allSram);
    s.frequency = file.readInteger(K::ftSection, K::frequency, d.frequency);
    return s;
}

bool Settings::write(IniFile &file) const
{
    namespace K = SettingsKeys;
    bool ok = file.writeInteger(K::chartSection, K::height, height)
        && file.writeInteger(K::chartSection, K::width, width)
        && file.writeInteger(K::chartSection, K::left, left)
        && file.writeInteger(K::chartSection, K::top, top)
        && file.writeInteger(K::ftSection, K::frequency, frequency)
        && file.writeInteger(K::ftSection, K::time4allSram, time4allSram)
        && file.writeInteger(K::ftSection, K::sramBlocks, sramBlocks)
        && file.writeInteger(K::launchSection, K::launchType, launchType)
        && file.writeInteger(K::optionsSection, K::xScale, xScale)
        && file.writeInteger(K::optionsSection, K::xyMode, xyMode)
        && file.writeInteger(K::optionsSection, K::tRange, tRange)
        && file.writeInteger(K::optionsSection, K::integrate, integrateSamples)
        && file.writeBool(K::smoothSection, K::smooth, smoothInController);
    for (int n = 1; ok && n <= ChannelCount; ++n) {
        ok = file.writeInteger(K::colorSection, K::channel(n), colors[n - 1])
            && file.writeBool(K::selectSection, K::channel(n), shown[n - 1]);
    }
    return ok && file.writeBool(K::cycleSection, K::oneFile, writeToOneFile)
        && file.writeBool(K::cycleSection, K::clearChart, clearChart)
        && file.writeInteger(K::cycleSection, K::skipPoints, chartSkipPoints)
        && file.writeInteger(K::yScaleSection, K::yMax, yMax)
        && file.writeInteger(K::yScaleSection, K::yMin, yMin) && file.sync();
}

QString defaultSettingsPath()
{
    return settingsPathFor(QCoreApplication::applicationDirPath());
}

QString settingsPathFor(const QString &programDir)
{
    QString dir = programDir;
    if (!dir.endsWith(u'/'))
        dir += u'/';
    // A copy in a folder of its own keeps its settings beside it. An installed program's
    // folder (/usr/bin) belongs to the system, and one the user may not write cannot keep
    // them: those go to the user's configuration folder, ~/.config/Ferrun/Ferrun.ini.
    const bool systemFolder = dir.startsWith(QStringLiteral("/usr/"))
        || dir == QStringLiteral("/bin/") || dir == QStringLiteral("/sbin/");
    if (!systemFolder && ::access(QFile::encodeName(dir).constData(), W_OK) == 0)
        return dir + QStringLiteral("Ferrun.ini");
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(config);
    return config + QStringLiteral("/Ferrun.ini");
}

} // namespace files
