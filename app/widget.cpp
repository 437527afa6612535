#include "widget.h"

#include "bootmonitor.h"
#include "qtlanguage.h"
#include "serialline.h"
#include "widgetform.h"
#include "ymodemfilereceive.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTimer>

namespace
{

// Whether the operator has opened the line with comButton. A transfer closes
// and re-opens the window's port on its own, so the port cannot tell.
bool portOpen = false;

// A marker is answered at the first look at the line after it arrived, so at
// most this long after the boot monitor printed it.
constexpr int HandshakeInterval = 500;

bool chinese(const WidgetForm *form) { return form->comboBox->currentIndex() == 0; }

bool automaticMode(const WidgetForm *form) { return form->comboBox_2->currentIndex() != 0; }

QString inLanguage(const WidgetForm *form, const char *chineseText, const char *englishText)
{
    return QString::fromUtf8(chinese(form) ? chineseText : englishText);
}

} // namespace

Widget::Widget(QWidget *parent)
    : QWidget(parent)
{
    form = new WidgetForm;
    serialPort = new QSerialPort;
    transmitter = new YmodemFileTransmit;
    receiver = new YmodemFileReceive;

    setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    form->setupUi(this);

    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports)
        form->comPort->addItem(port.portName());

    SerialLine::applyDefaults(serialPort);

    connect(transmitter, SIGNAL(transmitProgress(int)), this, SLOT(transmitProgress(int)));
    connect(transmitter, SIGNAL(transmitStatus(YmodemFileTransmit::Status)), this,
        SLOT(transmitStatus(YmodemFileTransmit::Status)));
    connect(serialPort, &QSerialPort::readyRead, this, &Widget::readDate);

    handshakeTimer = new QTimer(this);
    connect(handshakeTimer, &QTimer::timeout, this, &Widget::sendDate);

    resetPromptBox = new QMessageBox(this);
    resetPromptBox->setFixedSize(80, 60);
    resetPromptBox->setWindowTitle(QStringLiteral("提示"));
    resetPromptBox->setText(QStringLiteral("如需烧录，请复位Trelvo！"));
    resetPromptBox->addButton(QMessageBox::Ok)->setText(QStringLiteral("关闭"));

    successBox = new QMessageBox(this);
    successBox->setWindowTitle(QStringLiteral("成功"));
    successBox->setText(QStringLiteral("文件发送成功"));
    continueButton = new QPushButton(successBox);
    continueButton->setText(QStringLiteral("继续烧录"));
    closeButton = new QPushButton(successBox);
    closeButton->setText(QStringLiteral("关闭"));
    successBox->addButton(continueButton, QMessageBox::ActionRole);
    successBox->addButton(closeButton, QMessageBox::ActionRole);
    connect(continueButton, &QPushButton::clicked, this, [this] {
        resetPromptBox->show();
        serialPort->open(QIODevice::ReadWrite);
        form->transmitProgress->setValue(0);
    });
    connect(closeButton, &QPushButton::clicked, this, [this] {
        successBox->close();
        form->transmitButton->setEnabled(false);
    });

    failureBox = new QMessageBox(this);
    failureBox->setWindowTitle(QStringLiteral("失败"));
    failureBox->setText(QStringLiteral("文件发送失败！\r\n请重新打开串口"));

    auto *qtLanguage = new QtLanguage(form->comboBox, this);
    qtLanguage->keepButtonTexts(resetPromptBox);

    handshakeTimer->start(HandshakeInterval);
}

Widget::~Widget()
{
    delete form;
    delete serialPort;
    delete transmitter;
    delete receiver;
}

void Widget::addPorts(const QStringList &paths) { form->comPort->addItems(paths); }

void Widget::on_comButton_clicked()
{
    if (portOpen) {
        portOpen = false;
        serialPort->close();
        form->comPort->setEnabled(true);
        form->comBaudRate->setEnabled(true);
        form->comButton->setText(inLanguage(form, "打开串口", "open serial port"));
        form->transmitProgress->setValue(0);
        form->transmitBrowse->setEnabled(false);
        form->transmitButton->setEnabled(false);
        return;
    }

    serialPort->setPortName(form->comPort->currentText());
    serialPort->setBaudRate(
        form->comBaudRate->currentText().toInt(nullptr, 10), QSerialPort::AllDirections);
    if (!serialPort->open(QIODevice::ReadWrite)) {
        QMessageBox warning(QMessageBox::Warning,
            inLanguage(form, "串口打开失败", "Failed to open the serial port."),
            inLanguage(
                form, "请检查串口是否已被占用！", "Check whether the serial port is occupied！"),
            QMessageBox::NoButton, this);
        warning.setDefaultButton(
            warning.addButton(inLanguage(form, "关闭", "close"), QMessageBox::ActionRole));
        warning.exec();
        return;
    }

    portOpen = true;
    form->comPort->setEnabled(false);
    form->comBaudRate->setEnabled(false);
    form->comButton->setText(inLanguage(form, "关闭串口", "close serial port"));
    if (!form->transmitPath->text().isEmpty()) {
        form->transmitButton->setEnabled(true);
        if (automaticMode(form))
            form->transmitButton->setEnabled(false);
    }
    resetPromptBox->open();
    // A marker answered before a failed or cancelled transfer left the
    // handshake stopped, and only a completed transfer restarts it; without
    // this the next board's boot monitor would never get its "1" and no
    // further board could be programmed until the tool was restarted.
    if (!handshakeTimer->isActive())
        handshakeTimer->start(HandshakeInterval);
}

