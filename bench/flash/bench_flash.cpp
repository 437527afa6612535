#include "eventloop.h"
#include "testfiles.h"
#include "ymodem.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

namespace
{

constexpr int MiB = 1024 * 1024;
// Each byte on the line is framed by a start and a stop bit.
constexpr int BitsPerByte = 10;
// A packet takes 11 ms at 921600 baud, and a moment's load elsewhere on the
// machine moves one run by a few per cent: the fast line gets rounds that
// alternate between the senders. At 115200 a packet takes 89 ms.
constexpr int FastBaud = 921600;
constexpr int FastRounds = 3;
constexpr int HandshakeBoards = 20;
constexpr int HandshakeTargetMs = 50;
constexpr int ParallelPorts = 8;
constexpr int EnduranceBoards = 500;
// Memory and descriptors are compared from the end of the first boards on,
// once the program's caches and the allocator have settled.
constexpr int SettledBoards = 10;
constexpr int EnduranceImage = 4 * 1024;
// The board with its own receiver needs well under a second per board.
constexpr int EnduranceMs = EnduranceBoards * 3000;
// The dialogue with the monitor, and rb's pauses before and after a file.
constexpr int BoardReadyMs = 10000;
// How often the bench looks while it waits on boards and the downloader.
constexpr int WaitSliceMs = 20;
// Boards that each bring their own line; one more, whose answer to the
// monitor comes after the last full cycle.
constexpr int HotplugCycles = 200;
// The board's pause before the line comes back, the downloader's look for
// it every half second and the board itself.
constexpr int HotplugMs = (HotplugCycles + 1) * 3000;

QElapsedTimer benchClock;

// What the line carries of the file per second: every 1024 payload bytes
// cost a whole packet.
double linePayloadRate(int baud)
{
    return double(baud) / BitsPerByte * Ymodem::PayloadSize1K / Ymodem::PacketSize1K;
}

// Time for a file to cross the line, with room for a busy machine.
int transferMs(qint64 bytes, int baud)
{
    return int(3000.0 * double(bytes) / linePayloadRate(baud)) + 3 * BoardReadyMs;
}

// One board's data blocks as the board timed them: from the first byte of
// block 1 to the EOT, and when the bench heard of it.
struct DataRun {
    qint64 bytes = 0;
    double ms = 0;
    double heardAtMs = 0;
};

// A trelvo-board process. Its first line names its line; every further
// line reports an event of one of its boards and is kept with the bench's
// time of arrival.
class BoardRun
{
public:
    explicit BoardRun(std::function<void(const QString &)> heard = {})
        : heard(std::move(heard))
    {
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] { takeLines(); });
    }

    ~BoardRun()
    {
        process.kill();
        process.waitForFinished();
    }

    bool start(const QStringList &arguments)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(BOARD_PROGRAM), arguments);
        return serveUntil([this] { return !path.isEmpty(); }, BoardReadyMs, WaitSliceMs);
    }

    QString linePath() const { return path; }

    bool reported(int board, const QString &start) const
    {
        const QString line = QStringLiteral("board %1: %2").arg(board).arg(start);
        return std::any_of(lines.begin(), lines.end(),
            [&](const Line &heardLine) { return heardLine.text.startsWith(line); });
    }

    // Whether board has ended its transfer, one way or another.
    bool done(int board) const
    {
        return reported(board, QStringLiteral("received"))
            || reported(board, QStringLiteral("the transfer failed"));
    }

    std::vector<DataRun> dataRuns() const
    {
        static const QRegularExpression pattern(
            QStringLiteral("^board \\d+: (\\d+) data bytes in ([0-9.]+) ms$"));
        std::vector<DataRun> runs;
        for (const Line &line : lines) {
            const QRegularExpressionMatch match = pattern.match(line.text);
            if (match.hasMatch())
                runs.push_back(
                    { match.captured(1).toLongLong(), match.captured(2).toDouble(), line.atMs });
        }
        return runs;
    }

    // The downloader's share of each board's handshake, in ms: answering
    // the monitor, the header after the first request, block 1 after the
    // header's answer.
    std::vector<std::vector<double>> turns() const
    {
        static const QRegularExpression pattern(
            QStringLiteral("^board \\d+: the tool answered the monitor in ([-0-9.]+) ms, sent "
                           "the header ([-0-9.]+) ms after the first request and block 1 "
                           "([-0-9.]+) ms after the header's answer$"));
        std::vector<std::vector<double>> all;
        for (const Line &line : lines) {
            const QRegularExpressionMatch match = pattern.match(line.text);
            if (match.hasMatch())
                all.push_back({ match.captured(1).toDouble(), match.captured(2).toDouble(),
                    match.captured(3).toDouble() });
        }
        return all;
    }

