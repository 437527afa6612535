#include "offscreentestmain.h"
#include "testfiles.h"
#include "widget.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

const QString PromptText = QStringLiteral("如需烧录，请复位Trelvo！");
const QString SuccessText = QStringLiteral("文件发送成功");
const QString FailureText = QStringLiteral("文件发送失败！\r\n请重新打开串口");
const QString OpenPortText = QStringLiteral("打开串口");
const QString ClosePortText = QStringLiteral("关闭串口");
const QString SendText = QStringLiteral("发送");
const QString CancelText = QStringLiteral("取消");
const QString ContinueText = QStringLiteral("继续烧录");

// The marker is answered at the next 500 ms tick; rb needs about a second
// before its first request.
const int BoardReadyMs = 5000;
// A few KiB take well under a second at one block per 10 ms poll; the
// margin is for sanitizer builds on a busy machine.
const int TransferMs = 20000;
// A sender that hears nothing gives up after 3000 quiet polls of a little
// more than 10 ms each.
const int SilentBoardMs = 60000;

// The simulated board as a child process. Its first line names the line's
// device; every further line reports an event of one of its boards.
class BoardProcess
{
public:
    ~BoardProcess()
    {
        process.kill();
        process.waitForFinished();
    }

    bool start(const QStringList &arguments)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(BOARD_PROGRAM), arguments);
        while (!process.canReadLine()) {
            if (!process.waitForReadyRead(5000))
                return false;
        }
        path = QString::fromLocal8Bit(process.readLine()).trimmed();
        return !path.isEmpty();
    }

    QString linePath() const { return path; }

    const QStringList &reports()
    {
        while (process.canReadLine())
            lines << QString::fromLocal8Bit(process.readLine()).trimmed();
        return lines;
    }

    // How often board number reported event.
    int count(int number, const QString &event)
    {
        return reports().count(QStringLiteral("board %1: %2").arg(number).arg(event));
    }

    // Whether board number reported an event that starts with start.
    bool reported(int number, const QString &start)
    {
        const QString line = QStringLiteral("board %1: %2").arg(number).arg(start);
        for (const QString &report : reports()) {
            if (report.startsWith(line))
                return true;
        }
        return false;
    }

private:
    QProcess process;
    QString path;
    QStringList lines;
};

} // namespace

class tst_EndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void manualModeOneBoardThenAnother();
    void automaticModeRunsBoardAfterBoard();
    void failedTransferThenReopenedPort_data();
    void failedTransferThenReopenedPort();
    void damagedBlockIsSentAgain();

private:
    template <typename T> T *control(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    QMessageBox *messageBox(const QString &text) const;
    QString writeImage(const QString &name, int size, quint32 seed);
    QString received(int board, const QString &name) const;
    void startBoard(const QStringList &arguments);
    void openPort();
    void chooseFile(const QString &path);
    void sendToBoard(int board, const QString &image);

    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<BoardProcess> board;
    std::unique_ptr<Widget> window;
};

void tst_EndToEnd::init()
{
    folder.reset(new QTemporaryDir);
    QVERIFY(folder->isValid());
    board.reset(new BoardProcess);
    window.reset(new Widget);
    window->show();
}

void tst_EndToEnd::cleanup()
{
    // Whether the port is open is one flag for the whole process, so the
    // next test's window would take it over.
    auto comButton = control<QPushButton>("comButton");
    if (comButton->text() == ClosePortText && comButton->isEnabled())
        comButton->click();
    window.reset();
    board.reset();
    folder.reset();
}

QMessageBox *tst_EndToEnd::messageBox(const QString &text) const
{
    for (QMessageBox *box : window->findChildren<QMessageBox *>()) {
        if (box->text() == text)
            return box;
    }
    return nullptr;
}

QString tst_EndToEnd::writeImage(const QString &name, int size, quint32 seed)
{
    const QString path = folder->filePath(name);
    return writeFile(path, randomBytes(size, seed)) ? path : QString();
}

