#ifndef PACEDLINE_H
#define PACEDLINE_H

#include <QByteArray>
#include <QObject>
#include <QQueue>

class QSocketNotifier;

// Nanoseconds on the monotonic clock, the time base of PacedLine.
qint64 monotonicNs();

// One direction of a serial line at a set speed. What is sent comes out
// whole, one write at a time, once the line has carried its last byte; a
// write that finds the line busy waits behind the bytes still on it, as in a
// UART's transmit buffer. A kernel timer wakes the line just before the
// moment, which it then waits for on the clock, because a stop-and-wait
// protocol pays any lateness once per packet.
class PacedLine : public QObject
{
    Q_OBJECT

public:
    // Bytes per second; 0 passes everything on at once.
    explicit PacedLine(int bytesPerSecond);
    ~PacedLine() override;
    PacedLine(const PacedLine &) = delete;
    PacedLine &operator=(const PacedLine &) = delete;

    // Returns when the last byte will be through, in monotonicNs().
    qint64 send(const QByteArray &bytes);
    // How long the line takes to carry count bytes.
    qint64 duration(int count) const;

signals:
    void arrived(const QByteArray &bytes);

private:
    struct Write {
        QByteArray bytes;
        qint64 doneAt;
    };

    void deliver();
    void arm();

    const int bytesPerSecond;
    QQueue<Write> pending;
    qint64 lineFreeAt = 0;
    int timer = -1;
    QSocketNotifier *expiry = nullptr;
};

#endif
