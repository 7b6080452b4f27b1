#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <unistd.h>

// Builds a sysfs tree of real folders, attribute files and relative symlinks laid out as the
// kernel does it, under a root folder (a QTemporaryDir in the tests).
namespace testsupport {

class FakeSysfs
{
public:
    explicit FakeSysfs(const QString &root)
        : m_root(root)
    {
        QDir().mkpath(m_root + "/class/tty");
        QDir().mkpath(m_root + "/bus/usb-serial/drivers/cp210x");
        QDir().mkpath(m_root + "/bus/usb/drivers/cdc_acm");
    }

    QString root() const { return m_root; }

    // A USB device on bus 1 at `port` ("1-2"); an empty serial leaves the attribute out.
    QString addUsbDevice(
        const QString &port, quint16 vendor, quint16 product, const QString &serial)
    {
        const QString dir = m_root + "/devices/pci0000:00/0000:00:14.0/usb1/" + port;
        QDir().mkpath(dir);
        write(dir + "/idVendor", hex4(vendor));
        write(dir + "/idProduct", hex4(product));
        if (!serial.isEmpty())
            write(dir + "/serial", serial);
        return dir;
    }

    QString addInterface(const QString &usbDevice, int number)
    {
        const QString dir
            = usbDevice + "/" + QFileInfo(usbDevice).fileName() + ":1." + QString::number(number);
        QDir().mkpath(dir);
        write(dir + "/bInterfaceNumber", QString("%1").arg(number, 2, 16, QChar('0')));
        return dir;
    }

    // usb-serial port (cp210x): the port device is a child of the interface.
    QString addUsbSerialPort(const QString &interfaceDir, const QString &name)
    {
        const QString portDevice = interfaceDir + "/" + name;
        QDir().mkpath(portDevice);
        link(portDevice + "/driver", m_root + "/bus/usb-serial/drivers/cp210x");
        return addTty(portDevice, name);
    }

    // cdc-acm port: the interface itself is the port's device.
    QString addAcmPort(const QString &interfaceDir, const QString &name)
    {
        link(interfaceDir + "/driver", m_root + "/bus/usb/drivers/cdc_acm");
        return addTty(interfaceDir, name);
    }

    // On-board UART with no USB identity.
    QString addPlatformPort(const QString &name)
    {
        const QString portDevice = m_root + "/devices/platform/serial8250/" + name;
        QDir().mkpath(portDevice);
        return addTty(portDevice, name);
    }

    // Virtual terminal: a tty without a device link.
    void addVirtualTty(const QString &name)
    {
        const QString dir = m_root + "/devices/virtual/tty/" + name;
        QDir().mkpath(dir);
        link(m_root + "/class/tty/" + name, dir);
    }

    QString addUsbPort(const QString &port, quint16 vendor, quint16 product, const QString &serial,
        int interfaceNumber, const QString &ttyName)
    {
        return addUsbSerialPort(
            addInterface(addUsbDevice(port, vendor, product, serial), interfaceNumber), ttyName);
    }

    // The instrument's bridge with its port on `interfaceNumber`; returns the USB device.
    QString addInstrument(const QString &port, const QString &ttyName,
        const QString &serial = "0001", int interfaceNumber = 0)
    {
        const QString device = addUsbDevice(port, 0x10C4, 0xEA5F, serial);
        addUsbSerialPort(addInterface(device, interfaceNumber), ttyName);
        return device;
    }

    static void write(const QString &path, const QString &text)
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(text.toUtf8() + "\n");
    }

    // Relative symlink from `linkPath` to `target`, as the kernel writes them.
    static void link(const QString &linkPath, const QString &target)
    {
        const QString relative = QDir(QFileInfo(linkPath).path()).relativeFilePath(target);
        ::symlink(QFile::encodeName(relative).constData(), QFile::encodeName(linkPath).constData());
    }

private:
    static QString hex4(quint16 value) { return QString("%1").arg(value, 4, 16, QChar('0')); }

    QString addTty(const QString &portDevice, const QString &name)
    {
        const QString ttyDir = portDevice + "/tty/" + name;
        QDir().mkpath(ttyDir);
        write(ttyDir + "/dev", "188:0");
        link(ttyDir + "/device", portDevice);
        link(m_root + "/class/tty/" + name, ttyDir);
        return ttyDir;
    }

    QString m_root;
};

} // namespace testsupport
