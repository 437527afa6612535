#ifndef BOARD_H
#define BOARD_H

#include "packetstream.h"
#include "pseudoterminal.h"

#include <QObject>
#include <QProcess>
#include <QSet>
#include <QString>
#include <QTimer>

// Which boards of a run misbehave, by board number (from 1).
struct BoardFaults
{
    // Answer the monitor, ask for the file once, then hang.
    QSet<int> silent;
    // Cancel the transfer in the middle of the file.
    QSet<int> cancel;
    // Damage one data block on its way in.
    QSet<int> corrupt;
};

// Plays target boards one after another on a pseudo-terminal: each one
// prints its boot monitor's output until the tool answers "1", then runs
// lrzsz's rb as its YMODEM receiver. The board sits on the line between the
// tool and rb, which is where it injects its faults.
class Board : public QObject
{
    Q_OBJECT

public:
    Board(const QString &folder, int boards, const BoardFaults &faults);

    // The device the tool opens as its serial port; empty when no
    // pseudo-terminal could be had.
    QString linePath() const;
    void start();

signals:
    void finished(int exitCode);

private:
    enum class Phase { Booting, Receiving, Silent, Resetting };

    void boot();
    void pollLine();
    void answered();
    void startReceiver();
    void relayToReceiver(QByteArray unit);
    void relayFromReceiver();
    void askForFile();
    void receiverFinished(int exitCode, QProcess::ExitStatus status);
    void cancelTransfer();
    void reset();
    void report(const QString &what);
    QString boardFolder() const;

    PseudoTerminal line;
    const QString folder;
    const int boards;
    const BoardFaults faults;
    int board = 0;
    Phase phase = Phase::Resetting;
    QTimer linePoll;
    QTimer bannerTimer;
    QTimer askTimer;
    QProcess *receiver = nullptr;
    PacketStream fromTool;
    bool toolHeard = false;
    bool corrupted = false;
};

#endif
