#include "offscreentestmain.h"
#include "pseudoterminal.h"
#include "testfiles.h"
#include "widget.h"
#include "windowtesting.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <iterator>
#include <memory>

namespace
{

// What a freshly reset board prints: 'F' eighth from the end of the chunk is
// the boot monitor's marker that the tool answers with "1".
const QByteArray BootOutput = "Trelvo boot monitor\r\nF> ymd\r\n";
const QByteArray PlainOutput = "Trelvo boot monitor\r\nwaiting\r\n";

// A tick of the handshake comes every 500 ms; a reply due at the next tick
// is late once this has passed since the write that followed a tick.
const int NextTickDeadline = 800;
// Long enough for two ticks: what has not gone out by then never will.
const int SilenceWindow = 1100;

// The 22 texts the language switch writes: as the window starts, after a
// switch to Chinese, after a switch to English. Full-width punctuation is
// spelt as escapes, so that it cannot be mistaken for its ASCII look-alike.
struct SwitchedText {
    const char *target;
    const char *startup;
    const char *chinese;
    const char *english;
};

const SwitchedText SwitchedTexts[] = {
    { "window title", "Trelvo 下载工具  V1.04", "Trelvo 下载工具  V1.04",
        "Trelvo Programming Tool V1.04" },
    { "groupBox", "配置串口", "配置串口", "Configure Serial Port" },
    { "label", "端口\uFF1A", "端口", "Port" },
    { "label_2", "波特率\uFF1A", "波特率", "Baud rate" },
    { "label_3", "文件路径\uFF1A", "文件路径", "File load" },
    { "label_5", "传输进度\uFF1A", "传输进度", "Transmission schedule" },
    { "comButton", "打开串口", "打开串口", "open serial port" },
    { "transmitBrowse", "浏览...", "浏览...", "Browse..." },
    { "transmitButton", "发送", "发送", "send" },
    { "resetPromptBox title", "提示", "提示", "infomation" },
    { "resetPromptBox text", "如需烧录\uFF0C请复位Trelvo\uFF01", "如需烧录,请复位Trelvo\uFF01",
        "PLEASE RESET Trelvo\uFF01" },
    { "successBox title", "成功", "成功", "sussced" },
    { "successBox text", "文件发送成功", "文件接收成功\uFF01", "File sent successfully!" },
    { "continueButton", "继续烧录", "继续烧录", "Continue to burn" },
    { "closeButton", "关闭", "关闭", "close" },
    { "failureBox title", "失败", "失败", "error" },
    { "failureBox text", "文件发送失败\uFF01\r\n请重新打开串口",
        "文件发送失败\uFF01\r\n请重新打开串口",
        "File sending failed!\r\nPlease reopen the serial port" },
    { "label_6", "成功\uFF1A", "成功", "successful" },
    { "label_7", "失败\uFF1A", "失败", "failtures" },
    { "label_10", "模式\uFF1A", "模式\uFF1A", "model" },
    { "comboBox_2 entry 0", "手动", "手动", "manual" },
    { "comboBox_2 entry 1", "自动", "自动", "auto" },
};

// Plays the operator at a blocking dialog: QMessageBox::warning and
// QFileDialog::getOpenFileName run their own event loop, so the answer comes
// from a timer served inside it. Whatever dialog is still up five seconds on
// (unanswered, or one the answer brought up) is rejected, so that a failing
// test ends instead of hanging.
class ModalAnswer : public QObject
{
public:
    explicit ModalAnswer(std::function<bool(QWidget *)> answer)
        : answer(std::move(answer))
    {
        connect(&poll, &QTimer::timeout, this, &ModalAnswer::look);
        poll.start(10);
        clock.start();
    }

    bool answered() const { return done; }

private:
    void look()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!done && modal && answer(modal)) {
            done = true;
        } else if (clock.elapsed() > 5000) {
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                dialog->reject();
        }
    }

    std::function<bool(QWidget *)> answer;
    QTimer poll;
    QElapsedTimer clock;
    bool done = false;
};

struct SeenDialog {
    bool answered = false;
    QString title;
    QString text;
    QStringList buttons;
    QStringList filters;
};

} // namespace

