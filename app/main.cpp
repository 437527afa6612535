#include "commandline.h"
#include "widget.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(TRELVO_VERSION));
    const QStringList ports = portsFromCommandLine(QApplication::arguments());
    Widget window;
    window.addPorts(ports);
    window.show();
    return application.exec();
}
