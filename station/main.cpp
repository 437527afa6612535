#include "portlist.h"
#include "stationwindow.h"
#include "windowstartup.h"

#include <QApplication>
#include <QCommandLineParser>

namespace
{

void describeCommandLine(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("The production station: sends one image to the boards on many serial "
                       "ports at once, board after board. Lists the system's serial ports, "
                       "and these:"));
    parser.addHelpOption();
    parser.addVersionOption();
    PortList::addOptions(&parser);
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
    StationWindow window(
        parser.values(QStringLiteral("port")), parser.values(QStringLiteral("watch")));
    window.show();
    return application->exec();
}
