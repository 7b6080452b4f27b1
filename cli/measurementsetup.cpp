#include "cli/measurementsetup.h"

#include "acquisition/instrumentlink.h"
#include "cli/commandline.h"
#include "sim/boardsimulator.h"

#include <QDateTime>
#include <QDir>
#include <cstdio>

namespace cli {

void printError(const QString &message)
{
    std::fprintf(stderr, "ferrun-cli: %s\n", qPrintable(message));
}

quint8 PanelControls::checkedChannels() const
{
    quint8 bits = 0;
    for (int n = 1; n <= 7; ++n)
        if (m_panel.channelChecked(n))
            bits |= quint8(1 << (n - 1));
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
    return std::nullopt;
}

std::optional<int> readChannelsRangeLaunch(const CommandLine &line, MeasurementOptions &o)
{
    o.channels = 0;
    for (const QString &part : line.value("channels").split(',')) {
        bool ok = false;
        const int n = part.trimmed().toInt(&ok, 10);
        if (!ok || n < 1 || n > 7)
            return line.error(QString("--channels expects numbers 1..7 separated by commas, "
                                      "got '%1'")
                                  .arg(line.value("channels")));
        o.channels |= quint8(1 << (n - 1));
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
    for (int n = 1; n <= 7; ++n)
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

std::unique_ptr<sim::BoardSimulator> startSimulator(bool keepHistory, QString *device)
{
    sim::BoardOptions simOptions;
    simOptions.seed = quint64(QDateTime::currentMSecsSinceEpoch());
    simOptions.triggerAfterSeconds = 0.5;
    auto simulator = std::make_unique<sim::BoardSimulator>(simOptions);
    if (!keepHistory)
        simulator->setKeepHistory(false);
    std::string simError;
    if (!simulator->start(&simError)) {
        printError(
            QString("the simulator did not start: %1").arg(QString::fromStdString(simError)));
        return nullptr;
    }
    *device = QString::fromStdString(simulator->devicePath());
    return simulator;
}

bool connectInstrument(acquisition::InstrumentLink &link)
{
    QString linkMessage;
    const QMetaObject::Connection connection
        = QObject::connect(&link, &acquisition::InstrumentLink::informationMessage,
            [&](const QString &text) { linkMessage = text; });
    link.ConnectInstrument();
    QObject::disconnect(connection);
    if (!link.connectedDevice().isEmpty())
        return true;
    printError(QString("%1: %2").arg(
        linkMessage.isEmpty() ? QStringLiteral("АЦП не обнаружено") : linkMessage,
        link.lastError()));
    return false;
}

files::DataFileHeader headerFor(
    const PanelControls &controls, bool averaging, int rangeIndex, double channelIntervalUs)
{
    files::DataFileHeader header;
    header.ChartChannelBits = files::chartChannelBits(controls.checkedChannels(), averaging);
    header.ChannelIntervalUs = channelIntervalUs;
    header.ValueScale = files::valueScaleForRange(rangeIndex);
    header.ValueOffset = 0;
    header.XTitle = QStringLiteral("Время, мкс");
    header.YTitle = QStringLiteral("Температура");
    return header;
}

QString rescueName()
{
    return QDir(QDir::tempPath())
        .filePath(QString("ferrun-unsaved-%1.kdx")
                      .arg(QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss-zzz")));
}

} // namespace cli
