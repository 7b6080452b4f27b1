#include "files/settings.h"

#include "files/inifile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <unistd.h>

namespace files {

QString SettingsKeys::recentFile(int n)
{
    return QStringLiteral("File %1").arg(n);
}

QString SettingsKeys::channel(int n)
{
    return QStringLiteral("Channel ") + QString::number(n);
}

Settings Settings::read(const IniFile &file)
{
    namespace K = SettingsKeys;
    Settings s;
    const Settings d {};
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
    for (int n = 1; n <= MaxRecentFiles; ++n) {
        const QString encoded
            = file.readString(K::recentSection, K::recentFile(n)).value_or(QString());
        if (!encoded.isEmpty())
            s.recentFiles << QString::fromUtf8(QByteArray::fromPercentEncoding(encoded.toLatin1()));
    }
    s.language = file.readString(K::languageSection, K::language).value_or(QString());
    s.maximized = file.readBool(K::windowSection, K::maximized, false);
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
        && file.writeInteger(K::yScaleSection, K::yMin, yMin) && writeRecentFiles(file)
        && (language.isEmpty() || file.writeString(K::languageSection, K::language, language))
        && ((!maximized && !file.readString(K::windowSection, K::maximized))
            || file.writeBool(K::windowSection, K::maximized, maximized))
        && file.sync();
}

bool Settings::writeRecentFiles(IniFile &file) const
{
    namespace K = SettingsKeys;
    // Only the entries there are: a first run's file gets no empty section, and an entry
    // the list no longer reaches is emptied rather than left naming an old file.
    for (int n = 1; n <= MaxRecentFiles; ++n) {
        const bool listed = n <= recentFiles.size();
        if (!listed && !file.readString(K::recentSection, K::recentFile(n)))
            continue;
        const QString value = listed
            ? QString::fromLatin1(recentFiles.at(n - 1).toUtf8().toPercentEncoding("/"))
            : QString();
        if (!file.writeString(K::recentSection, K::recentFile(n), value))
            return false;
    }
    return true;
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
