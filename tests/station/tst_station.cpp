#include "boardprocess.h"
#include "offscreentestmain.h"
#include "slotmodel.h"
#include "stationwindow.h"
#include "testfiles.h"
#include "windowtesting.h"
#include "ymodemfilereceive.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

namespace
{

// Four boards of a few KiB each at the pseudo-terminal's own pace take
// well under a second; the margin is for sanitizer builds on a busy machine.
const int RunMs = 20000;
const int Slots = 4;
// The board that cancels its transfer.
const int CancellingSlot = 2;

enum class Stopping { ByButton, ByClosing };

} // namespace

Q_DECLARE_METATYPE(Stopping)

class tst_Station : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void runToTargetWithOneFailing();
    void stopMidTransfer_data();
    void stopMidTransfer();
    void startRefused_data();
    void startRefused();
    void settingsKeptBetweenRuns();
    void watchedPortsComeAndGo();

private:
    template <typename T> T *control(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    void startBoards(const QStringList &options, bool oneCancelling);
    void openWindow(const QStringList &patterns = QStringList(),
        const QStringList &absentPorts = QStringList());
    void answerNextQuestion();
    bool settingsLocked() const;
    SlotModel *model() const;
    int rowOf(int slot) const;

    std::unique_ptr<QTemporaryDir> folder;
    std::vector<std::unique_ptr<BoardProcess>> boards;
    std::unique_ptr<StationWindow> window;
    QString image;
    QString log;
};

void tst_Station::initTestCase()
{
    // The station's settings and records go to a folder of the test's own,
    // never to the user's.
    static QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
}

void tst_Station::init()
{
    QSettings().clear();
    folder.reset(new QTemporaryDir);
    image = folder->filePath(QStringLiteral("image.bin"));
    log = folder->filePath(QStringLiteral("records.jsonl"));
    QVERIFY(writeFile(image, randomBytes(24 * 1024, 7)));
}

void tst_Station::cleanup()
{
    window.reset();
    boards.clear();
    folder.reset();
}

void tst_Station::startBoards(const QStringList &options, bool oneCancelling)
{
    for (int slot = 0; slot < Slots; ++slot) {
        boards.push_back(std::make_unique<BoardProcess>(QStringLiteral(BOARD_PROGRAM)));
        QStringList arguments = { QStringLiteral("--receiver"), QStringLiteral("own"),
            QStringLiteral("--stay"), QStringLiteral("--folder"),
            folder->filePath(QStringLiteral("slot-%1").arg(slot)) };
        arguments << options;
        if (oneCancelling && slot == CancellingSlot)
            arguments << QStringLiteral("--cancel") << QStringLiteral("1");
        QVERIFY(boards.back()->start(arguments));
    }
}

void tst_Station::openWindow(const QStringList &patterns, const QStringList &absentPorts)
{
    QStringList ports = absentPorts;
    for (const auto &board : boards)
        ports << board->linePath();
    window.reset(new StationWindow(ports, patterns));
    window->setImage(image);
    window->show();
}

// Yes to the question the window is about to ask.
void tst_Station::answerNextQuestion()
{
    auto *poll = new QTimer(window.get());
    connect(poll, &QTimer::timeout, poll, [poll] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll->deleteLater();
        box->button(QMessageBox::Yes)->click();
    });
    poll->start(10);
}

bool tst_Station::settingsLocked() const
{
    const QModelIndex use = model()->index(0, SlotModel::UseColumn);
    return !control<QGroupBox>("settingsGroup")->isEnabled()
        && !control<QGroupBox>("imageGroup")->isEnabled()
        && !(model()->flags(use) & Qt::ItemIsEnabled)
        && !model()->setData(use, Qt::Unchecked, Qt::CheckStateRole);
}

SlotModel *tst_Station::model() const
{
    return qobject_cast<SlotModel *>(control<QTableView>("slots")->model());
}

int tst_Station::rowOf(int slot) const { return model()->row(boards.at(slot)->linePath()); }

