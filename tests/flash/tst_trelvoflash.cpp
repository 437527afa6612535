#include "boardprocess.h"
#include "linepeer.h"
#include "pseudoterminal.h"
#include "testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <signal.h>

namespace
{

// rb pauses about 3 s on every board; the margin is for sanitizer builds
// on a busy machine.
const int BoardRunMs = 30000;
// A sender whose receiver falls silent after the header gives up after
// about 30 s.
const int SilentBoardRunMs = 60000;
// A boot monitor's prompt: 'F' eighth from the end.
const QByteArray Banner = "\r\nTrelvo boot monitor\r\n1: update firmware\r\nFW-BOOT>";

// trelvo-flash as a child process.
class Flash
{
public:
    ~Flash()
    {
        process.kill();
        process.waitForFinished();
    }

    // Standard output to a terminal instead of a pipe.
    void outputTo(const QString &device) { process.setStandardOutputFile(device); }

    void start(const QStringList &arguments)
    {
        process.start(QStringLiteral(FLASH_PROGRAM), arguments);
    }

    // The exit status, or -1 when it is still running after timeoutMs.
    int finish(int timeoutMs)
    {
        if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit)
            return -1;
        out += process.readAllStandardOutput();
        err += process.readAllStandardError();
        return process.exitCode();
    }

    void signal(int number) { ::kill(pid_t(process.processId()), number); }

    qint64 pid() const { return process.processId(); }

    // Whether standard output shows text within timeoutMs.
    bool shows(const QByteArray &text, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (!out.contains(text) && clock.elapsed() < timeoutMs) {
            process.waitForReadyRead(100);
            out += process.readAllStandardOutput();
        }
        return out.contains(text);
    }

    QByteArray out;
    QByteArray err;

private:
    QProcess process;
};

// The records of a JSON Lines log, or an empty list if one does not parse.
QList<QJsonObject> logRecords(const QString &path)
{
    QList<QJsonObject> records;
    for (const QByteArray &line : readFile(path).split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (!document.isObject())
            return {};
        records << document.object();
    }
    return records;
}

QString result(const QJsonObject &record) { return record.value("result").toString(); }

} // namespace

class tst_TrelvoFlash : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sendsImages_data();
    void sendsImages();
    void boardTextBeforeTheRequest_data();
    void boardTextBeforeTheRequest();
    void boardNeverReady_data();
    void boardNeverReady();
    void fourPortsOneFailing_data();
    void fourPortsOneFailing();
    void boardsInTurnOnTwoPorts();
    void failedBoardAndChangedImage();
    void watchedFolder();
    void receives_data();
    void receives();
    void interruptMidTransfer_data();
    void interruptMidTransfer();
    void badInput_data();
    void badInput();
    void output_data();
    void output();

private:
    QString image(int size, quint32 seed = 1);
    QString path(const QString &name) const { return folder->filePath(name); }

    std::unique_ptr<QTemporaryDir> folder;
};

void tst_TrelvoFlash::init()
{
    folder.reset(new QTemporaryDir);
    QVERIFY(folder->isValid());
}

void tst_TrelvoFlash::cleanup() { folder.reset(); }

QString tst_TrelvoFlash::image(int size, quint32 seed)
{
    const QString name = path(QStringLiteral("fw-%1.bin").arg(size));
    writeFile(name, randomBytes(size, seed));
    return name;
}

void tst_TrelvoFlash::sendsImages_data()
{
    QTest::addColumn<bool>("handshake");
    QTest::newRow("boot monitor dialogue") << true;
    QTest::newRow("no handshake, rb waiting") << false;
}

