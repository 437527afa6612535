#ifndef ENDPOINTLIMITS_H
#define ENDPOINTLIMITS_H

#include <cstdint>

// The pace and patience of both file endpoints. The engine counts time in
// polls, so its limits mean seconds only together with the poll interval.
namespace EndpointLimits
{

// One engine step per poll; at 10 ms a 1024-byte block goes out at most
// every 10 ms, which is what a boot monitor's receiver keeps up with.
constexpr int PollInterval = 10;
// Leaves time for the last bytes (ACK or CAN) to leave the port before it
// is closed and the outcome is reported.
constexpr int FinishDelay = 100;

// How long a stop waits for the receiver's answer to the packet in flight
// beyond the packet's own time on the line: the receiver's turn.
constexpr int AnswerMarginMs = 100;

// About 5 s per tick, 30 s of silence per stage, 1000 faults.
constexpr uint32_t TickDivisor = 499;
constexpr uint32_t TickLimit = 5;
constexpr uint32_t ErrorLimit = 999;

// How long a stage may stay silent before the engine gives up.
constexpr int SilenceLimitMs = int((TickLimit + 1) * (TickDivisor + 1)) * PollInterval;

} // namespace EndpointLimits

#endif
