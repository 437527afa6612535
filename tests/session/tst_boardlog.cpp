#include "boardprocess.h"
#include "postgresserver.h"
#include "testfiles.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <memory>

namespace
{

// A board with its own receiver takes about half a second, most of it the
// boot monitor's dialogue.
const int RunMs = 30000;
const int ImageSize = 3000;

} // namespace

class tst_BoardLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void sqliteReadsBack();
    void twoStationsAtOnce();
    void serverRestartMidRun();
    void spoolOutlivesTheProgram();
    void refusedAtStart_data();
    void refusedAtStart();

private:
    // A board process playing count boards, with extra failure options.
    BoardProcess *board(int count, const QStringList &options = {});
    QProcess *flash(const QStringList &arguments);
    int finish(QProcess *process);
    // A fresh database on the server, with a test connection to it.
    QSqlDatabase database(const QString &name);
    int count(const QString &database, const QString &condition = QStringLiteral("true"));

    PostgresServer server;
    std::unique_ptr<QTemporaryDir> folder;
    QString image;
    std::vector<std::unique_ptr<BoardProcess>> boards;
    std::vector<std::unique_ptr<QProcess>> flashes;
};

void tst_BoardLog::initTestCase() { QVERIFY2(server.start(), qPrintable(server.errorString())); }

void tst_BoardLog::init()
{
    folder = std::make_unique<QTemporaryDir>();
    image = folder->filePath(QStringLiteral("fw.bin"));
    QVERIFY(writeFile(image, randomBytes(ImageSize)));
}

void tst_BoardLog::cleanup()
{
    flashes.clear();
    boards.clear();
    for (const QString &name : QSqlDatabase::connectionNames())
        QSqlDatabase::removeDatabase(name);
}

BoardProcess *tst_BoardLog::board(int count, const QStringList &options)
{
    boards.push_back(std::make_unique<BoardProcess>(QStringLiteral(BOARD_PROGRAM)));
    const QString where = folder->filePath(QStringLiteral("boards-%1").arg(boards.size()));
    if (!boards.back()->start(QStringList { "--folder", where, "--boards", QString::number(count),
                                  "--receiver", "own" }
            + options))
        return nullptr;
    return boards.back().get();
}

QProcess *tst_BoardLog::flash(const QStringList &arguments)
{
    flashes.push_back(std::make_unique<QProcess>());
    QProcess *process = flashes.back().get();
    // A spool folder of the test's own.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), folder->filePath(QStringLiteral("data")));
    process->setProcessEnvironment(environment);
    process->start(QStringLiteral(FLASH_PROGRAM), arguments + QStringList { image });
    return process;
}

int tst_BoardLog::finish(QProcess *process)
{
    if (!process->waitForFinished(RunMs) || process->exitStatus() != QProcess::NormalExit)
        return -1;
    return process->exitCode();
}

QSqlDatabase tst_BoardLog::database(const QString &name)
{
    QSqlDatabase admin
        = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("admin"));
    admin.setHostName(server.socketFolder());
    admin.setUserName(QStringLiteral("postgres"));
    admin.setDatabaseName(QStringLiteral("postgres"));
    if (admin.open())
        admin.exec(QStringLiteral("CREATE DATABASE %1").arg(name));
    QSqlDatabase test = QSqlDatabase::cloneDatabase(admin, name);
    test.setDatabaseName(name);
    test.open();
    return test;
}

int tst_BoardLog::count(const QString &database, const QString &condition)
{
    // After a server restart the first query finds the old connection dead.
    for (int attempt = 0; attempt < 2; ++attempt) {
        QSqlDatabase connection = QSqlDatabase::database(database);
        QSqlQuery query(connection);
        if (query.exec(QStringLiteral("SELECT count(*) FROM board_records WHERE %1").arg(condition))
            && query.next())
            return query.value(0).toInt();
        connection.close();
    }
    return -1;
}

