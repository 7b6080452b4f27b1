#pragma once

#include "files/channels.h"

#include <QString>
#include <QStringList>
#include <array>

namespace files {

class IniFile;

// Sections and keys of Ferrun.ini. The Cyrillic names are stored in Windows-1251.
namespace SettingsKeys {
inline const QString chartSection = QStringLiteral("График сигнала");
inline const QString height = QStringLiteral("высота");
inline const QString width = QStringLiteral("ширина");
inline const QString left = QStringLiteral("слева");
inline const QString top = QStringLiteral("сверху");
inline const QString optionsSection = QStringLiteral("Options");
inline const QString xScale = QStringLiteral("X scale");
inline const QString xyMode = QStringLiteral("XYmode");
inline const QString tRange = QStringLiteral("Trange");
inline const QString integrate = QStringLiteral("Integrate on Samples Num");
inline const QString smoothSection = QStringLiteral("Smooth in MC");
inline const QString smooth = QStringLiteral("on 16 samples");
inline const QString colorSection = QStringLiteral("Series Color");
inline const QString selectSection = QStringLiteral("Series select");
inline const QString cycleSection = QStringLiteral("Cycle");
inline const QString oneFile = QStringLiteral("Write to 1 file");
inline const QString clearChart = QStringLiteral("Clear Chart");
inline const QString skipPoints = QStringLiteral("Chart skip Points");
inline const QString yScaleSection = QStringLiteral("YScale");
inline const QString yMax = QStringLiteral("Y max");
inline const QString yMin = QStringLiteral("Y min");
inline const QString launchSection = QStringLiteral("Запуск");
inline const QString launchType = QStringLiteral("Тип");
inline const QString ftSection = QStringLiteral("Окно F/T");
inline const QString sramBlocks = QStringLiteral("SRAMblocks");
inline const QString time4allSram = QStringLiteral("Time4allSRAM");
inline const QString frequency = QStringLiteral("F");
inline const QString recentSection = QStringLiteral("Recent files");
inline const QString languageSection = QStringLiteral("Language");
inline const QString language = QStringLiteral("Language");
inline const QString windowSection = QStringLiteral("Window");
inline const QString maximized = QStringLiteral("Maximized");

// "File n", n = 1..MaxRecentFiles, newest first.
QString recentFile(int n);

// "Channel n", n = 1..ChannelCount: the channel at index n - 1 (T1..T7, then FD).
QString channel(int n);
} // namespace SettingsKeys

// Every value kept in Ferrun.ini, with the defaults a first run uses.
struct Settings
{
    int height = 515;
    int width = 794;
    int left = 0;
    int top = 0;
    int xScale = 0;
    int xyMode = 0;
    int tRange = 0;
    bool smoothInController = false;
    int integrateSamples = 8;
    // 0x00BBGGRR. A first run's: seven colours told apart on the grey chart and on white
    // paper, also with the common kinds of colour blindness (blue, vermillion, bluish green,
    // reddish purple, orange, sky blue, wine), and black for the photodiode.
    std::array<int, ChannelCount> colors { 0xB27200, 0x005ED5, 0x739E00, 0xA779CC, 0x009FE6,
        0xE9B456, 0x552288, 0x000000 };
    std::array<bool, ChannelCount> shown { true, true, true, true, true, true, true, true };
    bool writeToOneFile = false;
    bool clearChart = true;
    int chartSkipPoints = 1;
    int yMax = 70;
    int yMin = 0;
    int launchType = 0; // as stored; the window restores it by its own rule
    int sramBlocks = 8; // 1..8; a stored value outside becomes 8
    int time4allSram = 10000;
    int frequency = 2400;
    // The data files last opened or saved, newest first, at most MaxRecentFiles. Stored
    // percent-encoded (UTF-8): a path may hold characters the file's code page cannot.
    QStringList recentFiles;
    static constexpr int MaxRecentFiles = 10;
    // The window's language as chosen in its menu, "ru" or "en"; empty when never chosen (the
    // window then speaks Russian). Only a chosen language is written.
    QString language;
    // The window was maximised when it closed; the geometry above is then the one it takes
    // when it is no longer maximised. Written once a window has been maximised, so that a
    // file of a window never maximised keeps its keys.
    bool maximized = false;

    // Missing sections or keys and unparsable values give the defaults above.
    static Settings read(const IniFile &file);

    // Writes every key, even those equal to their defaults, in the order of the shutdown
    // sequence. Stops at the first key that cannot be written and returns false.
    bool write(IniFile &file) const;

private:
    bool writeRecentFiles(IniFile &file) const;
};

// Ferrun.ini in the folder of the running executable when the user may write there and it
// is not a system folder (/usr/...); otherwise in the user's configuration folder.
QString defaultSettingsPath();
// The same for a program in `programDir`.
QString settingsPathFor(const QString &programDir);

} // namespace files