private:
    struct Line {
        QString text;
        double atMs;
    };

    void takeLines()
    {
        while (process.canReadLine()) {
            const QString text = QString::fromLocal8Bit(process.readLine()).trimmed();
            if (path.isEmpty()) {
                path = text;
                continue;
            }
            lines.push_back({ text, benchClock.nsecsElapsed() / 1e6 });
            if (heard)
                heard(text);
        }
    }

    QProcess process;
    QString path;
    std::vector<Line> lines;
    std::function<void(const QString &)> heard;
};

// Runs program to its end; its exit code, or -1 when it crashed or had to
// be stopped after timeoutMs.
int run(QProcess &process, const QString &program, const QStringList &arguments, int timeoutMs)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    const bool ended = serveUntil(
        [&] { return process.state() == QProcess::NotRunning; }, timeoutMs, WaitSliceMs);
    if (!ended) {
        process.kill();
        process.waitForFinished();
        std::fprintf(stderr, "%s did not end within %d s\n", qPrintable(program), timeoutMs / 1000);
        return -1;
    }
    if (process.error() == QProcess::FailedToStart) {
        std::fprintf(stderr, "cannot run %s\n", qPrintable(program));
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// The downloader's progress display is not looked at; its errors are shown.
int runFlash(QProcess &process, const QString &flash, const QStringList &arguments, int timeoutMs)
{
    process.setStandardOutputFile(QProcess::nullDevice());
    return run(process, flash, arguments, timeoutMs);
}

int runFlash(const QString &flash, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    return runFlash(process, flash, arguments, timeoutMs);
}

QStringList portArguments(const std::vector<std::unique_ptr<BoardRun>> &boards)
{
    QStringList arguments;
    for (const auto &board : boards)
        arguments << QStringLiteral("-p") << board->linePath();
    return arguments;
}

bool readUntil(int line, char wanted)
{
    char chunk[256];
    pollfd readable = { line, POLLIN, 0 };
    while (poll(&readable, 1, BoardReadyMs) == 1) {
        const ssize_t count = read(line, chunk, sizeof chunk);
        if (count <= 0)
            return false;
        if (std::find(chunk, chunk + count, wanted) != chunk + count)
            return true;
    }
    return false;
}

// sb knows nothing of boot monitors: the bench answers the monitor as a
// downloader would and hands the line to sb once the board's receiver has
// asked for the file. sb then starts on the board's next request.
int sendWithSb(const QString &path, const QString &image, int timeoutMs)
{
    const int line = open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (line < 0)
        return -1;
    termios mode;
    tcgetattr(line, &mode);
    cfmakeraw(&mode);
    tcsetattr(line, TCSANOW, &mode);
    const bool answered = readUntil(line, '>') && write(line, "1", 1) == 1 && readUntil(line, 'C');
    close(line);
    if (!answered)
        return -1;
    QProcess sb;
    sb.setStandardInputFile(path);
    sb.setStandardOutputFile(path);
    return run(
        sb, QStringLiteral("sb"), { QStringLiteral("-k"), QStringLiteral("-q"), image }, timeoutMs);
}

class Bench
{
public:
    Bench(const QString &flash, const QString &folder)
        : flash(flash)
        , folder(folder)
    {
    }

    bool rate(int baud);
    bool handshake();
    bool parallel();
    bool endurance();
    bool hotplug();

private:
    QString writeImage(const QString &name, int size);
    QString boardFolder(const QString &run) const { return QDir(folder).filePath(run); }
    bool imageArrived(const QString &run, int board, const QString &image) const;
    double singlePortRate(int baud);

    const QString flash;
    const QString folder;
    // Bytes per second of one port's data blocks, by baud rate.
    QMap<int, double> flashRates;
};

QString Bench::writeImage(const QString &name, int size)
{
    const QString path = QDir(folder).filePath(name);
    return writeFile(path, randomBytes(size, quint32(size))) ? path : QString();
}

bool Bench::imageArrived(const QString &run, int board, const QString &image) const
{
    const QString received
        = QDir(boardFolder(run))
              .filePath(QStringLiteral("board-%1/").arg(board) + QFileInfo(image).fileName());
    return readFile(received) == readFile(image);
}

// 1 MiB through one simulated board at baud, from the downloader and from
// sb in turn, each rated by the board from block 1 to the EOT. The figure
// of each sender is the median of its rounds.
bool Bench::rate(int baud)
{
    const QString image = writeImage(QStringLiteral("image.bin"), MiB);
    const QString line = QString::number(baud);
    const double lineRate = linePayloadRate(baud);
    const int rounds = baud >= FastBaud ? FastRounds : 1;
    std::vector<double> rates[2];
    const char *const senders[2] = { "trelvo-flash", "sb" };
    for (int round = 0; round < rounds; ++round) {
        for (int sender = 0; sender < 2; ++sender) {
            const QString run = QStringLiteral("%1-%2-%3").arg(senders[sender], line).arg(round);
            BoardRun board;
            if (!board.start({ QStringLiteral("--folder"), boardFolder(run),
                    QStringLiteral("--baud"), line })) {
                std::fprintf(stderr, "the board did not start\n");
                return false;
            }
            const int exit = sender == 0
                ? runFlash(flash,
                    { QStringLiteral("-p"), board.linePath(), QStringLiteral("-b"), line,
                        QStringLiteral("-q"), image },
                    transferMs(MiB, baud))
                : sendWithSb(board.linePath(), image, transferMs(MiB, baud));
            serveUntil([&] { return board.done(1); }, BoardReadyMs, WaitSliceMs);
            const std::vector<DataRun> runs = board.dataRuns();
            if (exit != 0 || runs.size() != 1 || !imageArrived(run, 1, image)) {
                std::fprintf(stderr, "%s at %d baud failed: exit %d, image %s\n", senders[sender],
                    baud, exit, imageArrived(run, 1, image) ? "arrived" : "missing or different");
                return false;
            }
            rates[sender].push_back(runs.front().bytes / (runs.front().ms / 1000));
        }
    }
    for (std::vector<double> &sender : rates)
        std::sort(sender.begin(), sender.end());
    const double flashRate = rates[0][size_t(rounds / 2)];
    const double sbRate = rates[1][size_t(rounds / 2)];
    flashRates[baud] = flashRate;
    std::printf("Rate, 1 MiB to rb through the board at %d baud (line payload rate %.2f KiB/s), "
                "median of %d:\n"
                "  trelvo-flash %7.2f KiB/s, %.3f of the line (%.3f to %.3f)\n"
                "  sb           %7.2f KiB/s, %.3f of the line (%.3f to %.3f)\n"
                "  trelvo-flash / sb: %.3f\n",
        baud, lineRate / 1024, rounds, flashRate / 1024, flashRate / lineRate,
        rates[0].front() / lineRate, rates[0].back() / lineRate, sbRate / 1024, sbRate / lineRate,
        rates[1].front() / lineRate, rates[1].back() / lineRate, flashRate / sbRate);
    std::fflush(stdout);
    return true;
}

double Bench::singlePortRate(int baud)
{
    if (!flashRates.contains(baud) && !rate(baud))
        return 0;
    return flashRates.value(baud);
}

// Boards one after another on one port, each receiving with the board's
// own receiver, whose delays the board leaves out of the tool's turns.
bool Bench::handshake()
{
    const int baud = 115200;
    const QString image = writeImage(QStringLiteral("small.bin"), EnduranceImage);
    BoardRun board;
    if (!board.start({ QStringLiteral("--folder"), boardFolder(QStringLiteral("handshake")),
            QStringLiteral("--baud"), QString::number(baud), QStringLiteral("--receiver"),
            QStringLiteral("own"), QStringLiteral("--boards"), QString::number(HandshakeBoards) }))
        return false;
    const int exit = runFlash(flash,
        { QStringLiteral("-p"), board.linePath(), QStringLiteral("-b"), QString::number(baud),
            QStringLiteral("-n"), QString::number(HandshakeBoards), QStringLiteral("-q"), image },
        HandshakeBoards * transferMs(EnduranceImage, baud));
    const std::vector<std::vector<double>> turns = board.turns();
    if (exit != 0 || int(turns.size()) != HandshakeBoards) {
        std::fprintf(stderr, "handshake run failed: exit %d, %d of %d boards timed\n", exit,
            int(turns.size()), HandshakeBoards);
        return false;
    }
    // The first board's monitor speaks before the program has started.
    const int timed = HandshakeBoards - 1;
    double parts[3] = {};
    double worst = 0;
    for (auto board = turns.begin() + 1; board != turns.end(); ++board) {
        for (int part = 0; part < 3; ++part)
            parts[part] += (*board)[part] / timed;
        worst = std::max(worst, (*board)[0] + (*board)[1] + (*board)[2]);
    }
    const double mean = parts[0] + parts[1] + parts[2];
    std::printf("Handshake, boards 2 to %d at %d baud, the tool's time from the marker to "
                "block 1 beyond the board's own delays:\n"
                "  mean %.2f ms (answer %.2f, header %.2f, block 1 %.2f), worst %.2f ms; "
                "%.3f of the %d ms allowed\n",
        HandshakeBoards, baud, mean, parts[0], parts[1], parts[2], worst, mean / HandshakeTargetMs,
        HandshakeTargetMs);
    std::fflush(stdout);
    return true;
}

// Eight boards at once, each on its own line: the data blocks of all of
// them over the time from the first block 1 to the last EOT.
bool Bench::parallel()
{
    const int baud = 115200;
    const double single = singlePortRate(baud);
    if (single <= 0)
        return false;
    const QString image = writeImage(QStringLiteral("image.bin"), MiB);
    std::vector<std::unique_ptr<BoardRun>> boards;
    for (int port = 1; port <= ParallelPorts; ++port) {
        boards.push_back(std::make_unique<BoardRun>());
        if (!boards.back()->start(
                { QStringLiteral("--folder"), boardFolder(QStringLiteral("parallel-%1").arg(port)),
                    QStringLiteral("--baud"), QString::number(baud) }))
            return false;
    }
    const int exit = runFlash(flash,
        portArguments(boards)
            + QStringList { QStringLiteral("-b"), QString::number(baud), QStringLiteral("-q"),
                image },
        transferMs(MiB, baud));
    double first = 1e300;
    double last = 0;
    qint64 bytes = 0;
    for (int port = 1; port <= ParallelPorts; ++port) {
        BoardRun &board = *boards[size_t(port - 1)];
        serveUntil([&] { return board.done(1); }, BoardReadyMs, WaitSliceMs);
        const std::vector<DataRun> runs = board.dataRuns();
        if (runs.size() != 1 || !imageArrived(QStringLiteral("parallel-%1").arg(port), 1, image)) {
            std::fprintf(stderr, "port %d of %d failed (exit %d)\n", port, ParallelPorts, exit);
            return false;
        }
        first = std::min(first, runs.front().heardAtMs - runs.front().ms);
        last = std::max(last, runs.front().heardAtMs);
        bytes += runs.front().bytes;
    }
    const double aggregate = bytes / ((last - first) / 1000);
    std::printf("Parallel, %d ports at %d baud, 1 MiB each: %.2f KiB/s in all, %.2f times the "
                "single port's %.2f KiB/s\n",
        ParallelPorts, baud, aggregate / 1024, aggregate / single, single / 1024);
    std::fflush(stdout);
    return exit == 0;
}

struct Footprint {
    qint64 residentKiB = -1;
    int descriptors = -1;
    double cpuSeconds = -1;
};

Footprint footprint(qint64 pid)
{
    Footprint now;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                now.residentKiB = line.mid(6).trimmed().split(' ').first().toLongLong();
        }
    }
    now.descriptors = openDescriptors(pid);
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        // User and system time, after the name in parentheses that may hold spaces.
        const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
        if (fields.size() > 13)
            now.cpuSeconds = double(fields.at(12).toLongLong() + fields.at(13).toLongLong())
                / sysconf(_SC_CLK_TCK);
    }
    return now;
}

