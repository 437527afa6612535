#include "portwatcher.h"

#include "serialline.h"

#include <QFileInfo>

#include <glob.h>
#include <sys/stat.h>

bool devicePresent(const QString &port)
{
    struct stat device;
    return ::stat(SerialLine::devicePath(port).toLocal8Bit().constData(), &device) == 0
        && S_ISCHR(device.st_mode);
}

bool sharesDevice(const QString &port, const QStringList &others)
{
    const QString device = QFileInfo(SerialLine::devicePath(port)).canonicalFilePath();
    if (device.isEmpty())
        return false;
    for (const QString &other : others) {
        if (other != port && QFileInfo(SerialLine::devicePath(other)).canonicalFilePath() == device)
            return true;
    }
    return false;
}

PortWatcher::PortWatcher(const QStringList &patterns, QObject *parent)
    : QObject(parent)
    , patterns(patterns)
{
    connect(&poll, &QTimer::timeout, this, &PortWatcher::scan);
}

void PortWatcher::start()
{
    scan();
    poll.start(PortPollMs);
}

void PortWatcher::scan()
{
    QSet<QString> now;
    for (const QString &pattern : patterns) {
        glob_t found = {};
        if (::glob(pattern.toLocal8Bit().constData(), 0, nullptr, &found) == 0) {
            for (size_t i = 0; i < found.gl_pathc; ++i) {
                const QString path = QString::fromLocal8Bit(found.gl_pathv[i]);
                if (devicePresent(path))
                    now.insert(path);
            }
        }
        ::globfree(&found);
    }
    QStringList gone = (present - now).values();
    QStringList come = (now - present).values();
    gone.sort();
    come.sort();
    present = now;
    for (const QString &path : gone)
        emit portVanished(path);
    for (const QString &path : come)
        emit portAppeared(path);
}
