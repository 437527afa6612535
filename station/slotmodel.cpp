#include "slotmodel.h"

#include <QColor>
#include <QCoreApplication>
#include <QFont>

namespace
{

// Read from across the bench: a saturated colour behind a short word, never
// the colour alone.
QColor stateColour(SlotModel::State state)
{
    switch (state) {
    case SlotModel::State::Idle:
        return QColor(0x9e, 0x9e, 0x9e);
    case SlotModel::State::Waiting:
    case SlotModel::State::Sending:
        return QColor(0x15, 0x65, 0xc0);
    case SlotModel::State::Completed:
        return QColor(0x2e, 0x7d, 0x32);
    case SlotModel::State::Failed:
        return QColor(0xc6, 0x28, 0x28);
    case SlotModel::State::Gone:
        return QColor(0x42, 0x42, 0x42);
    }
    return QColor();
}

} // namespace

SlotModel::SlotModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

int SlotModel::addPort(const QString &port, const QString &description, bool use)
{
    const int existing = row(port);
    if (existing >= 0)
        return existing;
    const int added = entries.size();
    beginInsertRows(QModelIndex(), added, added);
    Slot slot;
    slot.port = port;
    slot.description = description;
    slot.use = use;
    entries.append(slot);
    endInsertRows();
    if (use)
        emit usedPortsChanged();
    return added;
}

void SlotModel::removePort(const QString &port)
{
    const int gone = row(port);
    if (gone < 0)
        return;
    const bool used = entries.at(gone).use;
    beginRemoveRows(QModelIndex(), gone, gone);
    entries.remove(gone);
    endRemoveRows();
    emit totalsChanged();
    if (used)
        emit usedPortsChanged();
}

int SlotModel::row(const QString &port) const
{
    for (int index = 0; index < entries.size(); ++index) {
        if (entries.at(index).port == port)
            return index;
    }
    return -1;
}

QString SlotModel::port(int row) const { return entries.value(row).port; }

QStringList SlotModel::ports() const
{
    QStringList all;
    for (const Slot &slot : entries)
        all << slot.port;
    return all;
}

QStringList SlotModel::usedPorts() const
{
    QStringList used;
    for (const Slot &slot : entries) {
        if (slot.use)
            used << slot.port;
    }
    return used;
}

SlotModel::State SlotModel::state(int row) const { return entries.value(row).state; }

QString SlotModel::reason(int row) const { return entries.value(row).reason; }

int SlotModel::doneAt(int row) const { return entries.value(row).done; }

int SlotModel::failedAt(int row) const { return entries.value(row).failed; }

void SlotModel::setState(const QString &port, State state)
{
    const int changed = row(port);
    if (changed < 0)
        return;
    Slot &slot = entries[changed];
    // The last board's result stays in view while the slot waits for the
    // next one: it tells the operator which board to take out.
    if (state == State::Waiting && (slot.state == State::Completed || slot.state == State::Failed))
        return;
    slot.state = state;
    if (state == State::Sending)
        slot.percent = 0;
    rowChanged(changed);
}

void SlotModel::setProgress(const QString &port, int percent)
{
    const int changed = row(port);
    if (changed < 0 || entries.at(changed).percent == percent)
        return;
    entries[changed].percent = percent;
    const QModelIndex cell = index(changed, StateColumn);
    emit dataChanged(cell, cell, { Qt::DisplayRole });
}

void SlotModel::countBoard(const QString &port, const BoardRecord &record)
{
    const int changed = row(port);
    if (changed < 0)
        return;
    Slot &slot = entries[changed];
    const bool good = record.result == BoardRecord::Completed;
    slot.state = good ? State::Completed : State::Failed;
    slot.result = record.result;
    slot.reason = record.error;
    slot.seconds = record.seconds;
    ++(good ? slot.done : slot.failed);
    rowChanged(changed);
    emit totalsChanged();
}

void SlotModel::returnToIdle(bool keepResults)
{
    for (int index = 0; index < entries.size(); ++index) {
        Slot &slot = entries[index];
        if (keepResults && (slot.state == State::Completed || slot.state == State::Failed))
            continue;
        slot.state = State::Idle;
    }
    if (!entries.isEmpty())
        emit dataChanged(index(0, 0), index(entries.size() - 1, ColumnCount - 1));
}

void SlotModel::setLocked(bool lock)
{
    locked = lock;
    if (!entries.isEmpty())
        emit dataChanged(index(0, UseColumn), index(entries.size() - 1, UseColumn));
}

