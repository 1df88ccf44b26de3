#include "toolkit/LineRoom.h"

#include <QFontMetrics>

LineRoom lineRoom(const QFont &font)
{
    const QFontMetrics metrics(font);
    // Glyphs that reach highest and lowest in the scripts these files hold.
    const QRect ink = metrics.boundingRect(QString::fromUtf8("[{|}]\u00c0\u00c5\u00c9\u00d6\u00ca"
                                                             "\u00e7gjpqy_\u00c7"));
    LineRoom room;
    room.ascent = metrics.ascent();
    room.descent = metrics.descent();
    room.above = qMax(0, -ink.top() - room.ascent);
    room.below = qMax(0, ink.bottom() + 1 - room.descent);
    return room;
}