class TestWidget : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void listsThePortsPresent();
    void startsWithItsIconAndIdleControls();

    void openingShowsResetPrompt_data();
    void openingShowsResetPrompt();
    void openingEnablesSendByMode_data();
    void openingEnablesSendByMode();
    void failedOpenWarnsAndChangesNothing_data();
    void failedOpenWarnsAndChangesNothing();
    void closingReleasesLineAndResetsControls_data();
    void closingReleasesLineAndResetsControls();

    void markerIsAnsweredOnceAtNextTick_data();
    void markerIsAnsweredOnceAtNextTick();
    void lastChunkBeforeTickDecides_data();
    void lastChunkBeforeTickDecides();
    void readinessEnablesBrowseOnly_data();
    void readinessEnablesBrowseOnly();

    void fileChoiceSetsPathAndSend_data();
    void fileChoiceSetsPathAndSend();
    void failedStartChangesOnlyTheCounter();

    void languageSwitchRewritesTexts_data();
    void languageSwitchRewritesTexts();
    void languageSwitchKeepsPortOpen();
    void qtTextsFollowTheLanguage_data();
    void qtTextsFollowTheLanguage();

    void failureCounterWrapsAt16Bits();

private:
    template <typename T> T *child(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    QStringList switchedTexts() const;
    void selectLine(const QString &path);
    void openPort();
    bool boardBooted();
    SeenDialog chooseFile(const QString &path);
    SeenDialog clickAndAnswerWarning();
    void prepareImage(const QString &path, int size);
    void setEnglish(bool english) { language->setCurrentIndex(english ? 1 : 0); }

    std::unique_ptr<QTemporaryDir> scratch;
    std::unique_ptr<PseudoTerminal> line;
    std::unique_ptr<Widget> window;

    QComboBox *language = nullptr;
    QComboBox *mode = nullptr;
    QComboBox *comPort = nullptr;
    QComboBox *comBaudRate = nullptr;
    QPushButton *comButton = nullptr;
    QLineEdit *transmitPath = nullptr;
    QPushButton *transmitBrowse = nullptr;
    QPushButton *transmitButton = nullptr;
    QProgressBar *progress = nullptr;
    QLabel *successes = nullptr;
    QLabel *failures = nullptr;
    QMessageBox *promptBox = nullptr;
    QMessageBox *successBox = nullptr;
    QMessageBox *failureBox = nullptr;
    QPushButton *continueButton = nullptr;
    QPushButton *closeButton = nullptr;
    QTimer *handshakeTimer = nullptr;
    QString image;
};

void TestWidget::init()
{
    scratch.reset(new QTemporaryDir);
    QVERIFY(scratch->isValid());
    line.reset(new PseudoTerminal);
    QVERIFY(line->isOpen());
    window.reset(new Widget);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    language = child<QComboBox>("comboBox");
    mode = child<QComboBox>("comboBox_2");
    comPort = child<QComboBox>("comPort");
    comBaudRate = child<QComboBox>("comBaudRate");
    comButton = child<QPushButton>("comButton");
    transmitPath = child<QLineEdit>("transmitPath");
    transmitBrowse = child<QPushButton>("transmitBrowse");
    transmitButton = child<QPushButton>("transmitButton");
    progress = child<QProgressBar>("transmitProgress");
    successes = child<QLabel>("label_8");
    failures = child<QLabel>("label_9");
    QVERIFY(language && mode && comPort && comBaudRate && comButton && transmitPath
        && transmitBrowse && transmitButton && progress && successes && failures);

    const auto boxes = window->findChildren<QMessageBox *>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(boxes.size(), 3);
    for (QMessageBox *box : boxes) {
        if (box->windowTitle() == QStringLiteral("提示"))
            promptBox = box;
        else if (box->windowTitle() == QStringLiteral("成功"))
            successBox = box;
        else if (box->windowTitle() == QStringLiteral("失败"))
            failureBox = box;
    }
    QVERIFY(promptBox && successBox && failureBox);
    const auto choices = successBox->buttons();
    QCOMPARE(choices.size(), 2);
    continueButton = qobject_cast<QPushButton *>(choices.at(0));
    closeButton = qobject_cast<QPushButton *>(choices.at(1));
    QVERIFY(continueButton && closeButton);

    const auto timers = window->findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(timers.size(), 1);
    handshakeTimer = timers.first();
    image.clear();
}

