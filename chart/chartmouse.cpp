#include "chart/chart.h"

#include <QMouseEvent>
#include <QWheelEvent>
#include <cmath>

namespace chart {

namespace {

constexpr int zoomThreshold = 16;

} // namespace

// ---- Zoom and scroll ----

void TChart::mousePressEvent(QMouseEvent *event)
{
    if (zoom_.Active || scroll_.Active)
        return;
    const QPoint pos = event->position().toPoint();
    // Series lines are clipped to the plotting rectangle, so a press on one is a press on
    // the rectangle while that series is active.
    renderer().ensureLayout();
    const ChartRenderer::Part part = renderer_.partAt(pos);
    if (part != ChartRenderer::Part::Axis && part != ChartRenderer::Part::Plot)
        return;
    if (allowZoom_ && event->button() == Qt::LeftButton) {
        setCursor(Qt::ArrowCursor);
        zoom_ = { true, pos.x(), pos.y(), pos.x(), pos.y() };
        update();
    } else if (allowPanning_ != pmNone && event->button() == Qt::RightButton) {
        setCursor(Qt::ArrowCursor);
        scroll_ = { true, pos.x(), pos.y(), pos.x(), pos.y() };
    }
}

void TChart::saveScales()
{
    if (!scalesRestored_)
        return;
    for (int i = 0; i < ChartRenderer::AxisCount; ++i) {
        const TChartAxis &a = *renderer_.axis(i);
        saved_[size_t(i)] = { a.Automatic(), a.AutomaticMinimum(), a.AutomaticMaximum(),
            a.Minimum(), a.Maximum() };
    }
    scalesRestored_ = false;
}

void TChart::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    emit OnMouseMove(event->modifiers(), pos.x(), pos.y());
    if (zoom_.Active) {
        if (pos.x() != zoom_.X1 || pos.y() != zoom_.Y1) {
            zoom_.X1 = pos.x();
            zoom_.Y1 = pos.y();
            update();
        }
        return;
    }
    if (scroll_.Active) {
        renderer().ensureLayout();
        if (!renderer_.inPlotRect(pos)) {
            scroll_.Active = false;
            return;
        }
        if (pos.x() == scroll_.X1 && pos.y() == scroll_.Y1)
            return;
        saveScales();
        bool moved = false;
        auto shift = [&](TChartAxis &axis, int from, int to) {
            const double delta = axis.PositionToValue(from) - axis.PositionToValue(to);
            double minimum = axis.Minimum() + delta;
            double maximum = axis.Maximum() + delta;
            bool allow = true;
            if (OnAllowScroll)
                OnAllowScroll(&axis, minimum, allow, maximum);
            if (allow) {
                axis.SetRange(minimum, maximum);
                moved = true;
            }
        };
        const bool horizontal = allowPanning_ == pmHorizontal || allowPanning_ == pmBoth;
        const bool vertical = allowPanning_ == pmVertical || allowPanning_ == pmBoth;
        if (pos.x() != scroll_.X1 && horizontal)
            for (int i = 0; i < ChartRenderer::AxisCount; ++i)
                if (renderer_.axis(i)->Horizontal())
                    shift(*renderer_.axis(i), scroll_.X1, pos.x());
        if (pos.y() != scroll_.Y1 && vertical)
            for (int i = 0; i < ChartRenderer::AxisCount; ++i)
                if (!renderer_.axis(i)->Horizontal())
                    shift(*renderer_.axis(i), scroll_.Y1, pos.y());
        scroll_.X1 = pos.x();
        scroll_.Y1 = pos.y();
        if (moved) {
            emit OnScroll();
            renderer_.invalidate();
        }
        return;
    }
    unsetCursor();
}

void TChart::zoomIn()
{
    renderer().ensureLayout();
    const int x0 = std::min(zoom_.X0, zoom_.X1), x1 = std::max(zoom_.X0, zoom_.X1);
    const int y0 = std::min(zoom_.Y0, zoom_.Y1), y1 = std::max(zoom_.Y0, zoom_.Y1);
    std::array<std::pair<double, double>, ChartRenderer::AxisCount> targets;
    for (int i = 0; i < ChartRenderer::AxisCount; ++i) {
        const TChartAxis &a = *renderer_.axis(i);
        targets[size_t(i)] = a.Horizontal()
            ? std::pair(a.PositionToValue(x0), a.PositionToValue(x1))
            : std::pair(a.PositionToValue(y1), a.PositionToValue(y0));
    }
    saveScales();
    for (int i = 0; i < ChartRenderer::AxisCount; ++i)
        renderer_.axis(i)->SetRange(targets[size_t(i)].first, targets[size_t(i)].second);
    zoomed_ = true;
    emit OnZoom();
}

void TChart::CancelZoom()
{
    if (!scalesRestored_) {
        for (int i = 0; i < ChartRenderer::AxisCount; ++i) {
            TChartAxis &a = *renderer_.axis(i);
            const SavedScale &s = saved_[size_t(i)];
            a.setAutomatic(s.automatic);
            a.setAutomaticMinimum(s.automaticMinimum);
            a.setAutomaticMaximum(s.automaticMaximum);
            if (!s.automatic)
                a.SetRange(s.minimum, s.maximum);
        }
    }
    scalesRestored_ = true;
    emit OnUndoZoom();
    renderer_.invalidate();
    zoomed_ = false;
}

void TChart::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (zoom_.Active && event->button() == Qt::LeftButton) {
        zoom_.Active = false;
        zoom_.X1 = pos.x();
        zoom_.Y1 = pos.y();
        update(); // erases the rectangle
        if (std::abs(zoom_.X1 - zoom_.X0) > zoomThreshold
            && std::abs(zoom_.Y1 - zoom_.Y0) > zoomThreshold) {
            if (zoom_.X0 < zoom_.X1 && zoom_.Y0 < zoom_.Y1)
                zoomIn();
            else
                CancelZoom();
            renderer_.invalidate();
        }
    }
    scroll_.Active = false;
}

void TChart::wheelEvent(QWheelEvent *event)
{
    wheelRemainder_ += event->angleDelta().y();
    const int steps = wheelRemainder_ / 120;
    wheelRemainder_ -= steps * 120;
    if (steps == 0)
        return;
    renderer().ensureLayout();
    // Towards the user (negative delta) moves the vertical axes up by 3 percent a message.
    for (int n = 0; n < std::abs(steps); ++n) {
        const double sign = steps < 0 ? 1.0 : -1.0;
        for (int i = 0; i < ChartRenderer::AxisCount; ++i) {
            TChartAxis *axis = renderer_.axis(i);
            if (axis->Horizontal())
                continue;
            // A zero range (a flat channel) stays zero: the wheel moves, it never widens.
            axis->shiftRange(sign * 0.03 * (axis->Maximum() - axis->Minimum()));
        }
    }
    event->accept();
}

void TChart::leaveEvent(QEvent *event)
{
    unsetCursor();
    scroll_.Active = false;
    QWidget::leaveEvent(event);
}

} // namespace chart