void tst_TrelvoFlash::sendsImages()
{
    QFETCH(bool, handshake);
    // One port per size, all at once: each board costs rb's own pauses.
    const QList<int> sizes = { 0, 1, 1024, 1025, 300 * 1024 };
    std::vector<std::unique_ptr<BoardProcess>> boards;
    std::vector<std::unique_ptr<PseudoTerminal>> lines;
    std::vector<std::unique_ptr<Flash>> runs;
    for (const int size : sizes) {
        const QString target = path(QString("boards-%1").arg(size));
        QVERIFY(QDir().mkpath(target + "/board-1"));
        runs.push_back(std::make_unique<Flash>());
        if (handshake) {
            boards.push_back(std::make_unique<BoardProcess>(QStringLiteral(BOARD_PROGRAM)));
            QVERIFY(boards.back()->start({ "--folder", target }));
            runs.back()->start({ "-p", boards.back()->linePath(), image(size) });
        } else {
            lines.push_back(std::make_unique<PseudoTerminal>());
            QVERIFY(startRb(*lines.back(), target + "/board-1"));
            runs.back()->start({ "--no-handshake", "-p", lines.back()->slavePath(), image(size) });
        }
    }
    for (int i = 0; i < sizes.size(); ++i) {
        const int size = sizes.at(i);
        const QString received = path(QString("boards-%1/board-1/fw-%1.bin").arg(size));
        QVERIFY2(runs.at(i)->finish(BoardRunMs) == 0, qPrintable(received));
        QVERIFY2(readFile(received) == randomBytes(size, 1), qPrintable(received));
    }
}

void tst_TrelvoFlash::boardTextBeforeTheRequest_data()
{
    QTest::addColumn<bool>("handshake");
    QTest::addColumn<QList<QByteArray>>("monitorOutput");
    QTest::addColumn<QByteArray>("beforeRequest");
    QTest::addColumn<bool>("requestWithText");

    const QByteArray waiting = "Waiting for the file to be sent ... (press 'a' to abort)\r\n";
    QTest::newRow("prompt in one chunk; text with 'a', then C on its own")
        << true << QList<QByteArray> { Banner } << waiting << false;
    // The adapter cut the prompt so that no chunk carries the marker.
    QTest::newRow("prompt cut before its last byte; C right after the text")
        << true << QList<QByteArray> { Banner.chopped(1), Banner.right(1) } << waiting << true;
    QTest::newRow("no handshake: loader's text with 'a' and 'A', then C")
        << false << QList<QByteArray>()
        << QByteArray("## Ready for binary (ymodem) download to 0x40200000 at 115200 bps...\r\n"
                      "Abort with 'a' or 'A'\r\n")
        << false;
}

void tst_TrelvoFlash::boardTextBeforeTheRequest()
{
    QFETCH(bool, handshake);
    QFETCH(QList<QByteArray>, monitorOutput);
    QFETCH(QByteArray, beforeRequest);
    QFETCH(bool, requestWithText);
    const QString file = image(3000);
    PseudoTerminal line;
    LinePeer peer(line);
    Flash flash;
    QStringList arguments = { "-p", line.slavePath(), file };
    if (!handshake)
        arguments << "--no-handshake";
    flash.start(arguments);

    for (const QByteArray &chunk : monitorOutput) {
        peer.send(chunk);
        // Far apart enough to arrive as two reads, as from an adapter.
        QTest::qWait(30);
    }
    if (handshake)
        QCOMPARE(peer.take(1, 5000), QByteArray("1"));
    else
        QTest::qWait(300);
    peer.send(requestWithText ? beforeRequest + 'C' : beforeRequest);
    const ReceivedTransfer received = playReceiver(
        peer, requestWithText ? FirstRequest::AlreadyHeard : FirstRequest::Send);
    QVERIFY(received.complete);
    QVERIFY(received.blocks.join().left(3000) == randomBytes(3000, 1));
    QCOMPARE(flash.finish(5000), 0);
}

void tst_TrelvoFlash::boardNeverReady_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("unplugged");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("no boot monitor within --wait")
        << QStringList { "--wait", "0.3" } << false << "timed out";
    QTest::newRow("no request within --wait, no handshake")
        << QStringList { "--wait", "0.3", "--no-handshake" } << false << "timed out";
    QTest::newRow("adapter unplugged after the answer") << QStringList() << true << "failed";
}

void tst_TrelvoFlash::boardNeverReady()
{
    QFETCH(QStringList, options);
    QFETCH(bool, unplugged);
    QFETCH(QString, outcome);
    const QString log = path("boards.jsonl");
    auto line = std::make_unique<PseudoTerminal>();
    const QString port = line->slavePath();
    Flash flash;
    flash.start(options << "--log" << log << "-p" << port << image(100));
    if (unplugged) {
        line->write(Banner);
        QCOMPARE(line->read(1, 5000), QByteArray("1"));
        line.reset();
    }
    QCOMPARE(flash.finish(5000), 1);
    const QList<QJsonObject> records = logRecords(log);
    QCOMPARE(int(records.size()), 1);
    QCOMPARE(result(records.first()), outcome);
    QVERIFY(flash.err.contains(port.toUtf8() + ": board 1: "));
}

