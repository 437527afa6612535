#include "packetinflight.h"

#include "endpointlimits.h"

void PacketInFlight::sent(qint64 count, int lineMs, qint64 unread)
{
    answerDue.setRemainingTime(lineMs + EndpointLimits::AnswerMarginMs, Qt::PreciseTimer);
    bytes = count;
    unreadAtSend = unread;
    readSinceSend = 0;
}

void PacketInFlight::read(qint64 count) { readSinceSend += count; }

void PacketInFlight::forget() { bytes = 0; }

qint64 PacketInFlight::size() const { return bytes; }

bool PacketInFlight::awaitsAnswer(qint64 unread) const
{
    return bytes > 0 && unread + readSinceSend <= unreadAtSend && !answerDue.hasExpired();
}
