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
    // Sending: the image, its size and digest, taken once for every board.
    QString image;
    qint64 imageSize = 0;
    QByteArray imageSha256;
    // Receiving instead, into this folder.
    QString receiveFolder;
};

// Runs the boards of one port one after another: the dialogue with each
// board's boot monitor, the transfer, its result, the next board. A board
// that does not succeed ends the port's run; the other ports are not
// concerned.
class BoardSession : public QObject
{
    Q_OBJECT

public:
    explicit BoardSession(const SessionSettings &settings, QObject *parent = nullptr);

    void start();
    // Cancels a running transfer with CAN on the line and ends the run.
    void interrupt();
    // Whether the port could be opened at least once.
    bool opened() const;
    const SessionSettings &settings() const;

signals:
    void transferStarted(int board, const QString &file, qint64 size);
    void progress(int percent);
    void boardEnded(const BoardRecord &record);
    void error(const QString &text);
    void finished();

private:
    enum class Phase { WaitingForMonitor, WaitingForRequest, Transferring, Done };

    void nextBoard();
    void lineRead();
    void lineQuiet();
    void answerMonitor();
    void startSending();
    void startReceiving();
    void transmitEnded(YmodemFileTransmit::Status status);
    void receiveEnded(YmodemFileReceive::Status status);
    void timedOut();
    void lineLost(QSerialPort::SerialPortError problem);
    void endBoard(BoardRecord::Result result, const QString &reason);
    void finish();

    const SessionSettings config;
    QSerialPort monitorLine;
    YmodemFileTransmit *transmitter = nullptr;
    YmodemFileReceive *receiver = nullptr;
    QTimer quietTimer;
    QTimer deadline;
    QElapsedTimer transferClock;
    QDateTime boardTime;
    Phase phase = Phase::Done;
    QByteArray monitorOutput;
    int board = 0;
    bool everOpened = false;
    bool interrupted = false;
    bool ended = false;
    bool headerReceived = false;
    bool waitExpired = false;
};

#endif
