#include "boardprocess.h"
#include "eventloop.h"
#include "slotmodel.h"
#include "stationwindow.h"
#include "testfiles.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace
{

constexpr int Slots = 8;
constexpr int SlowBaud = 115200;
constexpr int FastBaud = 921600;
// A quarter of a MiB takes about 23 s at 115200 baud: long enough that the
// handshakes and the moments between the boards hardly count.
constexpr int SlowImage = 256 * 1024;
constexpr int FastImage = 1024 * 1024;
constexpr double RequiredRatio = 7;
// How late a 10 ms timer of the window's event loop may fire.
constexpr int TickMs = 10;
constexpr double AllowedStallMs = 50;
constexpr int RunLimitMs = 300 * 1000;
// Fine enough that the bench itself adds nothing to a measured stall.
constexpr int WaitSliceMs = 5;

struct Outcome {
    // Payload bytes per second of one board, of all boards over the time
    // from the first block 1 to the last EOT, and the longest stall.
    double slotRate = 0;
    double aggregateRate = 0;
    double worstStallMs = 0;
};

// slotCount boards on lines paced at baud, programmed at once by the station's
// window, each board timing its data blocks from its side of the line.
bool runStation(
    const QTemporaryDir &folder, int slotCount, int baud, int imageBytes, Outcome *outcome)
{
    const QString image = folder.filePath(QStringLiteral("image-%1.bin").arg(imageBytes));
    if (!writeFile(image, randomBytes(imageBytes, 3)))
        return false;
    std::vector<std::unique_ptr<BoardProcess>> boards;
    QStringList ports;
    for (int slot = 0; slot < slotCount; ++slot) {
        boards.push_back(std::make_unique<BoardProcess>(QStringLiteral(BOARD_PROGRAM)));
        if (!boards.back()->start({ QStringLiteral("--receiver"), QStringLiteral("own"),
                QStringLiteral("--stay"), QStringLiteral("--baud"), QString::number(baud),
                QStringLiteral("--folder"),
                folder.filePath(QStringLiteral("%1-%2-%3").arg(slotCount).arg(baud).arg(slot)) }))
            return false;
        ports << boards.back()->linePath();
    }
    StationWindow window(ports);
    window.setImage(image);
    window.findChild<QComboBox *>(QStringLiteral("baudRate"))
        ->setCurrentText(QString::number(baud));
    window.findChild<QLineEdit *>(QStringLiteral("logPath"))
        ->setText(folder.filePath(QStringLiteral("records.jsonl")));
    window.show();

    QElapsedTimer clock;
    clock.start();
    std::vector<double> heardAt(size_t(slotCount), -1);
    std::vector<double> dataMs(size_t(slotCount), 0);
    std::vector<qint64> dataBytes(size_t(slotCount), 0);
    static const QRegularExpression dataRun(
        QStringLiteral("^board 1: (\\d+) data bytes in ([0-9.]+) ms$"));
    QTimer listen;
    QObject::connect(&listen, &QTimer::timeout, [&] {
        for (int slot = 0; slot < slotCount; ++slot) {
            if (heardAt[size_t(slot)] >= 0)
                continue;
            for (const QString &line : boards[size_t(slot)]->reports()) {
                const QRegularExpressionMatch match = dataRun.match(line);
                if (!match.hasMatch())
                    continue;
                heardAt[size_t(slot)] = clock.nsecsElapsed() / 1e6;
                dataBytes[size_t(slot)] = match.captured(1).toLongLong();
                dataMs[size_t(slot)] = match.captured(2).toDouble();
            }
        }
    });
    listen.start(2);

    QElapsedTimer sinceTick;
    double worstStall = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        worstStall = std::max(worstStall, sinceTick.nsecsElapsed() / 1e6 - TickMs);
        sinceTick.start();
    });

    window.findChild<QPushButton *>(QStringLiteral("startButton"))->click();
    sinceTick.start();
    tick.start(TickMs);
    const bool ended = serveUntil(
        [&] {
            return std::all_of(heardAt.begin(), heardAt.end(), [](double at) { return at >= 0; });
        },
        RunLimitMs, WaitSliceMs);
    tick.stop();
    window.findChild<QPushButton *>(QStringLiteral("stopButton"))->click();
    serveUntil([&] { return !window.running(); }, RunLimitMs, WaitSliceMs);
    if (!ended) {
        std::fprintf(
            stderr, "%d slots at %d baud: not every board received its image\n", slotCount, baud);
        return false;
    }
    double first = 1e300;
    double last = 0;
    qint64 bytes = 0;
    for (int slot = 0; slot < slotCount; ++slot) {
        first = std::min(first, heardAt[size_t(slot)] - dataMs[size_t(slot)]);
        last = std::max(last, heardAt[size_t(slot)]);
        bytes += dataBytes[size_t(slot)];
    }
    outcome->slotRate = dataBytes[0] / (dataMs[0] / 1000);
    outcome->aggregateRate = bytes / ((last - first) / 1000);
    outcome->worstStallMs = worstStall;
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The station's settings and records stay in the bench's own folder.
    QTemporaryDir folder;
    qputenv("XDG_CONFIG_HOME", folder.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", folder.filePath(QStringLiteral("data")).toLocal8Bit());
    QApplication application(argc, argv);

    Outcome one;
    Outcome eight;
    Outcome fast;
    if (!runStation(folder, 1, SlowBaud, SlowImage, &one)
        || !runStation(folder, Slots, SlowBaud, SlowImage, &eight)
        || !runStation(folder, Slots, FastBaud, FastImage, &fast))
        return 1;
    const double ratio = eight.aggregateRate / one.slotRate;
    std::printf("%d slots at %d baud, %d KiB each: %.2f KiB/s in all, %.2f times the single "
                "slot's %.2f KiB/s (at least %.0f required)\n",
        Slots, SlowBaud, SlowImage / 1024, eight.aggregateRate / 1024, ratio, one.slotRate / 1024,
        RequiredRatio);
    std::printf("%d slots at %d baud, %d KiB each: the window's event loop stalled %.1f ms at "
                "worst (at most %.0f allowed); %.2f KiB/s in all\n",
        Slots, FastBaud, FastImage / 1024, fast.worstStallMs, AllowedStallMs,
        fast.aggregateRate / 1024);
    return ratio >= RequiredRatio && fast.worstStallMs <= AllowedStallMs ? 0 : 1;
}
