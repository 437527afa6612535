#ifndef BOARDPROCESS_H
#define BOARDPROCESS_H

#include <QProcess>
#include <QString>
#include <QStringList>

// The simulated board as a child process. Its first line names the line's
// device; every further line reports an event of one of its boards.
class BoardProcess
{
public:
    explicit BoardProcess(const QString &program);
    ~BoardProcess();

    bool start(const QStringList &arguments);
    QString linePath() const;
    const QStringList &reports();
    // How often board number reported event.
    int count(int number, const QString &event);
    // Whether board number reported an event that starts with start.
    bool reported(int number, const QString &start);

private:
    const QString program;
    QProcess process;
    QString path;
    QStringList lines;
};

#endif
