#include <QProcess>
#include <QtTest>

// The window programs on a terminal with no display at all, as over a
// remote shell: what needs no window answers, the window itself says in one
// line why it cannot open.
class tst_WindowStartup : public QObject
{
    Q_OBJECT

private slots:
    void withoutDisplay_data();
    void withoutDisplay();
};

void tst_WindowStartup::withoutDisplay_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");

    const QString download = QStringLiteral(DOWNLOAD_PROGRAM);
    QTest::newRow("download --version")
        << download << QStringList { "--version" } << 0 << "trelvo-download 1.04\n" << "";
    QTest::newRow("download --help")
        << download << QStringList { "--help" } << 0 << "Usage: " << "";
    QTest::newRow("download, the window")
        << download << QStringList() << 1 << "" << "trelvo-download: no display";
    QTest::newRow("download, a display that does not answer")
        << download << QStringList { "-platform", "xcb:display=:97" } << 1 << ""
        << "trelvo-download: no display";

    const QString station = QStringLiteral(STATION_PROGRAM);
    QTest::newRow("station --version")
        << station << QStringList { "--version" } << 0 << "trelvo-station 1.04\n" << "";
    QTest::newRow("station --help")
        << station << QStringList { "--help", "--watch", "/dev/ttyUSB*" } << 0 << "Usage: " << "";
    QTest::newRow("station, the window")
        << station << QStringList { "--port", "/dev/ttyUSB0" } << 1 << ""
        << "trelvo-station: no display";
}

void tst_WindowStartup::withoutDisplay()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment.remove(QString::fromLatin1(name));
    if (arguments.contains(QStringLiteral("-platform")))
        environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":97"));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    QVERIFY(process.waitForFinished(10000));
    const QString standardOutput = QString::fromLocal8Bit(process.readAllStandardOutput());
    const QString standardError = QString::fromLocal8Bit(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), status);
    // left() and ==, because a null string starts with no empty one.
    QVERIFY2(standardOutput.left(out.size()) == out, qPrintable(standardOutput));
    QVERIFY2(standardError.left(err.size()) == err, qPrintable(standardError));
    // One line, not Qt's complaints on the way to it.
    QCOMPARE(standardError.count(QLatin1Char('\n')), err.isEmpty() ? 0 : 1);
}

QTEST_GUILESS_MAIN(tst_WindowStartup)
#include "tst_windowstartup.moc"
