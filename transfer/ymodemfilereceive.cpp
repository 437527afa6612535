#include "ymodemfilereceive.h"

#include "endpointlimits.h"
#include "serialline.h"

#include <QSaveFile>
#include <QSerialPort>
#include <QTimer>

#include <cstring>
#include <limits>

namespace
{

// A header whose size field holds no number: every block is stored whole
// and the end of the file is known only from the sender's EOT.
constexpr quint64 UnknownSize = std::numeric_limits<quint64>::max();

// The name field up to its NUL, or empty when the NUL is missing from the
// block; the size field likewise from where the name's NUL leaves off.
QByteArray terminatedField(const uint8_t *begin, const uint8_t *end, bool *terminated)
{
    const void *nul = std::memchr(begin, 0, size_t(end - begin));
    *terminated = nul != nullptr;
    if (!nul)
        return QByteArray();
    return QByteArray(
        reinterpret_cast<const char *>(begin), int(static_cast<const uint8_t *>(nul) - begin));
}

// A sender's name may carry its own folders (or another system's); only
// the last component is used, so nothing is written outside the folder.
QString baseName(const QString &name)
{
    const int cut = qMax(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    const QString base = name.mid(cut + 1);
    if (base == QLatin1String(".") || base == QLatin1String(".."))
        return QString();
    return base;
}

// YMODEM puts the modification time, mode and more after the size,
// separated by spaces.
quint64 declaredSize(const QByteArray &field)
{
    const int space = field.indexOf(' ');
    bool isNumber = false;
    const quint64 size
        = QString::fromLatin1(space < 0 ? field : field.left(space)).toULongLong(&isNumber, 10);
    return isNumber ? size : UnknownSize;
}

} // namespace

using namespace EndpointLimits;

YmodemFileReceive::YmodemFileReceive(QObject *parent)
    : QObject(parent)
    , Ymodem(TickDivisor, TickLimit, ErrorLimit)
{
    dataFile = new QSaveFile;
    pollTimer = new QTimer;
    finishTimer = new QTimer;
    port = new QSerialPort;

    setTickDivisor(TickDivisor);
    setTickLimit(TickLimit);
    setErrorLimit(ErrorLimit);

    SerialLine::applyDefaults(port);

    connect(pollTimer, &QTimer::timeout, this, &YmodemFileReceive::readTimeOut);
    connect(finishTimer, &QTimer::timeout, this, &YmodemFileReceive::writeTimeOut);
    // Queued: the port must not be closed while it reports the error.
    connect(port, &QSerialPort::errorOccurred, this, &YmodemFileReceive::lineError,
        Qt::QueuedConnection);
}

YmodemFileReceive::~YmodemFileReceive()
{
    delete dataFile;
    delete pollTimer;
    delete finishTimer;
    delete port;
}

void YmodemFileReceive::setTargetFolder(const QString &path)
{
    targetFolder = path + QLatin1Char('/');
}

void YmodemFileReceive::selectPort(const QString &name) { port->setPortName(name); }

void YmodemFileReceive::selectBaudRate(int baudRate)
{
    port->setBaudRate(baudRate, QSerialPort::AllDirections);
}

bool YmodemFileReceive::startTransfer()
{
    progressPercent = 0;
    currentStatus = StatusStarting;
    lineLost = false;
    if (!port->open(QIODevice::ReadWrite))
        return false;
    pollTimer->start(PollInterval);
    return true;
}

void YmodemFileReceive::stopTransfer()
{
    discardFile();
    abort();
    currentStatus = StatusCancelled;
    finishTimer->start(FinishDelay);
}

int YmodemFileReceive::transferProgress() const { return progressPercent; }

YmodemFileReceive::Status YmodemFileReceive::transferStatus() const { return currentStatus; }

QString YmodemFileReceive::receivedFileName() const { return receivedName; }

void YmodemFileReceive::readTimeOut()
{
    pollTimer->stop();
    receive();
    if (currentStatus == StatusStarting || currentStatus == StatusRunning)
        pollTimer->start(PollInterval);
}

void YmodemFileReceive::writeTimeOut()
{
    finishTimer->stop();
    if (port->isOpen())
        port->close();
    emit receiveStatus(currentStatus);
}

void YmodemFileReceive::lineError(QSerialPort::SerialPortError error)
{
    // Qt reports a vanished device again on every read until the port is
    // closed: the first report ends the transfer.
    if (!port->isOpen() || !SerialLine::deviceGone(port, error))
        return;
    lineLost = true;
    pollTimer->stop();
    port->close();
    if (finishTimer->isActive())
        return;
    discardFile();
    // Only to start the next transfer afresh: its CANs go nowhere.
    abort();
    finish(StatusFailed);
}

Ymodem::LineCode YmodemFileReceive::callback(Event event, uint8_t *buffer, uint32_t *length)
{
    switch (event) {
    case EventFileInfo:
        return openFile(buffer);
    case EventBlock:
        return storeBlock(buffer, *length);
    case EventDone:
        finish(keepFile() ? StatusCompleted : StatusFailed);
        return ACK;
    case EventCancelled:
        discardFile();
        finish(StatusCancelled);
        return CAN;
    case EventTimeout:
        finish(StatusTimedOut);
        return CAN;
    default:
        discardFile();
        finish(StatusFailed);
        return CAN;
    }
}

Ymodem::LineCode YmodemFileReceive::openFile(const uint8_t *header)
{
    if (header[0] == 0)
        return refuse();

    const uint8_t *const end = header + PayloadSize;
    bool nameEnds = false;
    bool sizeEnds = false;
    const QByteArray name = terminatedField(header, end, &nameEnds);
    if (!nameEnds)
        return refuse();
    const QByteArray size = terminatedField(header + name.size() + 1, end, &sizeEnds);
    if (!sizeEnds)
        return refuse();

    receivedName = baseName(QString::fromLocal8Bit(name));
    if (receivedName.isEmpty())
        return refuse();
    totalBytes = declaredSize(size);
    doneBytes = 0;

    dataFile->setFileName(targetFolder + receivedName);
    // Unbuffered, so that a write the disk refuses fails with its own block.
    if (!dataFile->open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return refuse();

    currentStatus = StatusStarting;
    emit receiveStatus(StatusStarting);
    return ACK;
}

Ymodem::LineCode YmodemFileReceive::storeBlock(const uint8_t *data, uint32_t length)
{
    // The filler after the last data byte is not part of the file, nor is
    // anything sent beyond the declared size.
    quint64 count = length;
    if (totalBytes != UnknownSize)
        count = qMin<quint64>(length, totalBytes - doneBytes);
    if (dataFile->write(reinterpret_cast<const char *>(data), qint64(count)) != qint64(count)) {
        discardFile();
        return refuse();
    }
    doneBytes += count;

    if (totalBytes == UnknownSize)
        progressPercent = 0;
    else if (totalBytes == 0)
        progressPercent = 100;
    else
        progressPercent = int(doneBytes * 100 / totalBytes);
    currentStatus = StatusRunning;
    emit receiveProgress(progressPercent);
    emit receiveStatus(StatusRunning);
    return ACK;
}

bool YmodemFileReceive::keepFile()
{
    // A sender that closes the batch early has not delivered the file.
    if (totalBytes != UnknownSize && doneBytes != totalBytes) {
        discardFile();
        return false;
    }
    return dataFile->commit();
}

void YmodemFileReceive::discardFile()
{
    if (!dataFile->isOpen())
        return;
    // The partial file goes with its temporary name; whatever stood under
    // the final name before stays as it was.
    dataFile->cancelWriting();
    dataFile->commit();
}

Ymodem::LineCode YmodemFileReceive::refuse()
{
    finish(StatusFailed);
    return CAN;
}

void YmodemFileReceive::finish(Status status)
{
    currentStatus = status;
    finishTimer->start(FinishDelay);
}

uint32_t YmodemFileReceive::read(uint8_t *buffer, uint32_t length)
{
    return SerialLine::readArrived(port, buffer, length);
}

uint32_t YmodemFileReceive::write(uint8_t *buffer, uint32_t length)
{
    if (lineLost)
        return 0;
    return SerialLine::send(port, buffer, length);
}
