#include "boardprocess.h"
#include "boardrecord.h"
#include "boardsession.h"
#include "postgresserver.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace
{

constexpr int Records = 1000;
constexpr int BurstCount = 3;
constexpr double RequiredPerSecond = 500;
// The fastest line a station drives makes the transfer most sensitive to a
// late answer: a 1 KiB block takes 11 ms at 921600 baud.
constexpr int Baud = 921600;
constexpr int ImageSize = 128 * 1024;
// Boards alternate between a quiet event loop and one that writes records,
// so that a moment's load elsewhere on the machine meets both alike.
constexpr int Rounds = 3;
// A record every 10 ms during a transfer: a hundred times what eight ports
// that each finish a board every five seconds hand the log.
constexpr int WriteEveryMs = 10;
// What two quiet boards differ by on a busy machine.
constexpr double Noise = 0.05;

BoardRecord sample(int board)
{
    BoardRecord record;
    record.time = QDateTime::currentDateTimeUtc();
    record.port = QStringLiteral("/dev/ttyUSB0");
    record.board = board;
    record.file = QStringLiteral("firmware.bin");
    record.size = 491520;
    record.sha256 = QByteArray(64, 'a');
    record.result = BoardRecord::Completed;
    record.seconds = 44.5;
    return record;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

struct Bursts
{
    double perSecond = 0;
    // The station's own share of each record, whatever the server and the
    // scheduler make it wait for.
    double processorMs = 0;
    bool complete = false;
};

// Bursts of records from one station into the server, one after another.
Bursts bursts(const PostgresServer &server)
{
    BoardLog log;
    log.setStation(QStringLiteral("bench"));
    if (!log.open(server.uri(QStringLiteral("postgres")))) {
        std::fprintf(stderr, "cannot open the log: %s\n", qPrintable(log.errorString()));
        return {};
    }
    std::vector<double> perSecond;
    const std::clock_t processorStart = std::clock();
    for (int burst = 0; burst < BurstCount; ++burst) {
        QElapsedTimer clock;
        clock.start();
        for (int board = 1; board <= Records; ++board)
            log.append(sample(board));
        perSecond.push_back(Records / (clock.nsecsElapsed() / 1e9));
    }
    const double processorMs
        = 1000.0 * double(std::clock() - processorStart) / CLOCKS_PER_SEC / (BurstCount * Records);
    QSqlDatabase database
        = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), server.socketFolder());
    database.setHostName(server.socketFolder());
    database.setUserName(QStringLiteral("postgres"));
    QSqlQuery query(database);
    const bool complete = database.open()
        && query.exec(QStringLiteral("SELECT count(*) FROM board_records")) && query.next()
        && query.value(0).toInt() == BurstCount * Records && log.spooled() == 0;
    return { median(perSecond), processorMs, complete };
}

// One board's transfer rate, with records written on the same thread while
// it runs, or not.
double boardRate(const SessionSettings &settings, BoardLog &log, bool writing, int &written)
{
    BoardSession session(settings);
    QTimer writer;
    writer.setInterval(WriteEveryMs);
    QObject::connect(&writer, &QTimer::timeout, [&] { log.append(sample(++written)); });
    QObject::connect(&session, &BoardSession::transferStarted, [&] {
        if (writing)
            writer.start();
    });
    double rate = 0;
    QObject::connect(&session, &BoardSession::boardEnded, [&](const BoardRecord &record) {
        writer.stop();
        rate = record.bytesPerSecond();
    });
    QEventLoop loop;
    QObject::connect(&session, &BoardSession::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(0, &session, &BoardSession::start);
    loop.exec();
    return rate;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    // A server that flushes every commit to disk, as a line's server does,
    // and one that flushes nothing: what is left is the station's own part.
    // A flush on this shared machine's disk takes 0.1 ms, or 3 ms while the
    // others' builds write to it.
    PostgresServer server(PostgresServer::Commits::Durable);
    PostgresServer unflushed;
    if (!folder.isValid() || !server.start() || !unflushed.start()) {
        std::fprintf(stderr, "cannot start PostgreSQL: %s%s\n", qPrintable(server.errorString()),
            qPrintable(unflushed.errorString()));
        return 1;
    }
    qputenv("XDG_DATA_HOME", folder.filePath(QStringLiteral("data")).toLocal8Bit());
    const Bursts durable = bursts(server);
    const Bursts station = bursts(unflushed);
    const bool complete = durable.complete && station.complete;
    const bool fastEnough = station.perSecond >= RequiredPerSecond && complete;
    std::printf("Records, %d bursts of %d, one transaction each, median: %.0f records/s "
                "(%.2f ms each) into a local PostgreSQL that flushes every commit to disk, "
                "%.0f records/s (%.2f ms each) into one that does not; the station's processor "
                "time %.3f ms per record; every record in its table: %s; required %.0f/s of "
                "the station: %s\n",
        BurstCount, Records, durable.perSecond, 1000 / durable.perSecond, station.perSecond,
        1000 / station.perSecond, durable.processorMs, complete ? "yes" : "NO", RequiredPerSecond,
        fastEnough ? "ok" : "TOO SLOW");
    std::fflush(stdout);
    BoardLog log;
    log.setStation(QStringLiteral("bench"));
    if (!log.open(server.uri(QStringLiteral("postgres"))))
        return 1;

    BoardProcess board(QStringLiteral(BOARD_PROGRAM));
    SessionSettings settings;
    settings.image = folder.filePath(QStringLiteral("fw.bin"));
    if (!writeFile(settings.image, randomBytes(ImageSize))
        || !board.start({ "--folder", folder.filePath(QStringLiteral("boards")), "--boards",
            QString::number(2 * Rounds), "--receiver", "own", "--baud", QString::number(Baud) })) {
        std::fprintf(stderr, "the board did not start\n");
        return 1;
    }
    settings.port = board.linePath();
    settings.baudRate = Baud;
    settings.imageSize = ImageSize;
    settings.imageSha256 = fileSha256(settings.image);
    std::vector<double> quiet;
    std::vector<double> writing;
    int written = 0;
    for (int round = 0; round < Rounds; ++round) {
        quiet.push_back(boardRate(settings, log, false, written));
        writing.push_back(boardRate(settings, log, true, written));
    }
    const double ratio = median(writing) / median(quiet);
    const bool unchanged = median(quiet) > 0 && std::abs(1 - ratio) <= Noise;
    std::printf("Transfer, %d KiB at %d baud, median of %d boards each: %.2f KiB/s quiet, "
                "%.2f KiB/s while %d records were written one every %d ms, ratio %.3f "
                "(within %.0f%% required): %s\n",
        ImageSize / 1024, Baud, Rounds, median(quiet) / 1024, median(writing) / 1024, written,
        WriteEveryMs, ratio, Noise * 100, unchanged ? "ok" : "SLOWED");
    return fastEnough && unchanged ? 0 : 1;
}
