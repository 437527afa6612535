#ifndef RECORDFILE_H
#define RECORDFILE_H

#include "boardrecord.h"

#include <QFile>

// Appends one record per board, as JSON Lines or, for a name ending in
// .csv, as CSV under a header row written once into an empty file.
class RecordFile
{
public:
    bool open(const QString &path);
    QString errorString() const;
    void append(const BoardRecord &record);

private:
    QFile file;
    bool csv = false;
};

#endif
