#include "boardprocess.h"
#include "boardsession.h"
#include "endpointlimits.h"
#include "linepeer.h"
#include "pseudoterminal.h"
#include "serialline.h"
#include "signallog.h"
#include "testfiles.h"
#include "ymodemfiletransmit.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <deque>
#include <numeric>

Q_DECLARE_METATYPE(YmodemFileTransmit::Status)

using Status = YmodemFileTransmit::Status;

class tst_YmodemFileTransmit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sendsToRb_data();
    void sendsToRb();
    void blocksOnTheLine_data();
    void blocksOnTheLine();
    void paceOfBlocks_data();
    void paceOfBlocks();
    void textKeepsTheTimeLimit_data();
    void textKeepsTheTimeLimit();
    void requestHeardBeforeTheStart_data();
    void requestHeardBeforeTheStart();
    void nameThatFillsTheHeader_data();
    void nameThatFillsTheHeader();
    void fileShrinksWhileSent_data();
    void fileShrinksWhileSent();
    void fileGrowsWhileSent();
    void stopDuringTransfer_data();
    void stopDuringTransfer();
    void stopWhileIdle();
    void stopReachesRb();
    void unpluggedDuringTransfer();
    void portHeldByAnotherOpen();
    void missingSourceFile();
    void unreadableLineIsQuiet();

private:
    QTemporaryDir folder;
};

void tst_YmodemFileTransmit::initTestCase()
{
    qRegisterMetaType<YmodemFileTransmit::Status>("YmodemFileTransmit::Status");
    QVERIFY(folder.isValid());
    QVERIFY(QDir(folder.path()).mkdir("source"));
    QVERIFY(QDir(folder.path()).mkdir("target"));
}

void tst_YmodemFileTransmit::sendsToRb_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty file") << 0;
    QTest::newRow("1 byte") << 1;
    QTest::newRow("128 bytes: one 128 block") << 128;
    QTest::newRow("129 bytes: one 1024 block") << 129;
    QTest::newRow("1024 bytes") << 1024;
    QTest::newRow("1025 bytes: 1024 + 128 block") << 1025;
    QTest::newRow("1152 bytes: 1024 + 128 block") << 1152;
    QTest::newRow("300 KiB of random bytes") << 300 * 1024;
}

void tst_YmodemFileTransmit::sendsToRb()
{
    QFETCH(int, size);
    const QString name = QString("fw_%1.bin").arg(size);
    const QByteArray contents = randomBytes(size);
    QVERIFY(writeFile(folder.filePath("source/" + name), contents));

    PseudoTerminal line;
    QVERIFY(line.isOpen());
    YmodemFileTransmit transmitter;
    SignalLog log(
        transmitter, &YmodemFileTransmit::transmitProgress, &YmodemFileTransmit::transmitStatus);
    transmitter.setSourceFile(folder.filePath("source/" + name));
    transmitter.selectPort(line.slavePath());
    QVERIFY(transmitter.startTransfer());
    QVERIFY(startRb(line, folder.filePath("target")));

    QCOMPARE(line.waitForPeer(20000), 0);
    QTRY_VERIFY(log.ended());
    QCOMPARE(log.entries.last(), QString("Completed"));
    QCOMPARE(transmitter.transferStatus(), YmodemFileTransmit::StatusCompleted);
    QVERIFY(readFile(folder.filePath("target/" + name)) == contents);
}

void tst_YmodemFileTransmit::blocksOnTheLine_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("blockSizes");
    QTest::addColumn<QStringList>("signalLog");

    QTest::newRow("empty file: EOT, no progress")
        << 0 << QList<int>() << QStringList { "Starting", "Running", "Completed" };
    QTest::newRow("128 bytes: one 128 block")
        << 128 << QList<int> { 128 }
        << QStringList { "Starting", "100%", "Running", "Running", "Completed" };
    QTest::newRow("129 bytes: one 1024 block, 895 zeros")
        << 129 << QList<int> { 1024 }
        << QStringList { "Starting", "100%", "Running", "Running", "Completed" };
    QTest::newRow("1025 bytes: 1024 + 128 block")
        << 1025 << QList<int> { 1024, 128 }
        << QStringList { "Starting", "99%", "Running", "100%", "Running", "Running", "Completed" };
    QTest::newRow("1152 bytes: 1024 + 128 block")
        << 1152 << QList<int> { 1024, 128 }
        << QStringList { "Starting", "88%", "Running", "100%", "Running", "Running", "Completed" };
}

