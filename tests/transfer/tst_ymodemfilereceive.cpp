#include "linepeer.h"
#include "pseudoterminal.h"
#include "signallog.h"
#include "testfiles.h"
#include "ymodemfilereceive.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

Q_DECLARE_METATYPE(YmodemFileReceive::Status)

using Status = YmodemFileReceive::Status;

namespace
{

QByteArray zeros(int count) { return QByteArray(count, '\0'); }

// Name and size fields of a header block, without the padding.
QByteArray fields(const QByteArray &name, const QByteArray &size) { return name + '\0' + size; }

// Writes beyond the limit fail with EFBIG, as on a full disk, for as long
// as the object lives.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limited = saved;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, SIG_DFL);
    }

private:
    rlimit saved;
};

// A receiver on a fresh line, storing into its own empty folder.
struct Bench {
    Bench()
        : peer(line)
        , log(receiver, &YmodemFileReceive::receiveProgress, &YmodemFileReceive::receiveStatus)
    {
        receiver.selectPort(line.slavePath());
        receiver.setTargetFolder(folder.path());
    }

    // The whole transfer of the three bytes "abc" under the given header.
    bool completes(const QByteArray &header)
    {
        return playSender(peer, header, { QByteArray("abc") + zeros(125) })
            && QTest::qWaitFor([this] { return log.ended(); }) && log.entries.last() == "Completed";
    }

    // The answer to a refused header is five CAN on the line and, once the
    // port is closed, StatusFailed alone.
    bool refuses(const QByteArray &header)
    {
        if (peer.take(1) != "C")
            return false;
        peer.send(LinePeer::headerPacket(header));
        return peer.take(5) == LinePeer::FiveCan && QTest::qWaitFor([this] { return log.ended(); })
            && log.entries == QStringList { "Failed" };
    }

    PseudoTerminal line;
    LinePeer peer;
    QTemporaryDir folder;
    YmodemFileReceive receiver;
    SignalLog log;
};

} // namespace

class tst_YmodemFileReceive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void receivesFromSb_data();
    void receivesFromSb();
    void progressAndSignals_data();
    void progressAndSignals();
    void hostileNames_data();
    void hostileNames();
    void malformedHeaders_data();
    void malformedHeaders();
    void unwritableFolder_data();
    void unwritableFolder();
    void diskFullRefusesTheBlock();
    void failedReceiveKeepsExistingFile_data();
    void failedReceiveKeepsExistingFile();
    void stopDuringReceive();
    void unreadableLineIsQuiet();
};

void tst_YmodemFileReceive::initTestCase()
{
    qRegisterMetaType<YmodemFileReceive::Status>("YmodemFileReceive::Status");
}

void tst_YmodemFileReceive::receivesFromSb_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QStringList>("options");
    const QStringList oneK = { "-q", "-k" };
    QTest::newRow("empty file") << 0 << oneK;
    QTest::newRow("1 byte") << 1 << oneK;
    QTest::newRow("128 bytes") << 128 << oneK;
    QTest::newRow("129 bytes") << 129 << oneK;
    QTest::newRow("1024 bytes") << 1024 << oneK;
    QTest::newRow("1025 bytes") << 1025 << oneK;
    QTest::newRow("1152 bytes") << 1152 << oneK;
    QTest::newRow("1152 bytes in 128-byte blocks") << 1152 << QStringList { "-q" };
    QTest::newRow("300 KiB of random bytes") << 300 * 1024 << oneK;
}

void tst_YmodemFileReceive::receivesFromSb()
{
    QFETCH(int, size);
    QFETCH(QStringList, options);
    QTemporaryDir source;
    const QByteArray contents = randomBytes(size);
    QVERIFY(writeFile(source.filePath("image.bin"), contents));

    Bench bench;
    QVERIFY(bench.receiver.startTransfer());
    // sb puts its modification time and mode after the size.
    QVERIFY(bench.line.startPeer("sb", options << "image.bin", source.path()));

    QCOMPARE(bench.line.waitForPeer(20000), 0);
    QTRY_VERIFY(bench.log.ended());
    QCOMPARE(bench.log.entries.last(), QString("Completed"));
    QCOMPARE(folderEntries(bench.folder.path()), QStringList { "image.bin" });
    QVERIFY(readFile(bench.folder.filePath("image.bin")) == contents);
}

