#ifndef WINDOWTESTING_H
#define WINDOWTESTING_H

#include <QSerialPort>
#include <QString>

// Texts the window picks by the language at the moment it sets them; the
// Chinese ones are those it starts with.
struct Vocabulary {
    QString portOpened;
    QString portClosed;
    QString transferRunning;
    QString transferEnded;
    QString successTitle;
    QString successText;
    QString failureTitle;
    QString failureText;
    QString dialogCaption;
    QString dialogFilter;
    QString warningTitle;
    QString warningText;
    QString warningButton;
    QString promptTitle;
    QString promptText;
};

inline Vocabulary vocabulary(bool english)
{
    Vocabulary words;
    if (english) {
        words.portOpened = QStringLiteral("close serial port");
        words.portClosed = QStringLiteral("open serial port");
        words.transferRunning = QStringLiteral("Cancel");
        words.transferEnded = QStringLiteral("send");
        words.successTitle = QStringLiteral("sussced");
        words.successText = QStringLiteral("File sent successfully!");
        words.failureTitle = QStringLiteral("error");
        words.failureText = QStringLiteral("File sending failed!\r\nPlease reopen the serial port");
        words.dialogCaption = QStringLiteral("open-file");
        words.dialogFilter = QStringLiteral("Arbitrary files (*.*)");
        words.warningTitle = QStringLiteral("Failed to open the serial port.");
        words.warningText = QStringLiteral("Check whether the serial port is occupied\uFF01");
        words.warningButton = QStringLiteral("close");
        words.promptTitle = QStringLiteral("infomation");
        words.promptText = QStringLiteral("PLEASE RESET Trelvo\uFF01");
    } else {
        words.portOpened = QStringLiteral("关闭串口");
        words.portClosed = QStringLiteral("打开串口");
        words.transferRunning = QStringLiteral("取消");
        words.transferEnded = QStringLiteral("发送");
        words.successTitle = QStringLiteral("成功");
        words.successText = QStringLiteral("文件发送成功");
        words.failureTitle = QStringLiteral("失败");
        words.failureText = QStringLiteral("文件发送失败\uFF01\r\n请重新打开串口");
        words.dialogCaption = QStringLiteral("打开文件");
        words.dialogFilter = QStringLiteral("(*.bin*)");
        words.warningTitle = QStringLiteral("串口打开失败");
        words.warningText = QStringLiteral("请检查串口是否已被占用\uFF01");
        words.warningButton = QStringLiteral("关闭");
        words.promptTitle = QStringLiteral("提示");
        words.promptText = QStringLiteral("如需烧录\uFF0C请复位Trelvo\uFF01");
    }
    return words;
}

// Whether another program may take the line, that is whether neither the
// window nor its transmitter holds it.
inline bool lineIsFree(const QString &path)
{
    QSerialPort probe;
    probe.setPortName(path);
    return probe.open(QIODevice::ReadWrite);
}

#endif
