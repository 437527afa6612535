#include "ymodem.h"

#include <cstring>

namespace
{

// CRC-16/XMODEM: x^16 + x^12 + x^5 + 1, what every YMODEM-CRC peer checks.
constexpr int CrcPolynomial = 0x1021;

} // namespace

Ymodem::Ymodem(uint32_t tickDivisor, uint32_t tickLimit, uint32_t errorLimit)
    : tickDivisor(tickDivisor)
    , tickLimit(tickLimit)
    , errorLimit(errorLimit)
    , quietPolls(0)
    , faultCount(0)
    , blockNumber(0)
    , pendingPacket(NO_CODE)
    , purging(false)
    , firstBlockSent(false)
    , stage(StageIdle)
{
}

void Ymodem::setTickDivisor(uint32_t value) { tickDivisor = value; }

uint32_t Ymodem::getTickDivisor() const { return tickDivisor; }

void Ymodem::setTickLimit(uint32_t value) { tickLimit = value; }

uint32_t Ymodem::getTickLimit() const { return tickLimit; }

void Ymodem::setErrorLimit(uint32_t value) { errorLimit = value; }

uint32_t Ymodem::getErrorLimit() const { return errorLimit; }

void Ymodem::transmit()
{
    switch (stage) {
    case StageIdle:
        transmitIdle();
        break;
    case StageHandshake:
        transmitHandshake(readCode());
        break;
    case StageFirstBlock:
        transmitFirstBlock(readCode());
        break;
    case StageData:
        transmitData(readCode());
        break;
    case StageEndOfFile:
        transmitEndOfFile(readCode());
        break;
    case StageClosing:
    default:
        transmitClosing(readCode());
        break;
    }
}

void Ymodem::receive()
{
    if (purging) {
        purgeLine();
        return;
    }
    switch (stage) {
    case StageIdle:
        receiveIdle();
        break;
    case StageHandshake:
        receiveHandshake(fetchCode());
        break;
    case StageFirstBlock:
        receiveFirstBlock(fetchCode());
        break;
    case StageData:
        receiveData(fetchCode());
        break;
    case StageEndOfFile:
        receiveEndOfFile(fetchCode());
        break;
    case StageClosing:
    default:
        receiveClosing(fetchCode());
        break;
    }
}

// Also how a host's refusal ends a transfer: the host reports it itself.
void Ymodem::abort()
{
    reset();
    sendCancel();
}

// The sender opens a transfer silently: the receiver speaks first with C.
void Ymodem::transmitIdle()
{
    clearCounters();
    blockNumber = 0;
    stage = StageHandshake;
}

void Ymodem::transmitHandshake(LineCode code)
{
    switch (code) {
    case CRC_REQUEST:
        if (requestPayload(EventFileInfo, PayloadSize) != ACK) {
            abort();
            break;
        }
        buildPacket(SOH, 0);
        sendOutBuffer();
        clearCounters();
        blockNumber = 0;
        stage = StageFirstBlock;
        break;
    case CAN:
    case ABORT_UPPER:
    case ABORT_LOWER:
        cancel();
        break;
    default:
        // A receiver that is not yet listening gains nothing from a nudge.
        quietPoll();
        break;
    }
}

void Ymodem::transmitFirstBlock(LineCode code)
{
    switch (code) {
    case ACK:
        if (blockNumber == 0) {
            prepareFirstBlock();
            break;
        }
        if (firstBlockSent) {
            // This ACK answers block 1, sent on a nudge or a NAK before any
            // C came. Asking the host again would send the file's second
            // block as number 1, and the first would be lost.
            stage = StageData;
            transmitData(code);
            break;
        }
        // Nothing since the header's ACK has gone out that this one could
        // answer: a stray byte.
        if (quietPoll())
            resendInFirstBlock();
        break;
    case CRC_REQUEST:
        // Either the header's ACK was lost and the receiver still asks for
        // the header, or it asks for block 1; either way this C costs a
        // fault, then moves on as far as blockNumber says.
        if (fault()) {
            stage = TransferStage(stage + blockNumber);
            clearCounters();
            sendOutBuffer();
        }
        break;
    case NAK:
        if (fault())
            resendInFirstBlock();
        break;
    case CAN:
    case ABORT_UPPER:
    case ABORT_LOWER:
        cancel();
        break;
    default:
        if (quietPoll())
            resendInFirstBlock();
        break;
    }
}

void Ymodem::resendInFirstBlock()
{
    sendOutBuffer();
    firstBlockSent = blockNumber == StepToData;
}