void TestWidget::cleanup()
{
    // The operator's open/closed choice outlives the window; leave it closed
    // for the next window of this process.
    if (window && !comPort->isEnabled()) {
        comButton->setEnabled(true);
        comButton->click();
    }
    window.reset();
    line.reset();
    scratch.reset();
}

QStringList TestWidget::switchedTexts() const
{
    return {
        window->windowTitle(),
        child<QGroupBox>("groupBox")->title(),
        child<QLabel>("label")->text(),
        child<QLabel>("label_2")->text(),
        child<QLabel>("label_3")->text(),
        child<QLabel>("label_5")->text(),
        comButton->text(),
        transmitBrowse->text(),
        transmitButton->text(),
        promptBox->windowTitle(),
        promptBox->text(),
        successBox->windowTitle(),
        successBox->text(),
        continueButton->text(),
        closeButton->text(),
        failureBox->windowTitle(),
        failureBox->text(),
        child<QLabel>("label_6")->text(),
        child<QLabel>("label_7")->text(),
        child<QLabel>("label_10")->text(),
        mode->itemText(0),
        mode->itemText(1),
    };
}

// The window lists only real serial ports; the board's line is offered the
// way a port that appeared in the list would be.
void TestWidget::selectLine(const QString &path)
{
    comPort->addItem(path);
    comPort->setCurrentIndex(comPort->count() - 1);
}

void TestWidget::openPort()
{
    selectLine(line->slavePath());
    QTest::mouseClick(comButton, Qt::LeftButton);
    QVERIFY(promptBox->isVisible());
}

// The board is reset: its boot monitor prints and must get its "1".
bool TestWidget::boardBooted()
{
    line->write(BootOutput);
    return line->read(1, 1500) == "1";
}

SeenDialog TestWidget::chooseFile(const QString &path)
{
    SeenDialog seen;
    ModalAnswer answer([&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog)
            return false;
        seen.title = dialog->windowTitle();
        seen.filters = dialog->nameFilters();
        for (QAbstractButton *button : dialog->findChildren<QAbstractButton *>()) {
            if (qobject_cast<QDialogButtonBox *>(button->parent()))
                seen.buttons << button->text();
        }
        if (path.isEmpty()) {
            dialog->reject();
        } else {
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            if (!name)
                return false;
            name->setText(path);
            // QFileDialog::accept() checks the choice as its Open button does.
            static_cast<QDialog *>(dialog)->accept();
        }
        return true;
    });
    QTest::mouseClick(transmitBrowse, Qt::LeftButton);
    seen.answered = answer.answered();
    return seen;
}

SeenDialog TestWidget::clickAndAnswerWarning()
{
    SeenDialog seen;
    ModalAnswer answer([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box || box == promptBox || box == successBox || box == failureBox)
            return false;
        seen.title = box->windowTitle();
        seen.text = box->text();
        for (QAbstractButton *button : box->buttons())
            seen.buttons << button->text();
        box->buttons().first()->click();
        return true;
    });
    QTest::mouseClick(comButton, Qt::LeftButton);
    seen.answered = answer.answered();
    return seen;
}

void TestWidget::prepareImage(const QString &path, int size)
{
    image = path;
    QVERIFY(writeFile(image, randomBytes(size, quint32(size))));
}

void TestWidget::listsThePortsPresent()
{
    QStringList present;
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
        present << port.portName();
    QStringList listed;
    for (int i = 0; i < comPort->count(); ++i)
        listed << comPort->itemText(i);
    QCOMPARE(listed, present);
    QCOMPARE(comPort->currentIndex(), present.isEmpty() ? -1 : 0);
    QVERIFY(window->isVisible());
}