void tst_YmodemFileReceive::progressAndSignals_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QList<QByteArray>>("payloads");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QStringList>("signalLog");

    const QByteArray data = randomBytes(2048);
    QTest::newRow("300 bytes with time and mode, one 1024 block")
        << fields("fw.bin", "300 14517130621 100644")
        << QList<QByteArray> { data.left(300) + zeros(724) } << data.left(300)
        << QStringList { "Starting", "100%", "Running", "Completed" };
    QTest::newRow("2048 bytes in two 1024 blocks")
        << fields("fw.bin", "2048") << QList<QByteArray> { data.left(1024), data.mid(1024) } << data
        << QStringList { "Starting", "50%", "Running", "100%", "Running", "Completed" };
    QTest::newRow("1025 bytes in a 1024 and a 128 block")
        << fields("fw.bin", "1025")
        << QList<QByteArray> { data.left(1024), data.mid(1024, 1) + zeros(127) } << data.left(1025)
        << QStringList { "Starting", "99%", "Running", "100%", "Running", "Completed" };
    QTest::newRow("a block after the declared size writes nothing")
        << fields("fw.bin", "300")
        << QList<QByteArray> { data.left(300) + zeros(724), data.mid(1024) } << data.left(300)
        << QStringList { "Starting", "100%", "Running", "100%", "Running", "Completed" };
    QTest::newRow("declared size 0: empty file")
        << fields("fw.bin", "0") << QList<QByteArray>() << QByteArray()
        << QStringList { "Starting", "Completed" };
    QTest::newRow("declared size 0 and a block anyway")
        << fields("fw.bin", "0") << QList<QByteArray> { data.left(128) } << QByteArray()
        << QStringList { "Starting", "100%", "Running", "Completed" };
    QTest::newRow("size abc: unknown, blocks stored whole")
        << fields("fw.bin", "abc") << QList<QByteArray> { data.left(1024), data.mid(1024, 128) }
        << data.left(1152)
        << QStringList { "Starting", "0%", "Running", "0%", "Running", "Completed" };
    QTest::newRow("empty size field: unknown")
        << fields("fw.bin", "") << QList<QByteArray> { data.left(128) } << data.left(128)
        << QStringList { "Starting", "0%", "Running", "Completed" };
    QTest::newRow("size field starting with a space: unknown")
        << fields("fw.bin", " 300") << QList<QByteArray> { data.left(128) } << data.left(128)
        << QStringList { "Starting", "0%", "Running", "Completed" };
}

void tst_YmodemFileReceive::progressAndSignals()
{
    QFETCH(QByteArray, header);
    QFETCH(QList<QByteArray>, payloads);
    QFETCH(QByteArray, stored);
    QFETCH(QStringList, signalLog);

    Bench bench;
    QSignalSpy progressSpy(&bench.receiver, &YmodemFileReceive::receiveProgress);
    QSignalSpy statusSpy(&bench.receiver, &YmodemFileReceive::receiveStatus);
    QVERIFY(progressSpy.isValid());
    QVERIFY(statusSpy.isValid());
    QVERIFY(bench.receiver.startTransfer());

    QVERIFY(playSender(bench.peer, header, payloads));
    QTRY_VERIFY(bench.log.ended());
    QCOMPARE(bench.log.entries, signalLog);
    QCOMPARE(progressSpy.count(), payloads.size());
    QCOMPARE(statusSpy.last().at(0).value<Status>(), YmodemFileReceive::StatusCompleted);
    QCOMPARE(folderEntries(bench.folder.path()), QStringList { "fw.bin" });
    QVERIFY(readFile(bench.folder.filePath("fw.bin")) == stored);
    QVERIFY(LinePeer::isFree(bench.line.slavePath()));
}

void tst_YmodemFileReceive::hostileNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("stored");
    QTest::newRow("parent step") << QByteArray("../escape.bin") << "escape.bin";
    QTest::newRow("many parent steps") << QByteArray("../../../../tmp/evil.bin") << "evil.bin";
    QTest::newRow("absolute path") << QByteArray("/etc/cron.d/evil") << "evil";
    QTest::newRow("backslash parent steps") << QByteArray("..\\..\\boot.ini") << "boot.ini";
    QTest::newRow("mixed separators") << QByteArray("a\\b/../..\\c.bin") << "c.bin";
    QTest::newRow("ends in a separator") << QByteArray("firmware/") << QString();
    QTest::newRow("ends in a backslash") << QByteArray("firmware\\") << QString();
    QTest::newRow("dot-dot") << QByteArray("..") << QString();
    QTest::newRow("dot") << QByteArray(".") << QString();
    QTest::newRow("folder then dot-dot") << QByteArray("sub/..") << QString();
}

