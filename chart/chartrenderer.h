#pragma once

#include "chart/chartaxis.h"
#include "chart/fastlineseries.h"

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QPen>
#include <QRect>
#include <QSize>
#include <QStaticText>
#include <array>
#include <memory>
#include <vector>

class QFontMetrics;
class QPaintDevice;

namespace chart {

// Legend in the lsSeries style, aligned right: one row per active series.
struct TChartLegend
{
    bool Visible = true;
    QColor Color = QColor(202, 202, 202);
    int TopPos = 10; // percent of the chart's height
    int ColorWidth = 12; // symbol width, percent of the widest text + 10 ...
    static constexpr int SampleWidth = 16; // ... and at least this many pixels
    int ShadowSize = 3;
    QColor ShadowColor = Qt::black;
    bool FrameVisible = true;
    QPen FramePen = QPen(QColor(Qt::black), 1);
    bool ResizeChart = true;
    int HorizMargin = 0; // 0: 3 percent of the plotting width
    QColor FontColor = Qt::black;
};

// What shows a renderer's picture on a screen (the chart widget): asked to show it again
// after a change, and to let the renderer look at appended points once the caller's appends
// are done (ChartRenderer::takeAppends).
class ChartView
{
public:
    virtual ~ChartView() = default;
    // part: the part of the chart to show again; null, all of it.
    virtual void showAgain(const QRect &part) = 0;
    virtual void takeAppendsLater() = 0;
};

// The line chart on Qt GUI alone: four axes, a legend at the right and fast line series,
// laid out and painted with a QPainter on any paint device: the screen's picture of the
// chart widget, a printer's page, a PDF, an SVG generator, a PNG's image. The chart widget
// (chart/chart.h) holds one and shows its picture; `ferrun-cli plot` draws with one alone,
// without the widgets library.
//
// Set up: add series (addFastLineSeries), set the axis titles (LeftAxis()->Title()
// .setCaption(...)) and the series colours (Series(i)->setSeriesColor(0x00BBGGRR or QColor)).
// The chart is laid out at size() with font(), its texts sized for the screen's resolution
// screenDpi(): on any other device they take as many device pixels as on the screen, so a
// printer or a picture gets the screen's layout.
//
// A recording drawn as its blocks arrive: reserve the time axis's range for the whole
// recording (BottomAxis()->setReservedRange), then append each block's points behind the
// series' last ones (TChartSeries::appendPoints or AddPoint, in X order). While the axes keep
// their ranges the picture is painted again only in the pixel columns the new points fall
// in, and only those points are reduced; a new extreme of an automatic value axis repaints it
// all.
class ChartRenderer : public TChartInvalidation
{
public:
    ChartRenderer();
    ~ChartRenderer() override;
    ChartRenderer(const ChartRenderer &) = delete;
    ChartRenderer &operator=(const ChartRenderer &) = delete;

    // The view told of changes, or nullptr.
    void setView(ChartView *view) { view_ = view; }

    TChartAxis *LeftAxis() { return axes_[2].get(); }
    TChartAxis *BottomAxis() { return axes_[0].get(); }
    TChartAxis *TopAxis() { return axes_[1].get(); }
    TChartAxis *RightAxis() { return axes_[3].get(); }
    const TChartAxis *LeftAxis() const { return axes_[2].get(); }
    const TChartAxis *BottomAxis() const { return axes_[0].get(); }
    // Axes in creation order: bottom, top, left, right.
    TChartAxis *axis(int index) { return axes_[static_cast<size_t>(index)].get(); }
    static constexpr int AxisCount = 4;

    // Changes to the legend's fields show at the next paint (invalidate()).
    TChartLegend &Legend() { return legend_; }

    // The background; the application palette's window colour at first.
    QColor Color() const { return color_; }
    void setColor(const QColor &color);
    int MarginLeft() const { return margins_[0]; }
    int MarginTop() const { return margins_[1]; }
    int MarginRight() const { return margins_[2]; }
    int MarginBottom() const { return margins_[3]; }
    void setMargins(int left, int top, int right, int bottom);
    bool AxisVisible() const { return axisVisible_; }
    void setAxisVisible(bool value);
    bool ClipPoints() const { return clipPoints_; }
    void setClipPoints(bool value);

