#include "cli/measurementsetup.h"

#include "acquisition/instrument.h"
#include "cli/commandline.h"
#include "cli/output.h"
#include "files/channels.h"
#include "files/datafile.h"
#include "files/leftoversave.h"
#include "files/windows1251.h"

#include <QDateTime>
#include <QDir>
#include <cstdio>

namespace cli {

void printError(const QString &message)
{
    // Names in messages come from the user and the file system: no control character of
    // theirs reaches the terminal.
    std::fprintf(stderr, "ferrun-cli: %s\n", qPrintable(escaped(message)));
}

quint8 PanelControls::checkedChannels() const
{
    quint8 bits = 0;
    for (int n = 1; n <= files::ThermocoupleCount; ++n)
        if (m_panel.channelChecked(n))
            bits |= files::thermocoupleBit(n);
    return bits;
}

std::optional<int> readTarget(const CommandLine &line, MeasurementOptions &o)
{
    o.output = line.value("output");
    if (o.output.isEmpty())
        return line.error("-o FILE is required");
    o.device = line.value("device");
    o.simulator = line.isSet("simulator");
    if (o.simulator && line.isSet("device"))
        return line.error("give either --device or --simulator, not both");
    if (line.isSet("freq") && line.isSet("time"))
        return line.error("give either --freq or --time, not both");
    o.comment = line.value("comment");
    // A data file holds its comment in Windows-1251: what it cannot hold is said before the
    // measurement, not found out on reading the file back.
    if (const QString missing = files::notInWindows1251(o.comment); !missing.isEmpty())
        line.note(QString("the comment's characters %1 cannot be stored in a data file "
                          "(Windows-1251); they are saved as '?'")
                      .arg(missing));
    return std::nullopt;
}

std::optional<int> readChannelsRangeLaunch(const CommandLine &line, MeasurementOptions &o)
{
    o.channels = 0;
    for (const QString &part : line.value("channels").split(',')) {
        bool ok = false;
        const int n = part.trimmed().toInt(&ok, 10);
        if (!ok || n < 1 || n > files::ThermocoupleCount)
            return line.error(QString("--channels expects numbers 1..%1 separated by commas, "
                                      "got '%2'")
                                  .arg(files::ThermocoupleCount)
                                  .arg(line.value("channels")));
        // A channel named twice is a typing slip that would otherwise pass unnoticed.
        if (o.channels & files::thermocoupleBit(n))
            return line.error(QString("--channels names channel %1 twice").arg(n));
        o.channels |= files::thermocoupleBit(n);
    }
    const auto range = line.choiceValue("range", { "250", "500" });
    if (!range)
        return ExitUsage;
    o.rangeIndex = *range;
    const auto launch = line.choiceValue("launch", { "computer", "photodiode" });
    if (!launch)
        return ExitUsage;
    o.launchType = *launch;
    return std::nullopt;
}

void checkChannels(acquisition::SamplingParameters &panel, quint8 mask)
{
    for (int n = 1; n <= files::ThermocoupleCount; ++n)
        panel.setChannelChecked(n, mask & (1 << (n - 1)));
    panel.UpdateChannelMask();
}

bool typeAndLeave(acquisition::SamplingParameters &panel, acquisition::Field field, int value)
{
    panel.setFocusField(field);
    panel.userTyped(field, QString::number(value));
    const bool refused = panel.lErrInVisible();
    panel.userLeft(field);
    return !refused;
}

bool connectInstrument(acquisition::Instrument &instrument)
{
    if (instrument.connectInstrument())
        return true;
    printError(QString("no instrument: %1").arg(instrument.lastError()));
    return false;
}

bool clearLeftoverSave(const QString &target)
{
    const files::LeftoverSave left = files::clearLeftoverSave(target);
    switch (left.outcome) {
    case files::LeftoverSave::Outcome::None:
        return true;
    case files::LeftoverSave::Outcome::Removed:
        std::fprintf(stderr, "removed %s, left by an interrupted save\n",
            qPrintable(escaped(files::temporarySaveName(target))));
        return true;
    case files::LeftoverSave::Outcome::Recovered:
        std::fprintf(stderr, "kept %s: a whole recording left by an interrupted save of %s\n",
            qPrintable(escaped(left.path)), qPrintable(escaped(target)));
        return true;
    case files::LeftoverSave::Outcome::NotRecovered:
        printError(QString("%1 holds a whole recording left by an interrupted save and cannot be "
                           "renamed (%2); move it away first")
                       .arg(left.path, left.reason));
        return false;
    }
    return true;
}

QString rescueName()
{
    return QDir(QDir::tempPath())
        .filePath(QString("ferrun-unsaved-%1.kdx")
                      .arg(QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss-zzz")));
}

} // namespace cli
