#pragma once

#include <QByteArray>

#include <optional>

// Gives a TrueType face the text cell that Windows gives it, keeping every
// glyph as it is.
//
// Windows makes a face's cell at a pixel size from the face's usWinAscent
// and usWinDescent (OS/2 table), each scaled to the size and rounded: for
// Tahoma at 12 pixels that is 12 above the baseline and 2 below, a 14-pixel
// line. Qt on FreeType measures such a face differently. At the sizes where
// the face carries bitmap glyphs (EBLC strikes) it takes the ascent and
// descent from the strike's own line metrics (10 and 2 for Wine's Tahoma
// at 12 pixels) and adds a leading made of FreeType's outline metrics at
// that size: the ascender rounded up, the descender rounded down and the
// line height rounded to the nearest pixel, which leaves a leading of -1
// there. Wine's Tahoma thus sets 12-pixel text 11 pixels apart.
//
// The face returned sets, at every strike, the strike's ascender and
// descender to the Windows cell, and the outline line metrics (hhea and
// the OS/2 typographic values, the same in both, so that either choice of
// FreeType reads them) to the values nearest usWinAscent and usWinDescent
// that FreeType rounds to the same cell at every strike size with no
// leading. Only those values and the checksums change.
//
// Returns nothing when the data is no face it can read in full or the
// cell cannot be had; the caller then uses the face unchanged.
std::optional<QByteArray> withWindowsLineMetrics(const QByteArray &face);
