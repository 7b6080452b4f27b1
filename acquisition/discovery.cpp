#include "acquisition/discovery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace acquisition {

namespace {

// sysfs attributes are one short line; anything longer is not an identity.
constexpr qint64 MaxAttributeSize = 4096;

// Depth bound of the walk from a port up to its USB interface; real trees are well below it.
constexpr int MaxWalkDepth = 64;

// Reads a sysfs attribute without its single trailing newline. Empty optional when the file
// is missing or unreadable (the device may have gone in the meantime).
std::optional<QString> readAttribute(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.read(MaxAttributeSize);
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    return QString::fromUtf8(bytes);
}

std::optional<quint16> readHex16(const QString &path)
{
    const std::optional<QString> text = readAttribute(path);
    if (!text || text->isEmpty() || text->size() > 4)
        return std::nullopt;
    bool ok = false;
    const uint value = text->toUInt(&ok, 16);
    if (!ok || value > 0xFFFF)
        return std::nullopt;
    return static_cast<quint16>(value);
}

QString parentPath(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QString() : path.left(slash);
}

bool isInside(const QString &path, const QString &root)
{
    return path.startsWith(root + QLatin1Char('/'));
}

// Fills the USB identity of a port whose device directory is `portDevice`.
void readUsbIdentity(const QString &portDevice, const QString &root, SerialDeviceInfo &info)
{
    QString path = portDevice;
    for (int depth = 0; depth < MaxWalkDepth && isInside(path, root); ++depth) {
        if (QFileInfo::exists(path + QStringLiteral("/bInterfaceNumber"))) {
            const std::optional<quint16> interfaceNumber
                = readHex16(path + QStringLiteral("/bInterfaceNumber"));
            const QString usbDevice = parentPath(path);
            const std::optional<quint16> vendor
                = readHex16(usbDevice + QStringLiteral("/idVendor"));
            const std::optional<quint16> product
                = readHex16(usbDevice + QStringLiteral("/idProduct"));
            if (!interfaceNumber || !vendor || !product)
                return;
            info.hasUsbIdentity = true;
            info.interfaceNumber = *interfaceNumber;
            info.vendorId = *vendor;
            info.productId = *product;
            info.serial = readAttribute(usbDevice + QStringLiteral("/serial")).value_or(QString());
            return;
        }
        // A USB device without an interface in between: not a port of a USB interface.
        if (QFileInfo::exists(path + QStringLiteral("/idVendor")))
            return;
        path = parentPath(path);
    }
}

QString driverName(const QString &portDevice)
{
    // usb-serial ports carry the driver themselves; cdc-acm ports are the interface.
    const QString target = QFileInfo(portDevice + QStringLiteral("/driver")).canonicalFilePath();
    return target.isEmpty() ? QString() : QFileInfo(target).fileName();
}

} // namespace

bool naturalNameLess(const QString &a, const QString &b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i;
            qsizetype ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            // Compare by value without converting: strip leading zeros, then longer is larger.
            qsizetype si = i;
            qsizetype sj = j;
            while (si + 1 < ei && a[si] == QLatin1Char('0'))
                ++si;
            while (sj + 1 < ej && b[sj] == QLatin1Char('0'))
                ++sj;
            if (ei - si != ej - sj)
                return ei - si < ej - sj;
            const int byValue
                = QStringView(a).sliced(si, ei - si).compare(QStringView(b).sliced(sj, ej - sj));
            if (byValue != 0)
                return byValue < 0;
            if (ei - i != ej - j) // same value, fewer leading zeros first
                return ei - i < ej - j;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

QList<SerialDeviceInfo> listSerialDevices(const DiscoveryRoots &roots)
{
    QList<SerialDeviceInfo> devices;
    const QString root = QFileInfo(roots.sysfsRoot).canonicalFilePath();
    if (root.isEmpty())
        return devices;
    const QDir classDir(root + QStringLiteral("/class/tty"));
    QStringList names
        = classDir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot | QDir::Hidden);
    std::sort(names.begin(), names.end(), naturalNameLess);
    for (const QString &name : names) {
        // Virtual terminals have no device link; a dangling link means the device has gone.
        const QString portDevice
            = QFileInfo(classDir.filePath(name) + QStringLiteral("/device")).canonicalFilePath();
        if (portDevice.isEmpty() || !QFileInfo(portDevice).isDir())
            continue;
        SerialDeviceInfo info;
        info.name = name;
        info.devicePath = QDir::cleanPath(roots.devRoot + QLatin1Char('/') + name);
        if (isInside(portDevice, root))
            readUsbIdentity(portDevice, root, info);
        info.driver = driverName(portDevice);
        devices.append(info);
    }
    return devices;
}

bool matchesUsbIdentity(const SerialDeviceInfo &device, quint16 vendorId, quint16 productId,
    const QString &serial, int interfaceNumber)
{
    return device.hasUsbIdentity && device.vendorId == vendorId && device.productId == productId
        && device.interfaceNumber == interfaceNumber && device.serial == serial;
}

std::optional<SerialDeviceInfo> findUsbSerialPort(quint16 vendorId, quint16 productId,
    const QString &serial, int interfaceNumber, const DiscoveryRoots &roots)
{
    std::optional<SerialDeviceInfo> found;
    for (const SerialDeviceInfo &device : listSerialDevices(roots)) {
        if (matchesUsbIdentity(device, vendorId, productId, serial, interfaceNumber))
            found = device; // a later match replaces an earlier one
    }
    return found;
}

std::optional<SerialDeviceInfo> findInstrumentPort(const DiscoveryRoots &roots)
{
    return findUsbSerialPort(
        BridgeVendorId, BridgeProductId, QString::fromLatin1(BridgeSerial), BridgeInterface, roots);
}

} // namespace acquisition
