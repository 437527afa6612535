#include "serialline.h"

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
