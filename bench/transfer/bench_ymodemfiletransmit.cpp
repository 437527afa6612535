#include "pseudoterminal.h"
#include "ymodemfiletransmit.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace
{

constexpr int FileSize = 1024 * 1024;
constexpr int BlockSize = 1024;
// The transmitter takes one engine step per 10 ms poll and a step sends at
// most one block: 1024 bytes per 10 ms is as fast as it can go.
constexpr double CeilingKiBPerSecond = BlockSize / 1024.0 / 0.010;

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (char &byte : bytes)
        byte = char(QRandomGenerator::global()->generate());
    return bytes;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);

    QTemporaryDir folder;
    const QByteArray contents = randomBytes(FileSize);
    QFile source(folder.filePath("image.bin"));
    if (!folder.isValid() || !QDir(folder.path()).mkdir("received")
        || !source.open(QIODevice::WriteOnly) || source.write(contents) != FileSize) {
        std::fprintf(stderr, "cannot write the 1 MiB source file\n");
        return 1;
    }
    source.close();

    PseudoTerminal line;
    YmodemFileTransmit transmitter;
    transmitter.setSourceFile(source.fileName());
    transmitter.selectPort(line.slavePath());

    // From the header to the last block: every data block, none of rb's
    // one-second waits before its first letter C and after the EOT.
    QElapsedTimer clock;
    qint64 dataMilliseconds = -1;
    QEventLoop ending;
    QObject::connect(
        &transmitter, &YmodemFileTransmit::transmitStatus, [&](YmodemFileTransmit::Status status) {
            if (status == YmodemFileTransmit::StatusStarting)
                clock.start();
            else if (status == YmodemFileTransmit::StatusRunning
                && transmitter.transferProgress() == 100 && dataMilliseconds < 0)
                dataMilliseconds = clock.elapsed();
            else if (status >= YmodemFileTransmit::StatusCompleted)
                ending.quit();
        });

    if (!transmitter.startTransfer()) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(line.slavePath()));
        return 1;
    }
    // As in the tests: rb's input comes through a pipe, so that the flush of
    // its terminal on exit cannot discard its last ACK on the pty.
    line.startPeer("bash",
        { "-c",
            "exec 3< <(exec cat 2>/dev/null); reader=$!; rb -q -t 10 <&3; status=$?; "
            "kill $reader; wait $reader; exit $status" },
        folder.filePath("received"));
    const int rbExit = line.waitForPeer(60000);
    // The final status follows rb's last ACK by the transmitter's 100 ms.
    QTimer::singleShot(2000, &ending, &QEventLoop::quit);
    if (transmitter.transferStatus() < YmodemFileTransmit::StatusCompleted)
        ending.exec();

    QFile received(folder.filePath("received/image.bin"));
    const bool identical = received.open(QIODevice::ReadOnly) && received.readAll() == contents;
    if (rbExit != 0 || !identical
        || transmitter.transferStatus() != YmodemFileTransmit::StatusCompleted
        || dataMilliseconds <= 0) {
        std::fprintf(stderr, "transfer failed: rb exit %d, file %s, status %d\n", rbExit,
            identical ? "identical" : "differs", int(transmitter.transferStatus()));
        return 1;
    }

    const double kibPerSecond = FileSize / 1024.0 / (dataMilliseconds / 1000.0);
    std::printf("1 MiB to rb over a pty: %lld ms for %d blocks, %.1f KiB/s, %.3f of the "
                "%.0f KiB/s ceiling\n",
        dataMilliseconds, FileSize / BlockSize, kibPerSecond, kibPerSecond / CeilingKiBPerSecond,
        CeilingKiBPerSecond);
    return 0;
}
