#ifndef SERIALLINE_H
#define SERIALLINE_H

#include <cstdint>

class QSerialPort;

// What every serial port of the tool shares: its settings before the
// operator chooses a port and a rate, and the engine's view of the line.
namespace SerialLine
{

// "COM1" at 115200 baud both ways, 8 data bits, no parity, 1 stop bit, no
// flow control: what a boot monitor's console runs at.
void applyDefaults(QSerialPort *port);

// Takes up to length bytes that have already arrived, without waiting. A
// failed read has delivered nothing, never a negative count in disguise.
uint32_t readArrived(QSerialPort *port, uint8_t *buffer, uint32_t length);

// Puts the bytes on the line; returns how many the port took.
uint32_t send(QSerialPort *port, const uint8_t *buffer, uint32_t length);

} // namespace SerialLine

#endif