void tst_YmodemFileTransmit::blocksOnTheLine()
{
    QFETCH(int, size);
    QFETCH(QList<int>, blockSizes);
    QFETCH(QStringList, signalLog);
    const QByteArray contents = randomBytes(size);
    QVERIFY(writeFile(folder.filePath("source/fw.bin"), contents));

    PseudoTerminal line;
    LinePeer peer(line);
    YmodemFileTransmit transmitter;
    SignalLog log(
        transmitter, &YmodemFileTransmit::transmitProgress, &YmodemFileTransmit::transmitStatus);
    QSignalSpy progressSpy(&transmitter, &YmodemFileTransmit::transmitProgress);
    QVERIFY(progressSpy.isValid());
    transmitter.setSourceFile(folder.filePath("source/fw.bin"));
    transmitter.selectPort(line.slavePath());
    QVERIFY(transmitter.startTransfer());

    const ReceivedTransfer received = playReceiver(peer);
    QVERIFY(received.complete);
    QByteArray header = "fw.bin" + QByteArray(1, '\0') + QByteArray::number(size);
    header += QByteArray(128 - header.size(), '\0');
    QCOMPARE(received.header, header);

    QByteArray padded = contents;
    QList<int> sizes;
    for (const QByteArray &block : received.blocks)
        sizes << block.size();
    QCOMPARE(sizes, blockSizes);
    const int lineBytes = std::accumulate(sizes.begin(), sizes.end(), 0);
    padded += QByteArray(lineBytes - size, '\0');
    QVERIFY(received.blocks.join() == padded);

    QTRY_VERIFY(log.ended());
    QCOMPARE(log.entries, signalLog);
    QCOMPARE(progressSpy.count(), blockSizes.size());
    QCOMPARE(transmitter.transferProgress(), size == 0 ? 0 : 100);
}

namespace
{

// The transmitter as the window runs it, and as trelvo-flash does.
void pollingRows()
{
    QTest::addColumn<bool>("stepOnAnswer");
    QTest::newRow("polled, the default") << false;
    QTest::newRow("step on answer") << true;
}

} // namespace

void tst_YmodemFileTransmit::paceOfBlocks_data() { pollingRows(); }

void tst_YmodemFileTransmit::paceOfBlocks()
{
    QFETCH(bool, stepOnAnswer);
    const int blocks = 200;
    const QByteArray contents = randomBytes(blocks * int(Ymodem::PayloadSize1K), 3);
    QVERIFY(writeFile(folder.filePath("source/paced.bin"), contents));

    PseudoTerminal line;
    LinePeer peer(line);
    YmodemFileTransmit transmitter;
    transmitter.setStepOnAnswer(stepOnAnswer);
    transmitter.setSourceFile(folder.filePath("source/paced.bin"));
    transmitter.selectPort(line.slavePath());
    QVERIFY(transmitter.startTransfer());

    QElapsedTimer clock;
    clock.start();
    const ReceivedTransfer received = playReceiver(peer);
    const qint64 elapsed = clock.elapsed();
    QVERIFY(received.complete);
    QVERIFY(received.blocks.join() == contents);
    // A poll-paced sender cannot beat one block per poll; one that steps on
    // the receiver's answers is bound only by the line and the peer.
    const qint64 pollTime = qint64(blocks) * EndpointLimits::PollInterval;
    if (stepOnAnswer)
        QVERIFY2(elapsed < pollTime, qPrintable(QString::number(elapsed)));
    else
        QVERIFY2(elapsed >= pollTime, qPrintable(QString::number(elapsed)));
}

void tst_YmodemFileTransmit::textKeepsTheTimeLimit_data() { pollingRows(); }

