#include "progressdelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOptionProgressBar>

void ProgressDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const int percent = index.data(Qt::UserRole).toInt();
    if (percent < 0) {
        // The state's colour fills the cell even when the row is selected,
        // so a selection never hides what the slot is doing.
        painter->fillRect(option.rect, index.data(Qt::BackgroundRole).value<QColor>());
        QStyleOptionViewItem plain = option;
        plain.state &= ~QStyle::State_Selected;
        QStyledItemDelegate::paint(painter, plain, index);
        return;
    }
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(1, 1, -1, -1);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = percent;
    bar.text = index.data(Qt::DisplayRole).toString();
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    bar.state = option.state | QStyle::State_Horizontal;
    bar.palette = option.palette;
    bar.palette.setColor(QPalette::Highlight, index.data(Qt::BackgroundRole).value<QColor>());
    bar.fontMetrics = option.fontMetrics;
    painter->save();
    painter->setFont(index.data(Qt::FontRole).value<QFont>().resolve(option.font));
    QApplication::style()->drawControl(QStyle::CE_ProgressBar, &bar, painter);
    painter->restore();
}
