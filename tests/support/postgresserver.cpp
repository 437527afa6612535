#include "postgresserver.h"

#include <QDir>
#include <QProcess>
#include <QUrl>

#include <algorithm>
#include <pwd.h>
#include <unistd.h>

namespace
{

constexpr int CommandMs = 60000;

QString programFolder()
{
    QStringList versions
        = QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(),
        [](const QString &a, const QString &b) { return a.toDouble() < b.toDouble(); });
    return versions.isEmpty() ? QString()
                              : QStringLiteral("/usr/lib/postgresql/%1/bin").arg(versions.last());
}

} // namespace

PostgresServer::PostgresServer(Commits commits)
    : commits(commits)
{
}

PostgresServer::~PostgresServer()
{
    if (running)
        stop();
}

bool PostgresServer::start()
{
    const QString data = folder.filePath(QStringLiteral("data"));
    if (!made) {
        if (::geteuid() == 0) {
            const passwd *nobody = ::getpwnam("nobody");
            if (!nobody
                || ::chown(qPrintable(folder.path()), nobody->pw_uid, nobody->pw_gid) != 0) {
                error = QStringLiteral("cannot hand %1 to nobody").arg(folder.path());
                return false;
            }
        }
        if (!run(QStringLiteral("initdb"),
                { QStringLiteral("-D"), data, QStringLiteral("-U"), QStringLiteral("postgres"),
                    QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-N"),
                    QStringLiteral("--locale=C"), QStringLiteral("-E"), QStringLiteral("UTF8") }))
            return false;
        made = true;
    }
    running = run(QStringLiteral("pg_ctl"),
        { QStringLiteral("-D"), data, QStringLiteral("-l"),
            folder.filePath(QStringLiteral("server.log")), QStringLiteral("-w"),
            QStringLiteral("-o"),
            QStringLiteral("-k %1 -c listen_addresses='' -c fsync=%2")
                .arg(folder.path(),
                    commits == Commits::Durable ? QStringLiteral("on") : QStringLiteral("off")),
            QStringLiteral("start") });
    return running;
}

bool PostgresServer::stop()
{
    running = !run(QStringLiteral("pg_ctl"),
        { QStringLiteral("-D"), folder.filePath(QStringLiteral("data")), QStringLiteral("-m"),
            QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop") });
    return !running;
}

QString PostgresServer::errorString() const { return error; }

QString PostgresServer::socketFolder() const { return folder.path(); }

QString PostgresServer::uri(const QString &database) const
{
    return QStringLiteral("postgresql://postgres@%1/%2")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(folder.path())), database);
}

bool PostgresServer::run(const QString &program, const QStringList &arguments)
{
    const QString path = programFolder() + QLatin1Char('/') + program;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(folder.path());
    if (::geteuid() == 0) {
        const passwd *nobody = ::getpwnam("nobody");
        process.start(QStringLiteral("setpriv"),
            QStringList { QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                QStringLiteral("--regid=%1").arg(nobody->pw_gid), QStringLiteral("--clear-groups"),
                path }
                + arguments);
    } else {
        process.start(path, arguments);
    }
    if (process.waitForFinished(CommandMs) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0)
        return true;
    error = QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(process.readAll()));
    return false;
}
