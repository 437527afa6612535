#include "boardprocess.h"
#include "commandline.h"
#include "offscreentestmain.h"
#include "testfiles.h"
#include "widget.h"
#include "windowtesting.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace
{

// The marker is answered at the next 500 ms tick; rb needs about a second
// before its first request.
const int BoardReadyMs = 5000;
// A few KiB take well under a second at one block per 10 ms poll; the
// margin is for sanitizer builds on a busy machine.
const int TransferMs = 20000;
// A sender that hears nothing gives up after 3000 quiet polls of a little
// more than 10 ms each.
const int SilentBoardMs = 60000;

// What the operator does while the first board's transfer is under way.
enum class Operator { Waits, Cancels, RemovesImage };

} // namespace

Q_DECLARE_METATYPE(Operator)

class tst_EndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void manualModeBoardAfterBoard_data();
    void manualModeBoardAfterBoard();
    void automaticModeRunsBoardAfterBoard();
    void failedTransferThenReopenedPort_data();
    void failedTransferThenReopenedPort();
    void damagedBlockIsSentAgain();
    void unpluggedDuringTransfer();
    void lineNamedOnTheCommandLine();

private:
    template <typename T> T *control(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    void useEnglish(bool english);
    QString writeImage(const QString &name, int size, quint32 seed);
    QString received(int board, const QString &name) const;
    void startBoard(const QStringList &arguments);
    void openPort(const QString &path = QString());
    void chooseFile(const QString &path);
    void chooseImageFor(int board, const QString &image);
    void startSending();
    void sendToBoard(int board, const QString &image);

    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<BoardProcess> board;
    std::unique_ptr<Widget> window;
    Vocabulary words;

    QPushButton *comButton = nullptr;
    QPushButton *browse = nullptr;
    QPushButton *send = nullptr;
    QProgressBar *progress = nullptr;
    QLabel *successes = nullptr;
    QLabel *failures = nullptr;
    QMessageBox *promptBox = nullptr;
    QMessageBox *successBox = nullptr;
    QMessageBox *failureBox = nullptr;
    QPushButton *continueButton = nullptr;
    QPushButton *closeButton = nullptr;
};

void tst_EndToEnd::init()
{
    folder.reset(new QTemporaryDir);
    QVERIFY(folder->isValid());
    board.reset(new BoardProcess(QStringLiteral(BOARD_PROGRAM)));
    window.reset(new Widget);
    window->show();
    words = vocabulary(false);

    comButton = control<QPushButton>("comButton");
    browse = control<QPushButton>("transmitBrowse");
    send = control<QPushButton>("transmitButton");
    progress = control<QProgressBar>("transmitProgress");
    successes = control<QLabel>("label_8");
    failures = control<QLabel>("label_9");
    QVERIFY(comButton && browse && send && progress && successes && failures);

    // Told apart by their start-up titles, which a language switch rewrites.
    promptBox = successBox = failureBox = nullptr;
    for (QMessageBox *box :
        window->findChildren<QMessageBox *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (box->windowTitle() == QStringLiteral("提示"))
            promptBox = box;
        else if (box->windowTitle() == QStringLiteral("成功"))
            successBox = box;
        else if (box->windowTitle() == QStringLiteral("失败"))
            failureBox = box;
    }
    QVERIFY(promptBox && successBox && failureBox);
    continueButton = closeButton = nullptr;
    for (QAbstractButton *button : successBox->buttons()) {
        if (button->text() == QStringLiteral("继续烧录"))
            continueButton = qobject_cast<QPushButton *>(button);
        else if (button->text() == QStringLiteral("关闭"))
            closeButton = qobject_cast<QPushButton *>(button);
    }
    QVERIFY(continueButton && closeButton);
}

void tst_EndToEnd::cleanup()
{
    // Whether the port is open is one flag for the whole process, so the
    // next test's window would take it over.
    if (window && !control<QComboBox>("comPort")->isEnabled()) {
        comButton->setEnabled(true);
        comButton->click();
    }
    window.reset();
    board.reset();
    folder.reset();
}