void TestWidget::startsWithItsIconAndIdleControls()
{
    const QIcon icon = window->windowIcon();
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.actualSize(QSize(1024, 1024)), QSize(225, 225));

    QVERIFY(comButton->isEnabled());
    QCOMPARE(comButton->text(), QStringLiteral("打开串口"));
    QVERIFY(!transmitBrowse->isEnabled());
    QVERIFY(!transmitButton->isEnabled());
    QCOMPARE(transmitButton->text(), QStringLiteral("发送"));
    QCOMPARE(progress->value(), 0);
    QCOMPARE(successes->text(), QStringLiteral("0"));
    QCOMPARE(failures->text(), QStringLiteral("0"));
    QVERIFY(!promptBox->isVisible() && !successBox->isVisible() && !failureBox->isVisible());
}

void TestWidget::openingShowsResetPrompt_data()
{
    QTest::addColumn<bool>("english");
    QTest::addColumn<QString>("baudRate");
    QTest::addColumn<int>("speed");

    QTest::newRow("Chinese, default 115200") << false << QStringLiteral("115200") << int(B115200);
    QTest::newRow("English, 9600") << true << QStringLiteral("9600") << int(B9600);
    QTest::newRow("Chinese, 921600") << false << QStringLiteral("921600") << int(B921600);
}

