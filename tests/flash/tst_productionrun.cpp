#include "boardsession.h"
#include "imagesnapshot.h"
#include "linepeer.h"
#include "portlist.h"
#include "pseudoterminal.h"
#include "testfiles.h"

#include <QCommandLineParser>
#include <QCryptographicHash>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <utility>

// The parts of a production run that both front ends take from the session
// library: the ports of a run, the image taken once, and a port's run as
// its device comes and goes.
class tst_ProductionRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<BoardSession::State>(); }
    void portList_data();
    void portList();
    void imageSnapshot_data();
    void imageSnapshot();
    void sessionFollowsItsDevice();
};

void tst_ProductionRun::portList_data()
{
    // DIR holds slot-1 and slot-2, two links to the device PTY, a link to
    // nothing and a plain file.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("added");
    QTest::newRow("two links to one device, one of them matched twice") << QStringList { "--watch",
        "DIR/slot-*", "--watch", "DIR/*-1" } << QStringList { "DIR/slot-1" };
    QTest::newRow("a named device and a watched link to it")
        << QStringList { "-p", "PTY", "--watch", "DIR/*" } << QStringList { "PTY" };
    QTest::newRow("no device behind a stale link or a plain file")
        << QStringList { "--watch", "DIR/stale", "--watch", "DIR/notes*" } << QStringList();
}

void tst_ProductionRun::portList()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, added);
    QTemporaryDir folder;
    PseudoTerminal line;
    QVERIFY(QFile::link(line.slavePath(), folder.filePath("slot-1")));
    QVERIFY(QFile::link(line.slavePath(), folder.filePath("slot-2")));
    QVERIFY(QFile::link(folder.filePath("nothing"), folder.filePath("stale")));
    QVERIFY(writeFile(folder.filePath("notes.txt"), "slot 1: fixture B"));
    for (QStringList *list : { &arguments, &added }) {
        list->replaceInStrings("DIR", folder.path());
        list->replaceInStrings("PTY", line.slavePath());
    }

    QCommandLineParser parser;
    PortList::addOptions(&parser);
    QVERIFY(parser.parse(QStringList { "trelvo-flash" } + arguments));
    PortList ports;
    QVERIFY(ports.read(parser));
    QSignalSpy spy(&ports, &PortList::portAdded);
    ports.start();
    QStringList seen;
    for (const QList<QVariant> &signal : std::as_const(spy))
        seen << signal.at(0).toString();
    QCOMPARE(seen, added);
}

void tst_ProductionRun::imageSnapshot_data()
{
    QTest::addColumn<QByteArray>("newContents");
    QTest::addColumn<bool>("byRename");
    QTest::addColumn<bool>("told");
    QTest::newRow("rewritten with the same bytes") << randomBytes(3000, 1) << false << false;
    QTest::newRow("overwritten") << randomBytes(3000, 2) << false << true;
    QTest::newRow("replaced by a rename, as a build does") << randomBytes(2000, 2) << true << true;
}

void tst_ProductionRun::imageSnapshot()
{
    QFETCH(QByteArray, newContents);
    QFETCH(bool, byRename);
    QFETCH(bool, told);
    QTemporaryDir folder;
    const QString original = folder.filePath("fw.bin");
    QVERIFY(writeFile(original, randomBytes(3000, 1)));
    ImageSnapshot image;
    QVERIFY(image.take(original));
    QSignalSpy changed(&image, &ImageSnapshot::changedOnDisk);

    // Told once, however often the file changes.
    for (int change = 1; change <= (told ? 2 : 1); ++change) {
        const QString written = byRename ? folder.filePath("fw.bin.new") : original;
        QVERIFY(writeFile(written, newContents + QByteArray(change - 1, 'x')));
        QVERIFY(!byRename || std::rename(qPrintable(written), qPrintable(original)) == 0);
        changed.wait(change == 1 && told ? 5000 : 300);
        QCOMPARE(int(changed.count()), told ? 1 : 0);
    }
    QVERIFY(image.path() != original);
    QCOMPARE(image.fileName(), QString("fw.bin"));
    QCOMPARE(image.size(), qint64(3000));
    QVERIFY(readFile(image.path()) == randomBytes(3000, 1));
    QCOMPARE(image.sha256(),
        QCryptographicHash::hash(randomBytes(3000, 1), QCryptographicHash::Sha256).toHex());
}

// A board with its own USB serial chip taken off the fixture while no
// transfer ran, and the next one put in under the same link; a station
// that has its count of good boards then lets that one finish.
void tst_ProductionRun::sessionFollowsItsDevice()
{
    QTemporaryDir folder;
    const QString link = folder.filePath("slot-1");
    auto line = std::make_unique<PseudoTerminal>();
    QVERIFY(QFile::link(line->slavePath(), link));
    SessionSettings settings;
    settings.port = link;
    settings.handshake = false;
    settings.boards = 0;
    settings.image = folder.filePath("fw.bin");
    QVERIFY(writeFile(settings.image, randomBytes(2000, 1)));
    settings.imageSize = 2000;
    BoardSession session(settings);
    QSignalSpy states(&session, &BoardSession::stateChanged);
    QSignalSpy finished(&session, &BoardSession::finished);
    QList<BoardRecord::Result> results;
    connect(&session, &BoardSession::boardEnded,
        [&results](const BoardRecord &record) { results << record.result; });
    connect(
        &session, &BoardSession::transferStarted, &session, &BoardSession::stopAfterCurrentBoard);
    session.start();
    QCOMPARE(session.state(), BoardSession::State::WaitingForBoard);

    QVERIFY(QFile::remove(link));
    line.reset();
    QTRY_COMPARE(session.state(), BoardSession::State::PortGone);
    line = std::make_unique<PseudoTerminal>();
    QVERIFY(QFile::link(line->slavePath(), link));
    QTRY_COMPARE(session.state(), BoardSession::State::WaitingForBoard);
    LinePeer peer(*line);
    QVERIFY(playReceiver(peer).complete);
    QTRY_COMPARE(int(finished.count()), 1);
    QCOMPARE(results, QList<BoardRecord::Result> { BoardRecord::Completed });
    QList<BoardSession::State> seen;
    for (const QList<QVariant> &signal : std::as_const(states))
        seen << signal.at(0).value<BoardSession::State>();
    QCOMPARE(seen,
        QList<BoardSession::State>(
            { BoardSession::State::PortGone, BoardSession::State::WaitingForBoard,
                BoardSession::State::Transferring, BoardSession::State::Done }));
}

QTEST_GUILESS_MAIN(tst_ProductionRun)
#include "tst_productionrun.moc"