    // Series, owned by the chart, in list (paint and legend) order.
    TFastLineSeries *addFastLineSeries(const QString &name);
    // Removes and deletes a series of this chart; the series after it move up one index.
    void removeSeries(TChartSeries *series);
    int SeriesCount() const { return static_cast<int>(series_.size()); }
    TChartSeries *Series(int index) const { return series_[static_cast<size_t>(index)].get(); }
    TChartSeries *seriesByName(const QString &name) const;

    // The texts' font (the application's at first) and the screen's resolution it is sized
    // for (the primary screen's at first).
    QFont font() const { return font_; }
    void setFont(const QFont &font);
    int screenDpi() const { return screenDpi_; }
    void setScreenDpi(int dpi);
    // Number texts follow the default locale: a new one takes effect at the next paint.
    void localeChanged();

    // The size the chart is laid out at on the screen, in pixels.
    QSize size() const { return size_; }
    void setSize(const QSize &size);
    QRect ClientBounds() const { return QRect(QPoint(0, 0), size_); }

    // Drawing onto any surface: the chart laid out in bounds and painted with painter.
    void paintChart(QPainter &painter, const QRect &bounds, bool printing = false);
    // SVG picture of the chart drawn over rect, max(1, width - 1) by max(1, height - 1),
    // titled `title`, laid out at the screen's resolution.
    QByteArray svg(const QRect &rect, const QString &title);
    // The chart laid out at `layout` pixels and mapped onto rect of painter's device, width
    // and height scaled independently, with the printer's pen rules.
    void PrintInRect(QPainter &painter, const QRect &rect, const QSize &layout);

    // Plotting rectangle of the last screen layout; right and bottom are the edge pixels.
    QRect ChartRect() const;
    QRect legendRect() const;
    // Makes the axes' working values and the layout current for size().
    void ensureLayout();
    // What lies at a pixel of the last screen layout (ensureLayout): an axis (its labels and
    // title), the plotting rectangle while a series is active, the legend, or nothing.
    enum class Part { None, Axis, Plot, Legend };
    Part partAt(const QPoint &pos) const;
    // Whether pos lies in the plotting rectangle of the last screen layout, edges included.
    bool inPlotRect(const QPoint &pos) const;

    // The chart's picture on the screen, at `ratio` device pixels per pixel: painted whole
    // when anything changed, and only in the pixel columns of points appended since the
    // paint before while the layout stays. Appends not looked at yet are taken first.
    const QImage &picture(qreal ratio);
    // The part of the picture its last call painted anew: the whole chart, the pixel columns
    // of points appended since the call before, or nothing when nothing had changed.
    QRect lastPaintedPart() const { return paintedPart_; }
    // Looks at the points appended since the last look: the view is asked to show their
    // columns again, or all of the chart when the layout changes with them.
    void takeAppends();

protected:
    void requestUpdate() override;
    void requestAppendCheck() override;

private:
    struct AxisLayout
    {
        bool visible = false;
        int axisPos = 0; // pixel of the axis line
        int labelPos = 0; // outer edge of the tick band
        int titlePos = 0; // outer edge of the title band
        int labelRoom = 0;
        int titleRoom = 0;
        int tickBand = 0;
        QRect hit;
    };
    struct Layout
    {
        int left = 0, top = 0, right = 0, bottom = 0; // plotting rectangle
        QRect bounds; // the whole chart: no label is drawn past it
        bool anyActive = false;
        bool legendShown = false;
        int legLeft = 0, legTop = 0, legRight = 0, legBottom = 0;
        int legRows = 0, legTextStart = 0, legSymbolWidth = 0;
        std::vector<int> legendItems;
        std::array<AxisLayout, 4> axes;
    };
    struct Snapshot
    {
        std::array<TCustomChartAxis::WorkingState, 4> axes;
        std::vector<std::pair<int, int>> shown;
        Layout layout;
        bool dirty;
    };