void tst_TrelvoFlash::fourPortsOneFailing_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("timeoutMs");
    QTest::newRow("board 2 cancels") << "--cancel" << "cancelled" << BoardRunMs;
    QTest::newRow("board 2 falls silent") << "--silent" << "failed" << SilentBoardRunMs;
}

void tst_TrelvoFlash::fourPortsOneFailing()
{
    QFETCH(QString, fault);
    QFETCH(QString, failure);
    QFETCH(int, timeoutMs);
    const int size = 10 * 1024;
    const QString file = image(size);
    const QString log = path("boards.jsonl");

    std::vector<std::unique_ptr<BoardProcess>> boards;
    QStringList arguments = { "--log", log, file };
    for (int port = 1; port <= 4; ++port) {
        boards.push_back(std::make_unique<BoardProcess>(QStringLiteral(BOARD_PROGRAM)));
        QStringList boardArguments = { "--folder", path(QString("port-%1").arg(port)) };
        if (port == 2)
            boardArguments << fault << "1";
        QVERIFY(boards.back()->start(boardArguments));
        arguments << "-p" << boards.back()->linePath();
    }
    Flash flash;
    flash.start(arguments);
    QCOMPARE(flash.finish(timeoutMs), 1);

    const QList<QJsonObject> records = logRecords(log);
    QCOMPARE(int(records.size()), 4);
    for (int port = 1; port <= 4; ++port) {
        const QString name = boards.at(port - 1)->linePath();
        const auto record = std::find_if(records.begin(), records.end(),
            [&](const QJsonObject &r) { return r.value("port").toString() == name; });
        QVERIFY2(record != records.end(), qPrintable(name));
        QCOMPARE(record->value("size").toInt(), size);
        QCOMPARE(result(*record), port == 2 ? failure : QString("completed"));
        const QString received = path(QString("port-%1/board-1/").arg(port)) + "fw-10240.bin";
        if (port != 2)
            QVERIFY(readFile(received) == randomBytes(size, 1));
        QVERIFY(flash.out.contains(QString("%1: %2 done, %3 failed")
                                       .arg(name)
                                       .arg(port == 2 ? 0 : 1)
                                       .arg(port == 2 ? 1 : 0)
                                       .toUtf8()));
    }
    QVERIFY(flash.err.contains(boards.at(1)->linePath().toUtf8()));
}

void tst_TrelvoFlash::boardsInTurnOnTwoPorts()
{
    const QString file = image(5000);
    BoardProcess first(QStringLiteral(BOARD_PROGRAM));
    BoardProcess second(QStringLiteral(BOARD_PROGRAM));
    QVERIFY(first.start({ "--folder", path("first"), "--boards", "3" }));
    QVERIFY(second.start({ "--folder", path("second"), "--boards", "3" }));
    Flash flash;
    flash.start({ "-n", "3", "-p", first.linePath(), "-p", second.linePath(), file });
    QCOMPARE(flash.finish(3 * BoardRunMs), 0);
    for (const char *port : { "first", "second" }) {
        for (int board = 1; board <= 3; ++board) {
            const QString received = path(QString("%1/board-%2/fw-5000.bin").arg(port).arg(board));
            QVERIFY2(readFile(received) == randomBytes(5000, 1), qPrintable(received));
        }
    }
}

