#pragma once

#include <QFont>

// The room a line of text takes in a font so that its glyphs are drawn whole: the font's
// own ascent and descent, and the rows that accented capitals, brackets and descenders
// reach beyond them in some fonts (a line drawn in the font's height alone loses the
// accents of "ÀÖ" and the tops of "[{" there).
struct LineRoom
{
    int above = 0; // rows above the font's ascent
    int ascent = 0;
    int descent = 0;
    int below = 0; // rows below the font's descent
    int height() const { return above + ascent + descent + below; }
    int baseline() const { return above + ascent; } // from the line's top
};

LineRoom lineRoom(const QFont &font);
