#ifndef PROGRESSDISPLAY_H
#define PROGRESSDISPLAY_H

#include "boardrecord.h"
#include "boardsession.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVector>

// What a person or a CI log sees of a run. On a terminal one line per port
// is redrawn in place; elsewhere each board's start and end, and a port's
// going and coming back, is one plain line without control characters. A
// summary per port closes the run.
class ProgressDisplay : public QObject
{
    Q_OBJECT

public:
    enum class Style { Terminal, Plain, Quiet };

    ProgressDisplay(Style style, bool receiving);

    // The number the other calls know the port by. Ports are added as a
    // watched folder shows them.
    int addPort(const QString &name);
    void watching(const QStringList &patterns);
    void stateChanged(int port, BoardSession::State state);
    void transferStarted(int port, int board, const QString &file, qint64 size);
    void progress(int port, int percent);
    void boardEnded(int port, const BoardRecord &record);
    void error(const QString &text);
    // Records the database has not taken yet and that wait in the spool.
    void spoolChanged(int waiting);
    void summary();

private:
    struct PortState
    {
        QString name;
        int board = 0;
        QString file;
        qint64 size = 0;
        int percent = 0;
        bool transferring = false;
        bool gone = false;
        QString lastResult;
        QElapsedTimer clock;
        int done = 0;
        int failed = 0;
        int goneCount = 0;
        double seconds = 0;
        qint64 bytes = 0;
    };

    void draw();
    void erase();
    QString statusLine(const PortState &port) const;
    QString spoolLine() const;
    static void put(const QString &text);

    const Style style;
    const bool receiving;
    QVector<PortState> ports;
    QTimer redraw;
    int drawnLines = 0;
    int spooled = 0;
};

#endif
