#ifndef WINDOWSTARTUP_H
#define WINDOWSTARTUP_H

#include <QApplication>
#include <QCommandLineParser>

#include <functional>
#include <memory>

// How a window program starts where there may be no display: over a remote
// shell, from a script, in a container. Only the window needs one.
namespace WindowStartup
{

// Answers --help and --version from an application that lives only for
// that and touches no window system, so both work on any terminal; returns
// when neither was asked for. describe adds the program's options to the
// parser; anything the parser does not know is left for the program's own
// reading of the command line, once Qt has taken its options (-platform).
void answerWithoutWindow(int argc, char **argv,
    const std::function<void(QCommandLineParser &)> &describe);

// The application for the window, or null after one line on standard error
// when there is no display to show a window on.
std::unique_ptr<QApplication> application(int &argc, char **argv);

} // namespace WindowStartup

#endif
