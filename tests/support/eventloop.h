#ifndef EVENTLOOP_H
#define EVENTLOOP_H

#include <functional>

// Serves the event loop in slices of sliceMs until done() holds; false
// after timeoutMs. For the benches, which wait on child processes and
// windows without QTest's helpers.
bool serveUntil(const std::function<bool()> &done, int timeoutMs, int sliceMs);

#endif
