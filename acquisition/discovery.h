#pragma once

#include <QList>
#include <QString>
#include <optional>

// Finds the instrument's serial device through sysfs.
//
// Every entry of <sysfs>/class/tty with a "device" link is a serial device. The link points
// at the port's device; its nearest ancestor holding "bInterfaceNumber" is the USB interface
// (for usb-serial drivers such as cp210x the port is a child of the interface, for cdc-acm it
// is the interface itself), and the interface's parent holds "idVendor", "idProduct" and
// "serial" of the USB device. The device node is <dev>/<name>.
namespace acquisition {

// USB identity of the instrument's bridge.
inline constexpr quint16 BridgeVendorId = 0x10C4;
inline constexpr quint16 BridgeProductId = 0xEA5F;
inline constexpr char BridgeSerial[] = "0001";
inline constexpr int BridgeInterface = 0;

// Where the lookup reads: both are parameters so that tests can build fake trees.
struct DiscoveryRoots
{
    QString sysfsRoot = QStringLiteral("/sys");
    QString devRoot = QStringLiteral("/dev");
};

struct SerialDeviceInfo
{
    QString name; // kernel name, e.g. "ttyUSB0"
    QString devicePath; // <dev>/<name>
    QString driver; // name of the port device's driver, empty when unknown
    bool hasUsbIdentity = false;
    quint16 vendorId = 0;
    quint16 productId = 0;
    QString serial; // exactly as the device reports it; empty when it has none
    int interfaceNumber = -1; // -1 when no USB interface was found above the port
};

// All serial devices (ttys with a device link), in natural name order (ttyS2 before ttyS10).
// Entries that vanish while they are read are left out.
QList<SerialDeviceInfo> listSerialDevices(const DiscoveryRoots &roots = {});

// True when the device is interface `interfaceNumber` of the USB device with this identity.
// The serial text is compared exactly, letter case included.
bool matchesUsbIdentity(const SerialDeviceInfo &device, quint16 vendorId, quint16 productId,
    const QString &serial, int interfaceNumber);

// The device to use among those that match: when several match, the last one in natural
// name order wins (a later match replaces an earlier one, as the enumeration of the
// bridge's ports does). Empty when none matches.
std::optional<SerialDeviceInfo> findUsbSerialPort(quint16 vendorId, quint16 productId,
    const QString &serial, int interfaceNumber, const DiscoveryRoots &roots = {});

// findUsbSerialPort for the instrument's identity.
std::optional<SerialDeviceInfo> findInstrumentPort(const DiscoveryRoots &roots = {});

// Natural order of kernel names: runs of digits compare by value.
bool naturalNameLess(const QString &a, const QString &b);

} // namespace acquisition
