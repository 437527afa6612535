#ifndef BOARD_H
#define BOARD_H

#include "pacedline.h"
#include "packetstream.h"
#include "pseudoterminal.h"
#include "receiver.h"
#include "serialline.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <memory>

class QSocketNotifier;

// Which boards of a run misbehave, by board number (from 1).
struct BoardFaults
{
    // Answer the monitor, ask for the file once, then hang.
    QSet<int> silent;
    // Cancel the transfer in the middle of the file.
    QSet<int> cancel;
    // Damage one data block on its way in.
    QSet<int> corrupt;
    // Pulled out of the fixture in the middle of the file, line and all.
    QSet<int> unplug;
};

// The line and the receiver of a run's boards.
struct BoardSetup
{
    static constexpr int BitsPerByte = SerialLine::BitsPerByte;

    QString folder;
    int boards = 1;
    // Bits per second; 0 for a line with no speed of its own.
    int baud = 0;
    Receiver::Kind receiver = Receiver::Kind::Rb;
    // A symbolic link to the line, there while the line is plugged in, as
    // udev's by-path names are; empty for the bare device.
    QString link;
    // Every board brings a line of its own, as one with a USB serial chip
    // on it does: the line goes with the board and a new one comes with the
    // next.
    bool hotplug = false;
};

// Plays target boards one after another on a pseudo-terminal: each one
// prints its boot monitor's output until the tool answers "1", then the
// prompt of its YMODEM receiver, then receives the image. The board sits on
// the line between the tool and the receiver, which is where it injects its
// faults, paces the bytes to the line's speed and times the tool's turns.
class Board : public QObject
{
    Q_OBJECT

public:
    Board(const BoardSetup &setup, const BoardFaults &faults);
    ~Board() override;

    // The device the tool opens as its serial port, or the link to it;
    // empty when no pseudo-terminal could be had.
    QString linePath() const;
    void start();

signals:
    void finished(int exitCode);

private:
    enum class Phase { Booting, Receiving, Silent, Resetting };

    // When the line carried what, in monotonicNs(); -1 until it happened.
    struct Timeline
    {
        qint64 marker = -1;
        qint64 answer = -1;
        qint64 request = -1;
        qint64 header = -1;
        qint64 headerAnswered = -1;
        qint64 firstBlock = -1;
        qint64 endOfFile = -1;
        qint64 dataBytes = 0;
        int lastBlock = 0;
    };

    void boot();
    void lineReadable();
    void fromTool(const QByteArray &bytes);
    void answered();
    void startReceiver();
    void relayToReceiver(QByteArray unit);
    void relayFromReceiver(const QByteArray &bytes);
    void timeUnit(const QByteArray &unit);
    void receiverFinished(bool completed, const QString &outcome);
    void cancelTransfer();
    void pullOut();
    void stopBoard();
    void reset();
    void nextOrFinish();
    bool plugIn();
    void unplug();
    void report(const QString &what);
    QString boardFolder() const;

    std::unique_ptr<PseudoTerminal> line;
    QSocketNotifier *lineHeard = nullptr;
    PacedLine toBoard;
    PacedLine toTool;
    const BoardSetup setup;
    const BoardFaults faults;
    int board = 0;
    Phase phase = Phase::Resetting;
    QTimer bannerTimer;
    QTimer askTimer;
    Receiver *receiver = nullptr;
    PacketStream units;
    Timeline timeline;
    bool toolHeard = false;
    bool corrupted = false;
};

#endif
