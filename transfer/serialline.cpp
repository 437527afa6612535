#include "serialline.h"

#include <QFileInfo>
#include <QSerialPort>

namespace SerialLine
{

void applyDefaults(QSerialPort *port)
{
    port->setPortName(QStringLiteral("COM1"));
    port->setBaudRate(QSerialPort::Baud115200, QSerialPort::AllDirections);
    port->setDataBits(QSerialPort::Data8);
    port->setStopBits(QSerialPort::OneStop);
    port->setParity(QSerialPort::NoParity);
    port->setFlowControl(QSerialPort::NoFlowControl);
}

int lineTimeMs(const QSerialPort *port, qint64 count)
{
    const qint64 rate = port->baudRate();
    return rate > 0 ? int((count * BitsPerByte * 1000 + rate - 1) / rate) : 0;
}

QString devicePath(const QString &name)
{
    const bool path = name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1String("./"))
        || name.startsWith(QLatin1String("../"));
    return path ? name : QStringLiteral("/dev/") + name;
}

bool deviceGone(const QSerialPort *port, QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::ResourceError)
        return true;
    if (error != QSerialPort::ReadError && error != QSerialPort::WriteError)
        return false;
    return !QFileInfo::exists(devicePath(port->portName()));
}

uint32_t readArrived(QSerialPort *port, uint8_t *buffer, uint32_t length)
{
    const qint64 count = port->read(reinterpret_cast<char *>(buffer), length);
    return count > 0 ? uint32_t(count) : 0;
}

uint32_t send(QSerialPort *port, const uint8_t *buffer, uint32_t length)
{
    const qint64 count = port->write(reinterpret_cast<const char *>(buffer), length);
    return count > 0 ? uint32_t(count) : 0;
}

} // namespace SerialLine
