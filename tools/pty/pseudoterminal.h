#ifndef PSEUDOTERMINAL_H
#define PSEUDOTERMINAL_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// A pseudo-terminal standing in for a serial line. The program under test
// opens slavePath() through QSerialPort like any serial device; the far end
// of the line is the master, played by the caller or by a peer process.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isOpen() const;
    QString slavePath() const;
    // The master, for a QSocketNotifier that hears the far end at once
    // instead of polling for it.
    int masterDescriptor() const;

    // Closes the far end, as when an adapter is pulled out: the device goes
    // away under whoever has it open.
    void hangUp();

    bool write(const QByteArray &bytes);
    // What has arrived on the master so far, without waiting.
    QByteArray readAvailable();
    // Serves the event loop until at least count bytes have arrived or
    // timeoutMs has passed; returns what arrived (maybe more than count).
    QByteArray read(int count, int timeoutMs);

    // Runs program with its standard input and output on the master, so a
    // real protocol peer (lrzsz, a simulated board) sits at the far end.
    bool startPeer(const QString &program, const QStringList &arguments,
                   const QString &workingDirectory = QString());
    // Serves the event loop until the peer exits; returns its exit code, or
    // -1 when it had to be killed after timeoutMs or died from a signal.
    int waitForPeer(int timeoutMs);

private:
    int master = -1;
    // Held open so that the line never hangs up while the program under
    // test closes and re-opens its side.
    int slave = -1;
    QString path;
    pid_t peer = -1;
};

#endif
