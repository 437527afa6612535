#include "fuzzline.h"

namespace
{

// All a receiver ever writes: C, ACK, NAK, ACK and C, or the cancel.
bool isAnswer(const uint8_t *bytes, uint32_t length)
{
    switch (length) {
    case 1:
        return bytes[0] == Ymodem::CRC_REQUEST || bytes[0] == Ymodem::ACK
            || bytes[0] == Ymodem::NAK;
    case 2:
        return bytes[0] == Ymodem::ACK && bytes[1] == Ymodem::CRC_REQUEST;
    case Ymodem::CancelCount:
        return std::all_of(bytes, bytes + length, [](uint8_t b) { return b == Ymodem::CAN; });
    default:
        return false;
    }
}

// Takes every header and every block, and holds the engine to its contract.
class Receiver : public Ymodem
{
public:
    explicit Receiver(FuzzLine &line)
        : Ymodem(TickDivisor, TickLimit, ErrorLimit)
        , line(line)
    {
    }

    bool ended = false;

private:
    LineCode callback(Event event, uint8_t *buffer, uint32_t *length) override
    {
        switch (event) {
        case EventFileInfo:
            require(*length == PayloadSize);
            break;
        case EventBlock:
            require(*length == PayloadSize || *length == PayloadSize1K);
            break;
        default:
            require(!buffer && !length);
            ended = true;
            return ACK;
        }
        // Every byte of the payload is read, as a host that stores it does.
        std::memcpy(stored, buffer, *length);
        return ACK;
    }

    uint32_t read(uint8_t *buffer, uint32_t length) override
    {
        require(length >= 1 && length <= PacketSize1K);
        return line.take(buffer, length);
    }

    uint32_t write(uint8_t *buffer, uint32_t length) override
    {
        require(isAnswer(buffer, length));
        return length;
    }

    FuzzLine &line;
    uint8_t stored[PayloadSize1K];
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzLine line(data, size);
    Receiver receiver(line);
    pollToTheEnd(line, receiver, &Ymodem::receive);
    return 0;
}
