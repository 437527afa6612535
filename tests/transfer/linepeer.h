#ifndef LINEPEER_H
#define LINEPEER_H

#include "pseudoterminal.h"
#include "ymodem.h"

#include <QByteArray>
#include <QList>

// The far end of a pseudo-terminal line, played byte by byte by a test:
// what the code under test wrote is taken in exact counts, whatever the
// chunks it arrived in.
class LinePeer
{
public:
    static constexpr char SOH = char(Ymodem::SOH);
    static constexpr char STX = char(Ymodem::STX);
    static constexpr char EOT = char(Ymodem::EOT);
    static constexpr char ACK = char(Ymodem::ACK);
    static constexpr char NAK = char(Ymodem::NAK);
    static constexpr char CAN = char(Ymodem::CAN);
    static const QByteArray FiveCan;
    static const QByteArray AckC;

    explicit LinePeer(PseudoTerminal &line);

    void send(const QByteArray &bytes);
    // Exactly count bytes, or fewer when the line stays silent for timeoutMs.
    QByteArray take(int count, int timeoutMs = 2000);
    // A whole packet (133 or 1029 bytes), or a single byte that starts none.
    QByteArray takePacket(int timeoutMs = 2000);
    // Everything that arrives within timeoutMs.
    QByteArray drain(int timeoutMs);

    static quint16 crc16(const QByteArray &data);
    // SOH for a 128-byte payload, STX for a 1024-byte one.
    static QByteArray packet(quint8 number, const QByteArray &payload);
    static QByteArray headerPacket(const QByteArray &fields);
    static bool isValidPacket(const QByteArray &packet, quint8 number);
    static QByteArray payloadOf(const QByteArray &packet);
    // Whether another open of the line's device succeeds: the lock and the
    // device are free only while the code under test has its port closed.
    static bool isFree(const QString &devicePath);

private:
    PseudoTerminal &line;
    QByteArray pending;
};

// Plays a YMODEM receiver against a sender under test, answering as a boot
// monitor does, and keeps what it was sent. Without its first request when
// the sender was handed one already.
struct ReceivedTransfer {
    bool complete = false;
    QByteArray header;
    QList<QByteArray> blocks;
};
enum class FirstRequest { Send, AlreadyHeard };
ReceivedTransfer playReceiver(LinePeer &peer, FirstRequest request = FirstRequest::Send);

// Plays a YMODEM sender against a receiver under test: header, the given
// payloads as blocks 1, 2, ..., the double EOT and the closing block.
// Returns whether every answer was the one a receiver owes.
bool playSender(LinePeer &peer, const QByteArray &headerFields, const QList<QByteArray> &payloads);

// Runs lrzsz's rb at the far end of the line, storing into folder.
bool startRb(PseudoTerminal &line, const QString &folder);

#endif