QString tst_EndToEnd::received(int board, const QString &name) const
{
    return folder->filePath(QStringLiteral("boards/board-%1/%2").arg(board).arg(name));
}

void tst_EndToEnd::startBoard(const QStringList &arguments)
{
    QVERIFY2(board->start(QStringList { QStringLiteral("--folder"), folder->filePath("boards") }
                 + arguments),
             "the simulated board did not name its line");
}

void tst_EndToEnd::openPort()
{
    auto comPort = control<QComboBox>("comPort");
    comPort->addItem(board->linePath());
    comPort->setCurrentIndex(comPort->count() - 1);
    control<QPushButton>("comButton")->click();
    QCOMPARE(control<QPushButton>("comButton")->text(), ClosePortText);
    QVERIFY(messageBox(PromptText));
    QVERIFY(messageBox(PromptText)->isVisible());
}

void tst_EndToEnd::chooseFile(const QString &path)
{
    // The file dialog blocks in its own event loop, which serves this timer.
    QString caption;
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&] {
        auto dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        answer.stop();
        caption = dialog->windowTitle();
        // Typed as an operator would: selectFile() leaves a focused name
        // field alone.
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
        static_cast<QDialog *>(dialog)->accept();
        if (dialog->isVisible())
            dialog->reject();
    });
    answer.start(10);
    control<QPushButton>("transmitBrowse")->click();
    answer.stop();
    QCOMPARE(caption, QStringLiteral("打开文件"));
    QCOMPARE(control<QLineEdit>("transmitPath")->text(), path);
}

// What an operator does once the board in front of them asks for the file.
void tst_EndToEnd::sendToBoard(int number, const QString &image)
{
    QTRY_VERIFY_WITH_TIMEOUT(board->reported(number, "asks for the file"),
                             BoardReadyMs);
    auto browse = control<QPushButton>("transmitBrowse");
    auto send = control<QPushButton>("transmitButton");
    QTRY_VERIFY(browse->isEnabled());
    chooseFile(image);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(send->isEnabled());
    send->click();
    QVERIFY(!control<QPushButton>("comButton")->isEnabled());
    QVERIFY(!browse->isEnabled());
    QVERIFY(send->isEnabled());
    QCOMPARE(send->text(), CancelText);
}