void tst_Station::runToTargetWithOneFailing()
{
    startBoards({}, true);
    openWindow();
    // Three good boards are the order: the run ends by itself once they
    // are done, with the failing board's result in view beside them.
    control<QSpinBox>("target")->setValue(3);
    const QString shownImage = control<QLabel>("imageDetails")->text();
    control<QPushButton>("startButton")->click();
    QVERIFY(settingsLocked());
    // A build overwrites the image mid-run: the run goes on with what it
    // read at Start, and says so.
    const QByteArray sent = readFile(image);
    QVERIFY(writeFile(image, randomBytes(24 * 1024, 99)));
    QTRY_VERIFY_WITH_TIMEOUT(!window->running(), RunMs);
    QTRY_VERIFY(control<QLabel>("imageDetails")->text() != shownImage);

    for (int slot = 0; slot < Slots; ++slot) {
        const SlotModel::State expected
            = slot == CancellingSlot ? SlotModel::State::Failed : SlotModel::State::Completed;
        QCOMPARE(model()->state(rowOf(slot)), expected);
        if (slot != CancellingSlot)
            QCOMPARE(
                readFile(folder->filePath(QStringLiteral("slot-%1/board-1/image.bin").arg(slot))),
                sent);
    }
    QVERIFY(model()->reason(rowOf(CancellingSlot)).contains(QLatin1String("cancelled")));
    QCOMPARE(control<QLabel>("doneTotal")->text(), QStringLiteral("3"));
    QCOMPARE(control<QLabel>("failedTotal")->text(), QStringLiteral("1"));
    QCOMPARE(control<QLabel>("yieldTotal")->text(), QStringLiteral("75.0%"));
    // The default log: a database file in the user's data folder.
    QStringList results;
    {
        QSqlDatabase records = QSqlDatabase::addDatabase("QSQLITE", "check");
        records.setDatabaseName(control<QLineEdit>("logPath")->text());
        QVERIFY(records.open());
        QSqlQuery query("SELECT result FROM board_records ORDER BY result", records);
        while (query.next())
            results << query.value(0).toString();
    }
    QSqlDatabase::removeDatabase("check");
    QCOMPARE(results, QStringList({ "cancelled", "completed", "completed", "completed" }));
    QVERIFY(!settingsLocked());
}

void tst_Station::stopMidTransfer_data()
{
    QTest::addColumn<Stopping>("stopping");
    QTest::newRow("Stop") << Stopping::ByButton;
    QTest::newRow("closing the window, answered yes") << Stopping::ByClosing;
}

void tst_Station::stopMidTransfer()
{
    QFETCH(Stopping, stopping);
    // At 115200 baud the image takes two seconds, time enough to stop it;
    // a sending row shows how far it is.
    startBoards({ QStringLiteral("--baud"), QStringLiteral("115200") }, false);
    openWindow();
    control<QLineEdit>("logPath")->setText(log);
    control<QPushButton>("startButton")->click();
    for (int slot = 0; slot < Slots; ++slot) {
        QTRY_VERIFY_WITH_TIMEOUT(
            model()->index(rowOf(slot), SlotModel::StateColumn).data(Qt::UserRole).toInt() > 0,
            RunMs);
    }
    // What an operator may do mid-run changes nothing of the transfers.
    control<QComboBox>("language")->setCurrentIndex(1);
    window->resize(window->width() / 2, window->height() / 2);
    auto *view = control<QTableView>("slots");
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
        view->visualRect(model()->index(rowOf(0), SlotModel::UseColumn)).center());
    QVERIFY(settingsLocked());
    QCOMPARE(model()->usedPorts().size(), Slots);

    if (stopping == Stopping::ByButton) {
        control<QPushButton>("stopButton")->click();
    } else {
        answerNextQuestion();
        window->close();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!window->running(), RunMs);
    QCOMPARE(window->isVisible(), stopping == Stopping::ByButton);
    for (int slot = 0; slot < Slots; ++slot) {
        // The board's receiver ends as cancelled only on CAN from the line.
        QTRY_VERIFY_WITH_TIMEOUT(boards.at(slot)->reported(1,
                                     QStringLiteral("the transfer failed (receiver status %1)")
                                         .arg(YmodemFileReceive::StatusCancelled)),
            RunMs);
        QCOMPARE(model()->state(rowOf(slot)), SlotModel::State::Idle);
        QVERIFY(lineIsFree(boards.at(slot)->linePath()));
    }
    // Stopped boards are no failures of the boards: the totals leave them
    // out, while the log keeps each of them.
    QCOMPARE(control<QLabel>("failedTotal")->text(), QStringLiteral("0"));
    QStringList results;
    for (const QByteArray &line : readFile(log).split('\n')) {
        if (!line.isEmpty())
            results << QJsonDocument::fromJson(line).object().value("result").toString();
    }
    QCOMPARE(results.size(), Slots);
    QCOMPARE(results.count(QStringLiteral("cancelled")), Slots);
    QVERIFY(!settingsLocked());
}

void tst_Station::startRefused_data()
{
    QTest::addColumn<QString>("imagePath");
    QTest::addColumn<QString>("logPath");
    QTest::addColumn<bool>("portChecked");
    QTest::newRow("no image") << QString() << "records.jsonl" << true;
    QTest::newRow("unreadable image") << "missing.bin"
                                      << "records.jsonl" << true;
    QTest::newRow("no port checked") << "image.bin"
                                     << "records.jsonl" << false;
    QTest::newRow("log that cannot be opened") << "image.bin"
                                               << "no-folder/records.jsonl" << true;
}

