#include "fuzzline.h"

#include <string>

namespace
{

// The first input byte times this is the file's size: up to three 1024-byte
// blocks and a 128-byte one.
constexpr size_t SizeStep = 13;

// Sends a small file as the tool's transmitter cuts it, and checks every
// packet the engine writes against it: blocks in order, none skipped, each
// with the file's bytes and a right CRC.
class Sender : public Ymodem
{
public:
    Sender(FuzzLine &line, std::vector<uint8_t> file)
        : Ymodem(TickDivisor, TickLimit, ErrorLimit)
        , line(line)
        , file(std::move(file))
    {
    }

    bool ended = false;

private:
    LineCode callback(Event event, uint8_t *buffer, uint32_t *length) override
    {
        switch (event) {
        case EventFileInfo: {
            require(std::all_of(buffer, buffer + PayloadSize, [](uint8_t b) { return b == 0; }));
            header = std::string("fw.bin") + '\0' + std::to_string(file.size());
            std::memcpy(buffer, header.c_str(), header.size() + 1);
            *length = PayloadSize;
            position = 0;
            blocksWritten = 0;
            fileDone = false;
            return ACK;
        }
        case EventBlock: {
            require(!fileDone);
            require(std::all_of(buffer, buffer + PayloadSize1K, [](uint8_t b) { return b == 0; }));
            if (position >= file.size()) {
                fileDone = true;
                return EOT;
            }
            const size_t stored
                = file.size() - position > PayloadSize ? PayloadSize1K : PayloadSize;
            const size_t count = std::min(stored, file.size() - position);
            std::memcpy(buffer, file.data() + position, count);
            position += count;
            *length = uint32_t(stored);
            return ACK;
        }
        default:
            require(!buffer && !length);
            ended = true;
            return ACK;
        }
    }

    uint32_t read(uint8_t *buffer, uint32_t length) override
    {
        require(length >= 1 && length <= PacketSize1K);
        return line.take(buffer, length);
    }

    uint32_t write(uint8_t *buffer, uint32_t length) override
    {
        if (length == 1) {
            require(buffer[0] == EOT);
        } else if (length == CancelCount) {
            require(std::all_of(buffer, buffer + length, [](uint8_t b) { return b == CAN; }));
        } else {
            require(length == PacketSize || length == PacketSize1K);
            checkPacket(buffer, length - PacketOverhead);
        }
        return length;
    }

    void checkPacket(const uint8_t *packet, uint32_t size)
    {
        require(packet[0] == (size == PayloadSize ? SOH : STX));
        require(packet[2] == uint8_t(0xFF - packet[1]));
        const uint8_t *payload = packet + PayloadOffset;
        require(blockCrc(payload, size) == (payload[size] << 8 | payload[size + 1]));
        if (packet[1] == 0 && size == PayloadSize && fileDone) {
            require(std::all_of(payload, payload + size, [](uint8_t b) { return b == 0; }));
            return;
        }
        if (packet[1] == 0 && size == PayloadSize && blocksWritten == 0) {
            require(std::memcmp(payload, header.c_str(), header.size() + 1) == 0);
            return;
        }
        if (packet[1] == uint8_t(blocksWritten))
            return;
        // A new block: the one after the last written, never one further.
        require(packet[1] == uint8_t(blocksWritten + 1));
        const size_t start = size_t(blocksWritten) * PayloadSize1K;
        require(start < file.size());
        const size_t count = std::min<size_t>(size, file.size() - start);
        require(std::memcmp(payload, file.data() + start, count) == 0);
        require(std::all_of(payload + count, payload + size, [](uint8_t b) { return b == 0; }));
        ++blocksWritten;
    }

    FuzzLine &line;
    std::vector<uint8_t> file;
    std::string header;
    size_t position = 0;
    // Blocks of the file written so far in this transfer.
    uint32_t blocksWritten = 0;
    bool fileDone = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    std::vector<uint8_t> file(data[0] * SizeStep);
    for (size_t i = 0; i < file.size(); ++i)
        file[i] = uint8_t(i * 7 + 1);
    FuzzLine line(data + 1, size - 1);
    Sender sender(line, std::move(file));
    pollToTheEnd(line, sender, &Ymodem::transmit);
    return 0;
}
