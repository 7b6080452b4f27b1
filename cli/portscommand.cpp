#include "acquisition/discovery.h"
#include "cli/commands.h"

#include <QTextStream>
#include <cstdio>

// ferrun-cli ports [--sysfs-root DIR] [--dev-root DIR]
//
// One line per serial device: a "*" in front of the instrument's port, the device node, the
// driver, and the USB identity when the port belongs to a USB interface. The instrument is the
// port the window connects to; other ports with the same identity are marked as unused.
// The two root options are hidden; they point the lookup at a fake tree.

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
    acquisition::DiscoveryRoots roots;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        QString *target = nullptr;
        if (arg == QLatin1String("--sysfs-root"))
            target = &roots.sysfsRoot;
        else if (arg == QLatin1String("--dev-root"))
            target = &roots.devRoot;
        else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            std::fputs("usage: ferrun-cli ports\n"
                       "Lists the serial devices with their USB identity; \"*\" marks the "
                       "instrument.\n",
                stdout);
            return 0;
        } else
            return usageError(QStringLiteral("ports: unknown argument '%1'").arg(arg));
        if (i + 1 >= args.size())
            return usageError(QStringLiteral("ports: %1 needs a folder").arg(arg));
        *target = args[++i];
    }

    const QList<acquisition::SerialDeviceInfo> devices = acquisition::listSerialDevices(roots);
    const std::optional<acquisition::SerialDeviceInfo> instrument
        = acquisition::findInstrumentPort(roots);

    QTextStream out(stdout);
    if (devices.isEmpty())
        out << "no serial devices found\n";
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
        out << line << '\n';
    }
    if (!instrument) {
        acquisition::SerialDeviceInfo wanted;
        wanted.hasUsbIdentity = true;
        wanted.vendorId = acquisition::BridgeVendorId;
        wanted.productId = acquisition::BridgeProductId;
        wanted.serial = instrumentSerial;
        wanted.interfaceNumber = acquisition::BridgeInterface;
        out << "instrument not found (" << identityText(wanted) << ")\n";
    }
    return 0;
}
