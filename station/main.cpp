#include "stationwindow.h"
#include "windowstartup.h"

#include <QApplication>
#include <QCommandLineParser>

namespace
{

const QString PortOption = QStringLiteral("port");

void describeCommandLine(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("The production station: sends one image to the boards on many serial "
                       "ports at once, board after board."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(QCommandLineOption(PortOption,
        QStringLiteral("Also list the serial line <path>, after the system's own ports; "
                       "may be given more than once."),
        QStringLiteral("path")));
}

} // namespace

int main(int argc, char *argv[])
{
    WindowStartup::answerWithoutWindow(argc, argv, describeCommandLine);
    const std::unique_ptr<QApplication> application = WindowStartup::application(argc, argv);
    if (!application)
        return 1;
    QApplication::setOrganizationName(QStringLiteral("Trelvo"));
    QApplication::setApplicationName(QStringLiteral("trelvo-station"));
    QCommandLineParser parser;
    describeCommandLine(parser);
    parser.process(QApplication::arguments());
    StationWindow window(parser.values(PortOption));
    window.show();
    return application->exec();
}
