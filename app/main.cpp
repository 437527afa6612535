#include "commandline.h"
#include "widget.h"
#include "windowstartup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    WindowStartup::answerWithoutWindow(argc, argv, describeCommandLine);
    const std::unique_ptr<QApplication> application = WindowStartup::application(argc, argv);
    if (!application)
        return 1;
    const QStringList ports = portsFromCommandLine(QApplication::arguments());
    Widget window;
    window.addPorts(ports);
    window.show();
    return application->exec();
}