void TestWidget::openingShowsResetPrompt()
{
    QFETCH(bool, english);
    QFETCH(QString, baudRate);
    QFETCH(int, speed);
    const Vocabulary words = vocabulary(english);

    setEnglish(english);
    comBaudRate->setCurrentText(baudRate);
    openPort();

    QCOMPARE(promptBox->windowModality(), Qt::WindowModal);
    QCOMPARE(promptBox->windowTitle(), words.promptTitle);
    QCOMPARE(promptBox->text(), words.promptText);
    QCOMPARE(promptBox->buttons().size(), 1);
    QCOMPARE(promptBox->buttons().first()->text(), QStringLiteral("关闭"));
    QCOMPARE(comButton->text(), words.portOpened);
    QVERIFY(!comPort->isEnabled());
    QVERIFY(!comBaudRate->isEnabled());
    QVERIFY(!transmitBrowse->isEnabled());
    QVERIFY(!transmitButton->isEnabled());
    QVERIFY(!lineIsFree(line->slavePath()));

    // The window took the line exclusively; only root can look at it now.
    const int fd
        = ::open(line->slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 && errno == EBUSY)
        QSKIP("reading the line settings of an exclusively opened port needs root");
    QVERIFY(fd >= 0);
    termios settings;
    const bool read = tcgetattr(fd, &settings) == 0;
    ::close(fd);
    QVERIFY(read);
    QCOMPARE(int(cfgetospeed(&settings)), speed);
    QCOMPARE(int(cfgetispeed(&settings)), speed);
    QCOMPARE(settings.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
}

void TestWidget::openingEnablesSendByMode_data()
{
    QTest::addColumn<bool>("automatic");
    QTest::addColumn<bool>("fileChosen");
    QTest::addColumn<bool>("sendEnabled");

    QTest::newRow("manual mode, file chosen") << false << true << true;
    QTest::newRow("automatic mode, file chosen") << true << true << false;
    QTest::newRow("manual mode, no file") << false << false << false;
    QTest::newRow("automatic mode, no file") << true << false << false;
}

void TestWidget::openingEnablesSendByMode()
{
    QFETCH(bool, automatic);
    QFETCH(bool, fileChosen);
    QFETCH(bool, sendEnabled);

    if (fileChosen) {
        prepareImage(scratch->filePath(QStringLiteral("image.bin")), 100);
        openPort();
        line->write("C");
        QTRY_VERIFY(transmitBrowse->isEnabled());
        QVERIFY(chooseFile(image).answered);
        QVERIFY(transmitButton->isEnabled());
        QTest::mouseClick(comButton, Qt::LeftButton);
        QVERIFY(!transmitButton->isEnabled());
    } else {
        selectLine(line->slavePath());
    }

    mode->setCurrentIndex(automatic ? 1 : 0);
    QTest::mouseClick(comButton, Qt::LeftButton);
    QVERIFY(promptBox->isVisible());
    QCOMPARE(transmitButton->isEnabled(), sendEnabled);
    QVERIFY(!transmitBrowse->isEnabled());
}

void TestWidget::failedOpenWarnsAndChangesNothing_data()
{
    QTest::addColumn<bool>("english");
    QTest::addColumn<bool>("portListed");

    QTest::newRow("Chinese, no port listed") << false << false;
    QTest::newRow("English, no port listed") << true << false;
    QTest::newRow("Chinese, port held by another program") << false << true;
    QTest::newRow("English, port held by another program") << true << true;
}

void TestWidget::failedOpenWarnsAndChangesNothing()
{
    QFETCH(bool, english);
    QFETCH(bool, portListed);
    const Vocabulary words = vocabulary(english);

    setEnglish(english);
    std::unique_ptr<QSerialPort> holder;
    if (portListed) {
        selectLine(line->slavePath());
        holder.reset(new QSerialPort(line->slavePath()));
        QVERIFY(holder->open(QIODevice::ReadWrite));
    } else {
        comPort->clear();
    }
    const QString buttonText = comButton->text();

    const SeenDialog warning = clickAndAnswerWarning();
    QVERIFY(warning.answered);
    QCOMPARE(warning.title, words.warningTitle);
    QCOMPARE(warning.text, words.warningText);
    QCOMPARE(warning.buttons, QStringList { words.warningButton });

    QCOMPARE(comButton->text(), buttonText);
    QVERIFY(comPort->isEnabled());
    QVERIFY(comBaudRate->isEnabled());
    QVERIFY(!promptBox->isVisible());
    QVERIFY(!transmitBrowse->isEnabled());
    QVERIFY(!transmitButton->isEnabled());

    // The port is still closed as far as the button knows: the next click
    // tries to open again rather than close.
    if (portListed) {
        holder.reset();
        QTest::mouseClick(comButton, Qt::LeftButton);
        QVERIFY(promptBox->isVisible());
        QCOMPARE(comButton->text(), words.portOpened);
    } else {
        const SeenDialog again = clickAndAnswerWarning();
        QVERIFY(again.answered);
        QCOMPARE(again.title, words.warningTitle);
    }
}

void TestWidget::closingReleasesLineAndResetsControls_data()
{
    QTest::addColumn<bool>("english");

    QTest::newRow("Chinese") << false;
    QTest::newRow("English") << true;
}

void TestWidget::closingReleasesLineAndResetsControls()
{
    QFETCH(bool, english);
    const Vocabulary words = vocabulary(english);

    setEnglish(english);
    prepareImage(scratch->filePath(QStringLiteral("image.bin")), 100);
    openPort();
    line->write("C");
    QTRY_VERIFY(transmitBrowse->isEnabled());
    QVERIFY(chooseFile(image).answered);
    QVERIFY(transmitButton->isEnabled());
    // What a previous transfer left on the bar.
    progress->setValue(37);

    QTest::mouseClick(comButton, Qt::LeftButton);
    QVERIFY(lineIsFree(line->slavePath()));
    QCOMPARE(comButton->text(), words.portClosed);
    QVERIFY(comPort->isEnabled());
    QVERIFY(comBaudRate->isEnabled());
    QCOMPARE(progress->value(), 0);
    QVERIFY(!transmitBrowse->isEnabled());
    QVERIFY(!transmitButton->isEnabled());
    QCOMPARE(transmitPath->text(), image);

    QTest::mouseClick(comButton, Qt::LeftButton);
    QVERIFY(promptBox->isVisible());
    QCOMPARE(comButton->text(), words.portOpened);
}

void TestWidget::markerIsAnsweredOnceAtNextTick_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<bool>("answered");

    QTest::newRow("F eighth from the end") << BootOutput << true;
    QTest::newRow("exactly eight bytes, F first") << QByteArray("F> ymd\r\n") << true;
    QTest::newRow("F last") << QByteArray("Trelvo boot monitor F") << false;
    QTest::newRow("F seventh from the end") << QByteArray("Trelvo boot monitorF ymd\r\n") << false;
    QTest::newRow("F ninth from the end") << QByteArray("Trelvo bootF>  ymd\r\n") << false;
    QTest::newRow("seven bytes, F first") << QByteArray("F ymd\r\n") << false;
    QTest::newRow("lower-case f eighth from the end") << QByteArray("Trelvo f> ymd\r\n") << false;
}