void tst_YmodemFileReceive::hostileNames()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, stored);

    QTemporaryDir outside;
    Bench bench;
    const QString inside = outside.filePath("a/b");
    QVERIFY(QDir().mkpath(inside));
    bench.receiver.setTargetFolder(inside);
    QVERIFY(bench.receiver.startTransfer());

    const QByteArray header = fields(name, "3");
    if (stored.isEmpty()) {
        QVERIFY(bench.refuses(header));
        QCOMPARE(folderEntries(inside), QStringList());
    } else {
        QVERIFY(bench.completes(header));
        QCOMPARE(folderEntries(inside), QStringList { stored });
        QCOMPARE(readFile(inside + '/' + stored), QByteArray("abc"));
    }
    QCOMPARE(folderEntries(outside.path()), QStringList { "a" });
    QCOMPARE(folderEntries(outside.filePath("a")), QStringList { "b" });
}

void tst_YmodemFileReceive::malformedHeaders_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("all zero: no name") << zeros(128) << false;
    QTest::newRow("name without NUL in the block") << QByteArray(128, 'n') << false;
    QTest::newRow("name NUL in the last byte, no size field")
        << QByteArray(127, 'n') + '\0' << false;
    QTest::newRow("size field without NUL in the block")
        << fields("fw.bin", QByteArray(121, '7')) << false;
    QTest::newRow("name and size end exactly at the block's end")
        << QByteArray(125, 'n') + '\0' + '3' + '\0' << true;
}

void tst_YmodemFileReceive::malformedHeaders()
{
    QFETCH(QByteArray, header);
    QFETCH(bool, accepted);

    Bench bench;
    QVERIFY(bench.receiver.startTransfer());
    if (accepted) {
        QVERIFY(bench.completes(header));
        QCOMPARE(folderEntries(bench.folder.path()), QStringList { QString(125, 'n') });
    } else {
        QVERIFY(bench.refuses(header));
        QCOMPARE(folderEntries(bench.folder.path()), QStringList());
    }
}

void tst_YmodemFileReceive::unwritableFolder_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("target folder missing") << "missing";
    // Even root cannot create a file there.
    QTest::newRow("read-only folder /proc") << "/proc";
}

void tst_YmodemFileReceive::unwritableFolder()
{
    QFETCH(QString, folder);

    Bench bench;
    bench.receiver.setTargetFolder(QDir(bench.folder.path()).filePath(folder));
    QVERIFY(bench.receiver.startTransfer());
    QVERIFY(bench.refuses(fields("fw.bin", "2048")));
    QCOMPARE(folderEntries(bench.folder.path()), QStringList());
}

void tst_YmodemFileReceive::diskFullRefusesTheBlock()
{
    Bench bench;
    QVERIFY(bench.receiver.startTransfer());
    QCOMPARE(bench.peer.take(1), QByteArray("C"));
    bench.peer.send(LinePeer::headerPacket(fields("fw.bin", "2048")));
    QCOMPARE(bench.peer.take(2), LinePeer::AckC);
    {
        const FileSizeLimit limit(1500);
        bench.peer.send(LinePeer::packet(1, randomBytes(1024)));
        QCOMPARE(bench.peer.take(1), QByteArray(1, LinePeer::ACK));
        bench.peer.send(LinePeer::packet(2, randomBytes(1024)));
        QCOMPARE(bench.peer.take(5), LinePeer::FiveCan);
    }
    QTRY_VERIFY(bench.log.ended());
    QCOMPARE(bench.log.entries, QStringList({ "Starting", "50%", "Running", "Failed" }));
    QCOMPARE(folderEntries(bench.folder.path()), QStringList());
}

void tst_YmodemFileReceive::failedReceiveKeepsExistingFile_data()
{
    QTest::addColumn<QString>("ending");
    QTest::addColumn<bool>("existing");
    QTest::addColumn<QString>("finalStatus");
    for (const bool existing : { true, false }) {
        const char *const over = existing ? " over an existing file" : "";
        QTest::newRow(qPrintable(QString("sender cancels") + over))
            << "cancel" << existing << "Cancelled";
        QTest::newRow(qPrintable(QString("stopTransfer") + over))
            << "stop" << existing << "Cancelled";
        QTest::newRow(qPrintable(QString("closing block before the declared size") + over))
            << "short" << existing << "Failed";
        QTest::newRow(qPrintable(QString("sender falls silent") + over))
            << "silent" << existing << "Failed";
        QTest::newRow(qPrintable(QString("line unplugged") + over))
            << "unplug" << existing << "Failed";
    }
}

