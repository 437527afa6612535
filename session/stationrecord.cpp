#include "stationrecord.h"

#include <QUuid>

StationRecord StationRecord::make(const QString &station, const BoardRecord &record)
{
    return { QUuid::createUuid().toString(QUuid::WithoutBraces), station, record };
}

QString StationRecord::time() const
{
    return record.time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

QJsonObject StationRecord::toJson() const
{
    return { { QStringLiteral("id"), id }, { QStringLiteral("station"), station },
        { QStringLiteral("time"), time() }, { QStringLiteral("port"), record.port },
        { QStringLiteral("board"), record.board }, { QStringLiteral("file"), record.file },
        { QStringLiteral("size"), record.size },
        { QStringLiteral("sha256"), QString::fromLatin1(record.sha256) },
        { QStringLiteral("result"), BoardRecord::resultName(record.result) },
        { QStringLiteral("seconds"), record.seconds }, { QStringLiteral("error"), record.error } };
}

bool StationRecord::fromJson(const QJsonObject &object, StationRecord &out)
{
    const QDateTime time
        = QDateTime::fromString(object.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    out.id = object.value(QStringLiteral("id")).toString();
    out.station = object.value(QStringLiteral("station")).toString();
    if (out.id.isEmpty() || !time.isValid())
        return false;
    BoardRecord &record = out.record;
    record.time = time;
    record.port = object.value(QStringLiteral("port")).toString();
    record.board = object.value(QStringLiteral("board")).toInt();
    record.file = object.value(QStringLiteral("file")).toString();
    record.size = qint64(object.value(QStringLiteral("size")).toDouble());
    record.sha256 = object.value(QStringLiteral("sha256")).toString().toLatin1();
    record.seconds = object.value(QStringLiteral("seconds")).toDouble();
    record.error = object.value(QStringLiteral("error")).toString();
    const QString result = object.value(QStringLiteral("result")).toString();
    for (const BoardRecord::Result each : { BoardRecord::Completed, BoardRecord::Failed,
             BoardRecord::Cancelled, BoardRecord::TimedOut }) {
        if (BoardRecord::resultName(each) == result)
            record.result = each;
    }
    return true;
}
