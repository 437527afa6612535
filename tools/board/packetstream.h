#ifndef PACKETSTREAM_H
#define PACKETSTREAM_H

#include <QByteArray>

// Cuts a YMODEM sender's byte stream into the units it is made of: whole
// packets (133 or 1029 bytes) and single control bytes, so that a fault can
// be aimed at one data block. A sender only ever writes whole units, so the
// stream never has to resynchronise.
class PacketStream
{
public:
    void append(const QByteArray &bytes);
    // The next complete unit, or an empty array while a packet is still
    // arriving.
    QByteArray take();
    void clear();

private:
    QByteArray pending;
};

#endif
