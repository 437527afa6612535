#include "board.h"

#include "ymodem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTextStream>

namespace {

// An operator who sees no reaction presses reset again after about a second.
const int BannerRepeatMs = 1000;
// rb repeats its request only every ten seconds or so; a boot monitor's
// receiver asks much more often, and the tool starts sending on the first
// request it sees after it has taken the line over.
const int AskRepeatMs = 500;
// Time between the end of one board's transfer and the next board's first
// output; it also lets the tool read the last bytes of the transfer.
const int ResetMs = 300;
// A receiver asks for the file a moment after the monitor's prompt, so the
// tool reads its first request apart from the prompt; the silent board
// asks only once and would otherwise be missed.
const int ReceiverStartMs = 100;
// Far enough into the file that the tool has shown progress.
const int CancelAtBlock = 3;
const int CorruptBlock = 2;
// The speed a monitor's console announces when the line has none of its own.
const int ConsoleBaud = 115200;
// From a board's line vanishing to the next one's appearing: longer than the
// tool's half-second look for a missing device, as a USB device takes
// longer than that to enumerate again.
const int ReplugMs = 700;

// The tool recognises the monitor by an 'F' eighth from the end of what it
// reads, so the prompt "FW-BOOT>" closes the output.
QByteArray banner(int board)
{
    return QStringLiteral("\r\nTrelvo boot monitor, board %1\r\n1: update firmware\r\nFW-BOOT>")
        .arg(board)
        .toLatin1();
}

// Boot monitors announce their receiver before its first request, and the
// text holds the letter 'a' that aborts a receiver: a sender that takes it
// for its peer's answer gives up the transfer.
QByteArray receiverPrompt(int baud)
{
    return QStringLiteral(
               "\r\n## Ready for binary (ymodem) download to 0x40200000 at %1 bps...\r\n")
        .arg(baud)
        .toLatin1();
}

QString describe(char byte)
{
    return QStringLiteral("0x%1").arg(uint(uchar(byte)), 2, 16, QLatin1Char('0'));
}

QString milliseconds(qint64 ns)
{
    return QString::number(double(ns) / 1e6, 'f', 2);
}

void say(const QString &line)
{
    QTextStream out(stdout);
    out << line << '\n';
    out.flush();
}

} // namespace

Board::Board(const BoardSetup &setup, const BoardFaults &faults)
    : toBoard(setup.baud / BoardSetup::BitsPerByte)
    , toTool(setup.baud / BoardSetup::BitsPerByte)
    , setup(setup)
    , faults(faults)
{
    connect(&toBoard, &PacedLine::arrived, this, &Board::fromTool);
    // Bytes still on their way when the line is pulled out are lost with it.
    connect(&toTool, &PacedLine::arrived, this, [this](const QByteArray &bytes) {
        if (lineHeard)
            line->write(bytes);
    });
    connect(&bannerTimer, &QTimer::timeout, this, [this] { toTool.send(banner(board)); });
    connect(&askTimer, &QTimer::timeout, this, [this] { toTool.send("C"); });
    plugIn();
}

Board::~Board() { unplug(); }

QString Board::linePath() const
{
    if (!line)
        return QString();
    return setup.link.isEmpty() ? line->slavePath() : setup.link;
}

void Board::start()
{
    boot();
}

bool Board::plugIn()
{
    line = std::make_unique<PseudoTerminal>();
    if (!line->isOpen()) {
        line.reset();
        return false;
    }
    lineHeard = new QSocketNotifier(line->masterDescriptor(), QSocketNotifier::Read, this);
    connect(lineHeard, &QSocketNotifier::activated, this, &Board::lineReadable);
    if (!setup.link.isEmpty()) {
        QFile::remove(setup.link);
        QFile::link(line->slavePath(), setup.link);
    }
    return true;
}

void Board::unplug()
{
    if (!lineHeard)
        return;
    if (!setup.link.isEmpty())
        QFile::remove(setup.link);
    delete lineHeard;
    lineHeard = nullptr;
    line.reset();
}

