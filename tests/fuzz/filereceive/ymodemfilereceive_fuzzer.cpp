#include "pseudoterminal.h"
#include "ymodemfilereceive.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace
{

// The receiver's file side behind its real serial port: a pseudo-terminal
// whose master the fuzzer plays, the receiver's target folder inside a
// folder of its own, so that anything written beside it shows.
struct Bench {
    PseudoTerminal line;
    // A second handle on the receiver's side of the line, only to see how
    // much has arrived there and not yet been taken in by its port.
    int arrivals = -1;
    QTemporaryDir outer;
    QString folder;
};

Bench *bench = nullptr;

struct Crc : Ymodem {
    using Ymodem::blockCrc;
};

QByteArray frame(uint8_t number, QByteArray payload, bool large)
{
    const int size = int(large ? Ymodem::PayloadSize1K : Ymodem::PayloadSize);
    payload = payload.leftJustified(size, '\0', true);
    const uint16_t crc
        = Crc::blockCrc(reinterpret_cast<const uint8_t *>(payload.constData()), uint32_t(size));
    return char(large ? Ymodem::STX : Ymodem::SOH) + QByteArray(1, char(number))
        + char(0xFF - number) + payload + char(crc >> 8) + char(crc & 0xFF);
}

int queued()
{
    int count = 0;
    ioctl(bench->arrivals, FIONREAD, &count);
    return count;
}

void abortUnless(bool promise)
{
    if (!promise)
        std::abort();
}

// Puts bytes on the line and serves the event loop until the receiver's
// port has taken them all in, so that its next poll can read them. The pty
// hands bytes over in the background: first they must all have arrived.
void deliver(const QByteArray &bytes)
{
    abortUnless(bench->line.write(bytes));
    QElapsedTimer clock;
    clock.start();
    while (queued() < bytes.size() && clock.elapsed() < 1000)
        sched_yield();
    while (queued() > 0 && clock.elapsed() < 1000)
        QCoreApplication::processEvents();
    // A port that the receiver has closed takes nothing in.
    tcflush(bench->arrivals, TCIFLUSH);
    bench->line.readAvailable();
}

// Everything in the outer folder is the target folder, and everything in
// that is a plain file.
bool onlyInsideTarget()
{
    const QDir outer(bench->outer.path());
    const auto filter = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
    if (outer.entryList(filter) != QStringList { "target" })
        return false;
    const QFileInfoList entries = QDir(bench->folder).entryInfoList(filter);
    return std::all_of(entries.begin(), entries.end(),
        [](const QFileInfo &entry) { return entry.isFile() && !entry.isSymLink(); });
}

void emptyTarget()
{
    QDir target(bench->folder);
    const auto filter = QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
    for (const QString &name : target.entryList(filter))
        target.remove(name);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    new QCoreApplication(*argc, *argv);
    bench = new Bench;
    abortUnless(bench->line.isOpen() && bench->outer.isValid());
    bench->arrivals
        = open(bench->line.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    bench->folder = bench->outer.filePath("target");
    abortUnless(bench->arrivals >= 0 && QDir().mkdir(bench->folder));
    return 0;
}

// The input is a list of records, each sent as one piece and followed by two
// polls. The first byte of a record chooses:
//  0: a header block, its 128 bytes the next ones of the input;
//  1: a data block of 1024 bytes (bit 2 set) or 128, numbered as the next
//     one expected or (bit 3 set) by the next input byte, its payload the
//     following bytes of the input;
//  2: EOT;
//  3: raw bytes, as many as the next input byte says.
// Blocks shorter than the input leaves are filled up with zeros, and a
// header of zeros is a closing block.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *next = reinterpret_cast<const char *>(data);
    const char *const end = next + size;
    const auto take = [&](size_t count) {
        const size_t length = std::min(count, size_t(end - next));
        const QByteArray bytes(next, int(length));
        next += length;
        return bytes;
    };
    const auto takeByte = [&]() { return next == end ? uint8_t(0) : uint8_t(*next++); };

    {
        YmodemFileReceive receiver;
        receiver.setTargetFolder(bench->folder);
        receiver.selectPort(bench->line.slavePath());
        abortUnless(receiver.startTransfer());
        receiver.receive();
        uint8_t expected = 1;
        while (next != end) {
            const uint8_t kind = uint8_t(*next++);
            QByteArray bytes;
            switch (kind & 3) {
            case 0:
                bytes = frame(0, take(Ymodem::PayloadSize), false);
                break;
            case 1: {
                const bool large = kind & 4;
                const uint8_t number = kind & 8 ? takeByte() : expected++;
                bytes = frame(
                    number, take(large ? Ymodem::PayloadSize1K : Ymodem::PayloadSize), large);
                break;
            }
            case 2:
                bytes = QByteArray(1, char(Ymodem::EOT));
                break;
            default:
                bytes = take(takeByte());
                break;
            }
            deliver(bytes);
            receiver.receive();
            receiver.receive();
        }
    }
    abortUnless(onlyInsideTarget());
    emptyTarget();
    return 0;
}