void tst_TrelvoFlash::failedBoardAndChangedImage()
{
    const int size = 5000;
    const QString file = image(size);
    const QByteArray digest
        = QCryptographicHash::hash(randomBytes(size, 1), QCryptographicHash::Sha256).toHex();
    const QString log = path("boards.jsonl");
    BoardProcess board(QStringLiteral(BOARD_PROGRAM));
    QVERIFY(board.start(
        { "--folder", path("boards"), "--boards", "3", "--cancel", "2", "--receiver", "own" }));
    Flash flash;
    flash.start({ "-n", "3", "--log", log, "-p", board.linePath(), file });
    // A build that overwrites the image between two boards.
    QTRY_VERIFY_WITH_TIMEOUT(board.reported(1, "received"), BoardRunMs);
    QVERIFY(writeFile(file, randomBytes(size, 2)));

    QCOMPARE(flash.finish(BoardRunMs), 1);
    QCOMPARE(
        int(flash.err.count("the image changed on disk; still sending the one read at the start")),
        1);
    const QList<QJsonObject> records = logRecords(log);
    QCOMPARE(int(records.size()), 3);
    for (int number = 1; number <= 3; ++number) {
        const QJsonObject &record = records.at(number - 1);
        QCOMPARE(result(record), number == 2 ? QString("cancelled") : QString("completed"));
        QCOMPARE(record.value("sha256").toString().toLatin1(), digest);
    }
    for (const int number : { 1, 3 }) {
        const QString received = path(QString("boards/board-%1/fw-5000.bin").arg(number));
        QVERIFY2(readFile(received) == randomBytes(size, 1), qPrintable(received));
    }
}

// A fixture whose boards each bring their own USB serial device: the
// device's link appears with the board and vanishes when it is pulled.
void tst_TrelvoFlash::watchedFolder()
{
    const QString file = image(5000);
    const QString log = path("boards.jsonl");
    const QString fixture = path("slots");
    QVERIFY(QDir().mkpath(fixture));
    const QString link = fixture + "/slot-1";
    Flash flash;
    // Two patterns that match the same link: it is one port all the same.
    flash.start({ "-n", "0", "--log", log, "--watch", fixture + "/slot-*", "--watch",
        fixture + "/*-1", file });
    QVERIFY(flash.shows("watching", 5000));
    const int descriptorsAtStart = openDescriptors(flash.pid());
    QVERIFY(descriptorsAtStart > 0);

    BoardProcess board(QStringLiteral(BOARD_PROGRAM));
    QVERIFY(board.start({ "--link", link, "--folder", path("boards"), "--boards", "3", "--unplug",
        "2", "--receiver", "own" }));
    QTRY_VERIFY_WITH_TIMEOUT(board.reports().contains("all 3 boards done"), BoardRunMs);
    // The last board took its line along.
    QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(flash.pid()), descriptorsAtStart, 5000);
    flash.signal(SIGINT);
    QCOMPARE(flash.finish(5000), 1);

    const QList<QJsonObject> records = logRecords(log);
    QCOMPARE(int(records.size()), 3);
    QCOMPARE(result(records.at(1)), QString("failed"));
    QVERIFY(records.at(1).value("error").toString().startsWith("port gone"));
    for (const int number : { 1, 3 }) {
        QCOMPARE(result(records.at(number - 1)), QString("completed"));
        const QString received = path(QString("boards/board-%1/fw-5000.bin").arg(number));
        QVERIFY2(readFile(received) == randomBytes(5000, 1), qPrintable(received));
    }
    QCOMPARE(int(flash.out.count(" done, ")), 1);
    QVERIFY(flash.out.contains(link.toUtf8() + ": 2 done, 1 failed, 2 port gone, "));
}

void tst_TrelvoFlash::receives_data()
{
    QTest::addColumn<QStringList>("sbOptions");
    QTest::addColumn<QByteArray>("headerName");
    QTest::addColumn<int>("exitStatus");
    QTest::newRow("sb sends a file") << QStringList() << QByteArray() << 0;
    QTest::newRow("sb sends its full path: only the name is kept")
        << QStringList { "--full-path" } << QByteArray() << 0;
    QTest::newRow("a header naming the parent folder is refused")
        << QStringList() << QByteArray("..") << 1;
}

