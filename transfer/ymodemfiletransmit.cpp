#include "ymodemfiletransmit.h"

#include "endpointlimits.h"
#include "serialline.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QTimer>

#include <cstring>

using namespace EndpointLimits;

YmodemFileTransmit::YmodemFileTransmit(QObject *parent)
    : QObject(parent)
    , Ymodem(TickDivisor, TickLimit, ErrorLimit)
{
    dataFile = new QFile;
    pollTimer = new QTimer;
    finishTimer = new QTimer;
    port = new QSerialPort;

    setTickDivisor(TickDivisor);
    setTickLimit(TickLimit);
    setErrorLimit(ErrorLimit);

    SerialLine::applyDefaults(port);

    connect(pollTimer, &QTimer::timeout, this, &YmodemFileTransmit::readTimeOut);
    connect(finishTimer, &QTimer::timeout, this, &YmodemFileTransmit::writeTimeOut);
    connect(port, &QSerialPort::readyRead, this, [this] {
        if (stepOnAnswer)
            stepOnArrivedAnswers();
    });
    // Queued: the port must not be closed while it reports the error.
    connect(port, &QSerialPort::errorOccurred, this, &YmodemFileTransmit::lineError,
        Qt::QueuedConnection);
}

YmodemFileTransmit::~YmodemFileTransmit()
{
    delete dataFile;
    delete pollTimer;
    delete finishTimer;
    delete port;
}

void YmodemFileTransmit::setStepOnAnswer(bool on) { stepOnAnswer = on; }

void YmodemFileTransmit::setPendingInput(const QByteArray &bytes) { pendingInput = bytes; }

void YmodemFileTransmit::setSourceFile(const QString &path) { dataFile->setFileName(path); }

void YmodemFileTransmit::selectPort(const QString &name) { port->setPortName(name); }

void YmodemFileTransmit::selectBaudRate(int baudRate)
{
    port->setBaudRate(baudRate, QSerialPort::AllDirections);
}

bool YmodemFileTransmit::startTransfer()
{
    progressPercent = 0;
    currentStatus = StatusStarting;
    inFlight.forget();
    lineLost = false;
    if (!port->open(QIODevice::ReadWrite)) {
        pendingInput.clear();
        return false;
    }
    pollTimer->start(PollInterval);
    return true;
}

void YmodemFileTransmit::stopTransfer()
{
    dataFile->close();
    // A packet none of which has left the program yet is dropped, so that
    // the CANs reach the receiver where it waits for a packet.
    if (port->bytesToWrite() > 0 && port->bytesToWrite() >= inFlight.size()) {
        port->clear(QSerialPort::Output);
        inFlight.forget();
    }
    const bool held = running() && inFlight.awaitsAnswer(unread());
    currentStatus = StatusCancelled;
    if (!held) {
        cancel();
        return;
    }
    // The poll sends the CANs once the packet has had its answer.
    cancelHeld = true;
    pollTimer->start(PollInterval);
}

int YmodemFileTransmit::transferProgress() const { return progressPercent; }

YmodemFileTransmit::Status YmodemFileTransmit::transferStatus() const { return currentStatus; }

void YmodemFileTransmit::readTimeOut()
{
    pollTimer->stop();
    if (cancelHeld) {
        if (inFlight.awaitsAnswer(unread()))
            pollTimer->start(PollInterval);
        else
            cancel();
        return;
    }
    transmit();
    if (stepOnAnswer)
        stepOnArrivedAnswers();
    if (running())
        pollTimer->start(PollInterval);
}

void YmodemFileTransmit::writeTimeOut()
{
    finishTimer->stop();
    if (port->isOpen())
        port->close();
    pendingInput.clear();
    emit transmitStatus(currentStatus);
}

void YmodemFileTransmit::lineError(QSerialPort::SerialPortError error)
{
    // Qt reports a vanished device again on every read until the port is
    // closed: the first report ends the transfer.
    if (!port->isOpen() || !SerialLine::deviceGone(port, error))
        return;
    lineLost = true;
    pollTimer->stop();
    port->close();
    // A transfer that has ended keeps its outcome; a stop that still held
    // its CANs back never reached the board.
    if (finishTimer->isActive())
        return;
    cancelHeld = false;
    dataFile->close();
    // Only to start the next transfer afresh: its CANs go nowhere.
    abort();
    finish(StatusFailed);
}

void YmodemFileTransmit::cancel()
{
    cancelHeld = false;
    abort();
    finishTimer->start(FinishDelay);
}

qint64 YmodemFileTransmit::unread() const { return pendingInput.size() + port->bytesAvailable(); }

bool YmodemFileTransmit::running() const
{
    return currentStatus == StatusStarting || currentStatus == StatusRunning;
}

