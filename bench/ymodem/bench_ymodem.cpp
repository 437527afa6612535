#include "ymodem.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace
{

constexpr uint32_t FileSize = 1024 * 1024;
constexpr uint32_t BlockSize = 1024;

// One direction of the line. It drains completely in every clean exchange,
// so its storage is reused and the loop measures the engines alone.
class Pipe
{
public:
    void put(const uint8_t *data, uint32_t length)
    {
        bytes.insert(bytes.end(), data, data + length);
    }

    uint32_t take(uint8_t *buffer, uint32_t length)
    {
        const size_t count = std::min<size_t>(length, bytes.size() - readPosition);
        std::memcpy(buffer, bytes.data() + readPosition, count);
        readPosition += count;
        if (readPosition == bytes.size()) {
            bytes.clear();
            readPosition = 0;
        }
        return uint32_t(count);
    }

private:
    std::vector<uint8_t> bytes;
    size_t readPosition = 0;
};

class Sender : public Ymodem
{
public:
    Sender(const std::vector<uint8_t> &file, Pipe &in, Pipe &out)
        : Ymodem(499, 5, 999)
        , file(file)
        , in(in)
        , out(out)
    {
    }

    void rewind()
    {
        position = 0;
        finished = false;
    }

    bool finished = false;

private:
    LineCode callback(Event event, uint8_t *buffer, uint32_t *length) override
    {
        if (event == EventFileInfo) {
            static const char header[] = "bench.bin\0"
                                         "1048576";
            std::memcpy(buffer, header, sizeof header);
            *length = 128;
            return ACK;
        }
        if (event == EventBlock) {
            if (position >= file.size())
                return EOT;
            const size_t remaining = file.size() - position;
            const uint32_t stored = remaining > 128 ? BlockSize : 128;
            const size_t count = std::min<size_t>(remaining, stored);
            std::memcpy(buffer, file.data() + position, count);
            position += count;
            *length = stored;
            return ACK;
        }
        finished = true;
        return ACK;
    }
    uint32_t read(uint8_t *buffer, uint32_t length) override { return in.take(buffer, length); }
    uint32_t write(uint8_t *buffer, uint32_t length) override
    {
        out.put(buffer, length);
        return length;
    }

    const std::vector<uint8_t> &file;
    Pipe &in;
    Pipe &out;
    size_t position = 0;
};

class Receiver : public Ymodem
{
public:
    Receiver(Pipe &in, Pipe &out)
        : Ymodem(499, 5, 999)
        , in(in)
        , out(out)
    {
        data.reserve(FileSize + BlockSize);
    }

    void rewind()
    {
        data.clear();
        finished = false;
    }

    std::vector<uint8_t> data;
    bool finished = false;

private:
    LineCode callback(Event event, uint8_t *buffer, uint32_t *length) override
    {
        if (event == EventBlock)
            data.insert(data.end(), buffer, buffer + *length);
        else if (event != EventFileInfo)
            finished = true;
        return ACK;
    }
    uint32_t read(uint8_t *buffer, uint32_t length) override { return in.take(buffer, length); }
    uint32_t write(uint8_t *buffer, uint32_t length) override
    {
        out.put(buffer, length);
        return length;
    }

    Pipe &in;
    Pipe &out;
};

// Sender and receiver together over an in-memory line: a 1 MiB file, 1024
// blocks of 1024 bytes, each framed, CRC-checked twice and acknowledged.
void loopback1MiB(benchmark::State &state)
{
    std::vector<uint8_t> file(FileSize);
    std::mt19937 rng(1);
    std::generate(file.begin(), file.end(), [&rng] { return uint8_t(rng()); });
    Pipe toReceiver;
    Pipe toSender;
    Sender sender(file, toSender, toReceiver);
    Receiver receiver(toReceiver, toSender);

    for (auto _ : state) {
        sender.rewind();
        receiver.rewind();
        while (!sender.finished || !receiver.finished) {
            if (!sender.finished)
                sender.transmit();
            if (!receiver.finished)
                receiver.receive();
        }
        if (!std::equal(file.begin(), file.end(), receiver.data.begin())) {
            state.SkipWithError("the file arrived changed");
            break;
        }
    }
    state.counters["cpu_per_block"] = benchmark::Counter(FileSize / BlockSize,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(loopback1MiB)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
