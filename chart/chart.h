#pragma once

#include "chart/chartaxis.h"
#include "chart/fastlineseries.h"

#include <QByteArray>
#include <QColor>
#include <QHash>
#include <QImage>
#include <QPen>
#include <QRect>
#include <QStaticText>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <vector>

class QFontMetrics;

namespace chart {

enum TPanningMode { pmNone, pmHorizontal, pmVertical, pmBoth };

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

// One drag of the mouse, in client pixels.
struct TChartDrag
{
    bool Active = false;
    int X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
};

// Line chart panel: four axes, a legend at the right, fast line series drawn into the
// plotting rectangle; rectangle zoom with the left button, scrolling with the right button
// and the wheel.
//
// The window's chart: construct it with its parent, add the channel series
// (chart/channelchart.h), set the axis titles (LeftAxis()->Title().setCaption(...)) and the
// series colours (Series(i)->setSeriesColor(0x00BBGGRR or QColor)); setDefaultListCapacity()
// is the component-wide list reservation. Hint and context menu belong to the window.
//
// A recording drawn as its blocks arrive: reserve the time axis's range for the whole
// recording (BottomAxis()->setReservedRange), then append each block's points behind the
// series' last ones (TChartSeries::appendPoints or AddPoint, in X order). While the axes
// keep their ranges the chart repaints only the pixel columns the new points fall in, and
// reduces only those points; a new extreme of an automatic value axis repaints it all.
class TChart : public QWidget, public TChartInvalidation
{
    Q_OBJECT

public:
    explicit TChart(QWidget *parent = nullptr);
    ~TChart() override;

    TChartAxis *LeftAxis() { return axes_[2].get(); }
    TChartAxis *BottomAxis() { return axes_[0].get(); }
    TChartAxis *TopAxis() { return axes_[1].get(); }
    TChartAxis *RightAxis() { return axes_[3].get(); }
    const TChartAxis *LeftAxis() const { return axes_[2].get(); }
    const TChartAxis *BottomAxis() const { return axes_[0].get(); }
    // Axes in creation order: bottom, top, left, right.
    TChartAxis *axis(int index) { return axes_[static_cast<size_t>(index)].get(); }

    // Changes to the legend's fields show at the next repaint (invalidate()).
    TChartLegend &Legend() { return legend_; }

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

    bool AllowZoom() const { return allowZoom_; }
    void setAllowZoom(bool value) { allowZoom_ = value; }
    TPanningMode AllowPanning() const { return allowPanning_; }
    void setAllowPanning(TPanningMode mode) { allowPanning_ = mode; }

    // Series, owned by the chart, in list (paint and legend) order.
    TFastLineSeries *addFastLineSeries(const QString &name);
    // Removes and deletes a series of this chart; the series after it move up one index.
    void removeSeries(TChartSeries *series);
    int SeriesCount() const { return static_cast<int>(series_.size()); }
    TChartSeries *Series(int index) const { return series_[static_cast<size_t>(index)].get(); }
    TChartSeries *seriesByName(const QString &name) const;

    // Undoes every zoom and scroll since the scales were last saved.
    void CancelZoom();
    bool Zoomed() const { return zoomed_; }
    const TChartDrag &zoomDrag() const { return zoom_; }
    const TChartDrag &scrollDrag() const { return scroll_; }

    // Drawing onto any surface: the chart laid out in bounds and painted with painter.
    void paintChart(QPainter &painter, const QRect &bounds, bool printing = false);
    QRect ClientBounds() const { return QRect(0, 0, width(), height()); }
    // SVG picture of the chart drawn over rect, max(1, width - 1) by max(1, height - 1).
    QByteArray RenderMetafile(bool enhanced, const QRect &rect);
    // The chart laid out at its client size and mapped onto rect of painter's device, width
    // and height scaled independently, with the printer's pen rules.
    void PrintInRect(QPainter &painter, const QRect &rect);
    // The same with the chart laid out at `layout` pixels instead of its client size.
    void PrintInRect(QPainter &painter, const QRect &rect, const QSize &layout);

    // Plotting rectangle of the last screen layout; right and bottom are the edge pixels.
    QRect ChartRect() const;
    QRect legendRect() const;
    // Makes the axes' working values and the layout current for the widget's size.
    void ensureLayout();
    // The part of the chart's picture the last paint event painted anew: the whole client
    // area, the pixel columns of points appended since the paint before, or nothing when it
    // only showed the picture again.
    QRect lastPaintedPart() const { return paintedPart_; }

    bool destroying() const { return destroying_; }

    // May change the new range of a scrolled axis, or refuse it by clearing allow.
    std::function<void(TChartAxis *axis, double &minimum, bool &allow, double &maximum)>
        OnAllowScroll;

signals:
    void OnZoom();
    void OnUndoZoom();
    void OnScroll();
    // Every mouse move over the chart, before the chart's own handling.
    void OnMouseMove(Qt::KeyboardModifiers modifiers, int x, int y);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void requestUpdate() override { update(); }
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
    enum class Target { None, Series, Axis, Plot, Legend };

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
    void takeAppends();
    bool appendedColumns(QRect &part) const;
    // Paints the columns of part, widened over the lines across its edges, into the picture;
    // false when that is not possible (or not much cheaper than painting it all).
    bool paintAppended(const QRect &part);
    void keepPictureState(const QRect &painted);
    void drawLegend(QPainter &painter, const Layout &layout, const QFontMetrics &fm, bool printing);
    void drawAxis(QPainter &painter, TCustomChartAxis &axis, const Layout &layout,
        const QFontMetrics &fm, bool printing);
    void drawZoomRectangle(QPainter &painter);
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
    Target targetAt(const QPoint &pos);
    bool inPlotRect(const QPoint &pos) const;
    void saveScales();
    void zoomIn();
    Snapshot snapshot() const;
    void restore(const Snapshot &s);

    std::array<std::unique_ptr<TChartAxis>, 4> axes_;
    std::vector<std::unique_ptr<TChartSeries>> series_;
    TChartLegend legend_;
    QColor color_;
    std::array<int, 4> margins_ { 3, 4, 3, 4 }; // percent: left, top, right, bottom
    bool axisVisible_ = true;
    bool clipPoints_ = true;
    bool allowZoom_ = true;
    TPanningMode allowPanning_ = pmBoth;

    Layout layout_;
    bool destroying_ = false;

    TChartDrag zoom_;
    TChartDrag scroll_;
    struct SavedScale
    {
        bool automatic, automaticMinimum, automaticMaximum;
        double minimum, maximum;
    };
    std::array<SavedScale, 4> saved_ {};
    bool scalesRestored_ = true;
    bool zoomed_ = false;
    int wheelRemainder_ = 0;
    QHash<QString, CachedText> texts_;
    QHash<std::pair<double, int>, QString> valueTexts_; // by value and decimals
    QFont textFont_;
    int textDpi_ = 0;
    QImage picture_; // the chart as last painted on screen
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
