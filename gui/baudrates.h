#ifndef BAUDRATES_H
#define BAUDRATES_H

#include <QStringList>

// The line speeds a window offers, fastest first: what boot monitors on
// USB serial adapters commonly run at.
inline QStringList baudRates()
{
    return { QStringLiteral("921600"), QStringLiteral("460800"), QStringLiteral("230400"),
        QStringLiteral("115200"), QStringLiteral("57600"), QStringLiteral("38400"),
        QStringLiteral("19200"), QStringLiteral("9600"), QStringLiteral("4800"),
        QStringLiteral("2400"), QStringLiteral("1200") };
}

// A boot monitor's own speed after reset on most boards.
constexpr int DefaultBaudRate = 115200;

#endif
