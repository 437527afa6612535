#include "portlist.h"

#include "portwatcher.h"

#include <QCommandLineParser>

#include <utility>

namespace
{

const QString PortName = QStringLiteral("port");
const QString WatchName = QStringLiteral("watch");

} // namespace

PortList::PortList(QObject *parent)
    : QObject(parent)
{
}

void PortList::addOptions(QCommandLineParser *parser)
{
    parser->addOption({ { QStringLiteral("p"), PortName },
        QStringLiteral("A port name as the system lists it (ttyUSB0) or a device path; "
                       "repeat it for several boards at once."),
        QStringLiteral("PORT") });
    parser->addOption({ WatchName,
        QStringLiteral("Device paths matching PATTERN (a shell pattern such as "
                       "'/dev/serial/by-path/*usb*'; links count) become ports as they "
                       "appear; repeatable, and may be combined with --port."),
        QStringLiteral("PATTERN") });
}

bool PortList::read(const QCommandLineParser &parser)
{
    named = parser.values(PortName);
    watched = parser.values(WatchName);
    if (named.isEmpty() && watched.isEmpty()) {
        problem = QStringLiteral("no --port or --watch given");
        return false;
    }
    for (const QString &port : std::as_const(named)) {
        if (named.count(port) > 1) {
            problem = QStringLiteral("--port %1 given twice").arg(port);
            return false;
        }
    }
    return true;
}

QString PortList::errorString() const { return problem; }

bool PortList::watching() const { return !watched.isEmpty(); }

QStringList PortList::patterns() const { return watched; }

void PortList::start()
{
    for (const QString &port : std::as_const(named))
        offer(port);
    if (watched.isEmpty())
        return;
    watcher = new PortWatcher(watched, this);
    connect(watcher, &PortWatcher::portAppeared, this, &PortList::offer);
    watcher->start();
}

void PortList::offer(const QString &port)
{
    // A port that comes back is still the port it was; its run waits for it.
    if (added.contains(port) || sharesDevice(port, added))
        return;
    added << port;
    emit portAdded(port);
}
