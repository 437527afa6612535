#ifndef BOARDSESSION_H
#define BOARDSESSION_H

#include "boardrecord.h"
#include "ymodemfilereceive.h"
#include "ymodemfiletransmit.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

// What one port's run is given.
struct SessionSettings
{
    QString port;
    int baudRate = 115200;
    bool handshake = true;
    // 0: until interrupted.
    int boards = 1;
    // How long a board may take to show its boot monitor, or its receiver's
    // first request without the dialogue; negative: no limit.
    int waitMs = -1;
    // Sending: the image, its size and digest, taken once for every board
    // (an ImageSnapshot's copy).
    QString image;
    qint64 imageSize = 0;
    QByteArray imageSha256;
    // Receiving instead, into this folder.
    QString receiveFolder;
};

// Runs the boards of one port one after another: the dialogue with each
// board's boot monitor, the transfer, its result, the next board. A board
// that fails is recorded and the port waits for the next one, as on a
// production line where the operator takes the failed board out. A port
// whose device goes away (a USB adapter pulled, a board with its own USB
// serial chip taken off the fixture) ends the board in progress and waits
// for its device to come back.
class BoardSession : public QObject
{
    Q_OBJECT

public:
    // WaitingForBoard: the port is open for a board's monitor or request.
    // Transferring: from the first request to the board's end. PortGone:
    // the device is missing and looked for every PortPollMs. Done: the run
    // has ended; finished() follows.
    enum class State { WaitingForBoard, Transferring, PortGone, Done };
    Q_ENUM(State)

    explicit BoardSession(const SessionSettings &settings, QObject *parent = nullptr);

    void start();
    // Cancels a running transfer with CAN on the line and ends the run.
    void interrupt();
    // Ends the run once the board in progress has ended; at once when no
    // transfer runs.
    void stopAfterCurrentBoard();
    // Whether the port could be opened at least once.
    bool opened() const;
    const SessionSettings &settings() const;
    State state() const;

signals:
    void transferStarted(int board, const QString &file, qint64 size);
    void progress(int percent);
    void boardEnded(const BoardRecord &record);
    void error(const QString &text);
    void stateChanged(BoardSession::State state);
    void finished();

private:
    enum class Phase { WaitingForMonitor, WaitingForRequest, Transferring, PortGone, Done };

    void waitForBoard();
    void lineRead();
    void lineQuiet();
    void answerMonitor();
    void startSending();
    void startReceiving();
    void transmitEnded(YmodemFileTransmit::Status status);
    void receiveEnded(YmodemFileReceive::Status status);
    void timedOut();
    void lineLost(QSerialPort::SerialPortError problem);
    void checkPort();
    void portLost();
    bool portGone() const;
    void stopTransfer();
    void endBoard(BoardRecord::Result result, const QString &reason);
    void setPhase(Phase next);
    void finish();

    const SessionSettings config;
    QSerialPort monitorLine;
    YmodemFileTransmit *transmitter = nullptr;
    YmodemFileReceive *receiver = nullptr;
    QTimer quietTimer;
    QTimer deadline;
    QTimer portCheck;
    QElapsedTimer transferClock;
    QDateTime boardTime;
    Phase phase = Phase::WaitingForMonitor;
    State shownState = State::WaitingForBoard;
    QByteArray monitorOutput;
    int boardsEnded = 0;
    bool everOpened = false;
    bool interrupted = false;
    bool stopping = false;
    bool lineGone = false;
    bool headerReceived = false;
    bool waitExpired = false;
};

#endif