// Hundreds of boards on one port. The program is looked at whenever the
// board resets for the next one, when it waits for the monitor again.
bool Bench::endurance()
{
    const int baud = FastBaud;
    const QString image = writeImage(QStringLiteral("small.bin"), EnduranceImage);
    QProcess program;
    Footprint settled;
    Footprint last;
    qint64 peakKiB = 0;
    double firstBoardAt = -1;
    static const QRegularExpression reset(QStringLiteral("^board (\\d+): reset"));
    BoardRun board([&](const QString &line) {
        const QRegularExpressionMatch match = reset.match(line);
        if (!match.hasMatch())
            return;
        const int number = match.captured(1).toInt();
        if (number == 1)
            firstBoardAt = benchClock.nsecsElapsed() / 1e6;
        if (number <= SettledBoards || program.state() != QProcess::Running)
            return;
        last = footprint(program.processId());
        if (number == SettledBoards + 1)
            settled = last;
        peakKiB = std::max(peakKiB, last.residentKiB);
    });
    if (!board.start({ QStringLiteral("--folder"), boardFolder(QStringLiteral("endurance")),
            QStringLiteral("--baud"), QString::number(baud), QStringLiteral("--receiver"),
            QStringLiteral("own"), QStringLiteral("--boards"), QString::number(EnduranceBoards) }))
        return false;
    const int exit = runFlash(program, flash,
        { QStringLiteral("-p"), board.linePath(), QStringLiteral("-b"), QString::number(baud),
            QStringLiteral("-n"), QString::number(EnduranceBoards), QStringLiteral("-q"), image },
        EnduranceMs);
    const double minutes = (benchClock.nsecsElapsed() / 1e6 - firstBoardAt) / 60000;
    serveUntil([&] { return board.done(EnduranceBoards); }, BoardReadyMs, WaitSliceMs);
    int arrived = 0;
    for (int number = 1; number <= EnduranceBoards; ++number)
        arrived += imageArrived(QStringLiteral("endurance"), number, image) ? 1 : 0;
    std::printf("Endurance, %d boards of %d KiB on one port at %d baud, the board with its own "
                "receiver:\n"
                "  %d images arrived, exit %d, %.1f boards per minute\n"
                "  resident memory after %d boards %lld KiB, after %d %lld KiB (growth %lld "
                "KiB, peak %lld KiB)\n"
                "  open descriptors after %d boards %d, after %d %d\n",
        EnduranceBoards, EnduranceImage / 1024, baud, arrived, exit, EnduranceBoards / minutes,
        SettledBoards, settled.residentKiB, EnduranceBoards - 1, last.residentKiB,
        last.residentKiB - settled.residentKiB, peakKiB, SettledBoards, settled.descriptors,
        EnduranceBoards - 1, last.descriptors);
    std::fflush(stdout);
    return exit == 0 && arrived == EnduranceBoards;
}

