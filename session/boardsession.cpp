#include "boardsession.h"

#include "bootmonitor.h"
#include "endpointlimits.h"
#include "portwatcher.h"
#include "serialline.h"

#include <QDir>
#include <QFileInfo>

namespace
{

// A USB serial adapter hands on what it has at least every 16 ms (an FTDI
// chip's default latency timer); a boot monitor that printed its prompt
// stays silent far longer, waiting for its answer.
constexpr int QuietLineMs = 20;

// The "1" was taken: a monitor that has not asked for the file within the
// time the sender itself would wait for it never will.
constexpr int RequestAfterAnswerMs = EndpointLimits::SilenceLimitMs;

QString seconds(int ms) { return QString::number(ms / 1000.0, 'g', 3); }

const QString PortGoneReason = QStringLiteral("port gone: the device went away during the board");

} // namespace

BoardSession::BoardSession(const SessionSettings &settings, QObject *parent)
    : QObject(parent)
    , config(settings)
{
    SerialLine::applyDefaults(&monitorLine);
    quietTimer.setSingleShot(true);
    deadline.setSingleShot(true);
    connect(&monitorLine, &QSerialPort::readyRead, this, &BoardSession::lineRead);
    connect(&monitorLine, &QSerialPort::errorOccurred, this, &BoardSession::lineLost);
    connect(&quietTimer, &QTimer::timeout, this, &BoardSession::lineQuiet);
    connect(&deadline, &QTimer::timeout, this, &BoardSession::timedOut);
    connect(&portCheck, &QTimer::timeout, this, &BoardSession::checkPort);

    if (config.receiveFolder.isEmpty()) {
        transmitter = new YmodemFileTransmit(this);
        transmitter->setStepOnAnswer(true);
        connect(transmitter, &YmodemFileTransmit::transmitProgress, this, &BoardSession::progress);
        connect(transmitter, &YmodemFileTransmit::transmitStatus, this,
            &BoardSession::transmitEnded);
    } else {
        receiver = new YmodemFileReceive(this);
        connect(receiver, &YmodemFileReceive::receiveProgress, this, &BoardSession::progress);
        connect(receiver, &YmodemFileReceive::receiveStatus, this, &BoardSession::receiveEnded);
    }
}

void BoardSession::start()
{
    // Also while the port is in use: a transfer on a vanished device would
    // otherwise go on until the sender's patience runs out.
    portCheck.start(PortPollMs);
    waitForBoard();
}

void BoardSession::interrupt()
{
    interrupted = true;
    if (phase != Phase::Transferring)
        finish();
    else
        stopTransfer();
}

void BoardSession::stopAfterCurrentBoard()
{
    stopping = true;
    // A receiver still waiting for a sender has no board yet.
    if (phase == Phase::Transferring && receiver && !headerReceived)
        stopTransfer();
    else if (phase != Phase::Transferring)
        finish();
}

bool BoardSession::opened() const { return everOpened; }

const SessionSettings &BoardSession::settings() const { return config; }

BoardSession::State BoardSession::state() const { return shownState; }

void BoardSession::waitForBoard()
{
    boardTime = QDateTime::currentDateTimeUtc();
    transferClock.invalidate();
    monitorOutput.clear();
    headerReceived = false;
    waitExpired = false;
    lineGone = false;

    monitorLine.setPortName(config.port);
    monitorLine.setBaudRate(config.baudRate, QSerialPort::AllDirections);
    if (!monitorLine.open(QIODevice::ReadWrite)) {
        // A port that never opened is the operator's mistake (a wrong name,
        // no permission); one that did will be back with its device.
        if (everOpened)
            setPhase(Phase::PortGone);
        else
            endBoard(BoardRecord::Failed,
                QStringLiteral("cannot open the port: %1").arg(monitorLine.errorString()));
        return;
    }
    everOpened = true;
    if (config.waitMs >= 0)
        deadline.start(config.waitMs);
    if (receiver) {
        // The receiver asks for the file itself and opens its own port.
        monitorLine.close();
        startReceiving();
        return;
    }
    setPhase(config.handshake ? Phase::WaitingForMonitor : Phase::WaitingForRequest);
}

void BoardSession::lineRead()
{
    const QByteArray chunk = monitorLine.readAll();
    // Only the tail matters to the rules below.
    monitorOutput = (monitorOutput + chunk).right(64);
    if (phase == Phase::WaitingForMonitor && BootMonitor::showsPrompt(chunk))
        answerMonitor();
    else if (phase == Phase::WaitingForRequest && BootMonitor::asksForFile(chunk))
        startSending();
    else
        quietTimer.start(QuietLineMs);
}

