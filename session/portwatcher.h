#ifndef PORTWATCHER_H
#define PORTWATCHER_H

#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>

// How often a missing or watched device is looked for. A USB serial adapter
// takes longer than this to enumerate after it is plugged in, and an
// operator's hands are slower still; a stat() twice a second costs nothing.
constexpr int PortPollMs = 500;

// Whether the port's device is there now; a symbolic link counts when it
// leads to a character device, as udev's by-path and by-id names do.
bool devicePresent(const QString &port);
// Whether port leads to the device of one of others under another name (a
// by-path link to a ttyUSB that is named too): two runs on one line would
// answer each other's board.
bool sharesDevice(const QString &port, const QStringList &others);

// The device paths that match shell patterns (/dev/ttyUSB*,
// /dev/serial/by-path/*usb*), followed as devices come and go: a fixture
// with a USB serial chip on every board, or a hub with one adapter per
// slot, shows a new device with every board and loses it when the board is
// taken out. Looked for by polling, which needs nothing of udev and sees
// links in any folder the same way.
class PortWatcher : public QObject
{
    Q_OBJECT

public:
    explicit PortWatcher(const QStringList &patterns, QObject *parent = nullptr);

    // Reports what is there already at once, then every change.
    void start();

signals:
    void portAppeared(const QString &path);
    void portVanished(const QString &path);

private:
    void scan();

    const QStringList patterns;
    QSet<QString> present;
    QTimer poll;
};

#endif
