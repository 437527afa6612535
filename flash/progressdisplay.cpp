#include "progressdisplay.h"

#include <cstdio>

namespace
{

// Often enough to look alive, rarely enough to keep a slow terminal (a
// serial console, an ssh session) out of the transfer's way.
constexpr int RedrawMs = 200;

QString kibPerSecond(double bytesPerSecond)
{
    return QStringLiteral("%1 KiB/s").arg(bytesPerSecond / 1024, 0, 'f', 1);
}

QString minutesAndSeconds(qint64 seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

ProgressDisplay::ProgressDisplay(Style style, bool receiving)
    : style(style)
    , receiving(receiving)
{
    if (style == Style::Terminal) {
        connect(&redraw, &QTimer::timeout, this, &ProgressDisplay::draw);
        redraw.start(RedrawMs);
    }
}

int ProgressDisplay::addPort(const QString &name)
{
    PortState port;
    port.name = name;
    ports.append(port);
    if (style == Style::Terminal)
        draw();
    return ports.size() - 1;
}

void ProgressDisplay::watching(const QStringList &patterns)
{
    if (style != Style::Plain)
        return;
    for (const QString &pattern : patterns)
        put(QStringLiteral("watching %1\n").arg(pattern));
}

void ProgressDisplay::stateChanged(int index, BoardSession::State state)
{
    PortState &port = ports[index];
    const bool gone = state == BoardSession::State::PortGone;
    if (gone == port.gone || state == BoardSession::State::Done)
        return;
    port.gone = gone;
    port.transferring = false;
    if (gone)
        ++port.goneCount;
    if (style == Style::Terminal)
        draw();
    else if (style == Style::Plain)
        put(port.name
            + (gone ? QStringLiteral(": port gone, waiting for its device to come back\n")
                    : QStringLiteral(": port back, waiting for a board\n")));
}

void ProgressDisplay::transferStarted(int index, int board, const QString &file, qint64 size)
{
    PortState &port = ports[index];
    port.board = board;
    port.file = file;
    port.size = size;
    port.percent = 0;
    port.transferring = true;
    port.clock.start();
    if (style == Style::Plain) {
        put(receiving ? QStringLiteral("%1 board %2: receiving %3\n").arg(port.name).arg(board).arg(file)
                      : QStringLiteral("%1 board %2: sending %3 (%4 bytes)\n")
                            .arg(port.name)
                            .arg(board)
                            .arg(file)
                            .arg(size));
    }
}

void ProgressDisplay::progress(int index, int percent) { ports[index].percent = percent; }

void ProgressDisplay::boardEnded(int index, const BoardRecord &record)
{
    PortState &port = ports[index];
    port.board = record.board;
    port.transferring = false;
    port.lastResult = BoardRecord::resultName(record.result);
    if (record.result == BoardRecord::Completed) {
        ++port.done;
        // The mean rate is the boards' that got their image.
        port.seconds += record.seconds;
        port.bytes += record.size;
    } else {
        ++port.failed;
    }

    if (style == Style::Terminal) {
        draw();
        return;
    }
    if (style == Style::Quiet && !(receiving && record.result == BoardRecord::Completed))
        return;
    const QString head = QStringLiteral("%1 board %2: ").arg(port.name).arg(record.board);
    const QString time = QString::number(record.seconds, 'f', 2);
    if (record.result != BoardRecord::Completed)
        put(head + QStringLiteral("%1 after %2 s: %3\n").arg(port.lastResult, time, record.error));
    else if (receiving)
        put(head
            + QStringLiteral("received %1 (%2 bytes) in %3 s\n")
                  .arg(record.file)
                  .arg(record.size)
                  .arg(time));
    else
        put(head
            + QStringLiteral("completed in %1 s, %2\n")
                  .arg(time, kibPerSecond(record.bytesPerSecond())));
}

void ProgressDisplay::error(const QString &text)
{
    erase();
    std::fputs(qPrintable(QStringLiteral("trelvo-flash: %1\n").arg(text)), stderr);
    std::fflush(stderr);
    if (style == Style::Terminal)
        draw();
}

void ProgressDisplay::spoolChanged(int waiting)
{
    const bool changed = waiting != spooled;
    spooled = waiting;
    if (style == Style::Plain && changed)
        put(spoolLine());
}

void ProgressDisplay::summary()
{
    if (style == Style::Quiet)
        return;
    redraw.stop();
    if (style == Style::Terminal)
        draw();
    drawnLines = 0;
    for (const PortState &port : ports) {
        put(QStringLiteral("%1: %2 done, %3 failed, %4 port gone, %5 s, mean %6\n")
                .arg(port.name)
                .arg(port.done)
                .arg(port.failed)
                .arg(port.goneCount)
                .arg(port.seconds, 0, 'f', 2)
                .arg(kibPerSecond(port.seconds > 0 ? port.bytes / port.seconds : 0)));
    }
    if (spooled > 0)
        put(spoolLine());
}

void ProgressDisplay::draw()
{
    QString text;
    if (drawnLines > 0)
        text += QStringLiteral("\x1b[%1A").arg(drawnLines);
    for (const PortState &port : ports)
        text += QStringLiteral("\r\x1b[2K") + statusLine(port) + QLatin1Char('\n');
    const int before = drawnLines;
    drawnLines = ports.size();
    if (spooled > 0) {
        text += QStringLiteral("\r\x1b[2K") + spoolLine();
        ++drawnLines;
    }
    // The spool's line goes once the database took every record.
    if (before > drawnLines)
        text += QStringLiteral("\x1b[J");
    put(text);
}

void ProgressDisplay::erase()
{
    if (style != Style::Terminal || drawnLines == 0)
        return;
    put(QStringLiteral("\x1b[%1A\r\x1b[J").arg(drawnLines));
    drawnLines = 0;
}

QString ProgressDisplay::statusLine(const PortState &port) const
{
    const QString head = QStringLiteral("%1  board %2  ").arg(port.name).arg(port.board);
    if (port.gone)
        return port.name + QStringLiteral("  port gone, looking for it");
    if (port.board == 0)
        return port.name + QStringLiteral("  waiting for the board");
    if (!port.transferring)
        return head + (port.lastResult.isEmpty() ? QStringLiteral("waiting for the board")
                                                 : port.lastResult);
    const double elapsed = port.clock.nsecsElapsed() / 1e9;
    const double doneBytes = double(port.size) * port.percent / 100;
    const double rate = elapsed > 0 ? doneBytes / elapsed : 0;
    QString line = head + QStringLiteral("%1%  %2").arg(port.percent, 3).arg(kibPerSecond(rate));
    if (rate > 0)
        line += QStringLiteral("  %1 left").arg(minutesAndSeconds(qint64((port.size - doneBytes) / rate)));
    return line;
}

QString ProgressDisplay::spoolLine() const
{
    return spooled > 0
        ? QStringLiteral("records: %1 waiting in the spool, the database does not take them\n")
              .arg(spooled)
        : QStringLiteral("records: all in the database\n");
}

void ProgressDisplay::put(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}
