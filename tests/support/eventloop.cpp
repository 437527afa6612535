#include "eventloop.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

bool serveUntil(const std::function<bool()> &done, int timeoutMs, int sliceMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(sliceMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}