void tst_YmodemFileReceive::failedReceiveKeepsExistingFile()
{
    QFETCH(QString, ending);
    QFETCH(bool, existing);
    QFETCH(QString, finalStatus);

    Bench bench;
    if (existing)
        QVERIFY(writeFile(bench.folder.filePath("fw.bin"), "precious"));
    QVERIFY(bench.receiver.startTransfer());

    QCOMPARE(bench.peer.take(1), QByteArray("C"));
    bench.peer.send(LinePeer::headerPacket(fields("fw.bin", "3000")));
    QCOMPARE(bench.peer.take(2), LinePeer::AckC);
    bench.peer.send(LinePeer::packet(1, randomBytes(1024)));
    QCOMPARE(bench.peer.take(1), QByteArray(1, LinePeer::ACK));

    if (ending == "cancel") {
        bench.peer.send(LinePeer::FiveCan);
    } else if (ending == "stop") {
        bench.receiver.stopTransfer();
    } else if (ending == "short") {
        bench.peer.send(QByteArray(1, LinePeer::EOT));
        QCOMPARE(bench.peer.take(1), QByteArray(1, LinePeer::NAK));
        bench.peer.send(QByteArray(1, LinePeer::EOT));
        QCOMPARE(bench.peer.take(2), LinePeer::AckC);
        bench.peer.send(LinePeer::headerPacket(QByteArray()));
        QCOMPARE(bench.peer.take(1), QByteArray(1, LinePeer::ACK));
    } else if (ending == "silent") {
        // Silence is given up on after two NAK, 20 polls apart.
        bench.receiver.setTickDivisor(19);
        bench.receiver.setTickLimit(2);
        QCOMPARE(bench.peer.take(7, 5000), QByteArray(2, LinePeer::NAK) + LinePeer::FiveCan);
    } else {
        bench.line.hangUp();
    }
    QTRY_VERIFY_WITH_TIMEOUT(bench.log.ended(), 1000);
    QCOMPARE(bench.log.entries.last(), finalStatus);
    QCOMPARE(
        folderEntries(bench.folder.path()), existing ? QStringList { "fw.bin" } : QStringList());
    if (existing)
        QCOMPARE(readFile(bench.folder.filePath("fw.bin")), QByteArray("precious"));
}

void tst_YmodemFileReceive::stopDuringReceive()
{
    Bench bench;
    bool portClosedAtSignal = false;
    connect(&bench.receiver, &YmodemFileReceive::receiveStatus, [&](Status status) {
        if (status == YmodemFileReceive::StatusCancelled)
            portClosedAtSignal = LinePeer::isFree(bench.line.slavePath());
    });
    QVERIFY(bench.receiver.startTransfer());
    QVERIFY(bench.peer.take(1) == "C");
    bench.peer.send(LinePeer::headerPacket(fields("fw.bin", "3000")));
    QCOMPARE(bench.peer.take(2), LinePeer::AckC);

    QElapsedTimer clock;
    clock.start();
    bench.receiver.stopTransfer();
    QCOMPARE(bench.receiver.transferStatus(), YmodemFileReceive::StatusCancelled);
    // The poll timer, still armed, runs one more step: a new handshake.
    QCOMPARE(bench.peer.take(6), LinePeer::FiveCan + 'C');
    QTRY_VERIFY(bench.log.ended());
    QVERIFY2(clock.elapsed() >= 90 && clock.elapsed() < 1000,
        qPrintable(QString("final status after %1 ms").arg(clock.elapsed())));
    QCOMPARE(bench.log.entries, QStringList({ "Starting", "Cancelled" }));
    QVERIFY(portClosedAtSignal);
    QVERIFY(bench.peer.drain(100).isEmpty());
}

void tst_YmodemFileReceive::unreadableLineIsQuiet()
{
    // Polled on a port that is not open, every read fails; a failed read
    // must count as silence, so the handshake times out on schedule.
    YmodemFileReceive receiver;
    SignalLog log(receiver, &YmodemFileReceive::receiveProgress, &YmodemFileReceive::receiveStatus);
    receiver.setTickDivisor(0);
    receiver.setTickLimit(2);
    const char *const readFails = "QIODevice::read (QSerialPort): device not open";
    const char *const writeFails = "QIODevice::write (QSerialPort): device not open";
    QTest::ignoreMessage(QtWarningMsg, writeFails);
    receiver.receive();
    for (int poll = 1; poll <= 3; ++poll) {
        QCOMPARE(receiver.transferStatus(), YmodemFileReceive::StatusStarting);
        QTest::ignoreMessage(QtWarningMsg, readFails);
        QTest::ignoreMessage(QtWarningMsg, writeFails);
        receiver.receive();
    }
    QCOMPARE(receiver.transferStatus(), YmodemFileReceive::StatusTimedOut);
    QTRY_VERIFY(log.ended());
    QCOMPARE(log.entries, QStringList { "TimedOut" });
}

QTEST_GUILESS_MAIN(tst_YmodemFileReceive)
#include "tst_ymodemfilereceive.moc"