void YmodemFileTransmit::stepOnArrivedAnswers()
{
    // Only the bytes a sender acts on are taken at once. Anything else
    // (noise, a board's text) waits for the poll, which takes one byte per
    // 10 ms as before: an extra step that heard nothing useful would count
    // a quiet poll that no 10 ms of silence stands behind.
    char next = 0;
    while (running() && peekLine(&next)) {
        switch (uchar(next)) {
        case ACK:
        case NAK:
        case CAN:
        case CRC_REQUEST:
        case ABORT_UPPER:
        case ABORT_LOWER:
            break;
        default:
            return;
        }
        const qint64 waiting = pendingInput.size() + port->bytesAvailable();
        transmit();
        // The step that opens a transfer reads nothing; the poll follows.
        if (pendingInput.size() + port->bytesAvailable() >= waiting)
            return;
    }
}

bool YmodemFileTransmit::peekLine(char *byte)
{
    if (!pendingInput.isEmpty()) {
        *byte = pendingInput.at(0);
        return true;
    }
    return port->peek(byte, 1) == 1;
}

Ymodem::LineCode YmodemFileTransmit::callback(Event event, uint8_t *buffer, uint32_t *length)
{
    switch (event) {
    case EventFileInfo:
        return fillHeader(buffer, length);
    case EventBlock:
        return fillBlock(buffer, length);
    case EventDone:
        dataFile->close();
        finish(StatusCompleted);
        return ACK;
    case EventCancelled:
        dataFile->close();
        finish(StatusCancelled);
        return CAN;
    case EventTimeout:
        finish(StatusTimedOut);
        return CAN;
    default:
        dataFile->close();
        finish(StatusFailed);
        return CAN;
    }
}

Ymodem::LineCode YmodemFileTransmit::fillHeader(uint8_t *buffer, uint32_t *length)
{
    if (!dataFile->open(QIODevice::ReadOnly))
        return refuse();

    const QFileInfo info(*dataFile);
    totalBytes = quint64(info.size());
    doneBytes = 0;

    const QByteArray name = info.fileName().toLocal8Bit();
    const QByteArray size = QByteArray::number(totalBytes, 10);
    // Name, NUL, size digits, NUL: a receiver reads both fields up to their
    // NUL, so a header that cannot hold both terminators would be misread.
    if (uint32_t(name.size() + 1 + size.size() + 1) > PayloadSize)
        return refuse();
    std::memcpy(buffer, name.constData(), size_t(name.size()));
    std::memcpy(buffer + name.size() + 1, size.constData(), size_t(size.size()));
    *length = PayloadSize;

    currentStatus = StatusStarting;
    emit transmitStatus(StatusStarting);
    return ACK;
}

Ymodem::LineCode YmodemFileTransmit::fillBlock(uint8_t *buffer, uint32_t *length)
{
    if (doneBytes == totalBytes) {
        currentStatus = StatusRunning;
        emit transmitStatus(StatusRunning);
        return EOT;
    }

    const quint64 remaining = totalBytes - doneBytes;
    const uint32_t blockSize = remaining > PayloadSize ? PayloadSize1K : PayloadSize;
    // The receiver trusts the size in the header: a file that grew since is
    // sent only up to that size, and one that shrank cannot be completed.
    const qint64 wanted = qint64(qMin<quint64>(remaining, blockSize));
    if (dataFile->read(reinterpret_cast<char *>(buffer), wanted) != wanted)
        return refuse();
    doneBytes += quint64(wanted);
    *length = blockSize;

    progressPercent = int(doneBytes * 100 / totalBytes);
    currentStatus = StatusRunning;
    emit transmitProgress(progressPercent);
    emit transmitStatus(StatusRunning);
    return ACK;
}

Ymodem::LineCode YmodemFileTransmit::refuse()
{
    dataFile->close();
    finish(StatusFailed);
    return CAN;
}

void YmodemFileTransmit::finish(Status status)
{
    currentStatus = status;
    finishTimer->start(FinishDelay);
}

uint32_t YmodemFileTransmit::read(uint8_t *buffer, uint32_t length)
{
    uint32_t count = 0;
    if (!pendingInput.isEmpty()) {
        count = uint32_t(qMin<qsizetype>(length, pendingInput.size()));
        std::memcpy(buffer, pendingInput.constData(), count);
        pendingInput.remove(0, int(count));
    } else {
        count = SerialLine::readArrived(port, buffer, length);
    }
    inFlight.read(count);
    return count;
}

uint32_t YmodemFileTransmit::write(uint8_t *buffer, uint32_t length)
{
    if (lineLost)
        return 0;
    const qint64 waiting = unread();
    const uint32_t count = SerialLine::send(port, buffer, length);
    inFlight.sent(count, SerialLine::lineTimeMs(port, count), waiting);
    return count;
}
