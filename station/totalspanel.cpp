#include "totalspanel.h"

#include "slotmodel.h"

#include <QGridLayout>
#include <QLabel>

namespace
{

// Boards per hour moves slowly; once in a few seconds is fresh enough.
constexpr int RateRefreshMs = 5000;
constexpr double MsPerHour = 3600.0 * 1000.0;
// Over the first seconds a single board would read as thousands per hour.
constexpr qint64 RateAfterMs = 60 * 1000;

} // namespace

TotalsPanel::TotalsPanel(const SlotModel *model, QWidget *parent)
    : QWidget(parent)
    , model(model)
{
    auto *layout = new QGridLayout(this);
    doneCaption = new QLabel(this);
    failedCaption = new QLabel(this);
    yieldCaption = new QLabel(this);
    rateCaption = new QLabel(this);
    done = figure("doneTotal");
    failed = figure("failedTotal");
    yield = figure("yieldTotal");
    rate = figure("rateTotal");
    done->setStyleSheet(QStringLiteral("color: #2e7d32"));
    failed->setStyleSheet(QStringLiteral("color: #c62828"));
    const QList<QLabel *> captions = { doneCaption, failedCaption, yieldCaption, rateCaption };
    const QList<QLabel *> figures = { done, failed, yield, rate };
    for (int column = 0; column < captions.size(); ++column) {
        captions.at(column)->setAlignment(Qt::AlignCenter);
        layout->addWidget(captions.at(column), 0, column);
        layout->addWidget(figures.at(column), 1, column);
    }
    clockTick.setInterval(RateRefreshMs);
    connect(&clockTick, &QTimer::timeout, this, &TotalsPanel::refresh);
    connect(model, &SlotModel::totalsChanged, this, &TotalsPanel::refresh);
    setEnglish(false);
}

void TotalsPanel::runStarted()
{
    runClock.start();
    clockTick.start();
}

void TotalsPanel::runEnded()
{
    earlierMs = runningMs();
    runClock.invalidate();
    clockTick.stop();
    refresh();
}

void TotalsPanel::reset()
{
    earlierMs = 0;
    if (runClock.isValid())
        runClock.start();
    refresh();
}

void TotalsPanel::setEnglish(bool inEnglish)
{
    english = inEnglish;
    doneCaption->setText(english ? QStringLiteral("done") : QStringLiteral("成功"));
    failedCaption->setText(english ? QStringLiteral("failed") : QStringLiteral("失败"));
    yieldCaption->setText(english ? QStringLiteral("yield") : QStringLiteral("良率"));
    rateCaption->setText(
        english ? QStringLiteral("boards per hour") : QStringLiteral("产能（块/小时）"));
    refresh();
}

QLabel *TotalsPanel::figure(const char *name)
{
    auto *label = new QLabel(this);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignCenter);
    QFont large = label->font();
    large.setPointSize(large.pointSize() * 3);
    large.setBold(true);
    label->setFont(large);
    return label;
}

void TotalsPanel::refresh()
{
    const int good = model->done();
    const int bad = model->failed();
    done->setText(QString::number(good));
    failed->setText(QString::number(bad));
    yield->setText(good + bad == 0
            ? QStringLiteral("–")
            : QStringLiteral("%1%").arg(100.0 * good / (good + bad), 0, 'f', 1));
    const qint64 ms = runningMs();
    rate->setText(ms < RateAfterMs ? QStringLiteral("–")
                                   : QString::number(qRound((good + bad) * MsPerHour / ms)));
}

qint64 TotalsPanel::runningMs() const
{
    return earlierMs + (runClock.isValid() ? runClock.elapsed() : 0);
}