// Block 1 (or an empty file's EOT) waits for the receiver's C after the
// header's ACK, so it is only built here and goes out when that C comes.
void Ymodem::prepareFirstBlock()
{
    switch (requestPayload(EventBlock, PayloadSize1K)) {
    case ACK:
        buildPacket(outLength > PayloadSize ? STX : SOH, 1);
        clearCounters();
        blockNumber = StepToData;
        firstBlockSent = false;
        break;
    case EOT:
        // An empty file: its EOT waits for the same C as block 1 would. Sent
        // at once, it would be followed by a second one on that C, and a
        // receiver that takes an EOT for real only after a quiet moment
        // (lrzsz) would see line noise and never close the file.
        outBuffer[0] = EOT;
        outLength = 1;
        clearCounters();
        blockNumber = StepToEndOfFile;
        break;
    default:
        abort();
        break;
    }
}

void Ymodem::transmitData(LineCode code)
{
    switch (code) {
    case ACK:
        switch (requestPayload(EventBlock, PayloadSize1K)) {
        case ACK:
            ++blockNumber;
            buildPacket(outLength > PayloadSize ? STX : SOH, blockNumber);
            sendOutBuffer();
            clearCounters();
            break;
        case EOT:
            sendCode(EOT);
            clearCounters();
            blockNumber = 0;
            stage = StageEndOfFile;
            break;
        default:
            abort();
            break;
        }
        break;
    case NAK:
        if (fault())
            sendOutBuffer();
        break;
    case CAN:
    case ABORT_UPPER:
    case ABORT_LOWER:
        cancel();
        break;
    default:
        if (quietPoll())
            sendOutBuffer();
        break;
    }
}

void Ymodem::transmitEndOfFile(LineCode code)
{
    switch (code) {
    case NAK:
        // The receiver NAKs the first EOT by design, to make sure the end
        // of file was no line noise; that is no fault.
        clearCounters();
        blockNumber = 0;
        sendCode(EOT);
        break;
    case CRC_REQUEST:
        // The closing block: a header block that names no file.
        std::memset(outBuffer + PayloadOffset, 0, PayloadSize);
        outLength = PayloadSize;
        buildPacket(SOH, 0);
        sendOutBuffer();
        clearCounters();
        blockNumber = 0;
        stage = StageClosing;
        break;
    case CAN:
    case ABORT_UPPER:
    case ABORT_LOWER:
        cancel();
        break;
    default:
        if (quietPoll())
            sendOutBuffer();
        break;
    }
}

void Ymodem::transmitClosing(LineCode code)
{
    switch (code) {
    case ACK:
        reset();
        callback(EventDone, nullptr, nullptr);
        break;
    case NAK:
    case CRC_REQUEST:
        if (fault())
            sendOutBuffer();
        break;
    case CAN:
    case ABORT_UPPER:
    case ABORT_LOWER:
        cancel();
        break;
    default:
        if (quietPoll())
            sendOutBuffer();
        break;
    }
}

void Ymodem::receiveIdle()
{
    clearCounters();
    blockNumber = 0;
    stage = StageHandshake;
    sendCode(CRC_REQUEST);
}

void Ymodem::receiveHandshake(LineCode code)
{
    switch (code) {
    case SOH:
        if (isValidPacket(code, 0)) {
            uint32_t length = PayloadSize;
            if (callback(EventFileInfo, inBuffer + PayloadOffset, &length) != ACK) {
                abort();
                break;
            }
            clearCounters();
            blockNumber = 0;
            sendAckAndCrcRequest();
            stage = StageFirstBlock;
        } else if (fault()) {
            rejectPacket();
        }
        break;
    case CAN:
    case ABORT_UPPER:
    case ABORT_LOWER:
        cancel();
        break;
    default:
        receiveOther(code);
        break;
    }
}

void Ymodem::receiveFirstBlock(LineCode code)
{
    switch (code) {
    case SOH:
    case STX:
        if (isValidPacket(code, 1)) {
            acceptBlock(code, 1);
        } else if (code == SOH && isValidPacket(code, 0)) {
            // The header again: our ACK was lost, so the sender needs it
            // and the C once more; the host already has the header.
            if (fault())
                sendAckAndCrcRequest();
        } else if (fault()) {
            rejectPacket();
        }
        break;
    case EOT:
        clearCounters();
        blockNumber = 0;
        sendCode(NAK);
        stage = StageEndOfFile;
        break;
    case CAN:
    case ABORT_UPPER:
    case ABORT_LOWER:
        cancel();
        break;
    default:
        receiveOther(code);
        break;
    }
}

void Ymodem::receiveData(LineCode code)
{
    switch (code) {
    case SOH:
    case STX: {
        const uint8_t next = uint8_t(blockNumber + 1);
        if (isValidPacket(code, next)) {
            acceptBlock(code, next);
        } else if (isValidPacket(code, blockNumber)) {
            // The block we accepted last, sent again because its ACK was
            // lost: acknowledge it once more but keep it from the host.
            if (fault())
                sendCode(ACK);
        } else if (fault()) {
            rejectPacket();
        }
        break;
    }
    case EOT:
        // Answered with NAK: only a second EOT proves the end was no noise.
        // Should the next block come instead, blockNumber still names it.
        clearCounters();
        sendCode(NAK);
        stage = StageEndOfFile;
        break;
    case CAN:
    case ABORT_UPPER:
    case ABORT_LOWER:
        cancel();
        break;
    default:
        receiveOther(code);
        break;
    }
}