void tst_YmodemFileTransmit::textKeepsTheTimeLimit()
{
    QFETCH(bool, stepOnAnswer);
    QVERIFY(writeFile(folder.filePath("source/fw.bin"), "x"));
    PseudoTerminal line;
    LinePeer peer(line);
    YmodemFileTransmit transmitter;
    SignalLog log(
        transmitter, &YmodemFileTransmit::transmitProgress, &YmodemFileTransmit::transmitStatus);
    // Every quiet poll a tick, so the handshake gives up at quiet poll 21.
    const int quietPolls = 21;
    transmitter.setTickDivisor(0);
    transmitter.setTickLimit(quietPolls - 1);
    transmitter.setStepOnAnswer(stepOnAnswer);
    transmitter.setSourceFile(folder.filePath("source/fw.bin"));
    transmitter.selectPort(line.slavePath());

    QElapsedTimer clock;
    clock.start();
    QVERIFY(transmitter.startTransfer());
    // A board's banner arriving at once still counts one quiet poll per
    // poll, not one per byte.
    peer.send(QByteArray(200, 'x'));
    QTRY_VERIFY(log.ended());
    QCOMPARE(log.entries, QStringList { "TimedOut" });
    QVERIFY(clock.elapsed() >= quietPolls * EndpointLimits::PollInterval);
}

void tst_YmodemFileTransmit::requestHeardBeforeTheStart_data() { pollingRows(); }

void tst_YmodemFileTransmit::requestHeardBeforeTheStart()
{
    QFETCH(bool, stepOnAnswer);
    const QByteArray contents = randomBytes(1025, 4);
    QVERIFY(writeFile(folder.filePath("source/fw.bin"), contents));

    PseudoTerminal line;
    LinePeer peer(line);
    YmodemFileTransmit transmitter;
    SignalLog log(
        transmitter, &YmodemFileTransmit::transmitProgress, &YmodemFileTransmit::transmitStatus);
    transmitter.setStepOnAnswer(stepOnAnswer);
    transmitter.setSourceFile(folder.filePath("source/fw.bin"));
    transmitter.selectPort(line.slavePath());
    transmitter.setPendingInput("C");
    QVERIFY(transmitter.startTransfer());

    const ReceivedTransfer received = playReceiver(peer, FirstRequest::AlreadyHeard);
    QVERIFY(received.complete);
    QVERIFY(received.blocks.join().left(contents.size()) == contents);
    QTRY_VERIFY(log.ended());
    QCOMPARE(log.entries.last(), QString("Completed"));
    // Heard once, for that transfer only: the next one waits for its own.
    QVERIFY(transmitter.startTransfer());
    QVERIFY(peer.drain(100).isEmpty());
    transmitter.stopTransfer();
    QCOMPARE(peer.take(int(Ymodem::CancelCount)), LinePeer::FiveCan);
    QTRY_VERIFY(log.ended());
}

void tst_YmodemFileTransmit::nameThatFillsTheHeader_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("fits");
    // Name, NUL, the one size digit and NUL take exactly 128 bytes.
    QTest::newRow("125-byte name, size 1: header full") << QString(125, 'a') << true;
    QTest::newRow("126-byte name, size 1: one byte too many") << QString(126, 'b') << false;
    QTest::newRow("200-byte name") << QString(200, 'c') << false;
}

void tst_YmodemFileTransmit::nameThatFillsTheHeader()
{
    QFETCH(QString, name);
    QFETCH(bool, fits);
    QVERIFY(writeFile(folder.filePath("source/" + name), "x"));

    PseudoTerminal line;
    LinePeer peer(line);
    YmodemFileTransmit transmitter;
    SignalLog log(
        transmitter, &YmodemFileTransmit::transmitProgress, &YmodemFileTransmit::transmitStatus);
    transmitter.setSourceFile(folder.filePath("source/" + name));
    transmitter.selectPort(line.slavePath());
    QVERIFY(transmitter.startTransfer());

    if (fits) {
        const ReceivedTransfer received = playReceiver(peer);
        QVERIFY(received.complete);
        QCOMPARE(received.header, name.toLatin1() + '\0' + "1" + '\0');
        QTRY_VERIFY(log.ended());
        QCOMPARE(log.entries.last(), QString("Completed"));
    } else {
        peer.send("C");
        QCOMPARE(peer.take(5), LinePeer::FiveCan);
        QTRY_VERIFY(log.ended());
        QCOMPARE(log.entries, QStringList { "Failed" });
        QVERIFY(peer.drain(50).isEmpty());
    }
}

