#include "offscreentestmain.h"
#include "slotmodel.h"

#include <QtTest>

namespace
{

const QString Port = QStringLiteral("/dev/ttyUSB0");

BoardRecord record(BoardRecord::Result result)
{
    BoardRecord ended;
    ended.port = Port;
    ended.result = result;
    ended.error = result == BoardRecord::Completed ? QString() : QStringLiteral("port gone");
    ended.seconds = 1.5;
    return ended;
}

} // namespace

// What a slot's row shows as its session's states and boards' ends come
// in: the row is what the operator reads from across the bench.
class tst_SlotModel : public QObject
{
    Q_OBJECT

private slots:
    void rowFollowsItsSlot_data();
    void rowFollowsItsSlot();
};

void tst_SlotModel::rowFollowsItsSlot_data()
{
    QTest::addColumn<QString>("events");
    QTest::addColumn<SlotModel::State>("shown");
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("failed");
    QTest::newRow("a result stays while the slot waits for the next board")
        << "waiting sending completed waiting" << SlotModel::State::Completed << 1 << 0;
    QTest::newRow("the next transfer replaces it")
        << "sending failed waiting sending" << SlotModel::State::Sending << 0 << 1;
    QTest::newRow("a pulled adapter replaces it")
        << "sending failed gone" << SlotModel::State::Gone << 0 << 1;
    QTest::newRow("an adapter back waits for a board")
        << "sending completed gone waiting" << SlotModel::State::Waiting << 1 << 0;
    QTest::newRow("Stop returns to idle") << "sending stop" << SlotModel::State::Idle << 0 << 0;
    QTest::newRow("Stop clears a result")
        << "sending completed stop" << SlotModel::State::Idle << 1 << 0;
    QTest::newRow("the run's end keeps a result")
        << "sending failed waiting end" << SlotModel::State::Failed << 0 << 1;
    QTest::newRow("the run's end idles a waiting slot")
        << "waiting end" << SlotModel::State::Idle << 0 << 0;
    QTest::newRow("totals reset, the row stays")
        << "sending completed reset" << SlotModel::State::Completed << 0 << 0;
}

void tst_SlotModel::rowFollowsItsSlot()
{
    QFETCH(QString, events);
    QFETCH(SlotModel::State, shown);
    QFETCH(int, done);
    QFETCH(int, failed);
    SlotModel model;
    QSignalSpy totals(&model, &SlotModel::totalsChanged);
    QVERIFY(totals.isValid());
    model.addPort(QStringLiteral("/dev/ttyUSB1"), QString(), true);
    const int row = model.addPort(Port, QString(), true);
    for (const QString &event : events.split(QLatin1Char(' '))) {
        if (event == QLatin1String("waiting"))
            model.setState(Port, SlotModel::State::Waiting);
        else if (event == QLatin1String("sending"))
            model.setState(Port, SlotModel::State::Sending);
        else if (event == QLatin1String("gone"))
            model.setState(Port, SlotModel::State::Gone);
        else if (event == QLatin1String("completed"))
            model.countBoard(Port, record(BoardRecord::Completed));
        else if (event == QLatin1String("failed"))
            model.countBoard(Port, record(BoardRecord::Failed));
        else if (event == QLatin1String("stop"))
            model.returnToIdle(false);
        else if (event == QLatin1String("end"))
            model.returnToIdle(true);
        else if (event == QLatin1String("reset"))
            model.resetCounts();
    }
    QCOMPARE(model.state(row), shown);
    QCOMPARE(model.done(), done);
    QCOMPARE(model.failed(), failed);
    QCOMPARE(model.doneAt(row), done);
    QVERIFY(totals.count() > 0 || done + failed == 0);
    QCOMPARE(model.state(model.row(QStringLiteral("/dev/ttyUSB1"))), SlotModel::State::Idle);
}

OFFSCREEN_TEST_MAIN(tst_SlotModel)
#include "tst_slotmodel.moc"
