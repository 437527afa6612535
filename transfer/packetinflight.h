#ifndef PACKETINFLIGHT_H
#define PACKETINFLIGHT_H

#include <QDeadlineTimer>

// The sender's last write, from the moment it is handed to the port until
// the receiver's answer begins to arrive, or until the packet's time on the
// line and the receiver's turn have passed without one. A receiver that
// clears its input before it answers a packet (lrzsz's rb does) loses CANs
// that land right behind the packet, so a stop holds its CANs back while a
// packet is in flight.
class PacketInFlight
{
public:
    // count bytes went to a port whose line takes lineMs to carry them;
    // unread bytes were waiting to be read at that moment.
    void sent(qint64 count, int lineMs, qint64 unread);
    void read(qint64 count);
    // The packet was taken back before any of it left the port.
    void forget();
    // The bytes of the last write.
    qint64 size() const;
    // Whether nothing has arrived since the packet was sent (unread bytes
    // wait now) and the time it may take to be answered has not passed.
    bool awaitsAnswer(qint64 unread) const;

private:
    QDeadlineTimer answerDue;
    qint64 bytes = 0;
    qint64 unreadAtSend = 0;
    qint64 readSinceSend = 0;
};

#endif