    Layout computeLayout(const QRect &bounds, const QFontMetrics &fm);
    void insetForEndLabels(Layout &L, const QRect &bounds, const QFontMetrics &fm);
    // The range the layout gives axis: its points' (and reserved) range where automatic.
    void automaticRange(const TCustomChartAxis &axis, double &minimum, double &maximum) const;
    void computeAutomaticRange(TCustomChartAxis &axis) const;
    // Everything but the layout: with part, only that rectangle is painted, and the series
    // write only its columns.
    void paintLayout(QPainter &painter, const Layout &layout, const QRect &bounds,
        const QFont &font, const QFontMetrics &fm, bool printing, const QRect *part = nullptr);
    // Points appended since the picture was painted: the columns to paint again, or a
    // full repaint when the layout changes with them.
    bool appendedColumns(QRect &part) const;
    // Paints the columns of part, widened over the lines across its edges, into the picture;
    // false when that is not possible (or not much cheaper than painting it all).
    bool paintAppended(const QRect &part);
    void keepPictureState(const QRect &painted);
    void drawLegend(QPainter &painter, const Layout &layout, const QFontMetrics &fm, bool printing);
    void drawAxis(QPainter &painter, TCustomChartAxis &axis, const Layout &layout,
        const QFontMetrics &fm, bool printing);
    QString legendText(const Layout &layout, size_t item) const;
    // Texts laid out once and kept for later paints (labels repeat from paint to paint).
    struct CachedText
    {
        int width = 0;
        QStaticText staticText;
    };
    // The chart's font sized for device so that its texts take as many device pixels as on
    // the screen.
    QFont fontFor(const QPaintDevice *device) const;
    void syncTextCache(const QFont &font, const QPaintDevice *device);
    const CachedText &cachedText(const QString &text, const QFontMetrics &fm);
    const CachedText &cachedValue(double value, int decimals, const QFontMetrics &fm);
    QString valueText(double value, int decimals);
    static RasterTarget rasterTarget(QPainter &painter, const QRect &clip);
    void drawGrid(QPainter &painter, const QPen &pen, bool horizontal, int at, int from, int to);
    // Horizontal and vertical lines in pen, written directly into the picture when that is
    // possible (direct_).
    void drawStraight(QPainter &painter, const QPen &pen, const std::vector<QLine> &lines);
    Snapshot snapshot() const;
    void restore(const Snapshot &s);
    // The screen's resolution and that of screenDevice_.
    void setDeviceDpi(int dpi);

    ChartView *view_ = nullptr;
    std::array<std::unique_ptr<TChartAxis>, 4> axes_;
    std::vector<std::unique_ptr<TChartSeries>> series_;
    TChartLegend legend_;
    QColor color_;
    std::array<int, 4> margins_ { 3, 4, 3, 4 }; // percent: left, top, right, bottom
    bool axisVisible_ = true;
    bool clipPoints_ = true;
    QFont font_;
    int screenDpi_ = 96;
    // A device of the screen's resolution, for the metrics of a layout without a paint.
    QImage screenDevice_;
    QSize size_;

    Layout layout_;

    QHash<QString, CachedText> texts_;
    QHash<std::pair<double, int>, QString> valueTexts_; // by value and decimals
    QFont textFont_;
    int textDpi_ = 0;
    QImage picture_; // the chart as last painted for the screen
    // What the picture was painted with: the axes' working values, the layout, and the
    // series' point counts and changes.
    struct PaintedSeries
    {
        const TChartSeries *series;
        int count;
        quint64 changes;
    };
    std::array<TCustomChartAxis::WorkingState, 4> pictureAxes_ {};
    Layout pictureLayout_;
    std::vector<PaintedSeries> paintedSeries_;
    QRect appendedPart_; // columns of appended points not yet painted
    QRect paintedPart_;
    QImage gridStrip_[2]; // dotted grid lines, horizontal and vertical, for raster devices
    // While a paint draws the frame, the axes and the grid: the painted image when their
    // lines can be written into it directly (no clipping but the part painted, no scaling).
    RasterTarget direct_;
    // ... and the part of the chart it paints (null: all of it). A text is drawn only where
    // it may show in the part: margin pixels around its box hold any glyph reaching out.
    QRect paintingPart_;
    bool mayShow(const QRect &box, int margin) const
    {
        return paintingPart_.isNull()
            || box.adjusted(-margin, -margin, margin, margin).intersects(paintingPart_);
    }
    QColor gridStripColour_;
};

} // namespace chart
