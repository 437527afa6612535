#ifndef TOTALSPANEL_H
#define TOTALSPANEL_H

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class QLabel;
class SlotModel;

// The shift's figures in large type, read from the slot model: good and
// failed boards, the yield, and boards per hour over the time the station
// has been running since the figures were last reset.
class TotalsPanel : public QWidget
{
    Q_OBJECT

public:
    TotalsPanel(const SlotModel *model, QWidget *parent = nullptr);

    void runStarted();
    void runEnded();
    void reset();
    void setEnglish(bool english);

private:
    QLabel *figure(const char *name);
    void refresh();
    qint64 runningMs() const;

    const SlotModel *const model;
    QLabel *doneCaption;
    QLabel *failedCaption;
    QLabel *yieldCaption;
    QLabel *rateCaption;
    QLabel *done;
    QLabel *failed;
    QLabel *yield;
    QLabel *rate;
    QTimer clockTick;
    QElapsedTimer runClock;
    qint64 earlierMs = 0;
    bool english = false;
};

#endif
