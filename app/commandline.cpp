#include "commandline.h"

#include <QCommandLineOption>

namespace
{

const QString PortOption = QStringLiteral("port");

} // namespace

void describeCommandLine(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Sends a firmware image to a board's boot monitor over a serial line "
                       "with YMODEM."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(QCommandLineOption(PortOption,
        QStringLiteral("Also list the serial line <path>, after the system's own ports; "
                       "may be given more than once."),
        QStringLiteral("path")));
}

QStringList portsFromCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    describeCommandLine(parser);
    parser.process(arguments);
    return parser.values(PortOption);
}
