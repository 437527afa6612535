#ifndef BOOTMONITOR_H
#define BOOTMONITOR_H

#include "ymodem.h"

#include <QByteArray>

// The dialogue with a freshly reset board's boot monitor before a transfer:
// its output carries 'F' eighth from the end once it shows its prompt, the
// answer "1" sends it on to its YMODEM receiver, and that receiver's first
// 'C' asks for a CRC-16 transfer.
class BootMonitor
{
public:
    // The byte eighth from the end of the output, or 0 when there is less.
    static char markerByte(const QByteArray &output)
    {
        return output.size() >= MarkerDistanceFromEnd
            ? output.at(output.size() - MarkerDistanceFromEnd)
            : 0;
    }

    static bool isMarker(char byte) { return byte == Marker; }

    static bool showsPrompt(const QByteArray &output) { return isMarker(markerByte(output)); }

    static QByteArray answer() { return QByteArrayLiteral("1"); }

    static bool asksForFile(const QByteArray &chunk)
    {
        return !chunk.isEmpty() && chunk.at(0) == char(Ymodem::CRC_REQUEST);
    }

private:
    static constexpr int MarkerDistanceFromEnd = 8;
    static constexpr char Marker = 'F';
};

#endif
