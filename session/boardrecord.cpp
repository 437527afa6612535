#include "boardrecord.h"

#include "recorddatabase.h"
#include "recordfile.h"
#include "recordspool.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QSysInfo>

namespace
{

// A database that does not answer is asked again on the next record or on
// a timer, at most every RetryMs. An attempt at a host gone from the network
// holds the event loop, and the transfers on it, for the connect timeout:
// the pause after an attempt is then AttemptShare times as long as the
// attempt, so that attempts never take more than a tenth of the loop.
constexpr int RetryMs = 1000;
constexpr int AttemptShare = 10;
// A long backlog is written in slices this long, with the transfers served
// between them.
constexpr int SliceMs = 50;

} // namespace

double BoardRecord::bytesPerSecond() const
{
    return result == Completed && seconds > 0 ? double(size) / seconds : 0;
}

QString BoardRecord::resultName(Result result)
{
    switch (result) {
    case Completed:
        return QStringLiteral("completed");
    case Cancelled:
        return QStringLiteral("cancelled");
    case TimedOut:
        return QStringLiteral("timed out");
    default:
        return QStringLiteral("failed");
    }
}

BoardLog::BoardLog(QObject *parent)
    : QObject(parent)
    , station(QSysInfo::machineHostName())
{
    retry.setSingleShot(true);
    connect(&retry, &QTimer::timeout, this, &BoardLog::writeSpool);
    // The run's last records reach the database before the program reports
    // and ends, when it answers; otherwise the next run writes them.
    if (QCoreApplication::instance()) {
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
            sinceAttempt.invalidate();
            for (int waiting = spooled(); waiting > 0; waiting = spooled()) {
                writeSpool();
                if (spooled() == waiting)
                    break;
            }
            retry.stop();
        });
    }
}

BoardLog::~BoardLog() = default;

void BoardLog::setStation(const QString &name) { station = name; }

bool BoardLog::open(const QString &target)
{
    if (target.isEmpty())
        return true;
    if (!RecordDatabase::names(target)) {
        file = std::make_unique<RecordFile>();
        if (file->open(target))
            return true;
        error = file->errorString();
        file.reset();
        return false;
    }
    database = std::make_unique<RecordDatabase>();
    const RecordDatabase::Status status = database->open(target);
    error = database->errorString();
    if (status == RecordDatabase::Status::Refused) {
        database.reset();
        return false;
    }
    spool = std::make_unique<RecordSpool>();
    if (!spool->open(target)) {
        error = spool->errorString();
        spool.reset();
        database.reset();
        return false;
    }
    if (status == RecordDatabase::Status::Unreachable) {
        sinceAttempt.start();
        pauseMs = RetryMs;
    }
    // Left over from an earlier run: written once the event loop runs.
    if (spool->size() > 0)
        retry.start(0);
    return true;
}

QString BoardLog::errorString() const { return error; }

void BoardLog::append(const BoardRecord &record)
{
    if (file)
        file->append(record);
    if (!database)
        return;
    const StationRecord stored = StationRecord::make(station, record);
    if (spool->size() == 0 && database->insert(stored))
        return;
    if (!spool->append(stored))
        qWarning("cannot write the spool %s: %s", qPrintable(spool->path()),
            qPrintable(spool->errorString()));
    emit spoolChanged(spool->size());
    writeSpool();
}

int BoardLog::spooled() const { return spool ? spool->size() : 0; }

void BoardLog::writeSpool()
{
    retry.stop();
    if (spooled() == 0)
        return;
    if (!database->connected()) {
        if (sinceAttempt.isValid() && sinceAttempt.elapsed() < pauseMs) {
            retry.start(int(pauseMs - sinceAttempt.elapsed()));
            return;
        }
        sinceAttempt.start();
        if (database->connect() != RecordDatabase::Status::Ready) {
            error = database->errorString();
            pauseMs = qMax<qint64>(RetryMs, AttemptShare * sinceAttempt.elapsed());
            sinceAttempt.start();
            retry.start(int(pauseMs));
            return;
        }
        sinceAttempt.invalidate();
    }

    QElapsedTimer slice;
    slice.start();
    int written = 0;
    while (written < spool->size() && slice.elapsed() < SliceMs
        && database->insert(spool->at(written)))
        ++written;
    if (written > 0) {
        spool->removeFirst(written);
        emit spoolChanged(spool->size());
    }
    if (spooled() == 0) {
        error.clear();
    } else if (database->connected()) {
        retry.start(0);
    } else {
        error = database->errorString();
        sinceAttempt.start();
        pauseMs = RetryMs;
        retry.start(RetryMs);
    }
}

QByteArray fileSha256(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QByteArray();
    return hash.result().toHex();
}
