#pragma once

#include <QByteArray>
#include <QSize>
#include <functional>

class QPainter;

// A chart's PNG, drawn and encoded with bounded memory. A picture of up to 4096 x 4096 pixels
// is drawn in one piece; a larger one in horizontal bands of at most BandBytes, each drawn, encoded
// and let go before the next, so that memory stays bounded whatever the size. (The toolkit rounds a
// sloped line that a band's edge cuts from where it enters the band: such a line may lie one pixel
// aside of where one piece would have it.) A chart has a few hundred colours at most (the
// lines, the grey of the legend and the grid, the shades of the text): written with a
// palette the picture is exact, about half the size and written several times faster; a
// picture of more than 256 colours is drawn again and written in full colour.
namespace chart {

inline constexpr qint64 OnePieceBytes = qint64(4096) * 4096 * 4;
inline constexpr qint64 BandBytes = qint64(64) << 20;

// Draws the picture of `size` with `paint` (given a painter on a white band, translated so
// that the picture's coordinates apply) and hands the PNG's bytes to `sink` as they come.
// False when the sink refused bytes or the picture could not be encoded.
bool writeBandedPng(const QSize &size, const std::function<void(QPainter &)> &paint,
    const std::function<bool(const QByteArray &)> &sink);

} // namespace chart