void tst_EndToEnd::manualModeOneBoardThenAnother()
{
    startBoard({ QStringLiteral("--boards"), QStringLiteral("2") });
    const QString first = writeImage(QStringLiteral("first.bin"), 5000, 1);
    // Two full blocks and a 128-byte one.
    const QString second = writeImage(QStringLiteral("second.bin"), 2176, 2);
    auto browse = control<QPushButton>("transmitBrowse");
    auto send = control<QPushButton>("transmitButton");
    auto successes = control<QLabel>("label_8");
    auto failures = control<QLabel>("label_9");
    auto prompt = messageBox(PromptText);
    auto success = messageBox(SuccessText);
    QVERIFY(prompt && success);

    openPort();
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!browse->isEnabled());
    QVERIFY(!send->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(board->count(1, "answered"), 1, BoardReadyMs);
    QTRY_VERIFY(!prompt->isVisible());
    sendToBoard(1, first);
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY_WITH_TIMEOUT(success->isVisible(), TransferMs);
    QCOMPARE(successes->text(), QStringLiteral("1"));
    QCOMPARE(failures->text(), QStringLiteral("0"));
    QVERIFY(control<QPushButton>("comButton")->isEnabled());
    QVERIFY(browse->isEnabled());
    QCOMPARE(send->text(), SendText);
    QCOMPARE(control<QProgressBar>("transmitProgress")->value(), 100);
    QTRY_VERIFY(board->reported(1, "received"));
    QCOMPARE(readFile(received(1, QStringLiteral("first.bin"))), randomBytes(5000, 1));

    QPushButton *continueButton = nullptr;
    for (QAbstractButton *button : success->buttons()) {
        if (button->text() == ContinueText)
            continueButton = qobject_cast<QPushButton *>(button);
    }
    QVERIFY(continueButton);
    continueButton->click();
    QVERIFY(prompt->isVisible());
    QCOMPARE(control<QProgressBar>("transmitProgress")->value(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(board->count(2, "answered"), 1, BoardReadyMs);
    sendToBoard(2, second);
    if (QTest::currentTestFailed())
        return;
    QTRY_COMPARE_WITH_TIMEOUT(successes->text(), QStringLiteral("2"), TransferMs);
    QVERIFY(success->isVisible());
    QCOMPARE(failures->text(), QStringLiteral("0"));
    QTRY_VERIFY(board->reported(2, "received"));
    QCOMPARE(readFile(received(2, QStringLiteral("second.bin"))), randomBytes(2176, 2));

    // One "1" per board: a second one would reach the board while its
    // receiver starts up.
    QCOMPARE(board->count(1, "answered"), 1);
    QCOMPARE(board->count(2, "answered"), 1);
    QVERIFY2(!board->reports().join('\n').contains(QStringLiteral("unexpected")),
             qPrintable(board->reports().join('\n')));
}

void tst_EndToEnd::automaticModeRunsBoardAfterBoard()
{
    startBoard({ QStringLiteral("--boards"), QStringLiteral("4") });
    const QString image = writeImage(QStringLiteral("image.bin"), 6000, 3);
    auto browse = control<QPushButton>("transmitBrowse");
    auto send = control<QPushButton>("transmitButton");
    auto successes = control<QLabel>("label_8");
    auto prompt = messageBox(PromptText);
    auto success = messageBox(SuccessText);
    QVERIFY(prompt && success);
    control<QComboBox>("comboBox_2")->setCurrentIndex(1);

    openPort();
    if (QTest::currentTestFailed())
        return;
    sendToBoard(1, image);
    if (QTest::currentTestFailed())
        return;
    QTRY_COMPARE_WITH_TIMEOUT(successes->text(), QStringLiteral("1"), TransferMs);
    QVERIFY(prompt->isVisible());
    QVERIFY(!success->isVisible());
    QVERIFY(control<QPushButton>("comButton")->isEnabled());
    QVERIFY(!browse->isEnabled());
    QVERIFY(!send->isEnabled());
    QCOMPARE(send->text(), SendText);

    // Nobody touches the window from here on.
    QTRY_COMPARE_WITH_TIMEOUT(successes->text(), QStringLiteral("4"), 4 * TransferMs);
    QCOMPARE(control<QLabel>("label_9")->text(), QStringLiteral("0"));
    QVERIFY(!success->isVisible());
    QVERIFY(!messageBox(FailureText)->isVisible());
    QTRY_VERIFY(board->reports().contains("all 4 boards done"));
    for (int number = 1; number <= 4; ++number) {
        QCOMPARE(board->count(number, "answered"), 1);
        QCOMPARE(readFile(received(number, QStringLiteral("image.bin"))), randomBytes(6000, 3));
    }
}

void tst_EndToEnd::failedTransferThenReopenedPort_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<bool>("operatorCancels");
    QTest::addColumn<QString>("boardReport");
    QTest::addColumn<int>("failureMs");

    QTest::newRow("operator cancels during the transfer")
        << QStringList() << true << QStringLiteral("the transfer failed") << 2000;
    QTest::newRow("board cancels at block 3")
        << QStringList { QStringLiteral("--cancel"), QStringLiteral("1") } << false
        << QStringLiteral("cancelled the transfer at block 3") << TransferMs;
    QTest::newRow("board falls silent after its first request")
        << QStringList { QStringLiteral("--silent"), QStringLiteral("1") } << false
        << QStringLiteral("the tool gave up") << SilentBoardMs;
}

// A failure leaves the handshake stopped after its answered marker; the
// failure box tells the operator to re-open the port, and that must be
// enough for the next board to be answered and programmed.
void tst_EndToEnd::failedTransferThenReopenedPort()
{
    QFETCH(QStringList, faults);
    QFETCH(bool, operatorCancels);
    QFETCH(QString, boardReport);
    QFETCH(int, failureMs);

    startBoard(QStringList { QStringLiteral("--boards"), QStringLiteral("2") } + faults);
    // Long enough to be cancelled in the middle: a hundred blocks.
    const QString large = writeImage(QStringLiteral("large.bin"), 100 * 1024, 4);
    const QString small = writeImage(QStringLiteral("small.bin"), 3000, 5);
    auto comButton = control<QPushButton>("comButton");
    auto browse = control<QPushButton>("transmitBrowse");
    auto send = control<QPushButton>("transmitButton");
    auto progress = control<QProgressBar>("transmitProgress");
    auto prompt = messageBox(PromptText);
    auto failure = messageBox(FailureText);
    auto success = messageBox(SuccessText);
    QVERIFY(prompt && failure && success);

    openPort();
    if (QTest::currentTestFailed())
        return;
    sendToBoard(1, large);
    if (QTest::currentTestFailed())
        return;
    if (operatorCancels) {
        QTRY_VERIFY_WITH_TIMEOUT(progress->value() > 0, TransferMs);
        QVERIFY(progress->value() < 100);
        send->click();
        // The window hears of the cancel only when the transmitter reports
        // it, about 100 ms later.
        QVERIFY(!failure->isVisible());
        QCOMPARE(send->text(), CancelText);
    }
    QTRY_VERIFY_WITH_TIMEOUT(failure->isVisible(), failureMs);
    QCOMPARE(control<QLabel>("label_9")->text(), QStringLiteral("1"));
    QCOMPARE(control<QLabel>("label_8")->text(), QStringLiteral("0"));
    QVERIFY(!success->isVisible());
    QCOMPARE(send->text(), SendText);
    QVERIFY(comButton->isEnabled());
    QVERIFY(browse->isEnabled());
    QCOMPARE(comButton->text(), ClosePortText);
    QTRY_VERIFY(board->reported(1, boardReport));
    QVERIFY(readFile(received(1, QStringLiteral("large.bin"))) != randomBytes(100 * 1024, 4));

    failure->button(QMessageBox::Ok)->click();
    comButton->click();
    QCOMPARE(comButton->text(), OpenPortText);
    QVERIFY(!browse->isEnabled());
    QVERIFY(!send->isEnabled());
    comButton->click();
    QCOMPARE(comButton->text(), ClosePortText);
    QVERIFY(prompt->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(board->count(2, "answered"), 1, BoardReadyMs);
    sendToBoard(2, small);
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY_WITH_TIMEOUT(success->isVisible(), TransferMs);
    QCOMPARE(control<QLabel>("label_8")->text(), QStringLiteral("1"));
    QCOMPARE(control<QLabel>("label_9")->text(), QStringLiteral("1"));
    QTRY_VERIFY(board->reported(2, "received"));
    QCOMPARE(readFile(received(2, QStringLiteral("small.bin"))), randomBytes(3000, 5));
}

// The receiver rejects the damaged block by its CRC and asks for it again,
// so the image still arrives intact.
void tst_EndToEnd::damagedBlockIsSentAgain()
{
    startBoard({ QStringLiteral("--corrupt"), QStringLiteral("1") });
    const QString image = writeImage(QStringLiteral("image.bin"), 5000, 6);
    auto success = messageBox(SuccessText);
    QVERIFY(success);

    openPort();
    if (QTest::currentTestFailed())
        return;
    sendToBoard(1, image);
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY_WITH_TIMEOUT(success->isVisible(), TransferMs);
    QCOMPARE(control<QLabel>("label_8")->text(), QStringLiteral("1"));
    QCOMPARE(control<QLabel>("label_9")->text(), QStringLiteral("0"));
    QTRY_VERIFY(board->reported(1, "received"));
    QVERIFY(board->reported(1, "damaged block 2 on the line"));
    QCOMPARE(readFile(received(1, QStringLiteral("image.bin"))), randomBytes(5000, 6));
}

OFFSCREEN_TEST_MAIN(tst_EndToEnd)

#include "tst_endtoend.moc"
