#ifndef FUZZLINE_H
#define FUZZLINE_H

#include "ymodem.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

// Small limits, so that short inputs reach every nudge and every give-up: a
// nudge every 4 quiet polls, giving up at the 12th, and at the 5th fault.
constexpr uint32_t TickDivisor = 3;
constexpr uint32_t TickLimit = 2;
constexpr uint32_t ErrorLimit = 4;
// Once the line falls silent every stage gives up within this many polls:
// the poll that opens a transfer, the quiet ones, and the receiver's poll
// that answers a damaged packet after reading its rest away.
constexpr int SilentPolls = 1 + (TickDivisor + 1) * (TickLimit + 1) + 1;

// The line as the engine's fuzz targets see it: the input is what arrives,
// cut into the pieces a serial port delivers between two polls. Each piece
// is a length byte followed by that many bytes (fewer at the end of the
// input); a length of 0 is a poll in which nothing arrives.
class FuzzLine
{
public:
    FuzzLine(const uint8_t *data, size_t size)
        : next(data)
        , end(data + size)
    {
    }

    bool exhausted() const { return next == end; }
    // Bytes that have arrived and not been read yet.
    size_t unread() const { return arrived.size() - taken; }

    // What arrives before the next poll.
    void deliver()
    {
        if (next == end)
            return;
        const size_t wanted = *next++;
        const size_t length = std::min(wanted, size_t(end - next));
        arrived.insert(arrived.end(), next, next + length);
        next += length;
    }

    // The host's read: what has arrived, up to length bytes.
    uint32_t take(uint8_t *buffer, uint32_t length)
    {
        const size_t count = std::min<size_t>(length, arrived.size() - taken);
        if (count == 0)
            return 0;
        std::memcpy(buffer, arrived.data() + taken, count);
        taken += count;
        if (taken == arrived.size()) {
            arrived.clear();
            taken = 0;
        }
        return uint32_t(count);
    }

private:
    const uint8_t *next;
    const uint8_t *end;
    std::vector<uint8_t> arrived;
    size_t taken = 0;
};

// A broken promise of the engine: stops the run where a sanitizer would, so
// libFuzzer keeps the input.
inline void require(bool promise)
{
    if (!promise)
        std::abort();
}

// Polls the host while the input lasts, then until all that arrived has
// been read (every poll but one that opens a transfer reads a byte at
// least), then through a silence: the transfer must have ended by then.
template <typename Host> void pollToTheEnd(FuzzLine &line, Host &host, void (Ymodem::*poll)())
{
    while (!line.exhausted()) {
        line.deliver();
        (host.*poll)();
    }
    const size_t left = line.unread();
    for (size_t polls = 0; polls <= 2 * left && line.unread() > 0; ++polls)
        (host.*poll)();
    require(line.unread() == 0);
    host.ended = false;
    for (int polls = 0; polls < SilentPolls && !host.ended; ++polls)
        (host.*poll)();
    require(host.ended);
}

#endif
