#ifndef SIGNALLOG_H
#define SIGNALLOG_H

#include <QObject>
#include <QStringList>

// An endpoint's progress and status signals in the order they came:
// "Starting", "99%", "Running", ... A transfer has ended once a final
// status (2 and above) is the last entry.
class SignalLog
{
public:
    template <typename Endpoint, typename Status>
    SignalLog(Endpoint &endpoint, void (Endpoint::*progressSignal)(int),
        void (Endpoint::*statusSignal)(Status))
    {
        QObject::connect(&endpoint, progressSignal,
            [this](int progress) { entries << QString::number(progress) + '%'; });
        QObject::connect(
            &endpoint, statusSignal, [this](Status status) { entries << statusName(int(status)); });
    }

    bool ended() const
    {
        static const QStringList finals = { "Completed", "Cancelled", "TimedOut", "Failed" };
        return !entries.isEmpty() && finals.contains(entries.last());
    }

    static QString statusName(int status)
    {
        static const QStringList names
            = { "Starting", "Running", "Completed", "Cancelled", "TimedOut", "Failed" };
        return names.value(status, QString::number(status));
    }

    QStringList entries;
};

#endif