void tst_YmodemFileTransmit::fileShrinksWhileSent_data()
{
    QTest::addColumn<int>("shrunkTo");
    QTest::addColumn<QStringList>("signalLog");
    QTest::newRow("3000 bytes shrink to 2000 after the header")
        << 2000 << QStringList { "Starting", "34%", "Running", "Failed" };
    QTest::newRow("3000 bytes emptied after the header")
        << 0 << QStringList { "Starting", "Failed" };
}

void tst_YmodemFileTransmit::fileShrinksWhileSent()
{
    QFETCH(int, shrunkTo);
    QFETCH(QStringList, signalLog);
    const QString path = folder.filePath("source/shrinking.bin");
    QVERIFY(writeFile(path, randomBytes(3000)));

    PseudoTerminal line;
    LinePeer peer(line);
    YmodemFileTransmit transmitter;
    SignalLog log(
        transmitter, &YmodemFileTransmit::transmitProgress, &YmodemFileTransmit::transmitStatus);
    connect(&transmitter, &YmodemFileTransmit::transmitStatus, [&](Status status) {
        if (status == YmodemFileTransmit::StatusStarting)
            QFile::resize(path, shrunkTo);
    });
    transmitter.setSourceFile(path);
    transmitter.selectPort(line.slavePath());
    QVERIFY(transmitter.startTransfer());

    peer.send("C");
    QVERIFY(LinePeer::isValidPacket(peer.takePacket(), 0));
    peer.send(LinePeer::AckC);
    if (shrunkTo > 1024) {
        QVERIFY(LinePeer::isValidPacket(peer.takePacket(), 1));
        peer.send(QByteArray(1, LinePeer::ACK));
    }
    QCOMPARE(peer.take(5), LinePeer::FiveCan);
    QTRY_VERIFY(log.ended());
    QCOMPARE(log.entries, signalLog);
}

void tst_YmodemFileTransmit::fileGrowsWhileSent()
{
    const QString path = folder.filePath("source/growing.bin");
    const QByteArray contents = randomBytes(1100);
    QVERIFY(writeFile(path, contents));

    PseudoTerminal line;
    YmodemFileTransmit transmitter;
    SignalLog log(
        transmitter, &YmodemFileTransmit::transmitProgress, &YmodemFileTransmit::transmitStatus);
    connect(&transmitter, &YmodemFileTransmit::transmitStatus, [&](Status status) {
        QFile file(path);
        if (status == YmodemFileTransmit::StatusStarting && file.open(QIODevice::Append))
            file.write(randomBytes(500));
    });
    transmitter.setSourceFile(path);
    transmitter.selectPort(line.slavePath());
    QVERIFY(transmitter.startTransfer());
    QVERIFY(startRb(line, folder.filePath("target")));

    QCOMPARE(line.waitForPeer(10000), 0);
    QTRY_VERIFY(log.ended());
    QCOMPARE(log.entries,
        QStringList({ "Starting", "93%", "Running", "100%", "Running", "Running", "Completed" }));
    QVERIFY(readFile(folder.filePath("target/growing.bin")) == contents);
}

void tst_YmodemFileTransmit::stopDuringTransfer_data()
{
    QTest::addColumn<bool>("blockQueued");
    QTest::addColumn<QStringList>("expectedSignals");

    QTest::newRow("block 1 sent, its answer awaited")
        << false << QStringList({ "Starting", "10%", "Running", "Cancelled" });
    // Block 2 is dropped, so that the CANs reach the receiver where it waits
    // for a packet: behind a block, lrzsz's rb, which purges its input before
    // it answers, never sees them.
    QTest::newRow("block 2 not yet out of the port")
        << true << QStringList({ "Starting", "10%", "Running", "20%", "Running", "Cancelled" });
}

