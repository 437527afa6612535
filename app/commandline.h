#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QCommandLineParser>
#include <QStringList>

// The window's command line. --port names a line to list after the system's
// own serial ports, such as a pseudo-terminal, which the system does not count
// as one; it may be given more than once.
void describeCommandLine(QCommandLineParser &parser);

// --help, --version and an unknown option are answered here and end the
// program. Returns the lines in the order given.
QStringList portsFromCommandLine(const QStringList &arguments);

#endif
