#include "acquisition/discovery.h"
#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/output.h"

#include <QFileInfo>

// ferrun-cli ports [--sysfs-root DIR] [--dev-root DIR]
//
// One line per serial device: a "*" in front of the instrument's port, the device node, the
// driver, and the USB identity when the port belongs to a USB interface. The instrument is the
// port the window connects to; other ports with the same identity are marked as unused.
// The two root options point the lookup at another tree (a test's fake one).

namespace {

QString quoted(const QString &text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\') + c;
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out + QLatin1Char('"');
}

QString identityText(const acquisition::SerialDeviceInfo &device)
{
    if (!device.hasUsbIdentity)
        return QStringLiteral("-");
    return QStringLiteral("usb %1:%2 serial %3 interface %4")
        .arg(device.vendorId, 4, 16, QLatin1Char('0'))
        .arg(device.productId, 4, 16, QLatin1Char('0'))
        .arg(device.serial.isEmpty() ? QStringLiteral("-") : quoted(device.serial))
        .arg(device.interfaceNumber);
}

} // namespace

int cli::runPorts(const QStringList &args)
{
    CommandLine line("ports", "[options]",
        "Lists the serial devices with their driver and USB identity; \"*\" marks the port\n"
        "the window connects to as the instrument.");
    line.addOption({ "sysfs-root", "Read the device tree under DIR.", "DIR", "/sys" });
    line.addOption({ "dev-root", "Device nodes are named under DIR.", "DIR", "/dev" });
    line.addExitCode(ExitDone, "listed (also when no device or no instrument is found)");
    line.addExitCode(ExitOutputFailed, "standard output could not be written");
    if (const std::optional<int> status = line.parse(args))
        return *status;
    acquisition::DiscoveryRoots roots;
    roots.sysfsRoot = line.value("sysfs-root");
    roots.devRoot = line.value("dev-root");
    // A tree that is not there would read as a machine without serial devices. (The device
    // root only names the nodes.)
    if (roots.devRoot.isEmpty())
        return line.error("--dev-root expects a folder");
    if (!QFileInfo(roots.sysfsRoot).isDir())
        return line.error(
            QString("--sysfs-root expects a folder; %1 is none").arg(escaped(roots.sysfsRoot)));

    const QList<acquisition::SerialDeviceInfo> devices = acquisition::listSerialDevices(roots);
    const std::optional<acquisition::SerialDeviceInfo> instrument
        = acquisition::findInstrumentPort(roots);

    StandardOutput out;
    if (devices.isEmpty())
        out.write(QByteArray("no serial devices found\n"));
    qsizetype pathWidth = 0;
    qsizetype driverWidth = 1;
    for (const acquisition::SerialDeviceInfo &device : devices) {
        pathWidth = std::max(pathWidth, device.devicePath.size());
        driverWidth = std::max(driverWidth, device.driver.size());
    }
    const QString instrumentSerial = QString::fromLatin1(acquisition::BridgeSerial);
    for (const acquisition::SerialDeviceInfo &device : devices) {
        const bool isInstrument = instrument && instrument->name == device.name;
        const bool sameIdentity
            = acquisition::matchesUsbIdentity(device, acquisition::BridgeVendorId,
                acquisition::BridgeProductId, instrumentSerial, acquisition::BridgeInterface);
        QString line = QStringLiteral("%1 %2  %3  %4")
                           .arg(isInstrument ? QStringLiteral("*") : QStringLiteral(" "))
                           .arg(device.devicePath, -int(pathWidth))
                           .arg(device.driver.isEmpty() ? QStringLiteral("-") : device.driver,
                               -int(driverWidth))
                           .arg(identityText(device));
        if (isInstrument)
            line += QStringLiteral("  instrument");
        else if (sameIdentity)
            line += QStringLiteral("  instrument identity, not used (%1 is)")
                        .arg(instrument->devicePath);
        out.write(line + u'\n');
    }
    if (!instrument) {
        acquisition::SerialDeviceInfo wanted;
        wanted.hasUsbIdentity = true;
        wanted.vendorId = acquisition::BridgeVendorId;
        wanted.productId = acquisition::BridgeProductId;
        wanted.serial = instrumentSerial;
        wanted.interfaceNumber = acquisition::BridgeInterface;
        out.write(QStringLiteral("instrument not found (%1)\n").arg(identityText(wanted)));
    }
    return out.finish() ? 0 : ExitOutputFailed;
}
