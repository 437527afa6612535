#ifndef STATIONRECORD_H
#define STATIONRECORD_H

#include "boardrecord.h"

#include <QJsonObject>

// A board's record as the line's database keeps it: tagged with the station
// that made it, and with an id of its own so that a record sent again after
// a lost answer is recognised and not stored twice.
struct StationRecord
{
    QString id;
    QString station;
    BoardRecord record;

    // A new id for every record of every station, with no coordination.
    static StationRecord make(const QString &station, const BoardRecord &record);
    // Time in UTC to the millisecond, the form both databases take and sort.
    QString time() const;

    QJsonObject toJson() const;
    // False for an object that is not a whole record.
    static bool fromJson(const QJsonObject &object, StationRecord &out);
};

#endif
