#include "packetstream.h"

#include "ymodem.h"

namespace {

int unitLength(char first)
{
    if (uchar(first) == Ymodem::SOH)
        return Ymodem::PacketSize;
    if (uchar(first) == Ymodem::STX)
        return Ymodem::PacketSize1K;
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
