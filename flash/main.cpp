#include "boardsession.h"
#include "imagesnapshot.h"
#include "portlist.h"
#include "progressdisplay.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QSocketNotifier>
#include <QTemporaryFile>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace
{

// Exit statuses scripts rely on.
constexpr int AllSucceeded = 0;
constexpr int SomeFailed = 1;
constexpr int NothingAttempted = 2;

int signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM reach the event loop as a readable socket, the one
// thing a signal handler may safely cause.
bool catchInterrupts()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

int usageError(const QString &text)
{
    std::fputs(qPrintable(QStringLiteral("trelvo-flash: %1\n").arg(text)), stderr);
    return NothingAttempted;
}

QString orDash(const QString &text) { return text.isEmpty() ? QStringLiteral("-") : text; }

void listPorts()
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports) {
        const QString usb = port.hasVendorIdentifier() && port.hasProductIdentifier()
            ? QStringLiteral("%1:%2")
                  .arg(port.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                  .arg(port.productIdentifier(), 4, 16, QLatin1Char('0'))
            : QString();
        const QString line = QStringLiteral("%1\t%2\t%3\t%4\n")
                                 .arg(port.portName(), orDash(port.description()), orDash(usb),
                                     orDash(port.serialNumber()));
        std::fputs(qPrintable(line), stdout);
    }
}

