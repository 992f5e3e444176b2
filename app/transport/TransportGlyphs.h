#pragma once

#include <QColor>
#include <QImage>

// The symbol printed on a transport key (record dot, play triangle, wind
// arrows, stop square, pause bars), painted at `side` pixels square.
QImage transportGlyph(int segment, const QColor& color, int side = 64);
