#ifndef POSTGRESSERVER_H
#define POSTGRESSERVER_H

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A PostgreSQL server of a test's own in a temporary folder, reached only
// through a Unix socket there. It refuses to run as root: under root, as in
// CI, its programs (from /usr/lib/postgresql/<version>/bin) run as nobody.
class PostgresServer
{
public:
    // Volatile: nothing is flushed to disk, so a start after stop() is quick.
    enum class Commits { Durable, Volatile };

    explicit PostgresServer(Commits commits = Commits::Volatile);
    ~PostgresServer();

    // Makes the cluster on the first start; false with errorString().
    bool start();
    // At once, as a crash leaves the stations' connections.
    bool stop();
    QString errorString() const;
    QString socketFolder() const;
    // The superuser's URI for database, as --log takes it.
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
