#ifndef WIDGET_H
#define WIDGET_H

#include "ymodemfiletransmit.h"

#include <QByteArray>
#include <QWidget>

class QMessageBox;
class QPushButton;
class QSerialPort;
class QTimer;
class WidgetForm;
class YmodemFileReceive;

class Widget : public QWidget
{
    Q_OBJECT

public:
    explicit Widget(QWidget *parent = nullptr);
    ~Widget();

    // Lines the system does not list as serial ports, such as a
    // pseudo-terminal, offered after the system's own.
    void addPorts(const QStringList &paths);

private slots:
    void on_comButton_clicked();
    void on_transmitBrowse_clicked();
    void on_transmitButton_clicked();
    void transmitProgress(int progress);
    void transmitStatus(YmodemFileTransmit::Status status);
    void sendDate();
    void readDate();
    void on_comboBox_currentIndexChanged(int index);

private:
    QByteArray lastChunk;
    char markerByte = 0;
    quint16 failCount = 0;
    quint16 successCount = 0;
    WidgetForm *form = nullptr;
    QSerialPort *serialPort = nullptr;
    YmodemFileTransmit *transmitter = nullptr;
    YmodemFileReceive *receiver = nullptr;
    QMessageBox *resetPromptBox = nullptr;
    QMessageBox *successBox = nullptr;
    QMessageBox *failureBox = nullptr;
    QPushButton *continueButton = nullptr;
    QPushButton *closeButton = nullptr;
    QTimer *handshakeTimer = nullptr;
    bool transferring = false;
};

#endif