void BoardSession::lineQuiet()
{
    // Wherever an adapter cut the output, a monitor waiting for its answer
    // or a receiver waiting for the file has stopped at the end of it.
    if (phase == Phase::WaitingForMonitor && BootMonitor::showsPrompt(monitorOutput))
        answerMonitor();
    else if (phase == Phase::WaitingForRequest
        && monitorOutput.endsWith(char(Ymodem::CRC_REQUEST)))
        startSending();
}

void BoardSession::answerMonitor()
{
    monitorLine.write(BootMonitor::answer());
    monitorOutput.clear();
    setPhase(Phase::WaitingForRequest);
    deadline.start(RequestAfterAnswerMs);
}

void BoardSession::startSending()
{
    // What the board printed before its request stays here: a letter a or
    // A in a banner would cancel the transfer in the engine.
    setPhase(Phase::Transferring);
    quietTimer.stop();
    deadline.stop();
    monitorLine.close();
    transmitter->setSourceFile(config.image);
    transmitter->selectPort(config.port);
    transmitter->selectBaudRate(config.baudRate);
    transmitter->setPendingInput(QByteArray(1, char(Ymodem::CRC_REQUEST)));
    transferClock.start();
    emit transferStarted(boardsEnded + 1, QFileInfo(config.image).fileName(), config.imageSize);
    if (!transmitter->startTransfer())
        endBoard(BoardRecord::Failed, QStringLiteral("cannot open the port for the transfer"));
}

void BoardSession::startReceiving()
{
    setPhase(Phase::Transferring);
    receiver->setTargetFolder(config.receiveFolder);
    receiver->selectPort(config.port);
    receiver->selectBaudRate(config.baudRate);
    // No sender has been heard, so there is no board to record; the port
    // is tried again with the look for its device, never in a tight loop.
    if (!receiver->startTransfer())
        setPhase(Phase::PortGone);
}

void BoardSession::transmitEnded(YmodemFileTransmit::Status status)
{
    switch (status) {
    case YmodemFileTransmit::StatusStarting:
    case YmodemFileTransmit::StatusRunning:
        return;
    case YmodemFileTransmit::StatusCompleted:
        endBoard(BoardRecord::Completed, QString());
        return;
    default:
        break;
    }
    // A transfer on a vanished device ends in whatever way the sender
    // noticed it first.
    if (!interrupted && portGone()) {
        endBoard(BoardRecord::Failed, PortGoneReason);
        return;
    }
    switch (status) {
    case YmodemFileTransmit::StatusCancelled:
        endBoard(BoardRecord::Cancelled,
            interrupted ? QStringLiteral("interrupted")
                        : QStringLiteral("the board cancelled the transfer"));
        return;
    case YmodemFileTransmit::StatusTimedOut:
        endBoard(BoardRecord::TimedOut, QStringLiteral("the board did not ask for the file"));
        return;
    default:
        endBoard(BoardRecord::Failed,
            QStringLiteral("the board stopped answering, or the image could not be read"));
        return;
    }
}

void BoardSession::receiveEnded(YmodemFileReceive::Status status)
{
    switch (status) {
    case YmodemFileReceive::StatusStarting:
        if (!headerReceived) {
            headerReceived = true;
            deadline.stop();
            transferClock.start();
            setPhase(Phase::Transferring);
            emit transferStarted(boardsEnded + 1, receiver->receivedFileName(), 0);
        }
        return;
    case YmodemFileReceive::StatusRunning:
        return;
    case YmodemFileReceive::StatusCompleted:
        endBoard(BoardRecord::Completed, QString());
        return;
    default:
        break;
    }
    if (!interrupted && portGone()) {
        if (headerReceived) {
            endBoard(BoardRecord::Failed, PortGoneReason);
        } else {
            deadline.stop();
            setPhase(Phase::PortGone);
        }
        return;
    }
    switch (status) {
    case YmodemFileReceive::StatusTimedOut:
        // Nobody sent yet and no time limit was given: keep asking.
        if (config.waitMs < 0 && !interrupted) {
            startReceiving();
            return;
        }
        endBoard(BoardRecord::TimedOut, QStringLiteral("no file was sent"));
        return;
    case YmodemFileReceive::StatusCancelled:
        if (waitExpired)
            endBoard(BoardRecord::TimedOut,
                QStringLiteral("no file within %1 s").arg(seconds(config.waitMs)));
        else if ((interrupted || stopping) && !headerReceived)
            finish();
        else
            endBoard(BoardRecord::Cancelled,
                interrupted ? QStringLiteral("interrupted")
                            : QStringLiteral("the sender cancelled the transfer"));
        return;
    default:
        endBoard(BoardRecord::Failed,
            headerReceived ? QStringLiteral("the transfer failed; nothing was kept")
                           : QStringLiteral("the file was refused"));
        return;
    }
}