void tst_BoardLog::sqliteReadsBack()
{
    const QString file = folder->filePath(QStringLiteral("line.sqlite"));
    BoardProcess *line = board(3, { "--cancel", "2" });
    QVERIFY(line);
    const QDateTime started = QDateTime::currentDateTimeUtc().addSecs(-1);
    QProcess *run
        = flash({ "-n", "3", "--station", "bench 7", "--log", file, "-p", line->linePath() });
    QCOMPARE(finish(run), 1);

    QSqlDatabase sqlite = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    sqlite.setDatabaseName(file);
    QVERIFY(sqlite.open());
    QSqlQuery query(sqlite);
    QVERIFY(
        query.exec("SELECT id, station, time, port, board, file, size, sha256, result, seconds, "
                   "bytes_per_second, error FROM board_records ORDER BY board"));
    const QByteArray digest
        = QCryptographicHash::hash(randomBytes(ImageSize), QCryptographicHash::Sha256).toHex();
    for (const QString result : { "completed", "cancelled" }) {
        QVERIFY(query.next());
        const int board = query.value(4).toInt();
        QVERIFY(!QUuid(query.value(0).toString()).isNull());
        QCOMPARE(query.value(1).toString(), QStringLiteral("bench 7"));
        const QDateTime time = QDateTime::fromString(query.value(2).toString(), Qt::ISODateWithMs);
        QVERIFY(time >= started && time <= QDateTime::currentDateTimeUtc());
        QCOMPARE(query.value(3).toString(), line->linePath());
        QCOMPARE(board, result == QLatin1String("completed") ? 1 : 2);
        QCOMPARE(query.value(5).toString(), QStringLiteral("fw.bin"));
        QCOMPARE(query.value(6).toLongLong(), qint64(ImageSize));
        QCOMPARE(query.value(7).toByteArray(), digest);
        QCOMPARE(query.value(8).toString(), result);
        const double seconds = query.value(9).toDouble();
        QVERIFY(seconds > 0);
        QCOMPARE(query.value(10).toLongLong(), board == 1 ? qRound64(ImageSize / seconds) : 0);
        QCOMPARE(query.value(11).toString().isEmpty(), board == 1);
    }
    QVERIFY(!query.next());
    QVERIFY(query.exec("SELECT version FROM record_schema") && query.next());
    QCOMPARE(query.value(0).toInt(), 1);
}

void tst_BoardLog::twoStationsAtOnce()
{
    const int boardsEach = 6;
    QVERIFY(database(QStringLiteral("line")).isOpen());
    QList<QProcess *> runs;
    for (const QString station : { "station-a", "station-b" }) {
        BoardProcess *line = board(boardsEach);
        QVERIFY(line);
        runs << flash({ "-n", QString::number(boardsEach), "--station", station, "--log",
            server.uri("line"), "-p", line->linePath() });
    }
    for (QProcess *run : runs)
        QCOMPARE(finish(run), 0);
    QCOMPARE(count("line", "station = 'station-a'"), boardsEach);
    QCOMPARE(count("line", "station = 'station-b'"), boardsEach);
}

void tst_BoardLog::serverRestartMidRun()
{
    const int total = 12;
    QVERIFY(database(QStringLiteral("outage")).isOpen());
    BoardProcess *line = board(total);
    QVERIFY(line);
    QProcess *run = flash(
        { "-n", QString::number(total), "--log", server.uri("outage"), "-p", line->linePath() });
    QTRY_VERIFY_WITH_TIMEOUT(count("outage") >= 3, RunMs);
    QVERIFY2(server.stop(), qPrintable(server.errorString()));
    const auto received = [line] { return int(line->reports().filter("received").size()); };
    const int before = received();
    QTRY_VERIFY_WITH_TIMEOUT(received() >= before + 3, RunMs);
    const int during = received() - before;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QCOMPARE(finish(run), 0);
    QVERIFY(run->readAllStandardOutput().contains("waiting in the spool"));
    QCOMPARE(count("outage"), total);
    QCOMPARE(count("outage",
                 "board IN (SELECT board FROM board_records GROUP BY board "
                 "HAVING count(*) = 1)"),
        total);
    qInfo("%d boards before the stop, %d during the outage, %d after; %d rows, each board once",
        before, during, total - before - during, total);
}

