#include "board.h"

#include <QDir>
#include <QFileInfo>
#include <QTextStream>

namespace {

// The tool reads its port every 10 ms; looking at the line twice as often
// keeps the board out of the transfer's pace.
const int LinePollMs = 5;
// An operator who sees no reaction presses reset again after about a second.
const int BannerRepeatMs = 1000;
// rb repeats its request only every ten seconds or so; a boot monitor's
// receiver asks much more often, and the tool starts sending on the first
// request it sees after it has taken the line over.
const int AskRepeatMs = 500;
// Time between the end of one board's transfer and the next board's first
// output; it also lets the tool read the last bytes of the transfer.
const int ResetMs = 300;
// Far enough into the file that the tool has shown progress.
const int CancelAtBlock = 3;
const int CorruptBlock = 2;
const int FirstPayloadByte = 3;
const char CAN = 0x18;

// The tool recognises the monitor by an 'F' eighth from the end of what it
// reads, so the prompt "FW-BOOT>" closes the output.
QByteArray banner(int board)
{
    return QStringLiteral("\r\nTrelvo boot monitor, board %1\r\n1: update firmware\r\nFW-BOOT>")
        .arg(board)
        .toLatin1();
}

QString describe(char byte)
{
    return QStringLiteral("0x%1").arg(uint(uchar(byte)), 2, 16, QLatin1Char('0'));
}

void say(const QString &line)
{
    QTextStream out(stdout);
    out << line << '\n';
    out.flush();
}

} // namespace

Board::Board(const QString &folder, int boards, const BoardFaults &faults)
    : folder(folder), boards(boards), faults(faults)
{
    connect(&linePoll, &QTimer::timeout, this, &Board::pollLine);
    connect(&bannerTimer, &QTimer::timeout, this, [this] { line.write(banner(board)); });
    connect(&askTimer, &QTimer::timeout, this, &Board::askForFile);
}

QString Board::linePath() const
{
    return line.slavePath();
}

void Board::start()
{
    linePoll.start(LinePollMs);
    boot();
}

void Board::boot()
{
    ++board;
    phase = Phase::Booting;
    fromTool.clear();
    report(QStringLiteral("reset, waiting for the answer \"1\""));
    line.write(banner(board));
    bannerTimer.start(BannerRepeatMs);
}

void Board::pollLine()
{
    const QByteArray bytes = line.readAvailable();
    if (bytes.isEmpty())
        return;
    switch (phase) {
    case Phase::Booting:
        for (const char byte : bytes) {
            if (phase == Phase::Booting && byte == '1')
                answered();
            else
                report(QStringLiteral("unexpected byte %1 from the tool").arg(describe(byte)));
        }
        break;
    case Phase::Receiving:
        fromTool.append(bytes);
        for (QByteArray unit = fromTool.take(); !unit.isEmpty() && phase == Phase::Receiving;
             unit = fromTool.take())
            relayToReceiver(unit);
        break;
    case Phase::Silent:
        if (bytes.contains(CAN)) {
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
    if (faults.silent.contains(board)) {
        phase = Phase::Silent;
        line.write("C");
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
    receiver = new QProcess(this);
    receiver->setWorkingDirectory(boardFolder());
    receiver->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(receiver, &QProcess::readyReadStandardOutput, this, &Board::relayFromReceiver);
    connect(receiver, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &Board::receiverFinished);
    connect(receiver, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        report(QStringLiteral("cannot run rb: %1").arg(receiver->errorString()));
        emit finished(1);
    });
    // Binary, overwriting an image left from an earlier run, and without
    // progress lines: the board reports the outcome itself.
    receiver->start(QStringLiteral("rb"), { QStringLiteral("-b"), QStringLiteral("-y"),
                                            QStringLiteral("-q") });
}

void Board::relayToReceiver(QByteArray unit)
{
    if (unit.size() == 1) {
        if (!toolHeard && unit.at(0) != CAN)
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
    if (faults.corrupt.contains(board) && number == CorruptBlock && !corrupted) {
        unit[FirstPayloadByte] = char(~unit.at(FirstPayloadByte));
        corrupted = true;
        report(QStringLiteral("damaged block %1 on the line").arg(number));
    }
    receiver->write(unit);
}

void Board::relayFromReceiver()
{
    line.write(receiver->readAllStandardOutput());
    // rb throws away what arrives before its first request, so the board
    // asks on rb's behalf only from then on, until the tool starts sending.
    if (phase == Phase::Receiving && !toolHeard && !askTimer.isActive()) {
        askTimer.start(AskRepeatMs);
        report(QStringLiteral("asks for the file"));
    }
}

void Board::askForFile()
{
    line.write("C");
}

void Board::receiverFinished(int exitCode, QProcess::ExitStatus status)
{
    askTimer.stop();
    line.write(receiver->readAllStandardOutput());
    const QFileInfoList images = QDir(boardFolder()).entryInfoList(QDir::Files);
    if (status == QProcess::NormalExit && exitCode == 0 && !images.isEmpty()) {
        report(QStringLiteral("received %1 (%2 bytes) in %3")
                   .arg(images.first().fileName())
                   .arg(images.first().size())
                   .arg(boardFolder()));
    } else {
        report(QStringLiteral("the transfer failed (rb exit code %1)").arg(exitCode));
    }
    reset();
}

void Board::cancelTransfer()
{
    receiver->disconnect(this);
    receiver->kill();
    receiver->waitForFinished();
    line.write(QByteArray(2, CAN));
    report(QStringLiteral("cancelled the transfer at block %1").arg(CancelAtBlock));
    reset();
}

void Board::reset()
{
    phase = Phase::Resetting;
    askTimer.stop();
    bannerTimer.stop();
    if (receiver) {
        receiver->deleteLater();
        receiver = nullptr;
    }
    QTimer::singleShot(ResetMs, this, [this] {
        if (board < boards) {
            boot();
            return;
        }
        say(QStringLiteral("all %1 boards done").arg(boards));
        emit finished(0);
    });
}

void Board::report(const QString &what)
{
    say(QStringLiteral("board %1: %2").arg(board).arg(what));
}

QString Board::boardFolder() const
{
    return QDir(folder).absoluteFilePath(QStringLiteral("board-%1").arg(board));
}