void SlotModel::setEnglish(bool inEnglish)
{
    english = inEnglish;
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
    if (!entries.isEmpty())
        emit dataChanged(index(0, 0), index(entries.size() - 1, ColumnCount - 1));
}

int SlotModel::done() const
{
    int sum = 0;
    for (const Slot &slot : entries)
        sum += slot.done;
    return sum;
}

int SlotModel::failed() const
{
    int sum = 0;
    for (const Slot &slot : entries)
        sum += slot.failed;
    return sum;
}

void SlotModel::resetCounts()
{
    for (Slot &slot : entries) {
        slot.done = 0;
        slot.failed = 0;
    }
    if (!entries.isEmpty())
        emit dataChanged(index(0, DoneColumn), index(entries.size() - 1, FailedColumn));
    emit totalsChanged();
}

int SlotModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : entries.size();
}

int SlotModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SlotModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= entries.size())
        return QVariant();
    const Slot &slot = entries.at(index.row());
    switch (index.column()) {
    case UseColumn:
        if (role == Qt::CheckStateRole)
            return slot.use ? Qt::Checked : Qt::Unchecked;
        return QVariant();
    case PortColumn:
        return role == Qt::DisplayRole ? slot.port : QVariant();
    case DescriptionColumn:
        return role == Qt::DisplayRole ? slot.description : QVariant();
    case StateColumn:
        switch (role) {
        case Qt::DisplayRole:
            if (slot.state == State::Sending)
                return QStringLiteral("%1 %2%").arg(stateWord(slot.state)).arg(slot.percent);
            if (slot.state != State::Failed)
                return stateWord(slot.state);
            if (english)
                return QStringLiteral("%1: %2").arg(stateWord(slot.state), slot.reason);
            return QStringLiteral("%1：%2").arg(stateWord(slot.state), [&] {
                switch (slot.result) {
                case BoardRecord::Cancelled:
                    return QStringLiteral("板子取消了传输");
                case BoardRecord::TimedOut:
                    return QStringLiteral("超时");
                default:
                    return QStringLiteral("出错");
                }
            }());
        case Qt::ToolTipRole:
            return slot.state == State::Failed ? slot.reason : QVariant();
        case Qt::BackgroundRole:
            return stateColour(slot.state);
        case Qt::ForegroundRole:
            return QColor(Qt::white);
        case Qt::FontRole: {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        case Qt::UserRole:
            return slot.state == State::Sending ? slot.percent : -1;
        default:
            return QVariant();
        }
    case DoneColumn:
        return role == Qt::DisplayRole ? slot.done : QVariant();
    case FailedColumn:
        return role == Qt::DisplayRole ? slot.failed : QVariant();
    case SecondsColumn:
        if (role == Qt::DisplayRole && slot.seconds >= 0)
            return QString::number(slot.seconds, 'f', 1);
        return QVariant();
    default:
        return QVariant();
    }
}

bool SlotModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.column() != UseColumn || role != Qt::CheckStateRole || locked)
        return false;
    Slot &slot = entries[index.row()];
    slot.use = value.toInt() == Qt::Checked;
    emit dataChanged(index, index, { Qt::CheckStateRole });
    emit usedPortsChanged();
    return true;
}

Qt::ItemFlags SlotModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    if (index.column() != UseColumn)
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    return locked ? Qt::ItemIsUserCheckable : Qt::ItemIsEnabled | Qt::ItemIsUserCheckable;
}

QVariant SlotModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case UseColumn:
        return text("使用", "use");
    case PortColumn:
        return text("端口", "port");
    case DescriptionColumn:
        return text("设备", "device");
    case StateColumn:
        return text("状态", "state");
    case DoneColumn:
        return text("成功", "done");
    case FailedColumn:
        return text("失败", "failed");
    case SecondsColumn:
        return text("上一块用时（秒）", "last board (s)");
    default:
        return QVariant();
    }
}

QString SlotModel::stateWord(State state) const
{
    switch (state) {
    case State::Idle:
        return text("空闲", "idle");
    case State::Waiting:
        return text("等待上板", "waiting for a board");
    case State::Sending:
        return text("烧录中", "sending");
    case State::Completed:
        return text("成功", "completed");
    case State::Failed:
        return text("失败", "failed");
    case State::Gone:
        return text("端口断开", "port gone");
    }
    return QString();
}

void SlotModel::rowChanged(int row)
{
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

QString SlotModel::text(const char *chinese, const char *inEnglish) const
{
    return english ? QString::fromUtf8(inEnglish) : QString::fromUtf8(chinese);
}
