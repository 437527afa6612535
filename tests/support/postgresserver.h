#ifndef POSTGRESSERVER_H
#define POSTGRESSERVER_H

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A PostgreSQL server of the test's own, made with initdb in a temporary
// folder and reached only through a Unix socket in that folder, so that no
// other test or server on the machine meets it. The server refuses to run
// as root: under root, as in CI, the folder belongs to nobody and every
// PostgreSQL program runs as nobody. Debian keeps those programs under
// /usr/lib/postgresql/<version>/bin, outside PATH.
class PostgresServer
{
public:
    // Durable: commits are flushed to disk as on a line's server. Otherwise
    // nothing is, and a start after stop() takes no time to sync the folder.
    enum class Commits { Durable, Volatile };

    explicit PostgresServer(Commits commits = Commits::Volatile);
    ~PostgresServer();

    // Makes the cluster on the first start; false with errorString().
    bool start();
    // At once, as a crash or a pulled cable leaves the stations' connections.
    bool stop();
    QString errorString() const;
    // The folder holding the socket, a host name to libpq.
    QString socketFolder() const;
    // The superuser's URI for database, the form an operator gives --log.
    QString uri(const QString &database) const;

private:
    bool run(const QString &program, const QStringList &arguments);

    const Commits commits;
    QTemporaryDir folder;
    bool made = false;
    bool running = false;
    QString error;
};

#endif
