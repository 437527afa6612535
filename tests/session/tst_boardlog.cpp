#include "boardprocess.h"
#include "postgresserver.h"
#include "testfiles.h"

#include <QCryptographicHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>
#include <QtTest>

#include <memory>

namespace
{

// A board with its own receiver takes about half a second, most of it the
// boot monitor's dialogue.
const int RunMs = 30000;
const int ImageSize = 3000;

int finish(QProcess *process)
{
    if (!process->waitForFinished(RunMs) || process->exitStatus() != QProcess::NormalExit)
        return -1;
    return process->exitCode();
}

} // namespace

class tst_BoardLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void sqliteReadsBack();
    void twoStationsThroughARestart();
    void spoolOutlivesTheProgram();
    void refusedAtStart_data();
    void refusedAtStart();

private:
    BoardProcess *board(int count, const QStringList &options = {});
    QProcess *flash(const QStringList &arguments);
    // A station's records in the shared database (a LIKE pattern).
    int count(const QString &station, const QString &what = "*");

    PostgresServer server;
    QString uri;
    std::unique_ptr<QTemporaryDir> folder;
    std::vector<std::unique_ptr<BoardProcess>> boards;
    std::vector<std::unique_ptr<QProcess>> flashes;
};

void tst_BoardLog::init()
{
    folder = std::make_unique<QTemporaryDir>();
    QVERIFY(writeFile(folder->filePath("fw.bin"), randomBytes(ImageSize)));
}

void tst_BoardLog::cleanup()
{
    flashes.clear();
    boards.clear();
    QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
}

BoardProcess *tst_BoardLog::board(int count, const QStringList &options)
{
    boards.push_back(std::make_unique<BoardProcess>(BOARD_PROGRAM));
    const QString where = folder->filePath(QString("boards-%1").arg(boards.size()));
    const QStringList arguments
        = { "--folder", where, "--boards", QString::number(count), "--receiver", "own" };
    return boards.back()->start(arguments + options) ? boards.back().get() : nullptr;
}

QProcess *tst_BoardLog::flash(const QStringList &arguments)
{
    flashes.push_back(std::make_unique<QProcess>());
    // A spool folder of the test's own.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", folder->filePath("data"));
    flashes.back()->setProcessEnvironment(environment);
    flashes.back()->start(FLASH_PROGRAM, arguments + QStringList { folder->filePath("fw.bin") });
    return flashes.back().get();
}

void tst_BoardLog::initTestCase()
{
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QSqlDatabase records = QSqlDatabase::addDatabase("QPSQL", "records");
    records.setHostName(server.socketFolder());
    records.setUserName("postgres");
    QVERIFY(records.open() && QSqlQuery(records).exec("CREATE DATABASE line"));
    records.close();
    records.setDatabaseName("line");
    uri = server.uri("line");
}

int tst_BoardLog::count(const QString &station, const QString &what)
{
    // After a server restart the first query finds the old connection dead.
    for (int attempt = 0; attempt < 2; ++attempt) {
        QSqlQuery query(QSqlDatabase::database("records"));
        if (query.exec("SELECT count(" + what + ") FROM board_records WHERE station LIKE '"
                + station + "'")
            && query.next())
            return query.value(0).toInt();
        QSqlDatabase::database("records", false).close();
    }
    return -1;
}

void tst_BoardLog::sqliteReadsBack()
{
    const QString file = folder->filePath("line.sqlite");
    BoardProcess *line = board(3, { "--cancel", "2" });
    QVERIFY(line);
    const QDateTime started = QDateTime::currentDateTimeUtc().addSecs(-1);
    QCOMPARE(
        finish(flash({ "-n", "3", "--station", "bench 7", "--log", file, "-p", line->linePath() })),
        1);

    QSqlDatabase sqlite = QSqlDatabase::addDatabase("QSQLITE");
    sqlite.setDatabaseName(file);
    QVERIFY(sqlite.open());
    QSqlQuery query(sqlite);
    QVERIFY(query.exec("SELECT station, port, file, size, sha256, board, result, id, time, "
                       "seconds, bytes_per_second, error FROM board_records ORDER BY board"));
    const QString digest
        = QCryptographicHash::hash(randomBytes(ImageSize), QCryptographicHash::Sha256).toHex();
    // The failed board ends only itself: board 3 follows it.
    for (const QString result : { "completed", "cancelled", "completed" }) {
        QVERIFY(query.next());
        const int board = query.at() + 1;
        const QVariantList same
            = { "bench 7", line->linePath(), "fw.bin", ImageSize, digest, board, result };
        for (int column = 0; column < same.size(); ++column)
            QCOMPARE(query.value(column).toString(), same.at(column).toString());
        QVERIFY(!QUuid(query.value(7).toString()).isNull());
        const QDateTime time = QDateTime::fromString(query.value(8).toString(), Qt::ISODateWithMs);
        QVERIFY(time >= started && time <= QDateTime::currentDateTimeUtc());
        const double seconds = query.value(9).toDouble();
        QVERIFY(seconds > 0);
        const bool completed = result == "completed";
        QCOMPARE(query.value(10).toLongLong(), completed ? qRound64(ImageSize / seconds) : 0);
        QCOMPARE(query.value(11).toString().isEmpty(), completed);
    }
    QVERIFY(!query.next());
}

