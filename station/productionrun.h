#ifndef PRODUCTIONRUN_H
#define PRODUCTIONRUN_H

#include "boardrecord.h"
#include "boardsession.h"
#include "imagesnapshot.h"

#include <QObject>
#include <map>
#include <memory>

class SlotModel;

// One run of the station from Start to its end: a board session on every
// used port, board after board, one image for all, one log, and the count
// of good boards the production order asks for. It writes what the
// sessions report into the slot model.
class ProductionRun : public QObject
{
    Q_OBJECT

public:
    struct Settings {
        QString image;
        int baudRate = 115200;
        bool handshake = true;
        // Good boards after which no new board is started; 0: no limit.
        int target = 0;
        QString log;
    };
    enum class Problem { None, NoImage, UnreadableImage, NoPort, UnusableLog };

    ProductionRun(SlotModel *model, QObject *parent = nullptr);
    ~ProductionRun() override;

    // Starts nothing and names the problem when the run cannot be had.
    Problem start(const Settings &settings, const QStringList &ports);
    // What the system said about the problem of the last start, if anything.
    QString problemDetail() const;
    // Cancels the transfers under way with CAN and ends the run; every
    // row returns to idle.
    void stop();
    // A port that appeared while the run is on.
    void addPort(const QString &port);
    bool running() const;
    // The image as the run sends it, read once at Start.
    const ImageSnapshot *image() const;

signals:
    // The file was overwritten after Start; the run goes on with the bytes
    // it read then.
    void imageChangedOnDisk();
    // Records waiting in the log's local spool for its database, which
    // keeps trying after the run as well.
    void spoolChanged(int waiting);
    // Every session has ended.
    void finished();

private:
    void startSession(const QString &port);
    void boardEnded(const QString &port, const BoardRecord &record);
    void showState(const QString &port, BoardSession::State state);
    void sessionFinished();

    SlotModel *const model;
    SessionSettings sessionSettings;
    std::map<QString, std::unique_ptr<BoardSession>> sessions;
    std::unique_ptr<ImageSnapshot> snapshot;
    std::unique_ptr<BoardLog> log;
    QString detail;
    int target = 0;
    int goodBoards = 0;
    int active = 0;
    bool stopping = false;
    bool targetReached = false;
};

#endif
