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
    // Ink that does not cross the baseline is no measure (a face without these glyphs gives
    // such boxes), and no glyph reaches a whole line's height beyond the font's.
    if (ink.isEmpty() || ink.top() > 0 || ink.bottom() < 0)
        return room;
    const int most = metrics.height();
    room.above = qBound(0, -ink.top() - room.ascent, most);
    room.below = qBound(0, ink.bottom() + 1 - room.descent, most);
    return room;
}
