#ifndef RECORDSPOOL_H
#define RECORDSPOOL_H

#include "stationrecord.h"

#include <QList>
#include <QLockFile>
#include <QString>

#include <memory>

// Records the database has not taken yet, oldest first, in a JSON Lines file
// in the user's data folder named after the database. A program holds its
// spool file for as long as it runs; a second program writing to the same
// database at the same time takes a file of its own, and the next program
// to start takes over what programs that ended left behind.
class RecordSpool
{
public:
    bool open(const QString &database);
    QString errorString() const;
    QString path() const;

    int size() const;
    const StationRecord &at(int index) const;
    // The record is kept in memory even when the file cannot be written, so
    // that it still reaches the database if this program lives long enough.
    bool append(const StationRecord &record);
    // Called only once the first count records are committed.
    bool removeFirst(int count);

private:
    bool takeOver(const QString &file);
    bool rewrite();

    QString filePath;
    std::unique_ptr<QLockFile> lock;
    QList<StationRecord> records;
    QString error;
};

#endif