// A folder the receiver can create its files in, tried the way it will be
// used rather than by its permission bits.
bool writableFolder(const QString &path)
{
    if (!QFileInfo(path).isDir())
        return false;
    QTemporaryFile probe(path + QStringLiteral("/.trelvo-flash-XXXXXX"));
    return probe.open();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("trelvo-flash"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TRELVO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends FILE with YMODEM to the board on each port, after the same boot monitor\n"
        "dialogue as the window, or receives files into a folder instead."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption baudOption({ QStringLiteral("b"), QStringLiteral("baud") },
        QStringLiteral("Line speed, default 115200."), QStringLiteral("RATE"),
        QStringLiteral("115200"));
    const QCommandLineOption noHandshake(QStringLiteral("no-handshake"),
        QStringLiteral("The receiver is already waiting for a file: skip the boot monitor "
                       "dialogue and send on its request."));
    const QCommandLineOption boardsOption({ QStringLiteral("n"), QStringLiteral("boards") },
        QStringLiteral("Boards to program one after another on each port, failed ones "
                       "included; 0 = until interrupted. Default 1. A run with --watch "
                       "ends on Ctrl-C only."),
        QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption waitOption(QStringLiteral("wait"),
        QStringLiteral("How long a board may take to show its boot monitor (or its "
                       "receiver's first request). Default: no limit."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption logOption(QStringLiteral("log"),
        QStringLiteral("Append one record per board: JSON Lines, CSV for a name ending in "
                       ".csv, an SQLite database for .sqlite or .db, or a PostgreSQL database "
                       "for postgresql://user@host:port/dbname (password from PGPASSWORD or "
                       "~/.pgpass)."),
        QStringLiteral("TARGET"));
    const QCommandLineOption stationOption(QStringLiteral("station"),
        QStringLiteral("The station's name in a database's records; default the host name."),
        QStringLiteral("NAME"));
    const QCommandLineOption listOption(
        QStringLiteral("list-ports"), QStringLiteral("List the serial ports and exit."));
    const QCommandLineOption quietOption(
        { QStringLiteral("q"), QStringLiteral("quiet") }, QStringLiteral("No progress display."));
    const QCommandLineOption receiveOption(QStringLiteral("receive"),
        QStringLiteral("Receive files into FOLDER instead of sending."), QStringLiteral("FOLDER"));
    PortList::addOptions(&parser);
    parser.addOptions({ baudOption, noHandshake, boardsOption, waitOption, logOption, listOption,
        quietOption, receiveOption, stationOption });
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The image to send."));

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText() + QStringLiteral(" (see --help)"));
    if (parser.isSet(help))
        parser.showHelp(AllSucceeded);
    if (parser.isSet(version))
        parser.showVersion();
    if (parser.isSet(listOption)) {
        listPorts();
        return AllSucceeded;
    }

    SessionSettings settings;
    ImageSnapshot image;
    const QStringList files = parser.positionalArguments();
    const bool receiving = parser.isSet(receiveOption);
    if (receiving) {
        if (!files.isEmpty())
            return usageError(QStringLiteral("--receive takes no FILE"));
        settings.receiveFolder = parser.value(receiveOption);
        if (!writableFolder(settings.receiveFolder))
            return usageError(QStringLiteral("cannot write into the receive folder %1")
                                  .arg(settings.receiveFolder));
    } else {
        if (files.size() != 1)
            return usageError(files.isEmpty() ? QStringLiteral("no FILE to send given")
                                              : QStringLiteral("only one FILE can be sent"));
        if (!image.take(files.first()))
            return usageError(image.errorString());
        settings.image = image.path();
        settings.imageSize = image.size();
        settings.imageSha256 = image.sha256();
    }

    bool ok = false;
    settings.baudRate = parser.value(baudOption).toInt(&ok);
    if (!ok || settings.baudRate <= 0)
        return usageError(QStringLiteral("--baud takes a positive number, not \"%1\"")
                              .arg(parser.value(baudOption)));
    settings.boards = parser.value(boardsOption).toInt(&ok);
    if (!ok || settings.boards < 0)
        return usageError(QStringLiteral("--boards takes a number of 0 or more, not \"%1\"")
                              .arg(parser.value(boardsOption)));
    if (parser.isSet(waitOption)) {
        const double seconds = parser.value(waitOption).toDouble(&ok);
        if (!ok || seconds < 0)
            return usageError(QStringLiteral("--wait takes a number of seconds of 0 or more, "
                                             "not \"%1\"")
                                  .arg(parser.value(waitOption)));
        settings.waitMs = int(seconds * 1000);
    }
    settings.handshake = !parser.isSet(noHandshake);

    PortList ports;
    if (!ports.read(parser))
        return usageError(ports.errorString());

    BoardLog log;
    if (parser.isSet(stationOption))
        log.setStation(parser.value(stationOption));
    if (!log.open(parser.value(logOption)))
        return usageError(QStringLiteral("cannot open the log %1: %2")
                              .arg(parser.value(logOption), log.errorString()));
    // The station goes on while its database is away; the records wait.
    if (!log.errorString().isEmpty())
        std::fputs(qPrintable(QStringLiteral("trelvo-flash: the database does not answer, "
                                             "records wait in a spool: %1\n")
                                  .arg(log.errorString())),
            stderr);
    if (!catchInterrupts())
        return usageError(QStringLiteral("cannot catch interrupts"));

    const ProgressDisplay::Style style = parser.isSet(quietOption) ? ProgressDisplay::Style::Quiet
        : ::isatty(STDOUT_FILENO)                                  ? ProgressDisplay::Style::Terminal
                                                                   : ProgressDisplay::Style::Plain;
    ProgressDisplay display(style, receiving);
    QObject::connect(&image, &ImageSnapshot::changedOnDisk, [&display] {
        display.error(QStringLiteral("the image changed on disk; still sending the one read at "
                                     "the start"));
    });
    QObject::connect(&log, &BoardLog::spoolChanged, &display, &ProgressDisplay::spoolChanged);
    display.spoolChanged(log.spooled());

    std::vector<std::unique_ptr<BoardSession>> sessions;
    int running = 0;
    bool anyFailed = false;
    bool interrupted = false;
    // Watched ports may appear at any time: such a run ends on Ctrl-C only.
    const auto endWhenDone = [&] {
        if (running == 0 && (interrupted || !ports.watching()))
            QCoreApplication::quit();
    };
    QObject::connect(&ports, &PortList::portAdded, [&](const QString &port) {
        // A port that appears while the run winds down is left alone.
        if (interrupted)
            return;
        settings.port = port;
        const int index = display.addPort(port);
        sessions.push_back(std::make_unique<BoardSession>(settings));
        BoardSession *session = sessions.back().get();
        QObject::connect(session, &BoardSession::stateChanged,
            [&display, index](BoardSession::State state) { display.stateChanged(index, state); });
        QObject::connect(session, &BoardSession::transferStarted,
            [&display, index](int board, const QString &file, qint64 size) {
                display.transferStarted(index, board, file, size);
            });
        QObject::connect(session, &BoardSession::progress,
            [&display, index](int percent) { display.progress(index, percent); });
        QObject::connect(session, &BoardSession::boardEnded,
            [&display, &log, &anyFailed, index](const BoardRecord &record) {
                log.append(record);
                anyFailed |= record.result != BoardRecord::Completed;
                display.boardEnded(index, record);
            });
        QObject::connect(session, &BoardSession::error, &display, &ProgressDisplay::error);
        QObject::connect(session, &BoardSession::finished, [&] {
            --running;
            endWhenDone();
        });
        ++running;
        session->start();
    });

    QSocketNotifier interrupts(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&interrupts, &QSocketNotifier::activated, [&] {
        char byte = 0;
        [[maybe_unused]] const ssize_t taken = ::read(signalPipe[0], &byte, 1);
        anyFailed = true;
        interrupted = true;
        for (const auto &session : sessions)
            session->interrupt();
        endWhenDone();
    });

    display.watching(ports.patterns());
    ports.start();
    if (running > 0 || ports.watching())
        app.exec();
    display.summary();

    bool anyOpened = false;
    for (const auto &session : sessions)
        anyOpened |= session->opened();
    if (!anyOpened)
        return NothingAttempted;
    return anyFailed ? SomeFailed : AllSucceeded;
}
