#ifndef BOARDRECORD_H
#define BOARDRECORD_H

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

// The outcome of one board on one port, as the log keeps it.
struct BoardRecord
{
    enum Result { Completed, Failed, Cancelled, TimedOut };

    QDateTime time;
    QString port;
    int board = 0;
    QString file;
    qint64 size = 0;
    QByteArray sha256;
    Result result = Failed;
    double seconds = 0;
    QString error;

    double bytesPerSecond() const;
    static QString resultName(Result result);
};

// Appends one record per board, as JSON Lines or, for a name ending in
// .csv, as CSV under a header row written once into an empty file.
class BoardLog
{
public:
    // Also true without a path: there is nothing to write then.
    bool open(const QString &path);
    QString errorString() const;
    void append(const BoardRecord &record);

private:
    QFile file;
    bool csv = false;
};

// The SHA-256 of a file's contents, or empty when it cannot be read.
QByteArray fileSha256(const QString &path);

#endif
