#include "boardprocess.h"

BoardProcess::BoardProcess(const QString &program)
    : program(program)
{
}

BoardProcess::~BoardProcess()
{
    process.kill();
    process.waitForFinished();
}

bool BoardProcess::start(const QStringList &arguments)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(5000))
            return false;
    }
    path = QString::fromLocal8Bit(process.readLine()).trimmed();
    return !path.isEmpty();
}

QString BoardProcess::linePath() const { return path; }

const QStringList &BoardProcess::reports()
{
    while (process.canReadLine())
        lines << QString::fromLocal8Bit(process.readLine()).trimmed();
    return lines;
}

int BoardProcess::count(int number, const QString &event)
{
    return reports().count(QStringLiteral("board %1: %2").arg(number).arg(event));
}

bool BoardProcess::reported(int number, const QString &start)
{
    const QString line = QStringLiteral("board %1: %2").arg(number).arg(start);
    for (const QString &report : reports()) {
        if (report.startsWith(line))
            return true;
    }
    return false;
}
