#include "pseudoterminal.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <vector>

namespace {

// One slice of event-loop service while waiting on something Qt cannot
// signal: bytes on the master or the exit of a child process.
void serveEvents()
{
    QEventLoop loop;
    QTimer::singleShot(2, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

PseudoTerminal::PseudoTerminal()
{
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return;
    // A fresh pty echoes and edits lines; a serial line passes bytes as they are.
    termios mode;
    tcgetattr(slave, &mode);
    cfmakeraw(&mode);
    tcsetattr(slave, TCSANOW, &mode);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    path = QString::fromLocal8Bit(name);
}

PseudoTerminal::~PseudoTerminal()
{
    if (peer > 0) {
        kill(peer, SIGKILL);
        waitpid(peer, nullptr, 0);
    }
    if (slave >= 0)
        close(slave);
    if (master >= 0)
        close(master);
}

bool PseudoTerminal::isOpen() const
{
    return master >= 0;
}

QString PseudoTerminal::slavePath() const
{
    return path;
}

int PseudoTerminal::masterDescriptor() const
{
    return master;
}

void PseudoTerminal::hangUp()
{
    if (slave >= 0)
        close(slave);
    if (master >= 0)
        close(master);
    slave = master = -1;
}

bool PseudoTerminal::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master, bytes.constData() + done, bytes.size() - done);
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd writable = { master, POLLOUT, 0 };
            poll(&writable, 1, 100);
        } else {
            return false;
        }
    }
    return true;
}

QByteArray PseudoTerminal::readAvailable()
{
    QByteArray bytes;
    char chunk[4096];
    // A peer shares the master's open file description and needs it
    // blocking, so O_NONBLOCK cannot be relied on here: ask first.
    pollfd readable = { master, POLLIN, 0 };
    while (poll(&readable, 1, 0) == 1 && (readable.revents & POLLIN)) {
        const ssize_t n = ::read(master, chunk, sizeof chunk);
        if (n <= 0)
            break;
        bytes.append(chunk, int(n));
    }
    return bytes;
}

QByteArray PseudoTerminal::read(int count, int timeoutMs)
{
    QByteArray bytes = readAvailable();
    QElapsedTimer clock;
    clock.start();
    while (bytes.size() < count && clock.elapsed() < timeoutMs) {
        serveEvents();
        bytes += readAvailable();
    }
    return bytes;
}

bool PseudoTerminal::startPeer(const QString &program, const QStringList &arguments,
                               const QString &workingDirectory)
{
    if (master < 0 || peer > 0)
        return false;
    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls are allowed.
    std::vector<QByteArray> words;
    words.push_back(program.toLocal8Bit());
    for (const QString &argument : arguments)
        words.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const QByteArray folder = workingDirectory.toLocal8Bit();

    peer = fork();
    if (peer < 0)
        return false;
    if (peer == 0) {
        const int flags = fcntl(master, F_GETFL);
        fcntl(master, F_SETFL, flags & ~O_NONBLOCK);
        dup2(master, STDIN_FILENO);
        dup2(master, STDOUT_FILENO);
        if (!folder.isEmpty() && chdir(folder.constData()) != 0)
            _exit(127);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return true;
}

int PseudoTerminal::waitForPeer(int timeoutMs)
{
    if (peer <= 0)
        return -1;
    QElapsedTimer clock;
    clock.start();
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(peer, &status, WNOHANG)) == 0 && clock.elapsed() < timeoutMs)
        serveEvents();
    if (done == 0) {
        kill(peer, SIGKILL);
        waitpid(peer, &status, 0);
        peer = -1;
        return -1;
    }
    peer = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
