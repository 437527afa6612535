#include "recorddatabase.h"

#include <QAtomicInt>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>

namespace
{

// The version of the table below; a later program that changes the table
// migrates from what it finds here.
constexpr int SchemaVersion = 1;

// libpq waits at least 2 s for a server; a host that dropped off the
// network costs that much of the event loop, once per attempt. Data the
// server does not acknowledge for TcpUserTimeoutMs breaks the connection
// instead of blocking an insert for the kernel's minutes.
constexpr int ConnectSeconds = 2;
constexpr int TcpUserTimeoutMs = 3000;
// Stations sharing one SQLite file wait this long for each other's commits.
constexpr int SqliteBusyMs = 1000;

// Any number the stations agree on, to take PostgreSQL's advisory lock.
constexpr int TableLock = 0x7472766f;

const QString Columns = QStringLiteral("id, station, time, port, board, file, size, sha256, "
                                       "result, seconds, bytes_per_second, error");

const QRegularExpression Uri(
    QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*)://([^/?#]*)(?:/([^?#]*))?(?:\\?([^#]*))?$"));

// A server's own refusals (an unknown role or database, a wrong password)
// arrive as FATAL; a server that is starting or shutting down, or is full,
// answers with FATAL too but only needs time.
bool refusal(const QString &text)
{
    return text.contains(QLatin1String("FATAL"))
        && !text.contains(QLatin1String("the database system is"))
        && !text.contains(QLatin1String("too many clients"));
}

QString sqlError(const QSqlError &error)
{
    return (error.driverText() + QLatin1String(": ") + error.databaseText()).trimmed();
}

// libpq's keyword=value form takes a value with spaces in quotes.
QString quoted(QString value)
{
    value.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    value.replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + value + QLatin1Char('\'');
}

// Qt binds a null string as NULL; the table keeps "no error" as "".
QVariant text(const QString &value) { return value.isNull() ? QStringLiteral("") : value; }

QString connectionName()
{
    static QAtomicInt count;
    return QStringLiteral("trelvo-records-%1").arg(count.fetchAndAddRelaxed(1));
}

} // namespace

bool RecordDatabase::names(const QString &target)
{
    return Uri.match(target).hasMatch()
        || target.endsWith(QLatin1String(".sqlite"), Qt::CaseInsensitive)
        || target.endsWith(QLatin1String(".db"), Qt::CaseInsensitive);
}

RecordDatabase::RecordDatabase()
    : name(connectionName())
{
}

RecordDatabase::~RecordDatabase()
{
    disconnect();
    if (QSqlDatabase::contains(name))
        QSqlDatabase::removeDatabase(name);
}

RecordDatabase::Status RecordDatabase::open(const QString &target)
{
    const QRegularExpressionMatch uri = Uri.match(target);
    postgres = uri.hasMatch();
    if (!postgres) {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        database.setDatabaseName(target);
        database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(SqliteBusyMs));
        // A local file that cannot be used now will not be usable later.
        const Status status = connect();
        return status == Status::Ready ? status : Status::Refused;
    }

    const QString scheme = uri.captured(1).toLower();
    if (scheme != QLatin1String("postgresql") && scheme != QLatin1String("postgres"))
        return fail(Status::Refused,
            QStringLiteral("unknown scheme %1: a record database is "
                           "postgresql://user@host:port/dbname, or a file ending in .sqlite or .db")
                .arg(uri.captured(1)));
    // The authority is user@host:port; a host may be a socket folder, written
    // with %2F for its slashes, or an address in brackets.
    const QString authority = uri.captured(2);
    const int at = authority.lastIndexOf(QLatin1Char('@'));
    const QString user = at < 0 ? QString() : authority.left(at);
    QString host = authority.mid(at + 1);
    QString port;
    const int colon = host.lastIndexOf(QLatin1Char(':'));
    if (colon > host.lastIndexOf(QLatin1Char(']'))) {
        port = host.mid(colon + 1);
        host.truncate(colon);
    }
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    const auto decoded
        = [](const QString &part) { return QUrl::fromPercentEncoding(part.toUtf8()); };
    QString database = decoded(uri.captured(3));
    QString login = decoded(user);
    host = decoded(host);
    QStringList options = { QStringLiteral("connect_timeout=%1").arg(ConnectSeconds),
        QStringLiteral("tcp_user_timeout=%1").arg(TcpUserTimeoutMs),
        // The server's notices (a table that exists already, a shutdown on
        // its way) would land on the operator's terminal.
        QStringLiteral("options='-c client_min_messages=error'") };
    bool password = user.contains(QLatin1Char(':'));
    for (const auto &item : QUrlQuery(uri.captured(4)).queryItems(QUrl::FullyDecoded)) {
        if (item.first == QLatin1String("host"))
            host = item.second;
        else if (item.first == QLatin1String("port"))
            port = item.second;
        else if (item.first == QLatin1String("user"))
            login = item.second;
        else if (item.first == QLatin1String("dbname"))
            database = item.second;
        else if (item.first == QLatin1String("password"))
            password = true;
        else
            options << item.first + QLatin1Char('=') + quoted(item.second);
    }
    // A command line is readable by every user of the machine.
    if (password)
        return fail(Status::Refused,
            QStringLiteral("%1 carries a password: give it in PGPASSWORD or ~/.pgpass instead")
                .arg(target));
    bool numeric = true;
    const int portNumber = port.isEmpty() ? -1 : port.toInt(&numeric);
    if (!numeric)
        return fail(Status::Refused, QStringLiteral("%1: the port is no number").arg(target));

    QSqlDatabase connection = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    if (!connection.isValid())
        return fail(Status::Refused, sqlError(connection.lastError()));
    connection.setHostName(host);
    connection.setPort(portNumber);
    connection.setDatabaseName(database);
    connection.setUserName(login);
    connection.setConnectOptions(options.join(QLatin1Char(';')));
    return connect();
}

