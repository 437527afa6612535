#ifndef SERIALLINE_H
#define SERIALLINE_H

#include <QSerialPort>

#include <cstdint>

// What every serial port of the tool shares: its settings before the
// operator chooses a port and a rate, and the engine's view of the line.
namespace SerialLine
{

// "COM1" at 115200 baud both ways, 8 data bits, no parity, 1 stop bit, no
// flow control: what a boot monitor's console runs at.
void applyDefaults(QSerialPort *port);

// A start bit, 8 data bits and a stop bit carry each byte.
constexpr int BitsPerByte = 10;

// How long count bytes take on the port's line at its baud rate.
int lineTimeMs(const QSerialPort *port, qint64 count);

// The device a port name stands for, by Qt's own rule: a path as it is,
// a bare name (ttyUSB0, as the system lists it) under /dev.
QString devicePath(const QString &name);

// Whether the error means the port's device is gone, as when its USB adapter
// is unplugged: a ResourceError, or a failed read or write after which the
// device no longer exists (some drivers, and a pseudo-terminal whose other
// end was closed, report only that).
bool deviceGone(const QSerialPort *port, QSerialPort::SerialPortError error);

// Takes up to length bytes that have already arrived, without waiting. A
// failed read has delivered nothing, never a negative count in disguise.
uint32_t readArrived(QSerialPort *port, uint8_t *buffer, uint32_t length);

// Puts the bytes on the line; returns how many the port took.
uint32_t send(QSerialPort *port, const uint8_t *buffer, uint32_t length);

} // namespace SerialLine

#endif
