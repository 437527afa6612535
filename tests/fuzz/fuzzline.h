#ifndef FUZZLINE_H
#define FUZZLINE_H

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

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

#endif