void Board::boot()
{
    ++board;
    phase = Phase::Booting;
    units.clear();
    timeline = Timeline();
    report(QStringLiteral("reset, waiting for the answer \"1\""));
    timeline.marker = toTool.send(banner(board));
    bannerTimer.start(BannerRepeatMs);
}

void Board::lineReadable()
{
    const QByteArray bytes = line->readAvailable();
    if (!bytes.isEmpty())
        toBoard.send(bytes);
}

void Board::fromTool(const QByteArray &bytes)
{
    switch (phase) {
    case Phase::Booting:
        for (const char byte : bytes) {
            if (phase == Phase::Booting && byte == '1') {
                timeline.answer = monotonicNs() - toBoard.duration(bytes.size());
                answered();
            } else {
                report(QStringLiteral("unexpected byte %1 from the tool").arg(describe(byte)));
            }
        }
        break;
    case Phase::Receiving:
        units.append(bytes);
        for (QByteArray unit = units.take(); !unit.isEmpty() && phase == Phase::Receiving;
             unit = units.take())
            relayToReceiver(unit);
        break;
    case Phase::Silent:
        if (bytes.contains(char(Ymodem::CAN))) {
            report(QStringLiteral("the tool gave up"));
            reset();
        }
        break;
    case Phase::Resetting:
        break;
    }
}

void Board::answered()
{
    bannerTimer.stop();
    report(QStringLiteral("answered"));
    toTool.send(receiverPrompt(setup.baud > 0 ? setup.baud : ConsoleBaud));
    if (faults.silent.contains(board)) {
        phase = Phase::Silent;
        QTimer::singleShot(ReceiverStartMs, this, [this, number = board] {
            if (phase == Phase::Silent && board == number)
                toTool.send("C");
        });
        report(QStringLiteral("asks for the file once, then falls silent"));
        return;
    }
    startReceiver();
}

void Board::startReceiver()
{
    phase = Phase::Receiving;
    toolHeard = false;
    corrupted = false;
    QDir().mkpath(boardFolder());
    receiver = Receiver::create(setup.receiver, boardFolder());
    receiver->setParent(this);
    connect(receiver, &Receiver::output, this, &Board::relayFromReceiver);
    connect(receiver, &Receiver::finished, this, &Board::receiverFinished);
    connect(receiver, &Receiver::unavailable, this, [this](const QString &reason) {
        report(reason);
        emit finished(1);
    });
    receiver->start();
}

void Board::relayToReceiver(QByteArray unit)
{
    timeUnit(unit);
    if (unit.size() == 1) {
        if (!toolHeard && uchar(unit.at(0)) != Ymodem::CAN)
            report(QStringLiteral("unexpected byte %1 from the tool").arg(describe(unit.at(0))));
        receiver->write(unit);
        return;
    }
    toolHeard = true;
    askTimer.stop();
    const int number = uchar(unit.at(1));
    if (faults.cancel.contains(board) && number == CancelAtBlock) {
        cancelTransfer();
        return;
    }
    if (faults.unplug.contains(board) && number == CancelAtBlock) {
        report(QStringLiteral("pulled out at block %1").arg(CancelAtBlock));
        stopBoard();
        pullOut();
        return;
    }
    if (faults.corrupt.contains(board) && number == CorruptBlock && !corrupted) {
        unit[Ymodem::PayloadOffset] = char(~unit.at(Ymodem::PayloadOffset));
        corrupted = true;
        report(QStringLiteral("damaged block %1 on the line").arg(number));
    }
    receiver->write(unit);
}

void Board::relayFromReceiver(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    const qint64 through = toTool.send(bytes);
    if (timeline.request < 0)
        timeline.request = through;
    else if (timeline.header >= 0 && timeline.firstBlock < 0)
        timeline.headerAnswered = through;
    // rb throws away what arrives before its first request, so the board
    // asks on rb's behalf only from then on, until the tool starts sending.
    if (phase == Phase::Receiving && !toolHeard && !askTimer.isActive()) {
        askTimer.start(AskRepeatMs);
        report(QStringLiteral("asks for the file"));
    }
}