void Ymodem::receiveEndOfFile(LineCode code)
{
    switch (code) {
    case SOH:
    case STX: {
        // The first EOT was noise after all: the sender goes on with the file.
        const uint8_t next = uint8_t(blockNumber + 1);
        if (isValidPacket(code, next)) {
            acceptBlock(code, next);
        } else if (code == SOH && isValidPacket(code, 0) && inBuffer[PayloadOffset] == 0) {
            // The closing block, which comes only after the sender's EOT had
            // its answer: the end of file was real, and our NAK reached the
            // sender damaged into a C.
            acceptClosingBlock();
        } else {
            receiveOther(code);
        }
        break;
    }
    case EOT:
        clearCounters();
        blockNumber = 0;
        sendAckAndCrcRequest();
        stage = StageClosing;
        break;
    case CAN:
    case ABORT_UPPER:
    case ABORT_LOWER:
        cancel();
        break;
    default:
        receiveOther(code);
        break;
    }
}

void Ymodem::receiveClosing(LineCode code)
{
    switch (code) {
    case SOH:
        // One file per transfer: any block 0 here ends it, named or not.
        if (isValidPacket(code, 0))
            acceptClosingBlock();
        else if (fault())
            rejectPacket();
        break;
    case EOT:
        // A sender that repeats its EOT writes it alone and waits. One with
        // bytes right behind it is the damaged head of the closing block:
        // an ACK for it would be taken as the closing block's own.
        if (fault() && !startPurge())
            sendAckAndCrcRequest();
        break;
    case CAN:
    case ABORT_UPPER:
    case ABORT_LOWER:
        cancel();
        break;
    default:
        receiveOther(code);
        break;
    }
}

void Ymodem::acceptClosingBlock()
{
    reset();
    sendCode(ACK);
    callback(EventDone, nullptr, nullptr);
}

void Ymodem::acceptBlock(LineCode kind, uint8_t number)
{
    uint32_t length = payloadSize(kind);
    const LineCode answer = callback(EventBlock, inBuffer + PayloadOffset, &length);
    quietPolls = 0;
    faultCount = 0;
    if (answer != ACK) {
        abort();
        return;
    }
    blockNumber = number;
    pendingPacket = NO_CODE;
    sendCode(ACK);
    stage = StageData;
}

// A byte that names no code for the stage: noise when nothing follows it,
// else the head of a damaged packet, whose rest is read away.
void Ymodem::receiveOther(LineCode code)
{
    const bool stray = code != NO_CODE && code != SOH && code != STX;
    if (stray && startPurge()) {
        quietPoll();
        return;
    }
    if (quietPoll())
        sendCode(receiverNudge());
}

void Ymodem::rejectPacket()
{
    if (!startPurge())
        sendCode(receiverNudge());
}

// A damaged packet may leave bytes behind (a byte too many, its rest behind
// a damaged first byte, the start of the next one). They must not be read as
// control bytes, where a payload's CAN, A or a would cancel: they are read
// away before the packet is asked for again. Tells whether any were there.
bool Ymodem::startPurge()
{
    purging = readLine(inBuffer, PacketSize1K) != 0;
    return purging;
}

// Reads the line, a packet's worth per poll, until a poll finds it quiet,
// and only then asks once for the packet: the sender hears one answer, not
// one per piece of what the line still brought. These are quiet polls, so a
// line that never falls silent still ends the transfer.
void Ymodem::purgeLine()
{
    if (readLine(inBuffer, PacketSize1K) != 0 && !quietPoll())
        return;
    purging = false;
    sendCode(receiverNudge());
}

Ymodem::LineCode Ymodem::receiverNudge() const
{
    return stage == StageHandshake ? CRC_REQUEST : NAK;
}

// The sender acts on control codes alone, so a receiver's SOH or STX is a
// stray byte too and never swallows the codes behind it.
Ymodem::LineCode Ymodem::readCode()
{
    return readLine(inBuffer, 1) == 0 ? NO_CODE : LineCode(inBuffer[0]);
}

Ymodem::LineCode Ymodem::fetchCode()
{
    switch (pendingPacket) {
    case NO_CODE:
        break;
    case SOH:
    case STX:
        return collectPacket();
    default:
        pendingPacket = NO_CODE;
        return NO_CODE;
    }
    const LineCode code = readCode();
    if (code != SOH && code != STX)
        return code;
    pendingPacket = code;
    inLength = 1;
    return collectPacket();
}

