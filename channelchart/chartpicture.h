#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

// The pictures of the chart, made in one place for the window's copy to the clipboard (SVG and
// PNG) and for `ferrun-cli plot` (any of the three).
namespace chart {

class ChartRenderer;
struct Report;

// SVG and PNG: the chart alone at its size, on white. PDF: the recording's report page with
// the chart (channelchart/chartreport.h).
enum class PictureFormat { Svg, Png, Pdf };

// The format named "svg", "png" or "pdf"; nothing for any other name.
std::optional<PictureFormat> pictureFormat(const QString &name);
// "image/svg+xml", "image/png", "application/pdf".
QString mimeType(PictureFormat format);

// The chart at the size its picture in `format` draws it at: a PDF's at the size of its room
// on the page of `report` (reportChartSize); an SVG's and a PNG's at its own.
void sizeForPicture(ChartRenderer &chart, PictureFormat format, const Report &report);
// Lays the chart out as its picture in `format` will be drawn, on a device of the picture's
// kind: the pixel columns its points can be reduced to (ColumnReduction) are then those of
// the picture.
void layOutForPicture(ChartRenderer &chart, PictureFormat format);

using PictureSink = std::function<bool(const QByteArray &)>;
// Makes the picture and hands its bytes to `sink` as they come. The SVG is titled, and the
// PDF is the report page of, `report`. False when the picture could not be made or the sink
// refused bytes. The chart's colour and ranges are as they were when it returns.
bool writePicture(
    ChartRenderer &chart, PictureFormat format, const Report &report, const PictureSink &sink);
// The picture's bytes; empty when it could not be made.
QByteArray picture(ChartRenderer &chart, PictureFormat format, const Report &report);

} // namespace chart
