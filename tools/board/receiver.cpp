#include "receiver.h"

#include "pseudoterminal.h"
#include "ymodemfilereceive.h"

#include <QProcess>
#include <QSocketNotifier>

namespace
{

// lrzsz's rb, fed through its standard input and output.
class RbReceiver : public Receiver
{
public:
    explicit RbReceiver(const QString &folder)
    {
        process.setWorkingDirectory(folder);
        connect(&process, &QProcess::readyReadStandardOutput, this,
            [this] { emit output(process.readAllStandardOutput()); });
        connect(&process, &QProcess::readyReadStandardError, this,
            [this] { messages += process.readAllStandardError(); });
        connect(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            [this](int exitCode, QProcess::ExitStatus status) {
                emit output(process.readAllStandardOutput());
                messages += process.readAllStandardError();
                // rb's exit code is the same for every failure; only its
                // message tells a cancel by the sender from the rest.
                const bool cancelled = messages.contains("Sender Cancelled");
                emit finished(status == QProcess::NormalExit && exitCode == 0,
                    QStringLiteral("rb exit code %1%2")
                        .arg(exitCode)
                        .arg(cancelled ? QStringLiteral(", the sender cancelled") : QString()));
            });
        connect(&process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                emit unavailable(QStringLiteral("cannot run rb: %1").arg(process.errorString()));
        });
    }

    ~RbReceiver() override
    {
        process.disconnect(this);
        process.kill();
        process.waitForFinished();
    }

    void start() override
    {
        // Binary, overwriting an image left from an earlier run, and without
        // progress lines: the board reports the outcome itself. Verbose
        // enough to say why it gave up.
        process.start(QStringLiteral("rb"),
            { QStringLiteral("-b"), QStringLiteral("-y"), QStringLiteral("-q"),
                QStringLiteral("-v") });
    }

    void write(const QByteArray &bytes) override { process.write(bytes); }

private:
    QProcess process;
    QByteArray messages;
};

// The project's own receiver, on a second pseudo-terminal between it and
// the board. It asks for the file at once, where rb first pauses for about
// a second, and it pauses no second time at the end.
class OwnReceiver : public Receiver
{
public:
    explicit OwnReceiver(const QString &folder)
        : heard(line.masterDescriptor(), QSocketNotifier::Read)
    {
        endpoint.setTargetFolder(folder);
        endpoint.selectPort(line.slavePath());
        connect(&heard, &QSocketNotifier::activated, this,
            [this] { emit output(line.readAvailable()); });
        connect(&endpoint, &YmodemFileReceive::receiveStatus, this,
            [this](YmodemFileReceive::Status status) {
                if (status >= YmodemFileReceive::StatusCompleted)
                    emit finished(status == YmodemFileReceive::StatusCompleted,
                        QStringLiteral("receiver status %1").arg(status));
            });
    }

    void start() override
    {
        if (!line.isOpen() || !endpoint.startTransfer())
            emit unavailable(QStringLiteral("cannot open the receiver's pseudo-terminal"));
    }

    void write(const QByteArray &bytes) override { line.write(bytes); }

private:
    PseudoTerminal line;
    QSocketNotifier heard;
    YmodemFileReceive endpoint;
};

} // namespace

Receiver *Receiver::create(Kind kind, const QString &folder)
{
    if (kind == Kind::Own)
        return new OwnReceiver(folder);
    return new RbReceiver(folder);
}