// Reads no further than the end of the packet: what follows it belongs to
// later polls.
Ymodem::LineCode Ymodem::collectPacket()
{
    const uint32_t missing = packetSize(pendingPacket) - inLength;
    const uint32_t count = readLine(inBuffer + inLength, missing);
    if (count < missing) {
        inLength += count;
        return NO_CODE;
    }
    const LineCode kind = pendingPacket;
    pendingPacket = NO_CODE;
    return kind;
}

// A host that passes on a failed serial read's -1 as a count hands back more
// than was asked for; nothing usable arrived then.
uint32_t Ymodem::readLine(uint8_t *buffer, uint32_t length)
{
    const uint32_t count = read(buffer, length);
    return count > length ? 0 : count;
}

void Ymodem::sendOutBuffer() { write(outBuffer, outLength); }

void Ymodem::sendCode(LineCode code)
{
    outBuffer[0] = uint8_t(code);
    outLength = 1;
    write(outBuffer, outLength);
}

// One write, so the sender finds its C right behind the ACK.
void Ymodem::sendAckAndCrcRequest()
{
    outBuffer[0] = ACK;
    outBuffer[1] = CRC_REQUEST;
    outLength = 2;
    write(outBuffer, outLength);
}

void Ymodem::sendCancel()
{
    std::memset(outBuffer, CAN, CancelCount);
    outLength = CancelCount;
    write(outBuffer, outLength);
}

bool Ymodem::quietPoll()
{
    ++quietPolls;
    // Counted in 64 bits so that no tickDivisor makes a tick of zero polls.
    const uint64_t pollsPerTick = uint64_t(tickDivisor) + 1;
    if (quietPolls / pollsPerTick > tickLimit) {
        giveUp(stage == StageHandshake ? EventTimeout : EventError);
        return false;
    }
    if (quietPolls % pollsPerTick != 0)
        return false;
    // A packet still incomplete at the nudge lost bytes on the way. The
    // nudge asks for it again, and the new copy must not complete the old.
    pendingPacket = NO_CODE;
    return true;
}

bool Ymodem::fault()
{
    ++faultCount;
    if (faultCount > errorLimit) {
        giveUp(EventError);
        return false;
    }
    return true;
}

void Ymodem::clearCounters()
{
    quietPolls = 0;
    faultCount = 0;
    pendingPacket = NO_CODE;
    purging = false;
}

void Ymodem::reset()
{
    clearCounters();
    blockNumber = 0;
    stage = StageIdle;
}

void Ymodem::giveUp(Event event)
{
    reset();
    sendCancel();
    callback(event, nullptr, nullptr);
}

void Ymodem::cancel()
{
    reset();
    callback(EventCancelled, nullptr, nullptr);
}

Ymodem::LineCode Ymodem::requestPayload(Event event, uint32_t size)
{
    std::memset(outBuffer + PayloadOffset, 0, size);
    return callback(event, outBuffer + PayloadOffset, &outLength);
}

// The payload is already in place; the length is the one the host stored.
void Ymodem::buildPacket(LineCode header, uint8_t number)
{
    const uint32_t size = outLength;
    const uint16_t crc = blockCrc(outBuffer + PayloadOffset, size);
    outBuffer[0] = uint8_t(header);
    outBuffer[1] = number;
    outBuffer[2] = uint8_t(0xFF - number);
    outBuffer[PayloadOffset + size] = uint8_t(crc >> 8);
    outBuffer[PayloadOffset + size + 1] = uint8_t(crc);
    outLength = size + PacketOverhead;
}

bool Ymodem::isValidPacket(LineCode kind, uint8_t number) const
{
    const uint32_t size = payloadSize(kind);
    const uint8_t *payload = inBuffer + PayloadOffset;
    const uint16_t crc = uint16_t(payload[size] << 8 | payload[size + 1]);
    return inBuffer[1] == number && inBuffer[2] == uint8_t(0xFF - number)
        && crc == blockCrc(payload, size);
}

uint32_t Ymodem::payloadSize(LineCode kind) { return kind == STX ? PayloadSize1K : PayloadSize; }

uint32_t Ymodem::packetSize(LineCode kind) { return kind == STX ? PacketSize1K : PacketSize; }

uint16_t Ymodem::blockCrc(const uint8_t *data, uint32_t length)
{
    uint16_t crc = 0;
    for (uint32_t i = 0; i < length; ++i) {
        crc ^= uint16_t(data[i] << 8);
        // Bit 15 turned into a mask of the polynomial instead of a branch,
        // which file data would mispredict on every other bit.
        for (int bit = 0; bit < 8; ++bit)
            crc = uint16_t((crc << 1) ^ (CrcPolynomial & -(crc >> 15)));
    }
    return crc;
}
