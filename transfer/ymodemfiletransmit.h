#ifndef YMODEMFILETRANSMIT_H
#define YMODEMFILETRANSMIT_H

#include "packetinflight.h"
#include "ymodem.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>

class QFile;
class QTimer;

// Sends one file over one serial port: the engine's sender driven by a
// 10 ms poll timer, with the final status reported 100 ms after the
// transfer ended, once the port is closed again.
class YmodemFileTransmit : public QObject, public Ymodem
{
    Q_OBJECT

public:
    enum Status {
        StatusStarting,
        StatusRunning,
        StatusCompleted,
        StatusCancelled,
        StatusTimedOut,
        StatusFailed
    };

    explicit YmodemFileTransmit(QObject *parent = nullptr);
    ~YmodemFileTransmit();

    void setSourceFile(const QString &path);
    void selectPort(const QString &name);
    void selectBaudRate(int baudRate);
    // Off by default: the engine steps only on the 10 ms poll, one block per
    // poll at most. On: it also steps as soon as the receiver's answer
    // arrives, so blocks follow each other at the line's own pace; quiet
    // polls are still counted on the poll, so the limits keep their seconds.
    void setStepOnAnswer(bool on);
    // Bytes already taken off the line by whoever held it before, such as
    // the receiver's request that ended the dialogue with its boot monitor:
    // the next transfer's engine reads them before anything new.
    void setPendingInput(const QByteArray &bytes);

    bool startTransfer();
    // Cancels with five CANs, at once while no packet is in flight, else
    // once the receiver has answered it or could have.
    void stopTransfer();

    int transferProgress() const;
    Status transferStatus() const;

signals:
    void transmitProgress(int progress);
    void transmitStatus(YmodemFileTransmit::Status status);

private slots:
    void readTimeOut();
    void writeTimeOut();
    void lineError(QSerialPort::SerialPortError error);

private:
    LineCode callback(Event event, uint8_t *buffer, uint32_t *length) override;
    uint32_t read(uint8_t *buffer, uint32_t length) override;
    uint32_t write(uint8_t *buffer, uint32_t length) override;

    bool running() const;
    void stepOnArrivedAnswers();
    bool peekLine(char *byte);
    qint64 unread() const;
    void cancel();

    LineCode fillHeader(uint8_t *buffer, uint32_t *length);
    LineCode fillBlock(uint8_t *buffer, uint32_t *length);
    LineCode refuse();
    void finish(Status status);

    QFile *dataFile = nullptr;
    QTimer *pollTimer = nullptr;
    QTimer *finishTimer = nullptr;
    QSerialPort *port = nullptr;
    int progressPercent = 0;
    Status currentStatus = StatusStarting;
    quint64 totalBytes = 0;
    quint64 doneBytes = 0;
    bool stepOnAnswer = false;
    QByteArray pendingInput;
    PacketInFlight inFlight;
    // A stop waits for the answer to the packet in flight.
    bool cancelHeld = false;
    // The device went away: nothing more is written to it.
    bool lineLost = false;
};

#endif
