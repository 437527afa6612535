#include "postgresserver.h"

#include <QDir>
#include <QProcess>
#include <QUrl>

#include <algorithm>
#include <pwd.h>
#include <unistd.h>

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
    const passwd *nobody = ::getpwnam("nobody");
    if (!made && ::geteuid() == 0
        && (!nobody || ::chown(qPrintable(folder.path()), nobody->pw_uid, nobody->pw_gid) != 0)) {
        error = "cannot hand " + folder.path() + " to nobody";
        return false;
    }
    made = made
        || run("initdb",
            { "-D", "data", "-U", "postgres", "-A", "trust", "-N", "--locale=C", "-E", "UTF8" });
    const QString settings = QString("-k %1 -c listen_addresses='' -c fsync=%2")
                                 .arg(folder.path(), commits == Commits::Durable ? "on" : "off");
    running = made
        && run("pg_ctl", { "-D", "data", "-l", "server.log", "-w", "-o", settings, "start" });
    return running;
}

bool PostgresServer::stop()
{
    running = !run("pg_ctl", { "-D", "data", "-m", "immediate", "-w", "stop" });
    return !running;
}

QString PostgresServer::errorString() const { return error; }

QString PostgresServer::socketFolder() const { return folder.path(); }

QString PostgresServer::uri(const QString &database) const
{
    const QString host = QString::fromLatin1(QUrl::toPercentEncoding(folder.path()));
    return "postgresql://postgres@" + host + "/" + database;
}

bool PostgresServer::run(const QString &program, const QStringList &arguments)
{
    QStringList versions = QDir("/usr/lib/postgresql").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(),
        [](const QString &a, const QString &b) { return a.toDouble() < b.toDouble(); });
    const QString path
        = "/usr/lib/postgresql/" + versions.value(versions.size() - 1) + "/bin/" + program;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(folder.path());
    const passwd *nobody = ::getpwnam("nobody");
    if (::geteuid() == 0 && nobody)
        process.start("setpriv",
            QStringList { QString("--reuid=%1").arg(nobody->pw_uid),
                QString("--regid=%1").arg(nobody->pw_gid), "--clear-groups", path }
                + arguments);
    else
        process.start(path, arguments);
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0)
        return true;
    error = program + " failed: " + QString::fromLocal8Bit(process.readAll());
    return false;
}
