#pragma once

#include "chart/chartrenderer.h"

#include <QWidget>
#include <functional>

namespace chart {

enum TPanningMode { pmNone, pmHorizontal, pmVertical, pmBoth };

// One drag of the mouse, in client pixels.
struct TChartDrag
{
    bool Active = false;
    int X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
};

// Line chart panel: the widget that holds a chart renderer (chart/chartrenderer.h), shows its
// picture and takes the mouse: rectangle zoom with the left button, scrolling with the right
// button and the wheel. Everything drawn, on the screen or off it, is drawn by the renderer.
//
// The window's chart: construct it with its parent, add the channel series
// (channelchart/channelchart.h), set the axis titles (LeftAxis()->Title().setCaption(...))
// and the series colours (Series(i)->setSeriesColor(0x00BBGGRR or QColor));
// setDefaultListCapacity() is the component-wide list reservation. Hint and context menu
// belong to the window. The renderer follows the widget's size, font and screen; the chart's
// axes, series and drawing are the renderer's, reached through the widget as through the
// renderer, and the widget stands for its renderer wherever one is wanted (the channel chart's
// functions, a report page, a picture).
class TChart : public QWidget, private ChartView
{
    Q_OBJECT

public:
    explicit TChart(QWidget *parent = nullptr);
    ~TChart() override;

    // The renderer, at the widget's size, font and screen.
    ChartRenderer &renderer()
    {
        followWidget();
        return renderer_;
    }
    operator ChartRenderer &() { return renderer(); }

    TChartAxis *LeftAxis() { return renderer_.LeftAxis(); }
    TChartAxis *BottomAxis() { return renderer_.BottomAxis(); }
    TChartAxis *TopAxis() { return renderer_.TopAxis(); }
    TChartAxis *RightAxis() { return renderer_.RightAxis(); }
    const TChartAxis *LeftAxis() const { return renderer_.LeftAxis(); }
    const TChartAxis *BottomAxis() const { return renderer_.BottomAxis(); }
    TChartAxis *axis(int index) { return renderer_.axis(index); }
    TChartLegend &Legend() { return renderer_.Legend(); }
    QColor Color() const { return renderer_.Color(); }
    void setColor(const QColor &color) { renderer_.setColor(color); }
    int MarginLeft() const { return renderer_.MarginLeft(); }
    int MarginTop() const { return renderer_.MarginTop(); }
    int MarginRight() const { return renderer_.MarginRight(); }
    int MarginBottom() const { return renderer_.MarginBottom(); }
    void setMargins(int left, int top, int right, int bottom)
    {
        renderer_.setMargins(left, top, right, bottom);
    }
    bool AxisVisible() const { return renderer_.AxisVisible(); }
    void setAxisVisible(bool value) { renderer_.setAxisVisible(value); }
    bool ClipPoints() const { return renderer_.ClipPoints(); }
    void setClipPoints(bool value) { renderer_.setClipPoints(value); }
    TFastLineSeries *addFastLineSeries(const QString &name)
    {
        return renderer_.addFastLineSeries(name);
    }
    void removeSeries(TChartSeries *series) { renderer_.removeSeries(series); }
    int SeriesCount() const { return renderer_.SeriesCount(); }
    TChartSeries *Series(int index) const { return renderer_.Series(index); }
    TChartSeries *seriesByName(const QString &name) const { return renderer_.seriesByName(name); }
    // Marks the layout stale and asks for one repaint.
    void invalidate() { renderer_.invalidate(); }

    QRect ClientBounds() const { return QRect(0, 0, width(), height()); }
    void paintChart(QPainter &painter, const QRect &bounds, bool printing = false)
    {
        renderer().paintChart(painter, bounds, printing);
    }
    // SVG picture of the chart drawn over rect, titled with the widget's object name (one
    // vector format serves both requests).
    QByteArray RenderMetafile(bool enhanced, const QRect &rect);
    // The chart laid out at its client size (or at `layout` pixels) and mapped onto rect of
    // painter's device, width and height scaled independently, with the printer's pen rules.
    void PrintInRect(QPainter &painter, const QRect &rect)
    {
        renderer().PrintInRect(painter, rect, size());
    }
    void PrintInRect(QPainter &painter, const QRect &rect, const QSize &layout)
    {
        renderer().PrintInRect(painter, rect, layout);
    }
    QRect ChartRect() const { return renderer_.ChartRect(); }
    QRect legendRect() const { return renderer_.legendRect(); }
    void ensureLayout() { renderer().ensureLayout(); }
    // The part of the chart's picture the last paint event painted anew.
    QRect lastPaintedPart() const { return renderer_.lastPaintedPart(); }

    bool AllowZoom() const { return allowZoom_; }
    void setAllowZoom(bool value) { allowZoom_ = value; }
    TPanningMode AllowPanning() const { return allowPanning_; }
    void setAllowPanning(TPanningMode mode) { allowPanning_ = mode; }

    // Undoes every zoom and scroll since the scales were last saved.
    void CancelZoom();
    bool Zoomed() const { return zoomed_; }
    const TChartDrag &zoomDrag() const { return zoom_; }
    const TChartDrag &scrollDrag() const { return scroll_; }

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

private:
    void showAgain(const QRect &part) override;
    void takeAppendsLater() override;
    // The renderer's size, font and resolution made the widget's. (A hidden widget gets
    // its resize event only when it is shown: its size is taken whenever the renderer is.)
    void followWidget();
    void drawZoomRectangle(QPainter &painter);
    void saveScales();
    void zoomIn();

    ChartRenderer renderer_;
    bool allowZoom_ = true;
    TPanningMode allowPanning_ = pmBoth;
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
};

} // namespace chart