// A fixture whose boards bring their own USB serial chip: each board's line
// appears under a watched link, takes the image and goes with the board.
// The program is looked at when a board has answered its monitor, the same
// moment of every cycle.
bool Bench::hotplug()
{
    const int baud = FastBaud;
    const QString image = writeImage(QStringLiteral("small.bin"), EnduranceImage);
    const QString fixture = QDir(folder).filePath(QStringLiteral("slots"));
    const int boards = HotplugCycles + 1;
    if (!QDir().mkpath(fixture))
        return false;
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.setStandardOutputFile(QProcess::nullDevice());
    program.start(flash,
        { QStringLiteral("--watch"), fixture + QStringLiteral("/slot-*"), QStringLiteral("-n"),
            QStringLiteral("0"), QStringLiteral("-b"), QString::number(baud), QStringLiteral("-q"),
            image });
    if (!program.waitForStarted())
        return false;
    Footprint settled;
    Footprint last;
    double firstBoardAt = -1;
    static const QRegularExpression answered(QStringLiteral("^board (\\d+): answered"));
    BoardRun board([&](const QString &line) {
        const QRegularExpressionMatch match = answered.match(line);
        if (!match.hasMatch() || program.state() != QProcess::Running)
            return;
        const int number = match.captured(1).toInt();
        if (number == 1)
            firstBoardAt = benchClock.nsecsElapsed() / 1e6;
        else if (number == SettledBoards + 1)
            settled = footprint(program.processId());
        else if (number == boards)
            last = footprint(program.processId());
    });
    if (!board.start({ QStringLiteral("--folder"), boardFolder(QStringLiteral("hotplug")),
            QStringLiteral("--baud"), QString::number(baud), QStringLiteral("--receiver"),
            QStringLiteral("own"), QStringLiteral("--boards"), QString::number(boards),
            QStringLiteral("--hotplug"), QStringLiteral("--link"),
            fixture + QStringLiteral("/slot-1") }))
        return false;
    const bool ended
        = serveUntil([&] { return board.done(boards) || program.state() != QProcess::Running; },
            HotplugMs, WaitSliceMs);
    const double minutes = (benchClock.nsecsElapsed() / 1e6 - firstBoardAt) / 60000;
    ::kill(pid_t(program.processId()), SIGINT);
    program.waitForFinished();
    int arrived = 0;
    for (int number = 1; number <= boards; ++number)
        arrived += imageArrived(QStringLiteral("hotplug"), number, image) ? 1 : 0;
    std::printf("Hotplug, %d boards of %d KiB at %d baud, each bringing its own line under a "
                "watched link:\n"
                "  %d images arrived, %.1f cycles per minute\n"
                "  resident memory after cycle %d %lld KiB, after cycle %d %lld KiB (growth %lld "
                "KiB)\n"
                "  open descriptors after cycle %d %d, after cycle %d %d\n"
                "  CPU time of trelvo-flash from cycle %d to %d: %.2f s, %.1f ms per cycle\n",
        boards, EnduranceImage / 1024, baud, arrived, HotplugCycles / minutes, SettledBoards,
        settled.residentKiB, HotplugCycles, last.residentKiB,
        last.residentKiB - settled.residentKiB, SettledBoards, settled.descriptors, HotplugCycles,
        last.descriptors, SettledBoards, HotplugCycles, last.cpuSeconds - settled.cpuSeconds,
        (last.cpuSeconds - settled.cpuSeconds) * 1000 / (HotplugCycles - SettledBoards));
    std::fflush(stdout);
    return ended && arrived == boards && last.descriptors == settled.descriptors;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    const QStringList sections = { QStringLiteral("rate"), QStringLiteral("handshake"),
        QStringLiteral("parallel"), QStringLiteral("endurance"), QStringLiteral("hotplug") };
    QStringList chosen = arguments.mid(1);
    if (chosen.isEmpty())
        chosen = sections;
    if (arguments.isEmpty() || !QFileInfo(arguments.first()).isExecutable()
        || std::any_of(chosen.begin(), chosen.end(),
            [&](const QString &section) { return !sections.contains(section); })) {
        std::fprintf(stderr,
            "usage: bench_flash TRELVO-FLASH [rate] [handshake] [parallel] [endurance] "
            "[hotplug]\n"
            "  runs the chosen parts, all of them by default, against the program\n");
        return 2;
    }
    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    benchClock.start();
    Bench bench(arguments.first(), folder.path());
    bool ok = true;
    if (chosen.contains(QStringLiteral("rate")))
        ok = bench.rate(FastBaud) && bench.rate(115200) && ok;
    if (chosen.contains(QStringLiteral("handshake")))
        ok = bench.handshake() && ok;
    if (chosen.contains(QStringLiteral("parallel")))
        ok = bench.parallel() && ok;
    if (chosen.contains(QStringLiteral("endurance")))
        ok = bench.endurance() && ok;
    if (chosen.contains(QStringLiteral("hotplug")))
        ok = bench.hotplug() && ok;
    return ok ? 0 : 1;
}
