#include "commandline.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

QStringList portsFromCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Sends a firmware image to a board's boot monitor over a serial line "
                       "with YMODEM."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption port(QStringLiteral("port"),
        QStringLiteral("Also list the serial line <path>, after the system's own ports; "
                       "may be given more than once."),
        QStringLiteral("path"));
    parser.addOption(port);
    parser.process(arguments);
    return parser.values(port);
}
