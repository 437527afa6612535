#include "board.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

namespace {

// Board numbers given with a repeatable option; false if one is not a number
// of a board in the run.
bool boardNumbers(const QStringList &values, int boards, QSet<int> *numbers)
{
    for (const QString &value : values) {
        bool ok = false;
        const int number = value.toInt(&ok);
        if (!ok || number < 1 || number > boards)
            return false;
        numbers->insert(number);
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays target boards on a pseudo-terminal, one after another: prints the line's\n"
        "device path, then for each board its boot monitor's output until the answer\n"
        "\"1\" comes, then its receiver's prompt, then receives the image into\n"
        "<folder>/board-<n>. Besides its events, each board reports how long the tool\n"
        "took to answer the monitor, to send the header after the first request and\n"
        "block 1 after the header's answer, and how fast the data blocks came.\n"
        "For several boards at once, as in a fixture, start one process per board,\n"
        "each with a folder of its own: each prints the path of its own line."));
    parser.addHelpOption();
    const QCommandLineOption folder(QStringLiteral("folder"),
                                    QStringLiteral("Folder for the received images."),
                                    QStringLiteral("folder"), QStringLiteral("."));
    const QCommandLineOption boards(QStringLiteral("boards"),
                                    QStringLiteral("Number of boards to play (default 1)."),
                                    QStringLiteral("count"), QStringLiteral("1"));
    const QCommandLineOption silent(
        QStringLiteral("silent"),
        QStringLiteral("Board <n> asks for the file once, then never answers again."),
        QStringLiteral("n"));
    const QCommandLineOption cancel(QStringLiteral("cancel"),
                                    QStringLiteral("Board <n> cancels its transfer at block 3."),
                                    QStringLiteral("n"));
    const QCommandLineOption corrupt(
        QStringLiteral("corrupt"),
        QStringLiteral("Board <n> damages data block 2 once on its way in."), QStringLiteral("n"));
    const QCommandLineOption baud(
        QStringLiteral("baud"),
        QStringLiteral("Carry the bytes at this line speed, <rate>/10 bytes per second in "
                       "both directions (default: as fast as the pseudo-terminal goes)."),
        QStringLiteral("rate"));
    const QCommandLineOption receiver(
        QStringLiteral("receiver"),
        QStringLiteral("rb (lrzsz, the default; pauses about 3 s per board) or own (the "
                       "project's YmodemFileReceive, for long runs)."),
        QStringLiteral("which"), QStringLiteral("rb"));
    const QCommandLineOption stay(QStringLiteral("stay"),
        QStringLiteral("After the last board, keep the line open and silent until ended, as a "
                       "programmed board left in its fixture."));
    const QCommandLineOption unplug(
        QStringLiteral("unplug"),
        QStringLiteral("Board <n> is pulled out at block 3, line and all; the next board comes "
                       "with a new line 0.7 s later. Needs --link."),
        QStringLiteral("n"));
    const QCommandLineOption link(
        QStringLiteral("link"),
        QStringLiteral("Reach the line through a symbolic link <path>, there only while a line "
                       "is plugged in (as udev's by-path names); printed instead of the device."),
        QStringLiteral("path"));
    const QCommandLineOption hotplug(
        QStringLiteral("hotplug"),
        QStringLiteral("Every board brings its own line, as one with a USB serial chip: the line "
                       "vanishes after each board and a new one comes with the next. Needs "
                       "--link."));
    parser.addOptions({ folder, boards, silent, cancel, corrupt, unplug, baud, receiver, link,
                        hotplug, stay });
    parser.process(app);

    QTextStream err(stderr);
    bool ok = false;
    const int count = parser.value(boards).toInt(&ok);
    if (!ok || count < 1) {
        err << "trelvo-board: --boards takes a number of at least 1\n";
        return 1;
    }
    BoardFaults faults;
    if (!boardNumbers(parser.values(silent), count, &faults.silent)
        || !boardNumbers(parser.values(cancel), count, &faults.cancel)
        || !boardNumbers(parser.values(corrupt), count, &faults.corrupt)
        || !boardNumbers(parser.values(unplug), count, &faults.unplug)) {
        err << "trelvo-board: --silent, --cancel, --corrupt and --unplug take a board number "
               "from 1 to "
            << count << '\n';
        return 1;
    }

    BoardSetup setup;
    setup.folder = parser.value(folder);
    setup.boards = count;
    setup.link = parser.value(link);
    setup.hotplug = parser.isSet(hotplug);
    if ((setup.hotplug || !faults.unplug.isEmpty()) && setup.link.isEmpty()) {
        err << "trelvo-board: --unplug and --hotplug need --link\n";
        return 1;
    }
    if (parser.isSet(baud)) {
        setup.baud = parser.value(baud).toInt(&ok);
        if (!ok || setup.baud < BoardSetup::BitsPerByte) {
            err << "trelvo-board: --baud takes a line speed in bits per second\n";
            return 1;
        }
    }
    const QString which = parser.value(receiver);
    if (which == QLatin1String("own")) {
        setup.receiver = Receiver::Kind::Own;
    } else if (which != QLatin1String("rb")) {
        err << "trelvo-board: --receiver takes rb or own\n";
        return 1;
    }

    Board board(setup, faults);
    if (board.linePath().isEmpty()) {
        err << "trelvo-board: no pseudo-terminal available\n";
        return 1;
    }
    QTextStream out(stdout);
    out << board.linePath() << '\n';
    out.flush();
    const bool stays = parser.isSet(stay);
    QObject::connect(&board, &Board::finished, &app, [stays](int exitCode) {
        if (exitCode != 0 || !stays)
            QCoreApplication::exit(exitCode);
    });
    board.start();
    return app.exec();
}
