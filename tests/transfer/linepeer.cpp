#include "linepeer.h"

#include <QSerialPort>

const QByteArray LinePeer::FiveCan(int(Ymodem::CancelCount), LinePeer::CAN);
const QByteArray LinePeer::AckC = QByteArray(1, LinePeer::ACK) + 'C';

LinePeer::LinePeer(PseudoTerminal &line)
    : line(line)
{
}

void LinePeer::send(const QByteArray &bytes) { line.write(bytes); }

QByteArray LinePeer::take(int count, int timeoutMs)
{
    if (pending.size() < count)
        pending += line.read(count - pending.size(), timeoutMs);
    const QByteArray bytes = pending.left(count);
    pending.remove(0, bytes.size());
    return bytes;
}

QByteArray LinePeer::takePacket(int timeoutMs)
{
    QByteArray bytes = take(1, timeoutMs);
    if (bytes == QByteArray(1, SOH))
        bytes += take(int(Ymodem::PacketSize) - 1, timeoutMs);
    else if (bytes == QByteArray(1, STX))
        bytes += take(int(Ymodem::PacketSize1K) - 1, timeoutMs);
    return bytes;
}

QByteArray LinePeer::drain(int timeoutMs)
{
    QByteArray bytes = pending + line.read(1 << 30, timeoutMs);
    pending.clear();
    return bytes;
}

quint16 LinePeer::crc16(const QByteArray &data)
{
    quint16 crc = 0;
    for (const char byte : data) {
        crc ^= quint16(quint8(byte) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

QByteArray LinePeer::packet(quint8 number, const QByteArray &payload)
{
    QByteArray bytes;
    bytes += uint(payload.size()) > Ymodem::PayloadSize ? STX : SOH;
    bytes += char(number);
    bytes += char(0xFF - number);
    bytes += payload;
    const quint16 crc = crc16(payload);
    bytes += char(crc >> 8);
    bytes += char(crc & 0xFF);
    return bytes;
}

QByteArray LinePeer::headerPacket(const QByteArray &fields)
{
    return packet(0, fields + QByteArray(int(Ymodem::PayloadSize) - fields.size(), '\0'));
}

bool LinePeer::isValidPacket(const QByteArray &packet, quint8 number)
{
    const uint size = uint(packet.size());
    if (size != Ymodem::PacketSize && size != Ymodem::PacketSize1K)
        return false;
    if (packet.at(0) != (size == Ymodem::PacketSize ? SOH : STX))
        return false;
    if (quint8(packet.at(1)) != number || quint8(packet.at(2)) != 0xFF - number)
        return false;
    const QByteArray payload = payloadOf(packet);
    const quint16 crc
        = quint16(quint8(packet.at(packet.size() - 2)) << 8 | quint8(packet.at(packet.size() - 1)));
    return crc == crc16(payload);
}

QByteArray LinePeer::payloadOf(const QByteArray &packet)
{
    return packet.mid(int(Ymodem::PayloadOffset), packet.size() - int(Ymodem::PacketOverhead));
}

bool LinePeer::isFree(const QString &devicePath)
{
    QSerialPort probe(devicePath);
    const bool opened = probe.open(QIODevice::ReadWrite);
    probe.close();
    return opened;
}

ReceivedTransfer playReceiver(LinePeer &peer, FirstRequest request)
{
    ReceivedTransfer transfer;
    if (request == FirstRequest::Send)
        peer.send("C");
    const QByteArray header = peer.takePacket();
    if (!LinePeer::isValidPacket(header, 0))
        return transfer;
    transfer.header = LinePeer::payloadOf(header);
    peer.send(LinePeer::AckC);

    const QByteArray eot(1, LinePeer::EOT);
    QByteArray packet = peer.takePacket();
    while (packet != eot) {
        if (!LinePeer::isValidPacket(packet, quint8(transfer.blocks.size() + 1)))
            return transfer;
        transfer.blocks.append(LinePeer::payloadOf(packet));
        peer.send(QByteArray(1, LinePeer::ACK));
        packet = peer.takePacket();
    }
    peer.send(QByteArray(1, LinePeer::NAK));
    if (peer.take(1) != eot)
        return transfer;
    peer.send(LinePeer::AckC);
    // An empty file's sender answers the letter C after its header with a
    // second EOT, and the NAK with a third: more EOT may precede the close.
    do {
        packet = peer.takePacket();
    } while (packet == eot);
    if (!LinePeer::isValidPacket(packet, 0) || LinePeer::payloadOf(packet) != QByteArray(int(Ymodem::PayloadSize), '\0'))
        return transfer;
    peer.send(QByteArray(1, LinePeer::ACK));
    transfer.complete = true;
    return transfer;
}

bool playSender(LinePeer &peer, const QByteArray &headerFields, const QList<QByteArray> &payloads)
{
    if (peer.take(1) != "C")
        return false;
    peer.send(LinePeer::headerPacket(headerFields));
    if (peer.take(2) != LinePeer::AckC)
        return false;
    for (int i = 0; i < payloads.size(); ++i) {
        peer.send(LinePeer::packet(quint8(i + 1), payloads.at(i)));
        if (peer.take(1) != QByteArray(1, LinePeer::ACK))
            return false;
    }
    peer.send(QByteArray(1, LinePeer::EOT));
    if (peer.take(1) != QByteArray(1, LinePeer::NAK))
        return false;
    peer.send(QByteArray(1, LinePeer::EOT));
    if (peer.take(2) != LinePeer::AckC)
        return false;
    peer.send(LinePeer::headerPacket(QByteArray()));
    return peer.take(1) == QByteArray(1, LinePeer::ACK);
}

// rb drains and then flushes its terminal as it exits. On a pty the drain
// does not wait for the kernel to hand rb's last ACK to the slave, so the
// flush can discard it; on a serial line the byte has long left the UART.
// Fed through a pipe, rb has no terminal to flush, nor to purge before each
// packet, which changes nothing here: the transmitter only answers rb.
// The reader is ended and reaped with the shell, so no process outlives it.
bool startRb(PseudoTerminal &line, const QString &folder)
{
    return line.startPeer("bash",
        { "-c",
            "exec 3< <(exec cat 2>/dev/null); reader=$!; rb -q -t 10 <&3; status=$?; "
            "kill $reader; wait $reader; exit $status" },
        folder);
}
