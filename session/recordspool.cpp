#include "recordspool.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace
{

QList<StationRecord> readRecords(const QString &path)
{
    QList<StationRecord> records;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return records;
    // A line cut short by a crash while it was written is skipped; every
    // whole line before and after it still counts.
    while (!file.atEnd()) {
        StationRecord record;
        if (StationRecord::fromJson(QJsonDocument::fromJson(file.readLine()).object(), record))
            records << record;
    }
    return records;
}

QByteArray line(const StationRecord &record)
{
    return QJsonDocument(record.toJson()).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

bool RecordSpool::open(const QString &database)
{
    // Two records.db in two folders are two databases.
    const QString target = database.contains(QLatin1String("://"))
        ? database
        : QFileInfo(database).absoluteFilePath();
    // Readable for a person who looks into the folder, and distinct for
    // targets that read the same once their punctuation is gone.
    QString readable = target;
    readable.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9.@-]+")), QStringLiteral("_"));
    const QString digest = QString::fromLatin1(
        QCryptographicHash::hash(target.toUtf8(), QCryptographicHash::Sha1).toHex().left(8));
    const QString base = readable.right(60) + QLatin1Char('-') + digest;

    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/trelvo/spool");
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("cannot create the spool folder %1").arg(folder);
        return false;
    }
    const QDir dir(folder);
    const QStringList files = dir.entryList({ base + QStringLiteral("*.jsonl") }, QDir::Files);
    for (int slot = 1; !lock; ++slot) {
        const QString name = dir.filePath(base
            + (slot == 1 ? QString() : QStringLiteral("-%1").arg(slot)) + QStringLiteral(".jsonl"));
        lock = std::make_unique<QLockFile>(name + QStringLiteral(".lock"));
        // Only a running program holds a lock; a crashed one's is stale at once.
        lock->setStaleLockTime(0);
        if (!lock->tryLock(0)) {
            if (lock->error() != QLockFile::LockFailedError) {
                error = QStringLiteral("cannot lock the spool %1").arg(name);
                return false;
            }
            lock.reset();
        } else {
            filePath = name;
        }
    }
    records = readRecords(filePath);
    bool tookOver = false;
    for (const QString &file : files) {
        if (dir.filePath(file) != filePath)
            tookOver |= takeOver(dir.filePath(file));
    }
    if (!tookOver)
        return true;
    std::stable_sort(
        records.begin(), records.end(), [](const StationRecord &a, const StationRecord &b) {
            return a.record.time < b.record.time;
        });
    return rewrite();
}

bool RecordSpool::takeOver(const QString &file)
{
    QLockFile other(file + QStringLiteral(".lock"));
    other.setStaleLockTime(0);
    if (!other.tryLock(0))
        return false;
    records += readRecords(file);
    // Written into this spool before the other goes: a crash in between
    // sends its records twice, which the database's ids absorb.
    if (!rewrite())
        return false;
    QFile::remove(file);
    return true;
}

QString RecordSpool::errorString() const { return error; }

QString RecordSpool::path() const { return filePath; }

int RecordSpool::size() const { return records.size(); }

const StationRecord &RecordSpool::at(int index) const { return records.at(index); }

bool RecordSpool::append(const StationRecord &record)
{
    records << record;
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(line(record)) < 0
        || !file.flush()) {
        error = file.errorString();
        return false;
    }
    return true;
}

bool RecordSpool::removeFirst(int count)
{
    records.erase(records.begin(), records.begin() + count);
    return rewrite();
}

bool RecordSpool::rewrite()
{
    if (records.isEmpty()) {
        QFile::remove(filePath);
        return true;
    }
    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    for (const StationRecord &record : records)
        file.write(line(record));
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}
