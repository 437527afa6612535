#include "packetstream.h"

namespace {

const char SOH = 0x01;
const char STX = 0x02;
// Header byte, block number, its complement and the CRC-16 around the payload.
const int Framing = 5;

int unitLength(char first)
{
    if (first == SOH)
        return Framing + 128;
    if (first == STX)
        return Framing + 1024;
    return 1;
}

} // namespace

void PacketStream::append(const QByteArray &bytes)
{
    pending += bytes;
}

QByteArray PacketStream::take()
{
    if (pending.isEmpty())
        return QByteArray();
    const int length = unitLength(pending.at(0));
    if (pending.size() < length)
        return QByteArray();
    const QByteArray unit = pending.left(length);
    pending.remove(0, length);
    return unit;
}

void PacketStream::clear()
{
    pending.clear();
}
