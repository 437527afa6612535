#ifndef BOARDRECORD_H
#define BOARDRECORD_H

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

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

class RecordDatabase;
class RecordFile;
class RecordSpool;

// Where the records of a run go: a CSV or JSON Lines file as before, or the
// table of an SQLite file or of a PostgreSQL database a line of stations
// shares. A station goes on programming while that database cannot be
// reached: what it cannot take waits in a local spool and is written, oldest
// first, as soon as the database answers again.
class BoardLog : public QObject
{
    Q_OBJECT

public:
    explicit BoardLog(QObject *parent = nullptr);
    // A last attempt to write what waits in the spool.
    ~BoardLog() override;

    // The name records carry in a database; the host name unless set before
    // open().
    void setStation(const QString &name);
    // A .csv, .jsonl or other file, a .sqlite or .db file, or a
    // postgresql:// URI; also true without a target, when there is nothing
    // to write. False when the target, its login or its table cannot be used.
    bool open(const QString &target);
    QString errorString() const;
    void append(const BoardRecord &record);
    // Records waiting in the spool.
    int spooled() const;

signals:
    void spoolChanged(int waiting);

private:
    void writeSpool();

    QString station;
    QString error;
    std::unique_ptr<RecordFile> file;
    std::unique_ptr<RecordDatabase> database;
    std::unique_ptr<RecordSpool> spool;
    QTimer retry;
    QElapsedTimer sinceAttempt;
    qint64 pauseMs = 0;
};

// The SHA-256 of a file's contents, or empty when it cannot be read.
QByteArray fileSha256(const QString &path);

#endif
