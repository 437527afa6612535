#ifndef PORTLIST_H
#define PORTLIST_H

#include <QObject>
#include <QStringList>

class PortWatcher;
class QCommandLineParser;

// The ports of a run as the operator names them to any production front
// end: --port for a device that is there from the start, --watch for the
// device paths that match a pattern as they appear. Every device runs as
// one port: a path named twice, matched by two patterns, or leading to a
// device that is a port already under another name (a by-path link to a
// ttyUSB that is watched too) is not added again, since two runs on one
// line would answer each other's board.
class PortList : public QObject
{
    Q_OBJECT

public:
    explicit PortList(QObject *parent = nullptr);

    static void addOptions(QCommandLineParser *parser);
    // False with errorString() when neither option was given or a port was
    // named twice.
    bool read(const QCommandLineParser &parser);
    QString errorString() const;
    // Whether ports may still appear, so that a run does not end by itself.
    bool watching() const;
    QStringList patterns() const;

    // Adds the named ports at once, then the watched ones as they appear.
    void start();

signals:
    void portAdded(const QString &port);

private:
    void offer(const QString &port);

    QStringList named;
    QStringList watched;
    QStringList added;
    PortWatcher *watcher = nullptr;
    QString problem;
};

#endif
