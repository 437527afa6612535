#ifndef YMODEMFILERECEIVE_H
#define YMODEMFILERECEIVE_H

#include "ymodem.h"

#include <QObject>
#include <QSerialPort>
#include <QString>

class QSaveFile;
class QTimer;

// Receives one file over one serial port into a target folder: the engine's
// receiver driven by a 10 ms poll timer, with the final status reported
// 100 ms after the transfer ended, once the port is closed again.
class YmodemFileReceive : public QObject, public Ymodem
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

    explicit YmodemFileReceive(QObject *parent = nullptr);
    ~YmodemFileReceive();

    void setTargetFolder(const QString &path);
    void selectPort(const QString &name);
    void selectBaudRate(int baudRate);

    bool startTransfer();
    void stopTransfer();

    int transferProgress() const;
    Status transferStatus() const;
    // The name under which the last accepted header's file is stored.
    QString receivedFileName() const;

signals:
    void receiveProgress(int progress);
    void receiveStatus(YmodemFileReceive::Status status);

private slots:
    void readTimeOut();
    void writeTimeOut();
    void lineError(QSerialPort::SerialPortError error);

private:
    LineCode callback(Event event, uint8_t *buffer, uint32_t *length) override;
    uint32_t read(uint8_t *buffer, uint32_t length) override;
    uint32_t write(uint8_t *buffer, uint32_t length) override;

    LineCode openFile(const uint8_t *header);
    LineCode storeBlock(const uint8_t *data, uint32_t length);
    bool keepFile();
    void discardFile();
    LineCode refuse();
    void finish(Status status);

    // Written to a temporary file and renamed only on success, so a failed
    // receive never destroys or truncates a file of the same name.
    QSaveFile *dataFile = nullptr;
    QTimer *pollTimer = nullptr;
    QTimer *finishTimer = nullptr;
    QSerialPort *port = nullptr;
    int progressPercent = 0;
    Status currentStatus = StatusStarting;
    QString targetFolder;
    QString receivedName;
    quint64 totalBytes = 0;
    quint64 doneBytes = 0;
    // The device went away: nothing more is written to it.
    bool lineLost = false;
};

#endif
