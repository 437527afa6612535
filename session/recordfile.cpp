#include "recordfile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace
{

const QStringList Fields = { QStringLiteral("time"), QStringLiteral("port"),
    QStringLiteral("board"), QStringLiteral("file"), QStringLiteral("size"),
    QStringLiteral("sha256"), QStringLiteral("result"), QStringLiteral("seconds"),
    QStringLiteral("bytes_per_second"), QStringLiteral("error") };

QString csvField(QString text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"'))
        && !text.contains(QLatin1Char('\n')))
        return text;
    text.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

bool RecordFile::open(const QString &path)
{
    csv = path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return false;
    if (csv && file.size() == 0) {
        file.write(Fields.join(QLatin1Char(',')).toUtf8() + '\n');
        file.flush();
    }
    return true;
}

QString RecordFile::errorString() const { return file.errorString(); }

void RecordFile::append(const BoardRecord &record)
{
    const QString time = record.time.toUTC().toString(Qt::ISODateWithMs);
    const QString seconds = QString::number(record.seconds, 'f', 3);
    const qint64 rate = qRound64(record.bytesPerSecond());
    if (csv) {
        const QStringList values = { time, csvField(record.port), QString::number(record.board),
            csvField(record.file), QString::number(record.size), QString::fromLatin1(record.sha256),
            BoardRecord::resultName(record.result), seconds, QString::number(rate),
            csvField(record.error) };
        file.write(values.join(QLatin1Char(',')).toUtf8() + '\n');
    } else {
        const QJsonObject object { { Fields.at(0), time }, { Fields.at(1), record.port },
            { Fields.at(2), record.board }, { Fields.at(3), record.file },
            { Fields.at(4), record.size }, { Fields.at(5), QString::fromLatin1(record.sha256) },
            { Fields.at(6), BoardRecord::resultName(record.result) },
            { Fields.at(7), seconds.toDouble() }, { Fields.at(8), rate },
            { Fields.at(9), record.error } };
        file.write(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
    }
    // A run cut short by a signal or a crash keeps every board before it.
    file.flush();
}