void TestWidget::markerIsAnsweredOnceAtNextTick()
{
    QFETCH(QByteArray, output);
    QFETCH(bool, answered);

    openPort();
    // Just after a tick, so that the next tick can be told from the one after.
    QTRY_VERIFY(handshakeTimer->remainingTime() > 400);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(line->write(output));

    if (!answered) {
        QCOMPARE(line->read(1, SilenceWindow), QByteArray());
        QVERIFY(promptBox->isVisible());
        return;
    }
    QCOMPARE(line->read(1, NextTickDeadline), QByteArray("1"));
    QVERIFY2(clock.elapsed() < NextTickDeadline, "the answer waited for a later tick");
    QVERIFY(!promptBox->isVisible());

    // One answer per board: a repeated marker gets no second "1".
    QVERIFY(line->write(output));
    QCOMPARE(line->read(1, SilenceWindow), QByteArray());
}

void TestWidget::lastChunkBeforeTickDecides_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<bool>("answered");

    // Both chunks begin a line with "CPU", so the window's reading of the
    // first shows as the browse button coming on.
    QTest::newRow("marker, then output without it")
        << QByteArray("CPU 72 MHz\r\nF> ymd\r\n") << PlainOutput << false;
    QTest::newRow("output without marker, then marker")
        << QByteArray("CPU 72 MHz\r\nwaiting\r\n") << BootOutput << true;
}

void TestWidget::lastChunkBeforeTickDecides()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(bool, answered);

    openPort();
    QTRY_VERIFY(handshakeTimer->remainingTime() > 400);
    QVERIFY(line->write(first));
    QTRY_VERIFY_WITH_TIMEOUT(transmitBrowse->isEnabled(), 200);
    QVERIFY(line->write(second));
    QVERIFY2(handshakeTimer->remainingTime() > 100, "the chunks straddled a tick");

    QCOMPARE(line->read(1, SilenceWindow), answered ? QByteArray("1") : QByteArray());
}

void TestWidget::readinessEnablesBrowseOnly_data()
{
    QTest::addColumn<bool>("automatic");

    QTest::newRow("manual mode") << false;
    QTest::newRow("automatic mode, nothing sent yet") << true;
}

void TestWidget::readinessEnablesBrowseOnly()
{
    QFETCH(bool, automatic);

    mode->setCurrentIndex(automatic ? 1 : 0);
    prepareImage(scratch->filePath(QStringLiteral("image.bin")), 100);
    openPort();
    line->write("C");
    QTRY_VERIFY(transmitBrowse->isEnabled());
    QVERIFY(!promptBox->isVisible());
    QVERIFY(chooseFile(image).answered);
    QVERIFY(transmitButton->isEnabled());

    // The boot output that follows shows the 'C's were read; and no transfer
    // took the line, for the window still hears the board.
    line->write("CCC");
    QVERIFY(boardBooted());
    QVERIFY(!lineIsFree(line->slavePath()));
    QVERIFY(transmitBrowse->isEnabled());
    QVERIFY(transmitButton->isEnabled());
    QCOMPARE(transmitButton->text(), QStringLiteral("发送"));
    QVERIFY(comButton->isEnabled());
}

void TestWidget::fileChoiceSetsPathAndSend_data()
{
    QTest::addColumn<bool>("english");
    QTest::addColumn<bool>("cancelled");

    QTest::newRow("Chinese, file chosen") << false << false;
    QTest::newRow("English, file chosen") << true << false;
    QTest::newRow("Chinese, dialog cancelled") << false << true;
    QTest::newRow("English, dialog cancelled") << true << true;
}

