#include "pacedline.h"

#include <QSocketNotifier>

#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

namespace
{

// A process wakes tens to hundreds of microseconds after its timer on a busy
// machine, more than a byte's time at high speeds: the line wakes this much
// early and waits out the rest on the clock.
constexpr qint64 WakeEarlyNs = 200000;

} // namespace

qint64 monotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

PacedLine::PacedLine(int bytesPerSecond)
    : bytesPerSecond(bytesPerSecond)
{
    if (bytesPerSecond == 0)
        return;
    timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    expiry = new QSocketNotifier(timer, QSocketNotifier::Read, this);
    connect(expiry, &QSocketNotifier::activated, this, &PacedLine::deliver);
}

PacedLine::~PacedLine()
{
    delete expiry;
    if (timer >= 0)
        close(timer);
}

qint64 PacedLine::send(const QByteArray &bytes)
{
    const qint64 now = monotonicNs();
    if (bytesPerSecond == 0) {
        emit arrived(bytes);
        return now;
    }
    lineFreeAt = qMax(now, lineFreeAt) + duration(bytes.size());
    pending.enqueue({ bytes, lineFreeAt });
    if (pending.size() == 1)
        arm();
    return lineFreeAt;
}

qint64 PacedLine::duration(int count) const
{
    return bytesPerSecond == 0 ? 0 : qint64(count) * 1000000000 / bytesPerSecond;
}

void PacedLine::deliver()
{
    quint64 expirations = 0;
    if (read(timer, &expirations, sizeof expirations) != sizeof expirations)
        return;
    qint64 now = monotonicNs();
    while (!pending.isEmpty() && now < pending.head().doneAt)
        now = monotonicNs();
    QByteArray through;
    while (!pending.isEmpty() && pending.head().doneAt <= now)
        through += pending.dequeue().bytes;
    arm();
    if (!through.isEmpty())
        emit arrived(through);
}

void PacedLine::arm()
{
    itimerspec when = {};
    if (!pending.isEmpty()) {
        const qint64 at = pending.head().doneAt - WakeEarlyNs;
        when.it_value.tv_sec = at / 1000000000;
        when.it_value.tv_nsec = at % 1000000000;
    }
    timerfd_settime(timer, TFD_TIMER_ABSTIME, &when, nullptr);
}