// The tool's share of the time from the monitor's marker to data block 1:
// how long it took to answer each of the board's three turns, measured from
// the moment the turn's last byte reached it to the moment its reply began.
// Then the data rate, from block 1 to the EOT.
void Board::timeUnit(const QByteArray &unit)
{
    const qint64 now = monotonicNs();
    if (unit.size() == 1) {
        if (uchar(unit.at(0)) == Ymodem::EOT && timeline.firstBlock >= 0
            && timeline.endOfFile < 0) {
            timeline.endOfFile = now;
            report(QStringLiteral("%1 data bytes in %2 ms")
                       .arg(timeline.dataBytes)
                       .arg(milliseconds(timeline.endOfFile - timeline.firstBlock)));
        }
        return;
    }
    const qint64 begun = now - toBoard.duration(unit.size());
    const int number = uchar(unit.at(1));
    if (timeline.header < 0) {
        timeline.header = begun;
        return;
    }
    if (timeline.endOfFile >= 0 || (timeline.firstBlock < 0 && number == 0))
        return;
    if (timeline.firstBlock < 0) {
        timeline.firstBlock = begun;
        if (timeline.request >= 0 && timeline.headerAnswered >= 0)
            report(QStringLiteral("the tool answered the monitor in %1 ms, sent the header %2 ms "
                                  "after the first request and block 1 %3 ms after the "
                                  "header's answer")
                       .arg(milliseconds(timeline.answer - timeline.marker))
                       .arg(milliseconds(timeline.header - timeline.request))
                       .arg(milliseconds(timeline.firstBlock - timeline.headerAnswered)));
    }
    if (number != timeline.lastBlock) {
        timeline.dataBytes += unit.size() - Ymodem::PacketOverhead;
        timeline.lastBlock = number;
    }
}

void Board::receiverFinished(bool completed, const QString &outcome)
{
    askTimer.stop();
    const QFileInfoList images = QDir(boardFolder()).entryInfoList(QDir::Files);
    if (completed && !images.isEmpty()) {
        report(QStringLiteral("received %1 (%2 bytes) in %3")
                   .arg(images.first().fileName())
                   .arg(images.first().size())
                   .arg(boardFolder()));
    } else {
        report(QStringLiteral("the transfer failed (%1)").arg(outcome));
    }
    reset();
}

void Board::cancelTransfer()
{
    delete receiver;
    receiver = nullptr;
    toTool.send(QByteArray(Ymodem::CancelCount, char(Ymodem::CAN)));
    report(QStringLiteral("cancelled the transfer at block %1").arg(CancelAtBlock));
    reset();
}

void Board::stopBoard()
{
    phase = Phase::Resetting;
    askTimer.stop();
    bannerTimer.stop();
    if (receiver) {
        receiver->disconnect(this);
        receiver->deleteLater();
        receiver = nullptr;
    }
}

void Board::reset()
{
    stopBoard();
    QTimer::singleShot(ResetMs, this, [this] {
        if (setup.hotplug && board < setup.boards)
            pullOut();
        else
            nextOrFinish();
    });
}

// The board goes and takes its line with it; the next one comes with a new
// line, under the same link.
void Board::pullOut()
{
    unplug();
    QTimer::singleShot(ReplugMs, this, [this] {
        if (plugIn()) {
            nextOrFinish();
            return;
        }
        report(QStringLiteral("no pseudo-terminal available"));
        emit finished(1);
    });
}

void Board::nextOrFinish()
{
    if (board < setup.boards) {
        boot();
        return;
    }
    say(QStringLiteral("all %1 boards done").arg(setup.boards));
    emit finished(0);
}

void Board::report(const QString &what)
{
    say(QStringLiteral("board %1: %2").arg(board).arg(what));
}

QString Board::boardFolder() const
{
    return QDir(setup.folder).absoluteFilePath(QStringLiteral("board-%1").arg(board));
}