void Widget::on_transmitBrowse_clicked()
{
    const QString path
        = QFileDialog::getOpenFileName(this, inLanguage(form, "打开文件", "open-file"), QString(),
            inLanguage(form, "(*.bin*)", "Arbitrary files (*.*)"), nullptr, QFileDialog::Options());
    form->transmitPath->setText(path);
    form->transmitButton->setEnabled(!form->transmitPath->text().isEmpty());
}

void Widget::on_transmitButton_clicked()
{
    if (transferring) {
        transmitter->stopTransfer();
        return;
    }

    // The transmitter opens the same device with its own port object.
    serialPort->close();
    transmitter->setSourceFile(form->transmitPath->text());
    transmitter->selectPort(form->comPort->currentText());
    transmitter->selectBaudRate(form->comBaudRate->currentText().toInt(nullptr, 10));
    if (transmitter->startTransfer()) {
        transferring = true;
        form->comButton->setEnabled(false);
        form->transmitBrowse->setEnabled(false);
        form->transmitButton->setText(inLanguage(form, "取消", "Cancel"));
        form->transmitProgress->setValue(0);
    } else {
        failureBox->open();
        ++failCount;
        form->label_9->setNum(failCount);
    }
}

void Widget::transmitProgress(int progress) { form->transmitProgress->setValue(progress); }

void Widget::transmitStatus(YmodemFileTransmit::Status status)
{
    switch (status) {
    case YmodemFileTransmit::StatusStarting:
    case YmodemFileTransmit::StatusRunning:
        form->label_9->setNum(failCount);
        return;
    case YmodemFileTransmit::StatusCompleted:
        transferring = false;
        form->comButton->setEnabled(true);
        form->transmitBrowse->setEnabled(true);
        form->transmitButton->setText(inLanguage(form, "发送", "send"));
        if (automaticMode(form)) {
            resetPromptBox->open();
            form->transmitBrowse->setEnabled(false);
            form->transmitButton->setEnabled(false);
            serialPort->open(QIODevice::ReadWrite);
        } else {
            successBox->open();
        }
        ++successCount;
        handshakeTimer->start(HandshakeInterval);
        form->label_8->setNum(successCount);
        form->label_9->setNum(failCount);
        return;
    default:
        transferring = false;
        form->comButton->setEnabled(true);
        form->transmitBrowse->setEnabled(true);
        form->transmitButton->setText(inLanguage(form, "发送", "send"));
        failureBox->open();
        ++failCount;
        form->label_9->setNum(failCount);
        return;
    }
}

void Widget::sendDate()
{
    if (!BootMonitor::isMarker(markerByte))
        return;
    resetPromptBox->close();
    serialPort->write(BootMonitor::answer());
    handshakeTimer->stop();
}

void Widget::readDate()
{
    lastChunk = serialPort->readAll();
    markerByte = BootMonitor::markerByte(lastChunk);
    if (BootMonitor::asksForFile(lastChunk)) {
        resetPromptBox->close();
        form->transmitBrowse->setEnabled(true);
        if (automaticMode(form) && successCount != 0) {
            form->transmitButton->setText(QStringLiteral("取消"));
            form->transmitBrowse->setEnabled(false);
            form->transmitButton->setEnabled(false);
            on_transmitButton_clicked();
        }
    }
    lastChunk.clear();
}

void Widget::on_comboBox_currentIndexChanged(int index)
{
    const bool toChinese = index == 0;
    const auto text = [toChinese](const char *chineseText, const char *englishText) {
        return QString::fromUtf8(toChinese ? chineseText : englishText);
    };
    setWindowTitle(
        text("Trelvo 下载工具  V" TRELVO_VERSION, "Trelvo Programming Tool V" TRELVO_VERSION));
    form->groupBox->setTitle(text("配置串口", "Configure Serial Port"));
    form->label->setText(text("端口", "Port"));
    form->label_2->setText(text("波特率", "Baud rate"));
    form->label_3->setText(text("文件路径", "File load"));
    form->label_5->setText(text("传输进度", "Transmission schedule"));
    form->comButton->setText(text("打开串口", "open serial port"));
    form->transmitBrowse->setText(text("浏览...", "Browse..."));
    form->transmitButton->setText(text("发送", "send"));
    resetPromptBox->setWindowTitle(text("提示", "infomation"));
    resetPromptBox->setText(text("如需烧录,请复位Trelvo！", "PLEASE RESET Trelvo！"));
    successBox->setWindowTitle(text("成功", "sussced"));
    successBox->setText(text("文件接收成功！", "File sent successfully!"));
    continueButton->setText(text("继续烧录", "Continue to burn"));
    closeButton->setText(text("关闭", "close"));
    failureBox->setWindowTitle(text("失败", "error"));
    failureBox->setText(text("文件发送失败！\r\n请重新打开串口",
        "File sending failed!\r\nPlease reopen the serial port"));
    form->label_6->setText(text("成功", "successful"));
    form->label_7->setText(text("失败", "failtures"));
    form->label_10->setText(text("模式：", "model"));
    form->comboBox_2->setItemText(0, text("手动", "manual"));
    form->comboBox_2->setItemText(1, text("自动", "auto"));
}
