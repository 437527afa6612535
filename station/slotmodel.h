#ifndef SLOTMODEL_H
#define SLOTMODEL_H

#include "boardrecord.h"

#include <QAbstractTableModel>
#include <QVector>

// One row per port of the station, as the operator sees it: whether it is
// used, its name and description, what it is doing now, its counts and its
// last board's time. The view and the totals both read it; the run writes
// it from the sessions' signals.
class SlotModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        UseColumn,
        PortColumn,
        DescriptionColumn,
        StateColumn,
        DoneColumn,
        FailedColumn,
        SecondsColumn,
        ColumnCount
    };
    enum class State { Idle, Waiting, Sending, Completed, Failed, Gone };
    Q_ENUM(State)

    explicit SlotModel(QObject *parent = nullptr);

    // The row of port, added (used or not) when it is new.
    int addPort(const QString &port, const QString &description, bool use);
    void removePort(const QString &port);
    // -1 for a port that has no row.
    int row(const QString &port) const;
    QString port(int row) const;
    QStringList ports() const;
    QStringList usedPorts() const;
    State state(int row) const;
    QString reason(int row) const;
    int doneAt(int row) const;
    int failedAt(int row) const;

    void setState(const QString &port, State state);
    void setProgress(const QString &port, int percent);
    void countBoard(const QString &port, const BoardRecord &record);
    // Every row back to idle, or, at the end of a run, to idle only where
    // no board ended, so the last results stay in view.
    void returnToIdle(bool keepResults);
    // While a run is on, the check boxes cannot be changed.
    void setLocked(bool locked);
    void setEnglish(bool english);

    int done() const;
    int failed() const;
    void resetCounts();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    QString stateWord(State state) const;

signals:
    void totalsChanged();
    void usedPortsChanged();

private:
    struct Slot {
        QString port;
        QString description;
        bool use = false;
        State state = State::Idle;
        int percent = 0;
        QString reason;
        BoardRecord::Result result = BoardRecord::Failed;
        int done = 0;
        int failed = 0;
        double seconds = -1;
    };

    void rowChanged(int row);
    QString text(const char *chinese, const char *english) const;

    QVector<Slot> entries;
    bool locked = false;
    bool english = false;
};

#endif