void TestWidget::fileChoiceSetsPathAndSend()
{
    QFETCH(bool, english);
    QFETCH(bool, cancelled);
    const Vocabulary words = vocabulary(english);

    setEnglish(english);
    prepareImage(scratch->filePath(QStringLiteral("first.bin")), 100);
    const QString second = scratch->filePath(QStringLiteral("second.bin"));
    QVERIFY(writeFile(second, "image"));
    openPort();
    line->write("C");
    QTRY_VERIFY(transmitBrowse->isEnabled());
    QVERIFY(chooseFile(image).answered);
    QCOMPARE(transmitPath->text(), image);
    QVERIFY(transmitButton->isEnabled());

    const SeenDialog dialog = chooseFile(cancelled ? QString() : second);
    QVERIFY(dialog.answered);
    QCOMPARE(dialog.title, words.dialogCaption);
    QCOMPARE(dialog.filters, QStringList { words.dialogFilter });
    QCOMPARE(transmitPath->text(), cancelled ? QString() : second);
    QCOMPARE(transmitButton->isEnabled(), !cancelled);
}

void TestWidget::failedStartChangesOnlyTheCounter()
{
    // The board's adapter appears under a name of its own, which goes away
    // when it is unplugged.
    const QString adapter = scratch->filePath(QStringLiteral("ttyBoard"));
    QVERIFY(QFile::link(line->slavePath(), adapter));
    prepareImage(scratch->filePath(QStringLiteral("image.bin")), 100);
    selectLine(adapter);
    QTest::mouseClick(comButton, Qt::LeftButton);
    QVERIFY(promptBox->isVisible());
    line->write("C");
    QTRY_VERIFY(transmitBrowse->isEnabled());
    QVERIFY(chooseFile(image).answered);
    progress->setValue(37);

    QVERIFY(QFile::remove(adapter));
    QTest::mouseClick(transmitButton, Qt::LeftButton);
    QVERIFY(failureBox->isVisible());
    QCOMPARE(failureBox->windowModality(), Qt::WindowModal);
    QCOMPARE(failures->text(), QStringLiteral("1"));
    QCOMPARE(successes->text(), QStringLiteral("0"));
    QVERIFY(comButton->isEnabled());
    QCOMPARE(comButton->text(), QStringLiteral("关闭串口"));
    QVERIFY(transmitBrowse->isEnabled());
    QVERIFY(transmitButton->isEnabled());
    QCOMPARE(transmitButton->text(), QStringLiteral("发送"));
    QCOMPARE(progress->value(), 37);
    QVERIFY(lineIsFree(line->slavePath()));

    // Nothing runs that a press could cancel: the next press tries again.
    QTest::mouseClick(failureBox->buttons().first(), Qt::LeftButton);
    QVERIFY(!failureBox->isVisible());
    QTest::mouseClick(transmitButton, Qt::LeftButton);
    QCOMPARE(failures->text(), QStringLiteral("2"));
}

void TestWidget::languageSwitchRewritesTexts_data()
{
    QTest::addColumn<QList<int>>("choices");
    QTest::addColumn<int>("column");

    QTest::newRow("at start-up") << QList<int> {} << 0;
    QTest::newRow("English") << QList<int> { 1 } << 2;
    QTest::newRow("English, then Chinese") << QList<int> { 1, 0 } << 1;
    QTest::newRow("English, Chinese, English again") << QList<int> { 1, 0, 1 } << 2;
}

void TestWidget::languageSwitchRewritesTexts()
{
    QFETCH(QList<int>, choices);
    QFETCH(int, column);

    for (int choice : choices)
        language->setCurrentIndex(choice);

    const QStringList actual = switchedTexts();
    QCOMPARE(actual.size(), int(std::size(SwitchedTexts)));
    for (int i = 0; i < actual.size(); ++i) {
        const SwitchedText &text = SwitchedTexts[i];
        const QString expected = QString::fromUtf8(column == 0 ? text.startup
                : column == 1                                  ? text.chinese
                                                               : text.english);
        QVERIFY2(actual.at(i) == expected,
            qPrintable(QStringLiteral("%1: \"%2\", expected \"%3\"")
                           .arg(QLatin1String(text.target), actual.at(i), expected)));
    }

    // Left alone in both directions.
    QCOMPARE(child<QLabel>("label_4")->text(), QStringLiteral("语言/language\uFF1A"));
    QCOMPARE(child<QGroupBox>("groupBox_2")->title(), QStringLiteral("文件发送"));
    QCOMPARE(language->itemText(0), QStringLiteral("中文"));
    QCOMPARE(language->itemText(1), QStringLiteral("English"));
    QCOMPARE(comBaudRate->currentText(), QStringLiteral("115200"));
    QCOMPARE(promptBox->buttons().first()->text(), QStringLiteral("关闭"));
    QCOMPARE(successes->text(), QStringLiteral("0"));
    QCOMPARE(failures->text(), QStringLiteral("0"));
}

