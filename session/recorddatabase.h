#ifndef RECORDDATABASE_H
#define RECORDDATABASE_H

#include "stationrecord.h"

#include <QString>

#include <memory>

class QSqlQuery;

// The table of board records a line keeps, in an SQLite file on one PC or in
// a PostgreSQL database every station of the line writes to, through Qt SQL.
// The table and its schema version are created when missing; a table this
// program cannot write is refused rather than changed.
class RecordDatabase
{
public:
    enum class Status {
        Ready,
        // The server did not answer: worth another attempt later.
        Unreachable,
        // The target, the login or the table cannot be used until someone
        // changes them: another attempt would only fail the same way.
        Refused
    };

    // Whether target names a database rather than a log file: a URI of any
    // scheme, or a file name ending in .sqlite or .db.
    static bool names(const QString &target);

    RecordDatabase();
    ~RecordDatabase();

    Status open(const QString &target);
    // Another attempt after a lost connection. Each attempt is bounded by
    // ConnectSeconds: transfers run on the same thread.
    Status connect();
    bool connected() const;
    // Stores the record in a transaction of its own. True once committed, or
    // when a record with its id is already there (it was sent before and the
    // answer got lost). False drops the connection.
    bool insert(const StationRecord &record);
    QString errorString() const;

private:
    Status fail(Status status, const QString &text);
    Status prepareTable();
    void disconnect();

    const QString name;
    bool postgres = false;
    bool isOpen = false;
    std::unique_ptr<QSqlQuery> insertQuery;
    QString error;
};

#endif