void tst_Station::startRefused()
{
    QFETCH(QString, imagePath);
    QFETCH(QString, logPath);
    QFETCH(bool, portChecked);
    boards.push_back(std::make_unique<BoardProcess>(QStringLiteral(BOARD_PROGRAM)));
    QVERIFY(boards.back()->start({ QStringLiteral("--folder"), folder->path() }));
    openWindow();
    window->setImage(imagePath.isEmpty() ? QString() : folder->filePath(imagePath));
    control<QLineEdit>("logPath")->setText(folder->filePath(logPath));
    model()->setData(model()->index(rowOf(0), SlotModel::UseColumn),
        portChecked ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
    control<QPushButton>("startButton")->click();
    QVERIFY(!window->running());
    QVERIFY(!control<QLabel>("problem")->text().isEmpty());
    QCOMPARE(model()->state(rowOf(0)), SlotModel::State::Idle);
    QVERIFY(!QFile::exists(log));
}

void tst_Station::settingsKeptBetweenRuns()
{
    const QStringList ports = { folder->filePath(QStringLiteral("slot-a")),
        folder->filePath(QStringLiteral("slot-b")) };
    window.reset(new StationWindow(ports));
    QMimeData dropped;
    dropped.setUrls({ QUrl::fromLocalFile(image) });
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    control<QComboBox>("baudRate")->setCurrentText(QStringLiteral("921600"));
    control<QCheckBox>("handshake")->setChecked(false);
    control<QSpinBox>("target")->setValue(500);
    control<QLineEdit>("logPath")->setText(log);
    control<QComboBox>("language")->setCurrentIndex(1);
    model()->setData(model()->index(model()->row(ports.at(1)), SlotModel::UseColumn), Qt::Unchecked,
        Qt::CheckStateRole);
    QVERIFY(window->close());

    window.reset(new StationWindow(ports));
    QCOMPARE(control<QLabel>("imageName")->text(), QFileInfo(image).fileName());
    QCOMPARE(control<QComboBox>("baudRate")->currentText(), QStringLiteral("921600"));
    QVERIFY(!control<QCheckBox>("handshake")->isChecked());
    QCOMPARE(control<QSpinBox>("target")->value(), 500);
    QCOMPARE(control<QLineEdit>("logPath")->text(), log);
    QCOMPARE(control<QComboBox>("language")->currentIndex(), 1);
    QCOMPARE(model()->usedPorts(), QStringList(ports.at(0)));
}

// A fixture whose boards bring their own USB serial chip: a board's line
// appears in the watched folder while the station runs, is pulled out in
// the middle of its first transfer and comes back with the next board. A
// line that is not there at all fails in its row alone.
void tst_Station::watchedPortsComeAndGo()
{
    boards.push_back(std::make_unique<BoardProcess>(QStringLiteral(BOARD_PROGRAM)));
    QVERIFY(boards.back()->start({ QStringLiteral("--receiver"), QStringLiteral("own"),
        QStringLiteral("--stay"), QStringLiteral("--folder"), folder->filePath("named") }));
    QVERIFY(QDir(folder->path()).mkdir(QStringLiteral("fixture")));
    const QString absent = folder->filePath(QStringLiteral("no-such-line"));
    openWindow({ folder->filePath(QStringLiteral("fixture/slot-*")) }, { absent });
    control<QLineEdit>("logPath")->setText(log);
    control<QPushButton>("startButton")->click();
    QVERIFY(window->running());

    const QString slot = folder->filePath(QStringLiteral("fixture/slot-1"));
    boards.push_back(std::make_unique<BoardProcess>(QStringLiteral(BOARD_PROGRAM)));
    QVERIFY(boards.back()->start({ QStringLiteral("--receiver"), QStringLiteral("own"),
        QStringLiteral("--stay"), QStringLiteral("--folder"), folder->filePath("watched"),
        QStringLiteral("--link"), slot, QStringLiteral("--boards"), QStringLiteral("2"),
        QStringLiteral("--unplug"), QStringLiteral("1") }));
    QTRY_VERIFY_WITH_TIMEOUT(model()->state(model()->row(slot)) == SlotModel::State::Gone, RunMs);
    QTRY_VERIFY_WITH_TIMEOUT(
        model()->state(model()->row(slot)) == SlotModel::State::Completed, RunMs);
    QCOMPARE(model()->doneAt(model()->row(slot)), 1);
    QCOMPARE(model()->failedAt(model()->row(slot)), 1);
    QCOMPARE(model()->state(rowOf(0)), SlotModel::State::Completed);
    QCOMPARE(model()->state(model()->row(absent)), SlotModel::State::Failed);
    QCOMPARE(readFile(folder->filePath("watched/board-2/image.bin")), readFile(image));
}

OFFSCREEN_TEST_MAIN(tst_Station)
#include "tst_station.moc"