void tst_YmodemFileTransmit::stopDuringTransfer()
{
    QFETCH(bool, blockQueued);
    QFETCH(QStringList, expectedSignals);
    QVERIFY(writeFile(folder.filePath("source/long.bin"), randomBytes(10 * 1024)));

    PseudoTerminal line;
    LinePeer peer(line);
    YmodemFileTransmit transmitter;
    SignalLog log(
        transmitter, &YmodemFileTransmit::transmitProgress, &YmodemFileTransmit::transmitStatus);
    bool portClosedAtSignal = false;
    connect(&transmitter, &YmodemFileTransmit::transmitStatus, [&](Status status) {
        if (status == YmodemFileTransmit::StatusCancelled)
            portClosedAtSignal = LinePeer::isFree(line.slavePath());
    });
    transmitter.setSourceFile(folder.filePath("source/long.bin"));
    transmitter.selectPort(line.slavePath());
    QVERIFY(transmitter.startTransfer());

    peer.send("C");
    QVERIFY(LinePeer::isValidPacket(peer.takePacket(), 0));
    peer.send(LinePeer::AckC);
    QVERIFY(LinePeer::isValidPacket(peer.takePacket(), 1));
    if (blockQueued) {
        QSignalSpy progress(&transmitter, &YmodemFileTransmit::transmitProgress);
        peer.send(QByteArray(1, LinePeer::ACK));
        QVERIFY(progress.wait());
    }

    QElapsedTimer clock;
    clock.start();
    transmitter.stopTransfer();
    QCOMPARE(transmitter.transferStatus(), YmodemFileTransmit::StatusCancelled);
    QCOMPARE(peer.take(5), LinePeer::FiveCan);
    QTRY_VERIFY(log.ended());
    QVERIFY2(clock.elapsed() >= 90 && clock.elapsed() < 1000,
        qPrintable(QString("final status after %1 ms").arg(clock.elapsed())));
    QVERIFY(portClosedAtSignal);
    QVERIFY(peer.drain(100).isEmpty());
    QCOMPARE(log.entries, expectedSignals);
}

void tst_YmodemFileTransmit::stopWhileIdle()
{
    YmodemFileTransmit transmitter;
    QSignalSpy statusSpy(&transmitter, &YmodemFileTransmit::transmitStatus);
    QVERIFY(statusSpy.isValid());
    QElapsedTimer clock;
    clock.start();
    QTest::ignoreMessage(QtWarningMsg, "QIODevice::write (QSerialPort): device not open");
    transmitter.stopTransfer();
    QVERIFY(statusSpy.wait(1000));
    QVERIFY(clock.elapsed() >= 90);
    QCOMPARE(statusSpy.count(), 1);
    QCOMPARE(statusSpy.at(0).at(0).value<Status>(), YmodemFileTransmit::StatusCancelled);
}

// Twenty stops at random moments of transfers at each speed, ten boards at
// a time: rb behind the paced line hears every one and has ended two
// seconds later.
void tst_YmodemFileTransmit::stopReachesRb()
{
    const quint32 seed = QRandomGenerator::system()->generate();
    QRandomGenerator random(seed);
    SessionSettings settings;
    settings.image = folder.filePath("source/stopped.bin");
    // Twelve blocks; the stop falls within the time the first ten take.
    QVERIFY(writeFile(settings.image, randomBytes(12 * 1024)));
    int checked = 0;
    QStringList survivors;
    for (int round = 1; round <= 4; ++round) {
        std::deque<BoardProcess> boards;
        std::deque<BoardSession> sessions;
        for (const int baud :
            { 115200, 115200, 115200, 115200, 115200, 921600, 921600, 921600, 921600, 921600 }) {
            BoardProcess *board = &boards.emplace_back(BOARD_PROGRAM);
            QVERIFY(board->start({ "--baud", QString::number(baud), "--folder",
                folder.filePath(QString::number(boards.size())) }));
            settings.port = board->linePath();
            settings.baudRate = baud;
            BoardSession *session = &sessions.emplace_back(settings);
            const int packetMs = int(Ymodem::PacketSize1K) * SerialLine::BitsPerByte * 1000 / baud;
            const int delayMs = int(random.bounded(10 * packetMs));
            connect(session, &BoardSession::transferStarted, [&, board, session, delayMs, baud] {
                QTimer::singleShot(delayMs, session, [&, board, session, baud] {
                    session->interrupt();
                    QTimer::singleShot(2000, session, [&, board, baud] {
                        ++checked;
                        if (!board->reported(
                                1, "the transfer failed (rb exit code 128, the sender cancelled)"))
                            survivors << QString("%1 baud: %2")
                                             .arg(baud)
                                             .arg(board->reports().join(" / "));
                    });
                });
            });
            session->start();
        }
        QTRY_COMPARE_WITH_TIMEOUT(checked, 10 * round, 30000);
    }
    QVERIFY2(
        survivors.isEmpty(), qPrintable(QString("seed %1\n").arg(seed) + survivors.join('\n')));
}

