#include "productionrun.h"

#include "slotmodel.h"

ProductionRun::ProductionRun(SlotModel *model, QObject *parent)
    : QObject(parent)
    , model(model)
{
}

ProductionRun::~ProductionRun() = default;

ProductionRun::Problem ProductionRun::start(const Settings &settings, const QStringList &ports)
{
    detail.clear();
    if (settings.image.isEmpty())
        return Problem::NoImage;
    auto taken = std::make_unique<ImageSnapshot>();
    if (!taken->take(settings.image)) {
        detail = taken->errorString();
        return Problem::UnreadableImage;
    }
    if (ports.isEmpty())
        return Problem::NoPort;
    // One log at a time writes a target's spool.
    log.reset();
    emit spoolChanged(0);
    auto opened = std::make_unique<BoardLog>();
    if (!opened->open(settings.log)) {
        detail = opened->errorString();
        return Problem::UnusableLog;
    }

    log = std::move(opened);
    connect(log.get(), &BoardLog::spoolChanged, this, &ProductionRun::spoolChanged);
    emit spoolChanged(log->spooled());
    snapshot = std::move(taken);
    connect(
        snapshot.get(), &ImageSnapshot::changedOnDisk, this, &ProductionRun::imageChangedOnDisk);
    sessionSettings = SessionSettings();
    sessionSettings.baudRate = settings.baudRate;
    sessionSettings.handshake = settings.handshake;
    sessionSettings.boards = 0;
    sessionSettings.image = snapshot->path();
    sessionSettings.imageSize = snapshot->size();
    sessionSettings.imageSha256 = snapshot->sha256();
    target = settings.target;
    goodBoards = 0;
    stopping = false;
    targetReached = false;
    sessions.clear();
    model->returnToIdle(false);
    // A port that cannot be opened ends its session at once; the run ends
    // only after every session has started, and never before start()
    // returns, so the window sees it begin before it ends.
    ++active;
    for (const QString &port : ports)
        startSession(port);
    QMetaObject::invokeMethod(this, &ProductionRun::sessionFinished, Qt::QueuedConnection);
    return Problem::None;
}

QString ProductionRun::problemDetail() const { return detail; }

void ProductionRun::stop()
{
    if (active == 0 || stopping)
        return;
    stopping = true;
    for (const auto &entry : sessions)
        entry.second->interrupt();
}

void ProductionRun::addPort(const QString &port)
{
    if (running() && !stopping && !targetReached && sessions.count(port) == 0)
        startSession(port);
}

bool ProductionRun::running() const { return active > 0; }

const ImageSnapshot *ProductionRun::image() const { return snapshot.get(); }

void ProductionRun::startSession(const QString &port)
{
    SessionSettings settings = sessionSettings;
    settings.port = port;
    auto session = std::make_unique<BoardSession>(settings);
    BoardSession *started = session.get();
    sessions[port] = std::move(session);
    connect(started, &BoardSession::stateChanged, this,
        [this, port](BoardSession::State state) { showState(port, state); });
    connect(started, &BoardSession::progress, this,
        [this, port](int percent) { model->setProgress(port, percent); });
    connect(started, &BoardSession::boardEnded, this,
        [this, port](const BoardRecord &record) { boardEnded(port, record); });
    connect(started, &BoardSession::finished, this, &ProductionRun::sessionFinished);
    ++active;
    model->setState(port, SlotModel::State::Waiting);
    started->start();
}

void ProductionRun::boardEnded(const QString &port, const BoardRecord &record)
{
    log->append(record);
    // A board the operator stopped is in the log, but says nothing about
    // the boards' or the fixture's quality: it stays out of the counts.
    if (stopping && record.result == BoardRecord::Cancelled)
        return;
    model->countBoard(port, record);
    if (record.result != BoardRecord::Completed || target == 0 || ++goodBoards < target
        || targetReached)
        return;
    // The order is complete: boards under way may still end well, but no
    // new one is started.
    targetReached = true;
    for (const auto &entry : sessions)
        entry.second->stopAfterCurrentBoard();
}

void ProductionRun::showState(const QString &port, BoardSession::State state)
{
    switch (state) {
    case BoardSession::State::WaitingForBoard:
        model->setState(port, SlotModel::State::Waiting);
        return;
    case BoardSession::State::Transferring:
        model->setState(port, SlotModel::State::Sending);
        return;
    case BoardSession::State::PortGone:
        model->setState(port, SlotModel::State::Gone);
        return;
    case BoardSession::State::Done:
        return;
    }
}

void ProductionRun::sessionFinished()
{
    if (--active > 0)
        return;
    model->returnToIdle(!stopping);
    emit finished();
}
