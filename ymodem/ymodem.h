#ifndef YMODEM_H
#define YMODEM_H

#include <cstdint>

// One single-file YMODEM transfer (CRC-16, 128- and 1024-byte blocks) as a
// polled state machine, as sender or receiver. The engine does no I/O of its
// own and reads no clock: the host derives from it, supplies read/write/
// callback, and calls transmit() or receive() once per poll. All time limits
// are counted in polls.
class Ymodem
{
public:
    enum LineCode : uint32_t {
        NO_CODE = 0,
        SOH = 0x01,
        STX = 0x02,
        EOT = 0x04,
        ACK = 0x06,
        NAK = 0x15,
        CAN = 0x18,
        ABORT_UPPER = 0x41,
        CRC_REQUEST = 0x43,
        ABORT_LOWER = 0x61
    };

    enum Event : uint32_t {
        EventFileInfo = 0,
        EventBlock = 1,
        EventDone = 2,
        EventCancelled = 3,
        EventTimeout = 4,
        EventError = 5
    };

    enum TransferStage : uint32_t {
        StageIdle = 0,
        StageHandshake = 1,
        StageFirstBlock = 2,
        StageData = 3,
        StageEndOfFile = 4,
        StageClosing = 5
    };

    // The line's packet format, for every program that speaks or plays it.
    // The payload of an SOH packet: header block, closing block, short last block.
    static constexpr uint32_t PayloadSize = 128;
    // The payload of an STX packet, the block size the boot monitor is fed in.
    static constexpr uint32_t PayloadSize1K = 1024;
    // Header byte, block number and complement come before the payload.
    static constexpr uint32_t PayloadOffset = 3;
    // The three bytes before the payload and the two CRC bytes after it.
    static constexpr uint32_t PacketOverhead = 5;
    static constexpr uint32_t PacketSize = PayloadSize + PacketOverhead;
    // Largest packet: header byte, number, complement, 1024 payload, CRC.
    static constexpr uint32_t PacketSize1K = PayloadSize1K + PacketOverhead;
    // Peers such as lrzsz stop only on two CANs in a row, so that one noise
    // byte cannot end a transfer; five still leave two after a noisy line
    // has eaten some.
    static constexpr uint32_t CancelCount = 5;

    Ymodem(uint32_t tickDivisor, uint32_t tickLimit, uint32_t errorLimit);

    void setTickDivisor(uint32_t value);
    uint32_t getTickDivisor() const;
    void setTickLimit(uint32_t value);
    uint32_t getTickLimit() const;
    void setErrorLimit(uint32_t value);
    uint32_t getErrorLimit() const;

    // One poll of the sender or the receiver; a host uses one direction only.
    void transmit();
    void receive();
    // Ends whatever is under way: back to StageIdle, five CAN on the line,
    // no event. Also writes the CANs when nothing is under way.
    void abort();

protected:
    // Never deleted through the engine; the host owns its own lifetime.
    ~Ymodem() = default;

    // Exchanges file data and outcomes with the host.
    //  EventFileInfo, EventBlock: buffer is a packet payload. The sender
    //   host fills it and stores the payload length (128 or 1024) in
    //   *length; the receiver host reads it, *length holding its size.
    //   ACK goes on; EOT (sender's EventBlock only) says the file is
    //   finished; anything else refuses: five CAN, no further event.
    //  EventDone, EventCancelled, EventTimeout, EventError: buffer and
    //   length are null, the engine is already back in StageIdle and the
    //   answer is ignored. The host stops polling after one of these.
    // The host must not call transmit(), receive() or abort() from here.
    virtual LineCode callback(Event event, uint8_t *buffer, uint32_t *length) = 0;
    // Copies up to length bytes that have already arrived, without waiting.
    // Returns the count copied; 0 when nothing waits. A count above length
    // is taken as a failed read, that is as nothing read.
    virtual uint32_t read(uint8_t *buffer, uint32_t length) = 0;
    // Puts length bytes on the line; the result is not looked at.
    virtual uint32_t write(uint8_t *buffer, uint32_t length) = 0;

    static uint16_t blockCrc(const uint8_t *data, uint32_t length);

private:
    // Until the sender sees the letter C that asks for data block 1, it
    // keeps in blockNumber how far that C moves it on: not at all while the
    // header is unanswered, to StageData once block 1 is prepared, to
    // StageEndOfFile once an empty file's EOT is prepared.
    static constexpr uint8_t StepToData = StageData - StageFirstBlock;
    static constexpr uint8_t StepToEndOfFile = StageEndOfFile - StageFirstBlock;

    void transmitIdle();
    void transmitHandshake(LineCode code);
    void transmitFirstBlock(LineCode code);
    void transmitData(LineCode code);
    void transmitEndOfFile(LineCode code);
    void transmitClosing(LineCode code);
    void prepareFirstBlock();
    void resendInFirstBlock();

    void receiveIdle();
    void receiveHandshake(LineCode code);
    void receiveFirstBlock(LineCode code);
    void receiveData(LineCode code);
    void receiveEndOfFile(LineCode code);
    void receiveClosing(LineCode code);
    void acceptBlock(LineCode kind, uint8_t number);
    void acceptClosingBlock();
    void receiveOther(LineCode code);
    void rejectPacket();
    bool startPurge();
    void purgeLine();
    LineCode receiverNudge() const;

    LineCode readCode();
    LineCode fetchCode();
    LineCode collectPacket();
    uint32_t readLine(uint8_t *buffer, uint32_t length);
    void sendOutBuffer();
    void sendCode(LineCode code);
    void sendAckAndCrcRequest();
    void sendCancel();

    // fault() tells whether the transfer goes on, quietPoll() whether the
    // stage's nudge is due (never once it has given up).
    bool quietPoll();
    bool fault();
    void clearCounters();
    void reset();
    void giveUp(Event event);
    void cancel();

    LineCode requestPayload(Event event, uint32_t size);
    void buildPacket(LineCode header, uint8_t number);
    bool isValidPacket(LineCode kind, uint8_t number) const;
    static uint32_t payloadSize(LineCode kind);
    static uint32_t packetSize(LineCode kind);

    uint32_t tickDivisor;
    uint32_t tickLimit;
    uint32_t errorLimit;
    uint32_t quietPolls;
    uint32_t faultCount;
    uint8_t blockNumber;
    LineCode pendingPacket;
    // The receiver is reading away the rest of a damaged packet.
    bool purging;
    // The sender's block 1, prepared in StageFirstBlock, went out on a NAK
    // or a nudge, so an ACK can be its answer.
    bool firstBlockSent;
    TransferStage stage;
    uint8_t inBuffer[PacketSize1K];
    uint8_t outBuffer[PacketSize1K];
    uint32_t inLength;
    uint32_t outLength;
};

#endif