void tst_BoardLog::twoStationsThroughARestart()
{
    const int each = 12;
    QList<QProcess *> runs;
    for (const QString station : { "station-a", "station-b" }) {
        BoardProcess *line = board(each);
        QVERIFY(line);
        runs << flash({ "-n", QString::number(each), "--station", station, "--log", uri, "-p",
            line->linePath() });
    }
    QTRY_VERIFY_WITH_TIMEOUT(count("station-%") >= 4, RunMs);
    const int before = count("station-%");
    QVERIFY2(server.stop(), qPrintable(server.errorString()));
    // Boards go on while the server is away, and their records wait.
    const auto spooling = [](QProcess *run) { return run->peek(1 << 16).contains("2 waiting"); };
    QTRY_VERIFY_WITH_TIMEOUT(spooling(runs.at(0)) && spooling(runs.at(1)), RunMs);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    for (QProcess *run : runs)
        QCOMPARE(finish(run), 0);
    QCOMPARE(count("station-%"), 2 * each);
    QCOMPARE(count("station-%", "DISTINCT (station, board)"), 2 * each);
    qInfo("%d rows before the stop, %d at the end, each board once", before, 2 * each);
}

void tst_BoardLog::spoolOutlivesTheProgram()
{
    QVERIFY(server.stop());
    BoardProcess *line = board(4);
    QVERIFY(line);
    QProcess *down
        = flash({ "-n", "3", "--station", "later", "--log", uri, "-p", line->linePath() });
    QCOMPARE(finish(down), 0);
    QVERIFY(down->readAllStandardOutput().contains("3 waiting in the spool"));
    QDirIterator spools(
        folder->filePath("data"), { "*.jsonl" }, QDir::Files, QDirIterator::Subdirectories);
    QVERIFY(spools.hasNext());
    const QString spool = spools.next();
    const QByteArray spooled = readFile(spool);

    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QCOMPARE(finish(flash({ "--station", "later", "--log", uri, "-p", line->linePath() })), 0);
    QCOMPARE(count("later"), 4);
    // As if the program had died between a commit and the spool's update:
    // the next one sends the same records again, and a port that cannot be
    // opened adds one record of its own.
    QVERIFY(writeFile(spool, spooled));
    QCOMPARE(finish(flash({ "--station", "later", "--log", uri, "-p", "/dev/no-such-port" })), 2);
    QCOMPARE(count("later"), 5);
    QVERIFY(!QFile::exists(spool));
}

void tst_BoardLog::refusedAtStart_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("sqlite");
    QTest::addColumn<QString>("message");

    const QString socket = QUrl::toPercentEncoding(server.socketFolder());
    QTest::newRow("unknown scheme")
        << "mysql://line@db.example/records" << QString() << "unknown scheme mysql";
    QTest::newRow("password on the command line")
        << "postgresql://postgres:secret@" + socket + "/postgres" << QString() << "PGPASSWORD";
    QTest::newRow("login refused")
        << "postgresql://intruder@" + socket + "/postgres" << QString() << "intruder";
    QTest::newRow("table of another shape") << "records.db"
                                            << "CREATE TABLE board_records (id text, serial text)"
                                            << "lacks a column";
    QTest::newRow("later schema version") << "records.sqlite"
                                          << "CREATE TABLE record_schema AS SELECT 2 AS version"
                                          << "schema version 2";
}

void tst_BoardLog::refusedAtStart()
{
    QFETCH(QString, target);
    QFETCH(QString, sqlite);
    QFETCH(QString, message);
    if (!sqlite.isEmpty()) {
        target = folder->filePath(target);
        QSqlDatabase file = QSqlDatabase::addDatabase("QSQLITE");
        file.setDatabaseName(target);
        QVERIFY(file.open() && QSqlQuery(file).exec(sqlite));
        file.close();
    }
    QProcess *run = flash({ "--log", target, "-p", "/dev/no-such-port" });
    QCOMPARE(finish(run), 2);
    QVERIFY2(run->readAllStandardError().contains(message.toUtf8()), qPrintable(message));
}

QTEST_GUILESS_MAIN(tst_BoardLog)
#include "tst_boardlog.moc"