void TestWidget::languageSwitchKeepsPortOpen()
{
    openPort();
    line->write("C");
    QTRY_VERIFY(!promptBox->isVisible());

    setEnglish(true);
    QCOMPARE(comButton->text(), QStringLiteral("open serial port"));
    QVERIFY(!lineIsFree(line->slavePath()));
    QVERIFY(boardBooted());

    QTest::mouseClick(comButton, Qt::LeftButton);
    QVERIFY(lineIsFree(line->slavePath()));
    QVERIFY(comPort->isEnabled());
    QCOMPARE(comButton->text(), QStringLiteral("open serial port"));
}

void TestWidget::qtTextsFollowTheLanguage_data()
{
    QTest::addColumn<QList<int>>("choices");
    QTest::addColumn<QStringList>("dialogButtons");
    QTest::addColumn<QString>("ok");

    const QStringList chinese { QStringLiteral("打开(&O)"), QStringLiteral("取消") };
    const QStringList english { QStringLiteral("&Open"), QStringLiteral("Cancel") };
    QTest::newRow("Chinese at start-up") << QList<int> {} << chinese << QStringLiteral("确定");
    QTest::newRow("English") << QList<int> { 1 } << english << QStringLiteral("OK");
    QTest::newRow("English, then Chinese")
        << QList<int> { 1, 0 } << chinese << QStringLiteral("确定");
    QTest::newRow("English, Chinese, English again")
        << QList<int> { 1, 0, 1 } << english << QStringLiteral("OK");
}

// Qt's own texts come from its shipped translation; a standard button that
// exists already is renamed when the language changes, except the reset
// prompt's, which carries the window's own word.
void TestWidget::qtTextsFollowTheLanguage()
{
    QFETCH(QList<int>, choices);
    QFETCH(QStringList, dialogButtons);
    QFETCH(QString, ok);

    failureBox->show();
    failureBox->hide();
    for (int choice : choices)
        language->setCurrentIndex(choice);
    QTRY_COMPARE(failureBox->button(QMessageBox::Ok)->text(), ok);
    QCOMPARE(promptBox->button(QMessageBox::Ok)->text(), QStringLiteral("关闭"));

    openPort();
    line->write("C");
    QTRY_VERIFY(transmitBrowse->isEnabled());
    const SeenDialog dialog = chooseFile(QString());
    QVERIFY(dialog.answered);
    QCOMPARE(dialog.buttons, dialogButtons);
}

void TestWidget::failureCounterWrapsAt16Bits()
{
    const QString adapter = scratch->filePath(QStringLiteral("ttyBoard"));
    QVERIFY(QFile::link(line->slavePath(), adapter));
    prepareImage(scratch->filePath(QStringLiteral("image.bin")), 100);
    selectLine(adapter);
    QTest::mouseClick(comButton, Qt::LeftButton);
    line->write("C");
    QTRY_VERIFY(transmitBrowse->isEnabled());
    QVERIFY(chooseFile(image).answered);
    QVERIFY(QFile::remove(adapter));
    transmitButton->click();
    // Plugged in again, but taken by another program: each start now fails
    // at the port's lock, without touching the disk.
    QVERIFY(QFile::link(line->slavePath(), adapter));
    QSerialPort holder(adapter);
    QVERIFY(holder.open(QIODevice::ReadWrite));

    // The failure box stays up between presses; only the count matters here.
    for (int start = 1; start < 65535; ++start)
        transmitButton->click();
    QCOMPARE(failures->text(), QStringLiteral("65535"));
    transmitButton->click();
    QCOMPARE(failures->text(), QStringLiteral("0"));
    transmitButton->click();
    QCOMPARE(failures->text(), QStringLiteral("1"));
}

OFFSCREEN_TEST_MAIN(TestWidget)
#include "tst_widget.moc"