void tst_EndToEnd::useEnglish(bool english)
{
    control<QComboBox>("comboBox")->setCurrentIndex(english ? 1 : 0);
    words = vocabulary(english);
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

// The window lists only real serial ports; the board's line, or a name of
// its own for it, is offered the way a port that appeared in the list would be.
void tst_EndToEnd::openPort(const QString &path)
{
    auto comPort = control<QComboBox>("comPort");
    comPort->addItem(path.isEmpty() ? board->linePath() : path);
    comPort->setCurrentIndex(comPort->count() - 1);
    comButton->click();
    QCOMPARE(comButton->text(), words.portOpened);
    QVERIFY(promptBox->isVisible());
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
    browse->click();
    answer.stop();
    QCOMPARE(caption, words.dialogCaption);
    QCOMPARE(control<QLineEdit>("transmitPath")->text(), path);
}

// What an operator does once the board in front of them asks for the file.
void tst_EndToEnd::chooseImageFor(int number, const QString &image)
{
    QTRY_VERIFY_WITH_TIMEOUT(board->reported(number, "asks for the file"), BoardReadyMs);
    QTRY_VERIFY(browse->isEnabled());
    chooseFile(image);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(send->isEnabled());
}

void tst_EndToEnd::startSending()
{
    send->click();
    QVERIFY(!comButton->isEnabled());
    QVERIFY(!browse->isEnabled());
    QVERIFY(send->isEnabled());
    QCOMPARE(send->text(), words.transferRunning);
    QCOMPARE(progress->value(), 0);
}

void tst_EndToEnd::sendToBoard(int number, const QString &image)
{
    chooseImageFor(number, image);
    if (QTest::currentTestFailed())
        return;
    startSending();
}

void tst_EndToEnd::manualModeBoardAfterBoard_data()
{
    QTest::addColumn<bool>("english");
    QTest::addColumn<bool>("secondBoard");

    QTest::newRow("Chinese, continue to a second board, then close") << false << true;
    QTest::newRow("English, close after the first board") << true << false;
}

void tst_EndToEnd::manualModeBoardAfterBoard()
{
    QFETCH(bool, english);
    QFETCH(bool, secondBoard);

    useEnglish(english);
    // Two boards in either row: the simulated board takes its line away
    // after its last board, and the checks after the first transfer need it.
    startBoard({ QStringLiteral("--boards"), QStringLiteral("2") });
    const QString first = writeImage(QStringLiteral("first.bin"), 5000, 1);
    // Two full blocks and a 128-byte one.
    const QString second = writeImage(QStringLiteral("second.bin"), 2176, 2);

    openPort();
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!browse->isEnabled());
    QVERIFY(!send->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(board->count(1, "answered"), 1, BoardReadyMs);
    QTRY_VERIFY(!promptBox->isVisible());
    sendToBoard(1, first);
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY_WITH_TIMEOUT(successBox->isVisible(), TransferMs);
    QCOMPARE(successBox->windowModality(), Qt::WindowModal);
    QCOMPARE(successBox->windowTitle(), words.successTitle);
    QCOMPARE(successBox->text(), words.successText);
    QVERIFY(!failureBox->isVisible());
    QCOMPARE(successes->text(), QStringLiteral("1"));
    QCOMPARE(failures->text(), QStringLiteral("0"));
    QVERIFY(comButton->isEnabled());
    QCOMPARE(comButton->text(), words.portOpened);
    QVERIFY(browse->isEnabled());
    QVERIFY(send->isEnabled());
    QCOMPARE(send->text(), words.transferEnded);
    QCOMPARE(progress->value(), 100);
    // The window lets go of the line until the operator chooses to go on.
    QVERIFY(lineIsFree(board->linePath()));
    QTRY_VERIFY(board->reported(1, "received"));
    QCOMPARE(readFile(received(1, QStringLiteral("first.bin"))), randomBytes(5000, 1));

    if (secondBoard) {
        // Continue: the window takes the line again and waits for the next
        // board's boot monitor.
        continueButton->click();
        QVERIFY(!successBox->isVisible());
        QVERIFY(promptBox->isVisible());
        QCOMPARE(progress->value(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(board->count(2, "answered"), 1, BoardReadyMs);
        QTRY_VERIFY(!promptBox->isVisible());
        sendToBoard(2, second);
        if (QTest::currentTestFailed())
            return;
        QTRY_COMPARE_WITH_TIMEOUT(successes->text(), QStringLiteral("2"), TransferMs);
        QVERIFY(successBox->isVisible());
        QCOMPARE(failures->text(), QStringLiteral("0"));
        QTRY_VERIFY(board->reported(2, "received"));
        QCOMPARE(readFile(received(2, QStringLiteral("second.bin"))), randomBytes(2176, 2));
    }

    // Close: no further send until the operator starts over.
    closeButton->click();
    QVERIFY(!successBox->isVisible());
    QVERIFY(!send->isEnabled());
    QVERIFY(browse->isEnabled());
    QCOMPARE(progress->value(), 100);
    // The button still offers to close the port, and closing resets the bar.
    QCOMPARE(comButton->text(), words.portOpened);
    comButton->click();
    QCOMPARE(comButton->text(), words.portClosed);
    QCOMPARE(progress->value(), 0);
    QVERIFY(!browse->isEnabled());

    // One "1" per board: a second one would reach the board while its
    // receiver starts up.
    QCOMPARE(board->count(1, "answered"), 1);
    QCOMPARE(board->count(2, "answered"), secondBoard ? 1 : 0);
    QVERIFY2(!board->reports().join('\n').contains(QStringLiteral("unexpected")),
        qPrintable(board->reports().join('\n')));
}

// Four boards are programmed, the first started by hand; then the board's
// adapter is unplugged and the fifth board's start fails.
void tst_EndToEnd::automaticModeRunsBoardAfterBoard()
{
    const int programmed = 4;
    const int unplugged = programmed + 1;
    startBoard({ QStringLiteral("--boards"), QString::number(unplugged) });
    const QString image = writeImage(QStringLiteral("image.bin"), 6000, 3);
    // The adapter appears under a name of its own, which goes away when it
    // is unplugged.
    const QString adapter = folder->filePath(QStringLiteral("ttyBoard"));
    QVERIFY(QFile::link(board->linePath(), adapter));
    control<QComboBox>("comboBox_2")->setCurrentIndex(1);

    openPort(adapter);
    if (QTest::currentTestFailed())
        return;
    sendToBoard(1, image);
    if (QTest::currentTestFailed())
        return;
    QTRY_COMPARE_WITH_TIMEOUT(successes->text(), QStringLiteral("1"), TransferMs);
    QVERIFY(promptBox->isVisible());
    QCOMPARE(promptBox->windowModality(), Qt::WindowModal);
    QVERIFY(!successBox->isVisible());
    QVERIFY(comButton->isEnabled());
    QVERIFY(!browse->isEnabled());
    QVERIFY(!send->isEnabled());
    QCOMPARE(send->text(), words.transferEnded);
    QCOMPARE(failures->text(), QStringLiteral("0"));
    // The window holds the line again, to hear the next board.
    QVERIFY(!lineIsFree(adapter));

    // Nobody touches the window from here on but to switch its language,
    // which an operator may do between two boards.
    for (int number = 2; number <= programmed; ++number) {
        if (number == programmed)
            useEnglish(true);
        // The next board's receiver starts the transfer, without a click.
        QTRY_VERIFY_WITH_TIMEOUT(!comButton->isEnabled(), TransferMs);
        QCOMPARE(send->text(), words.transferRunning);
        QVERIFY(!send->isEnabled());
        QVERIFY(!browse->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(successes->text(), QString::number(number), TransferMs);
        QVERIFY(promptBox->isVisible());
        QVERIFY(!successBox->isVisible());
        QVERIFY(comButton->isEnabled());
        QVERIFY(!browse->isEnabled());
        QVERIFY(!send->isEnabled());
        QCOMPARE(send->text(), words.transferEnded);
    }

    // Unplugged while the window holds the line: the next board's start
    // fails and leaves the button as the automatic start set it, whatever
    // the language.
    QVERIFY(QFile::remove(adapter));
    QTRY_VERIFY_WITH_TIMEOUT(failureBox->isVisible(), TransferMs);
    QCOMPARE(failures->text(), QStringLiteral("1"));
    QCOMPARE(successes->text(), QString::number(programmed));
    QVERIFY(!successBox->isVisible());
    QVERIFY(comButton->isEnabled());
    QVERIFY(!browse->isEnabled());
    QVERIFY(!send->isEnabled());
    QCOMPARE(send->text(), QStringLiteral("取消"));
    QTRY_VERIFY(board->reported(unplugged, "asks for the file"));

    for (int number = 1; number <= unplugged; ++number)
        QCOMPARE(board->count(number, "answered"), 1);
    for (int number = 1; number <= programmed; ++number) {
        QTRY_VERIFY(board->reported(number, "received"));
        QCOMPARE(readFile(received(number, QStringLiteral("image.bin"))), randomBytes(6000, 3));
    }
}

void tst_EndToEnd::failedTransferThenReopenedPort_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<Operator>("operatorAction");
    QTest::addColumn<bool>("english");
    QTest::addColumn<QString>("boardReport");
    QTest::addColumn<int>("failureMs");

    QTest::newRow("operator cancels during the transfer")
        << QStringList() << Operator::Cancels << false << QStringLiteral("the transfer failed")
        << 2000;
    QTest::newRow("operator cancels during the transfer, English")
        << QStringList() << Operator::Cancels << true << QStringLiteral("the transfer failed")
        << 2000;
    QTest::newRow("image gone before the board asks for it")
        << QStringList() << Operator::RemovesImage << false << QStringLiteral("the transfer failed")
        << TransferMs;
    QTest::newRow("board cancels at block 3")
        << QStringList { QStringLiteral("--cancel"), QStringLiteral("1") } << Operator::Waits
        << false << QStringLiteral("cancelled the transfer at block 3") << TransferMs;
    QTest::newRow("board falls silent after its first request")
        << QStringList { QStringLiteral("--silent"), QStringLiteral("1") } << Operator::Waits
        << false << QStringLiteral("the tool gave up") << SilentBoardMs;
}

// A failure leaves the handshake stopped after its answered marker; the
// failure box tells the operator to re-open the port, and that must be
// enough for the next board to be answered and programmed.
void tst_EndToEnd::failedTransferThenReopenedPort()
{
    QFETCH(QStringList, faults);
    QFETCH(Operator, operatorAction);
    QFETCH(bool, english);
    QFETCH(QString, boardReport);
    QFETCH(int, failureMs);

    useEnglish(english);
    startBoard(QStringList { QStringLiteral("--boards"), QStringLiteral("2") } + faults);
    // Long enough to be cancelled in the middle: a hundred blocks.
    const QString large = writeImage(QStringLiteral("large.bin"), 100 * 1024, 4);
    const QString small = writeImage(QStringLiteral("small.bin"), 3000, 5);

    openPort();
    if (QTest::currentTestFailed())
        return;
    chooseImageFor(1, large);
    if (QTest::currentTestFailed())
        return;
    // Chosen while it was there, gone by the time the board's request makes
    // the transmitter open it.
    if (operatorAction == Operator::RemovesImage)
        QVERIFY(QFile::remove(large));
    startSending();
    if (QTest::currentTestFailed())
        return;
    if (operatorAction == Operator::Cancels) {
        QTRY_VERIFY_WITH_TIMEOUT(progress->value() > 0, TransferMs);
        QVERIFY(progress->value() < 100);
        // Progress on its way changes neither counter nor any button.
        QCOMPARE(failures->text(), QStringLiteral("0"));
        QCOMPARE(successes->text(), QStringLiteral("0"));
        QVERIFY(!comButton->isEnabled());
        QVERIFY(!browse->isEnabled());
        QCOMPARE(send->text(), words.transferRunning);

        QElapsedTimer clock;
        clock.start();
        send->click();
        // The window hears of the cancel only when the transmitter has let
        // go of the line, about 100 ms later.
        QVERIFY(!failureBox->isVisible());
        QCOMPARE(send->text(), words.transferRunning);
        QVERIFY(!comButton->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(failureBox->isVisible(), failureMs);
        QVERIFY2(clock.elapsed() >= 90, "failure reported before the line was let go");
    }
    QTRY_VERIFY_WITH_TIMEOUT(failureBox->isVisible(), failureMs);
    QCOMPARE(failureBox->windowModality(), Qt::WindowModal);
    QCOMPARE(failureBox->windowTitle(), words.failureTitle);
    QCOMPARE(failureBox->text(), words.failureText);
    QCOMPARE(failures->text(), QStringLiteral("1"));
    QCOMPARE(successes->text(), QStringLiteral("0"));
    QVERIFY(!successBox->isVisible());
    QVERIFY(send->isEnabled());
    QCOMPARE(send->text(), words.transferEnded);
    QVERIFY(comButton->isEnabled());
    QCOMPARE(comButton->text(), words.portOpened);
    QVERIFY(browse->isEnabled());
    QVERIFY(lineIsFree(board->linePath()));
    QTRY_VERIFY(board->reported(1, boardReport));
    QVERIFY(readFile(received(1, QStringLiteral("large.bin"))) != randomBytes(100 * 1024, 4));

    failureBox->button(QMessageBox::Ok)->click();
    QVERIFY(!failureBox->isVisible());
    comButton->click();
    QCOMPARE(comButton->text(), words.portClosed);
    QCOMPARE(progress->value(), 0);
    QVERIFY(!browse->isEnabled());
    QVERIFY(!send->isEnabled());
    comButton->click();
    QCOMPARE(comButton->text(), words.portOpened);
    QVERIFY(promptBox->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(board->count(2, "answered"), 1, BoardReadyMs);
    QTRY_VERIFY(!promptBox->isVisible());
    sendToBoard(2, small);
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY_WITH_TIMEOUT(successBox->isVisible(), TransferMs);
    QCOMPARE(successes->text(), QStringLiteral("1"));
    QCOMPARE(failures->text(), QStringLiteral("1"));
    QTRY_VERIFY(board->reported(2, "received"));
    QCOMPARE(readFile(received(2, QStringLiteral("small.bin"))), randomBytes(3000, 5));
}

// The receiver rejects the damaged block by its CRC and asks for it again,
// so the image still arrives intact.
void tst_EndToEnd::damagedBlockIsSentAgain()
{
    startBoard({ QStringLiteral("--corrupt"), QStringLiteral("1") });
    const QString image = writeImage(QStringLiteral("image.bin"), 5000, 6);

    openPort();
    if (QTest::currentTestFailed())
        return;
    sendToBoard(1, image);
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY_WITH_TIMEOUT(successBox->isVisible(), TransferMs);
    QCOMPARE(successes->text(), QStringLiteral("1"));
    QCOMPARE(failures->text(), QStringLiteral("0"));
    QTRY_VERIFY(board->reported(1, "received"));
    QVERIFY(board->reported(1, "damaged block 2 on the line"));
    QCOMPARE(readFile(received(1, QStringLiteral("image.bin"))), randomBytes(5000, 6));
}

// The board's adapter is pulled out in the middle of the transfer: the
// window reports the failure at once, not when the silence would end it.
void tst_EndToEnd::unpluggedDuringTransfer()
{
    startBoard({});
    const QString image = writeImage(QStringLiteral("image.bin"), 100 * 1024, 8);

    openPort();
    if (QTest::currentTestFailed())
        return;
    sendToBoard(1, image);
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY_WITH_TIMEOUT(progress->value() > 0, TransferMs);
    board.reset();
    QTRY_VERIFY_WITH_TIMEOUT(failureBox->isVisible(), 1200);
    QCOMPARE(failures->text(), QStringLiteral("1"));
    QCOMPARE(successes->text(), QStringLiteral("0"));
}

// The board's pseudo-terminal, which the system does not list as a serial
// port, is named on the command line after another line and chosen from the
// end of the list.
void tst_EndToEnd::lineNamedOnTheCommandLine()
{
    startBoard({});
    const QString image = writeImage(QStringLiteral("image.bin"), 3000, 7);
    const QString other = folder->filePath(QStringLiteral("ttyOther"));
    auto comPort = control<QComboBox>("comPort");
    const int systemPorts = comPort->count();

    window->addPorts(portsFromCommandLine({ QStringLiteral("trelvo-download"),
        QStringLiteral("--port"), other, QStringLiteral("--port"), board->linePath() }));
    QCOMPARE(comPort->count(), systemPorts + 2);
    QCOMPARE(comPort->itemText(systemPorts), other);
    QCOMPARE(comPort->itemText(systemPorts + 1), board->linePath());

    comPort->setCurrentIndex(systemPorts + 1);
    comButton->click();
    QCOMPARE(comButton->text(), words.portOpened);
    sendToBoard(1, image);
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY_WITH_TIMEOUT(successBox->isVisible(), TransferMs);
    QTRY_VERIFY(board->reported(1, "received"));
    QCOMPARE(readFile(received(1, QStringLiteral("image.bin"))), randomBytes(3000, 7));
}

OFFSCREEN_TEST_MAIN(tst_EndToEnd)

#include "tst_endtoend.moc"
