#include "windowstartup.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPair>
#include <QStringList>
#include <QVector>

#include <cstdio>
#include <cstdlib>

namespace
{

QString programName(char **argv) { return QFileInfo(QString::fromLocal8Bit(argv[0])).fileName(); }

// The platform Qt will load: -platform NAME wins over QT_QPA_PLATFORM, and
// without either a Linux build loads xcb.
QString platformName(int argc, char **argv)
{
    for (int index = 1; index + 1 < argc; ++index) {
        if (qstrcmp(argv[index], "-platform") == 0 || qstrcmp(argv[index], "--platform") == 0)
            return QString::fromLocal8Bit(argv[index + 1]);
    }
    return qEnvironmentVariable("QT_QPA_PLATFORM");
}

// The platforms that draw into memory or a remote viewer need no display;
// the others look for their server in the environment.
bool displayNamed(const QString &platform)
{
    const QString name = platform.section(QLatin1Char(':'), 0, 0).section(QLatin1Char(';'), 0, 0);
    if (name == QLatin1String("wayland") || name.startsWith(QLatin1String("wayland-")))
        return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (name.isEmpty() || name == QLatin1String("xcb"))
        return !qEnvironmentVariableIsEmpty("DISPLAY")
            || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    return true;
}

QString noDisplayLine;
QVector<QPair<QtMsgType, QString>> heldBack;

// A display that is named but does not answer makes Qt give up with a fatal
// message and an abort; the operator gets the same one line instead, and
// not Qt's complaints on the way there.
void refuseFatal(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtFatalMsg) {
        heldBack.append({ type, message });
        return;
    }
    std::fputs(qPrintable(noDisplayLine), stderr);
    std::_Exit(EXIT_FAILURE);
}

} // namespace

namespace WindowStartup
{

void answerWithoutWindow(int argc, char **argv,
    const std::function<void(QCommandLineParser &)> &describe)
{
    int probeArgc = argc;
    QCoreApplication probe(probeArgc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(TRELVO_VERSION));
    QCommandLineParser parser;
    describe(parser);
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(EXIT_SUCCESS);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
}

std::unique_ptr<QApplication> application(int &argc, char **argv)
{
    noDisplayLine = QStringLiteral("%1: no display to show the window on (DISPLAY is not set or "
                                   "does not answer; xvfb-run gives one)\n")
                        .arg(programName(argv));
    if (!displayNamed(platformName(argc, argv))) {
        std::fputs(qPrintable(noDisplayLine), stderr);
        return nullptr;
    }
    const QtMessageHandler previous = qInstallMessageHandler(refuseFatal);
    auto window = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    for (const auto &message : qAsConst(heldBack))
        qt_message_output(message.first, QMessageLogContext(), message.second);
    heldBack.clear();
    QApplication::setApplicationVersion(QStringLiteral(TRELVO_VERSION));
    return window;
}

} // namespace WindowStartup