void BoardSession::timedOut()
{
    if (receiver) {
        if (!headerReceived) {
            waitExpired = true;
            receiver->stopTransfer();
        }
        return;
    }
    if (phase == Phase::WaitingForMonitor)
        endBoard(BoardRecord::TimedOut,
            QStringLiteral("no boot monitor within %1 s").arg(seconds(config.waitMs)));
    else if (phase == Phase::WaitingForRequest)
        endBoard(BoardRecord::TimedOut,
            QStringLiteral("no request for the file within %1 s")
                .arg(seconds(config.handshake ? RequestAfterAnswerMs : config.waitMs)));
}

void BoardSession::lineLost(QSerialPort::SerialPortError problem)
{
    // An unplugged adapter. Qt tells a read that fails on a vanished device
    // as either of the two.
    if ((problem == QSerialPort::ResourceError || problem == QSerialPort::ReadError)
        && monitorLine.isOpen()) {
        lineGone = true;
        portLost();
    }
}

void BoardSession::checkPort()
{
    if (phase == Phase::PortGone) {
        if (devicePresent(config.port))
            waitForBoard();
    } else if (!lineGone && !devicePresent(config.port)) {
        lineGone = true;
        portLost();
    }
}

void BoardSession::portLost()
{
    if (phase == Phase::Transferring) {
        // The endpoint's final status ends the board.
        stopTransfer();
        return;
    }
    quietTimer.stop();
    deadline.stop();
    monitorLine.close();
    // A monitor that has been answered is a board in progress.
    if (phase == Phase::WaitingForRequest && config.handshake)
        endBoard(BoardRecord::Failed, PortGoneReason);
    else
        setPhase(Phase::PortGone);
}

bool BoardSession::portGone() const { return lineGone || !devicePresent(config.port); }

void BoardSession::stopTransfer()
{
    // The final status follows once the CANs have left the port; a transfer
    // that has just ended reports as it is.
    if (transmitter && transmitter->transferStatus() <= YmodemFileTransmit::StatusRunning)
        transmitter->stopTransfer();
    else if (receiver && receiver->transferStatus() <= YmodemFileReceive::StatusRunning)
        receiver->stopTransfer();
}

void BoardSession::endBoard(BoardRecord::Result result, const QString &reason)
{
    quietTimer.stop();
    deadline.stop();
    monitorLine.close();

    BoardRecord record;
    record.time = boardTime;
    record.port = config.port;
    record.board = ++boardsEnded;
    record.result = result;
    record.error = reason;
    record.seconds = transferClock.isValid() ? transferClock.nsecsElapsed() / 1e9 : 0;
    if (transmitter) {
        record.file = QFileInfo(config.image).fileName();
        record.size = config.imageSize;
        record.sha256 = config.imageSha256;
    } else if (headerReceived) {
        record.file = receiver->receivedFileName();
        if (result == BoardRecord::Completed) {
            const QString path = QDir(config.receiveFolder).filePath(record.file);
            record.size = QFileInfo(path).size();
            record.sha256 = fileSha256(path);
        }
    }
    emit boardEnded(record);
    if (result != BoardRecord::Completed)
        emit error(
            QStringLiteral("%1: board %2: %3").arg(config.port).arg(record.board).arg(reason));

    if (!everOpened || interrupted || stopping
        || (config.boards != 0 && boardsEnded >= config.boards))
        finish();
    else if (portGone())
        setPhase(Phase::PortGone);
    else
        waitForBoard();
}

void BoardSession::setPhase(Phase next)
{
    phase = next;
    State shown = State::WaitingForBoard;
    if (phase == Phase::Transferring && (transmitter || headerReceived))
        shown = State::Transferring;
    else if (phase == Phase::PortGone)
        shown = State::PortGone;
    else if (phase == Phase::Done)
        shown = State::Done;
    if (shown == shownState)
        return;
    shownState = shown;
    emit stateChanged(shown);
}

void BoardSession::finish()
{
    if (phase == Phase::Done)
        return;
    quietTimer.stop();
    deadline.stop();
    portCheck.stop();
    monitorLine.close();
    setPhase(Phase::Done);
    emit finished();
}
