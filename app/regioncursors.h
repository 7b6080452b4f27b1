#pragma once

#include <QObject>
#include <QPoint>
#include <array>
#include <optional>

class QAction;
class QWidget;

namespace chart {
class TChart;
}
namespace sig {
class DecodedRecording;
}

namespace app {

class ChartBuilder;
class CursorMarker;

// The two cursors A and B over the chart: vertical dashed lines that mark a region of the
// drawn points (the cursors' panel shows its statistics).
//
// Mouse: a left click with Ctrl places A, with Shift places B; a left press on a line (or
// within MarkerReach pixels of it) takes it along until the button is released. Neither
// starts the chart's rectangle zoom. Keys, with the chart focused: A and B place a cursor
// (at the mouse when it is over the plot, else A at a quarter and B at three quarters of the
// shown X range), Left and Right move the active cursor by one drawn point, with Shift by
// ten, with Ctrl by a tenth of the shown range; Home and End take it to the first and the
// last point shown; Space makes the other cursor the active one, Esc removes both. The
// chart's menu places A and B where it was opened.
//
// A cursor stands on a drawn point of the last build and is kept as that point's X, so zoom,
// scroll and resizing leave it where it is. A new build of the same recording puts it on the
// nearest of the new points; when the build's X counts in another unit (axis mode, time
// unit, averaging), the X is converted first. The window clears the cursors when another
// recording becomes the current one. Nothing of them is written to the settings.
class RegionCursors : public QObject
{
    Q_OBJECT

public:
    enum class Cursor { A, B };
    // Pixels either side of a line where a press takes it.
    static constexpr int MarkerReach = 5;

    RegionCursors(chart::TChart &chart, const ChartBuilder &builder, QObject *parent = nullptr);

    // X of the point the cursor stands on; none while it is not placed.
    std::optional<double> position(Cursor cursor) const { return slot(cursor).x; }
    bool anyPlaced() const { return m_slots[0].x || m_slots[1].x; }
    Cursor active() const { return m_active; }
    void setActive(Cursor cursor);

    // Puts the cursor on the drawn point nearest to x and makes it the active one; nothing
    // while the last build drew no point.
    void place(Cursor cursor, double x);
    // Where the menu and the keys place a cursor: at `pointer` (chart pixels) when it lies in
    // the plot, else A at a quarter and B at three quarters of the shown X range.
    void placeAt(Cursor cursor, std::optional<QPoint> pointer);
    // Moves the active cursor by `points` drawn points, up to the first or the last.
    void step(int points);
    // ... by `tenths` tenths of the shown X range (a point at least).
    void stepView(int tenths);
    // ... to the first (or last) drawn point of the shown X range.
    void toViewEnd(bool last);
    // The other cursor becomes the active one, when both are placed.
    void switchActive();
    // Both cursors go.
    void clear();
    // A build has drawn the current recording anew.
    void chartBuilt();

    // The line of a cursor (a child of the chart, shown while its X lies in the shown range).
    QWidget *marker(Cursor cursor) const;
    // "Поставить курсор A", "Поставить курсор B", "Сменить активный курсор", "Убрать курсоры":
    // for the chart's menu, each naming its key (the chart's while it has the focus).
    const std::array<QAction *, 4> &actions() const { return m_actions; }

signals:
    // A cursor was placed, moved or removed, or a build changed the points under them.
    void changed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    friend class CursorMarker;
    struct Slot
    {
        std::optional<double> x;
        CursorMarker *marker = nullptr;
    };
    Slot &slot(Cursor cursor) { return m_slots[size_t(cursor)]; }
    const Slot &slot(Cursor cursor) const { return m_slots[size_t(cursor)]; }
    const sig::DecodedRecording *drawn() const;
    // Presses, moves and releases of the left button, in the chart's pixels; `onMarker` when
    // the press came to a cursor's line.
    bool press(QPoint at, Qt::KeyboardModifiers modifiers, std::optional<Cursor> onMarker);
    void dragTo(int x);
    bool handlesKey(int key, Qt::KeyboardModifiers modifiers) const;
    bool keyPress(int key, Qt::KeyboardModifiers modifiers);
    std::optional<Cursor> markerNear(int x) const;
    double valueAt(int x) const;
    void placeMarkers();
    void updateActions();

    chart::TChart &m_chart;
    const ChartBuilder &m_builder;
    std::array<Slot, 2> m_slots;
    Cursor m_active = Cursor::A;
    std::optional<Cursor> m_dragged;
    // The mouse over the chart (none once it left), and where the chart's menu was opened.
    std::optional<QPoint> m_pointer;
    std::optional<QPoint> m_menuAt;
    // X per frame of the build the cursors' X belong to (0: none yet).
    double m_xPerFrame = 0;
    std::array<QAction *, 4> m_actions {};
};

} // namespace app
