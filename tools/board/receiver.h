#ifndef RECEIVER_H
#define RECEIVER_H

#include <QByteArray>
#include <QObject>
#include <QString>

// The YMODEM receiver inside a board, fed by the board from its side of the
// line. Destroying it ends a transfer under way; an unfinished image is not
// kept under its name.
class Receiver : public QObject
{
    Q_OBJECT

public:
    enum class Kind { Rb, Own };

    // Receives into folder, the board's own.
    static Receiver *create(Kind kind, const QString &folder);

    virtual void start() = 0;
    virtual void write(const QByteArray &bytes) = 0;

signals:
    void output(const QByteArray &bytes);
    // outcome says how a transfer that did not complete ended.
    void finished(bool completed, const QString &outcome);
    // The receiver cannot run at all, so no board can be programmed.
    void unavailable(const QString &reason);
};

#endif