// Heard at once, not when the silence would end the transfer 30 s later.
void tst_YmodemFileTransmit::unpluggedDuringTransfer()
{
    QVERIFY(writeFile(folder.filePath("source/fw.bin"), "x"));
    PseudoTerminal line;
    YmodemFileTransmit transmitter;
    SignalLog log(
        transmitter, &YmodemFileTransmit::transmitProgress, &YmodemFileTransmit::transmitStatus);
    transmitter.setSourceFile(folder.filePath("source/fw.bin"));
    transmitter.selectPort(line.slavePath());
    QVERIFY(transmitter.startTransfer());
    line.write("C");
    QTRY_COMPARE(log.entries, QStringList { "Starting" });
    line.hangUp();
    QTRY_VERIFY_WITH_TIMEOUT(log.ended(), 1000);
    QCOMPARE(log.entries, QStringList({ "Starting", "Failed" }));
}

void tst_YmodemFileTransmit::portHeldByAnotherOpen()
{
    QVERIFY(writeFile(folder.filePath("source/fw.bin"), "x"));
    PseudoTerminal line;
    QSerialPort holder(line.slavePath());
    QVERIFY(holder.open(QIODevice::ReadWrite));

    YmodemFileTransmit transmitter;
    QSignalSpy progressSpy(&transmitter, &YmodemFileTransmit::transmitProgress);
    QSignalSpy statusSpy(&transmitter, &YmodemFileTransmit::transmitStatus);
    QVERIFY(progressSpy.isValid());
    QVERIFY(statusSpy.isValid());
    transmitter.setSourceFile(folder.filePath("source/fw.bin"));
    transmitter.selectPort(line.slavePath());
    QVERIFY(!transmitter.startTransfer());
    QCOMPARE(transmitter.transferStatus(), YmodemFileTransmit::StatusStarting);

    // A receiver asking now must find nobody polling.
    line.write("C");
    QVERIFY(!statusSpy.wait(300));
    QCOMPARE(progressSpy.count(), 0);
    QCOMPARE(holder.readAll(), QByteArray("C"));
}

void tst_YmodemFileTransmit::missingSourceFile()
{
    PseudoTerminal line;
    LinePeer peer(line);
    YmodemFileTransmit transmitter;
    SignalLog log(
        transmitter, &YmodemFileTransmit::transmitProgress, &YmodemFileTransmit::transmitStatus);
    transmitter.setSourceFile(folder.filePath("source/no such file.bin"));
    transmitter.selectPort(line.slavePath());
    QVERIFY(transmitter.startTransfer());

    peer.send("C");
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(peer.take(5), LinePeer::FiveCan);
    QTRY_VERIFY(log.ended());
    QVERIFY(clock.elapsed() >= 90);
    QCOMPARE(log.entries, QStringList { "Failed" });
    QVERIFY(LinePeer::isFree(line.slavePath()));
}

void tst_YmodemFileTransmit::unreadableLineIsQuiet()
{
    // Polled on a port that is not open, every read fails; a failed read
    // must count as silence, so the handshake times out on schedule.
    YmodemFileTransmit transmitter;
    SignalLog log(
        transmitter, &YmodemFileTransmit::transmitProgress, &YmodemFileTransmit::transmitStatus);
    transmitter.setTickDivisor(0);
    transmitter.setTickLimit(2);
    transmitter.transmit();
    for (int poll = 1; poll <= 3; ++poll) {
        QCOMPARE(transmitter.transferStatus(), YmodemFileTransmit::StatusStarting);
        QTest::ignoreMessage(QtWarningMsg, "QIODevice::read (QSerialPort): device not open");
        if (poll == 3)
            QTest::ignoreMessage(QtWarningMsg, "QIODevice::write (QSerialPort): device not open");
        transmitter.transmit();
    }
    QCOMPARE(transmitter.transferStatus(), YmodemFileTransmit::StatusTimedOut);
    QTRY_VERIFY(log.ended());
    QCOMPARE(log.entries, QStringList { "TimedOut" });
}

QTEST_GUILESS_MAIN(tst_YmodemFileTransmit)
#include "tst_ymodemfiletransmit.moc"