RecordDatabase::Status RecordDatabase::connect()
{
    disconnect();
    QSqlDatabase database = QSqlDatabase::database(name, false);
    if (!database.isValid())
        return fail(Status::Refused, sqlError(database.lastError()));
    if (!database.open()) {
        const QString text = sqlError(database.lastError());
        return fail(postgres && !refusal(text) ? Status::Unreachable : Status::Refused, text);
    }
    isOpen = true;
    // Two stations creating an SQLite table at the same moment: one of them
    // fails and finds the table on its second try.
    Status status = prepareTable();
    if (status != Status::Ready)
        status = prepareTable();
    if (status != Status::Ready)
        disconnect();
    return status;
}

RecordDatabase::Status RecordDatabase::prepareTable()
{
    QSqlDatabase database = QSqlDatabase::database(name, false);
    if (!database.transaction())
        return fail(Status::Unreachable, sqlError(database.lastError()));
    QSqlQuery query(database);
    const auto step = [&](const QString &statement, const QString &context) {
        if (query.exec(statement))
            return true;
        fail(Status::Refused, context.arg(sqlError(query.lastError())));
        database.rollback();
        return false;
    };
    const QString plain = QStringLiteral("%1");
    // Stations that start together create the table one after another.
    if (postgres && !step(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(TableLock), plain))
        return Status::Refused;
    const QString id = postgres ? QStringLiteral("uuid") : QStringLiteral("text");
    const QString time = postgres ? QStringLiteral("timestamptz") : QStringLiteral("text");
    if (!step(QStringLiteral("CREATE TABLE IF NOT EXISTS board_records (id %1 PRIMARY KEY, "
                             "station text NOT NULL, time %2 NOT NULL, port text NOT NULL, "
                             "board integer NOT NULL, file text NOT NULL, size bigint NOT NULL, "
                             "sha256 text NOT NULL, result text NOT NULL, "
                             "seconds double precision NOT NULL, "
                             "bytes_per_second bigint NOT NULL, error text NOT NULL)")
                  .arg(id, time),
            plain)
        || !step(QStringLiteral("SELECT %1 FROM board_records WHERE 1 = 0").arg(Columns),
            QStringLiteral("the table board_records lacks a column this program writes: %1"))
        // For a line engineer's queries by station and time.
        || !step(QStringLiteral("CREATE INDEX IF NOT EXISTS board_records_station_time "
                                "ON board_records (station, time)"),
            plain)
        || !step(QStringLiteral("CREATE TABLE IF NOT EXISTS record_schema "
                                "(version integer NOT NULL)"),
            plain)
        || !step(QStringLiteral("INSERT INTO record_schema (version) SELECT %1 "
                                "WHERE NOT EXISTS (SELECT 1 FROM record_schema)")
                     .arg(SchemaVersion),
            plain)
        || !step(QStringLiteral("SELECT version FROM record_schema"), plain))
        return Status::Refused;
    while (query.next()) {
        if (query.value(0).toInt() != SchemaVersion) {
            database.rollback();
            return fail(Status::Refused,
                QStringLiteral("the table board_records has schema version %1; this program "
                               "writes version %2")
                    .arg(query.value(0).toInt())
                    .arg(SchemaVersion));
        }
    }
    if (!database.commit())
        return fail(Status::Unreachable, sqlError(database.lastError()));

    insertQuery = std::make_unique<QSqlQuery>(database);
    if (!insertQuery->prepare(QStringLiteral("INSERT INTO board_records (%1) VALUES "
                                             "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                                             "ON CONFLICT (id) DO NOTHING")
                                  .arg(Columns)))
        return fail(Status::Refused, sqlError(insertQuery->lastError()));
    error.clear();
    return Status::Ready;
}

bool RecordDatabase::connected() const { return insertQuery != nullptr; }

bool RecordDatabase::insert(const StationRecord &stored)
{
    if (!insertQuery)
        return false;
    QSqlDatabase database = QSqlDatabase::database(name, false);
    const BoardRecord &record = stored.record;
    const QVariantList values = { stored.id, text(stored.station), stored.time(), text(record.port),
        record.board, text(record.file), record.size, text(QString::fromLatin1(record.sha256)),
        BoardRecord::resultName(record.result), record.seconds, qRound64(record.bytesPerSecond()),
        text(record.error) };
    for (int i = 0; i < values.size(); ++i)
        insertQuery->bindValue(i, values.at(i));
    // Outside an explicit transaction the statement is a transaction of its
    // own, committed when exec() returns: one round trip to the server per
    // record rather than three (BEGIN, INSERT, COMMIT), each of which waits
    // for the scheduler on a busy station.
    if (insertQuery->exec())
        return true;
    error = sqlError(insertQuery->lastError());
    // The next attempt starts from a fresh connection: after a server
    // restart the old one is dead, and its prepared statement with it.
    disconnect();
    return false;
}

QString RecordDatabase::errorString() const { return error; }

RecordDatabase::Status RecordDatabase::fail(Status status, const QString &text)
{
    error = text;
    return status;
}

void RecordDatabase::disconnect()
{
    insertQuery.reset();
    if (isOpen)
        QSqlDatabase::database(name, false).close();
    isOpen = false;
}