void tst_BoardLog::spoolOutlivesTheProgram()
{
    QVERIFY(database(QStringLiteral("later")).isOpen());
    QVERIFY(server.stop());
    BoardProcess *first = board(3);
    QVERIFY(first);
    QProcess *down = flash({ "-n", "3", "--log", server.uri("later"), "-p", first->linePath() });
    QCOMPARE(finish(down), 0);
    QVERIFY(down->readAllStandardOutput().contains("3 waiting in the spool"));
    QDirIterator spools(
        folder->filePath("data"), { "*.jsonl" }, QDir::Files, QDirIterator::Subdirectories);
    QVERIFY(spools.hasNext());
    const QString spool = spools.next();
    const QByteArray spooled = readFile(spool);

    QVERIFY2(server.start(), qPrintable(server.errorString()));
    BoardProcess *second = board(1);
    QVERIFY(second);
    QCOMPARE(finish(flash({ "--log", server.uri("later"), "-p", second->linePath() })), 0);
    QCOMPARE(count("later"), 4);
    QVERIFY(!QFile::exists(spool));
    // As if the program had died between a commit and the spool's update:
    // the next one sends the same records again.
    QVERIFY(writeFile(spool, spooled));
    QCOMPARE(finish(flash({ "--log", server.uri("later"), "-p", "/dev/no-such-port" })), 2);
    QCOMPARE(count("later", "port <> '/dev/no-such-port'"), 4);
    QVERIFY(!QFile::exists(spool));
}

void tst_BoardLog::refusedAtStart_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QStringList>("prepare");
    QTest::addColumn<QString>("message");

    const QString socket = QUrl::toPercentEncoding(server.socketFolder());
    QTest::newRow("unknown scheme")
        << "mysql://line@db.example/records" << QStringList() << "unknown scheme mysql";
    QTest::newRow("password on the command line")
        << "postgresql://postgres:secret@" + socket + "/postgres" << QStringList() << "PGPASSWORD";
    QTest::newRow("login refused")
        << "postgresql://intruder@" + socket + "/postgres" << QStringList() << "intruder";
    QTest::newRow("table of another shape")
        << "records.db" << QStringList { "CREATE TABLE board_records (id text, serial text)" }
        << "lacks a column";
    QTest::newRow("later schema version")
        << "records.sqlite"
        << QStringList { "CREATE TABLE record_schema (version integer)",
               "INSERT INTO record_schema VALUES (2)" }
        << "schema version 2";
}

void tst_BoardLog::refusedAtStart()
{
    QFETCH(QString, target);
    QFETCH(QStringList, prepare);
    QFETCH(QString, message);
    if (!prepare.isEmpty()) {
        target = folder->filePath(target);
        QSqlDatabase sqlite = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
        sqlite.setDatabaseName(target);
        QVERIFY(sqlite.open());
        for (const QString &statement : prepare)
            QVERIFY2(!sqlite.exec(statement).lastError().isValid(), qPrintable(statement));
        sqlite.close();
    }
    BoardProcess *line = board(1);
    QVERIFY(line);
    QProcess *run = flash({ "--log", target, "-p", line->linePath() });
    QCOMPARE(finish(run), 2);
    QVERIFY2(run->readAllStandardError().contains(message.toUtf8()), qPrintable(message));
    QVERIFY(!line->reported(1, QStringLiteral("answered")));
}

QTEST_GUILESS_MAIN(tst_BoardLog)
#include "tst_boardlog.moc"