void tst_TrelvoFlash::receives()
{
    QFETCH(QStringList, sbOptions);
    QFETCH(QByteArray, headerName);
    QFETCH(int, exitStatus);
    const QString file = image(40000, 7);
    const QString target = path("received");
    QVERIFY(QDir().mkpath(target));
    PseudoTerminal line;
    LinePeer peer(line);
    Flash flash;

    if (headerName.isEmpty()) {
        QVERIFY(line.startPeer("sb", QStringList { "-q" } << sbOptions << file));
        flash.start({ "--receive", target, "-p", line.slavePath() });
        QCOMPARE(flash.finish(BoardRunMs), exitStatus);
        QCOMPARE(line.waitForPeer(BoardRunMs), 0);
        QCOMPARE(folderEntries(target), QStringList { "fw-40000.bin" });
        QVERIFY(readFile(target + "/fw-40000.bin") == randomBytes(40000, 7));
        QVERIFY(flash.out.contains("received fw-40000.bin (40000 bytes)"));
        return;
    }
    flash.start({ "--receive", target, "-p", line.slavePath() });
    QCOMPARE(peer.take(1, 5000), QByteArray("C"));
    peer.send(LinePeer::headerPacket(headerName + '\0' + "5" + '\0'));
    QCOMPARE(peer.take(int(Ymodem::CancelCount)), LinePeer::FiveCan);
    QCOMPARE(flash.finish(5000), exitStatus);
    QCOMPARE(folderEntries(target), QStringList());
    QCOMPARE(folderEntries(folder->path()), QStringList({ "fw-40000.bin", "received" }));
}

void tst_TrelvoFlash::interruptMidTransfer_data()
{
    QTest::addColumn<bool>("receiving");
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("Ctrl-C while sending") << false << int(SIGINT);
    QTest::newRow("SIGTERM while receiving") << true << int(SIGTERM);
}

void tst_TrelvoFlash::interruptMidTransfer()
{
    QFETCH(bool, receiving);
    QFETCH(int, signalNumber);
    const QString file = image(64 * 1024);
    const QString target = path("received");
    const QString log = path("boards.jsonl");
    QVERIFY(QDir().mkpath(target));
    PseudoTerminal line;
    LinePeer peer(line);
    Flash flash;

    if (receiving) {
        flash.start({ "--receive", target, "--log", log, "-p", line.slavePath() });
        QCOMPARE(peer.take(1, 5000), QByteArray("C"));
        peer.send(LinePeer::headerPacket(QByteArray("fw.bin") + '\0' + "65536" + '\0'));
        QCOMPARE(peer.take(2), LinePeer::AckC);
        peer.send(LinePeer::packet(1, randomBytes(1024)));
        QCOMPARE(peer.take(1), QByteArray(1, LinePeer::ACK));
    } else {
        flash.start({ "--no-handshake", "--log", log, "-p", line.slavePath(), file });
        peer.send("C");
        QVERIFY(LinePeer::isValidPacket(peer.takePacket(5000), 0));
        peer.send(LinePeer::AckC);
        QVERIFY(LinePeer::isValidPacket(peer.takePacket(), 1));
    }

    QElapsedTimer clock;
    clock.start();
    flash.signal(signalNumber);
    QCOMPARE(peer.take(int(Ymodem::CancelCount)), LinePeer::FiveCan);
    QCOMPARE(flash.finish(5000), 1);
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    const QList<QJsonObject> records = logRecords(log);
    QCOMPARE(int(records.size()), 1);
    QCOMPARE(result(records.first()), QString("cancelled"));
    QCOMPARE(folderEntries(target), QStringList());
}

void tst_TrelvoFlash::badInput_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    // PORT stands for a line nobody answers on, FILE for a readable image.
    QTest::newRow("missing file") << QStringList { "-p", "PORT", "/no/such/image.bin" }
                                  << "cannot read /no/such/image.bin";
    QTest::newRow("a folder as the file") << QStringList { "-p", "PORT", "/tmp" }
                                          << "cannot read /tmp";
    QTest::newRow("no file") << QStringList { "-p", "PORT" } << "no FILE";
    QTest::newRow("unknown option") << QStringList { "-p", "PORT", "--fast", "FILE" }
                                    << "Unknown option 'fast'";
    QTest::newRow("baud rate not a number") << QStringList { "-p", "PORT", "-b", "fast", "FILE" }
                                            << "--baud takes a positive number";
    QTest::newRow("baud rate zero") << QStringList { "-p", "PORT", "-b", "0", "FILE" }
                                    << "--baud takes a positive number";
    QTest::newRow("negative -n") << QStringList { "-p", "PORT", "-n", "-1", "FILE" }
                                 << "--boards takes a number of 0 or more";
    QTest::newRow("negative --wait") << QStringList { "-p", "PORT", "--wait", "-5", "FILE" }
                                     << "--wait takes a number of seconds of 0 or more";
    QTest::newRow("log that cannot be opened")
        << QStringList { "-p", "PORT", "--log", "/no/such/folder/log.jsonl", "FILE" }
        << "cannot open the log /no/such/folder/log.jsonl";
    QTest::newRow("receive folder that cannot be written")
        << QStringList { "-p", "PORT", "--receive", "/no/such/folder" }
        << "cannot write into the receive folder /no/such/folder";
    QTest::newRow("no --port") << QStringList { "FILE" } << "no --port or --watch given";
    QTest::newRow("no port can be opened") << QStringList { "-p", "/dev/no-such-tty", "FILE" }
                                           << "/dev/no-such-tty: board 1: cannot open the port";
}

void tst_TrelvoFlash::badInput()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    PseudoTerminal line;
    arguments.replaceInStrings(QRegularExpression("^PORT$"), line.slavePath());
    arguments.replaceInStrings(QRegularExpression("^FILE$"), image(100));
    Flash flash;
    flash.start(arguments);
    QCOMPARE(flash.finish(5000), 2);
    QVERIFY2(flash.err.contains(message.toUtf8()), flash.err.constData());
    QCOMPARE(line.readAvailable(), QByteArray());
}

void tst_TrelvoFlash::output_data()
{
    QTest::addColumn<bool>("terminal");
    QTest::newRow("on a terminal: progress in place") << true;
    QTest::newRow("piped: plain lines") << false;
}

void tst_TrelvoFlash::output()
{
    QFETCH(bool, terminal);
    const int size = 20 * 1024;
    const QString file = image(size);
    PseudoTerminal line;
    PseudoTerminal console;
    LinePeer peer(line);
    Flash flash;
    if (terminal)
        flash.outputTo(console.slavePath());
    flash.start({ "--no-handshake", "-p", line.slavePath(), file });

    peer.send("C");
    QVERIFY(LinePeer::isValidPacket(peer.takePacket(5000), 0));
    peer.send(LinePeer::AckC);
    QVERIFY(LinePeer::isValidPacket(peer.takePacket(), 1));
    QByteArray shown;
    if (terminal) {
        // Held at block 1 until the display has shown it.
        QTRY_VERIFY((shown += console.readAvailable()).contains("  5%  "));
    }
    peer.send(QByteArray(1, LinePeer::ACK));
    for (int block = 2; block <= size / 1024; ++block) {
        QVERIFY(LinePeer::isValidPacket(peer.takePacket(), quint8(block)));
        peer.send(QByteArray(1, LinePeer::ACK));
    }
    QCOMPARE(peer.take(1), QByteArray(1, LinePeer::EOT));
    peer.send(QByteArray(1, LinePeer::NAK));
    QCOMPARE(peer.take(1), QByteArray(1, LinePeer::EOT));
    peer.send(LinePeer::AckC);
    QVERIFY(LinePeer::isValidPacket(peer.takePacket(), 0));
    peer.send(QByteArray(1, LinePeer::ACK));
    QCOMPARE(flash.finish(5000), 0);

    const QByteArray port = line.slavePath().toUtf8();
    if (terminal) {
        shown += console.readAvailable();
        QVERIFY(shown.contains("\r\x1b[2K" + port + "  board 1    5%  "));
        QVERIFY(shown.contains("KiB/s"));
        QVERIFY(shown.contains(" left"));
        QVERIFY(shown.contains(port + "  board 1  completed"));
    } else {
        shown = flash.out;
        for (const char byte : shown)
            QVERIFY2(byte == '\n' || uchar(byte) >= 0x20, shown.constData());
        QVERIFY(shown.contains(port + " board 1: sending fw-20480.bin (20480 bytes)\n"));
        QVERIFY(shown.contains(port + " board 1: completed in "));
    }
    QVERIFY(shown.contains(port + ": 1 done, 0 failed, "));
}

QTEST_GUILESS_MAIN(tst_TrelvoFlash)
#include "tst_trelvoflash.moc"
