#include "app/regioncursors.h"

#include "app/chartbuilder.h"
#include "chart/chart.h"
#include "signal/regionstats.h"

#include <QAction>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace app {

namespace {

// Dark blue and dark magenta: unlike the channels' first-run colours, the black photodiode
// line and the readout's black line, and dashed on white like the readout's, so that a line
// is seen on any background and over any channel of its colour.
const QColor CursorColours[2] = { QColor(0, 0, 139), QColor(139, 0, 139) };
const QChar CursorLetters[2] = { u'A', u'B' };

// X per frame of a build: what converts the cursors' X when the next build counts in
// another unit; 0 when the build drew nothing or all its frames lie at one X.
double xPerFrame(const sig::DecodedRecording *r)
{
    return r ? r->PointStep : 0;
}

} // namespace

// A cursor's line with its letter at the top: a strip 2 × MarkerReach + 1 pixels wide,
// painted only on the line and the letter, so the chart shows through the rest. The strip
// takes the left button (a press drags the line) and leaves the others to the chart below
// (scrolling, the menu).
class CursorMarker : public QWidget
{
public:
    static constexpr int LetterHeight = 13;

    CursorMarker(RegionCursors &owner, RegionCursors::Cursor cursor, QWidget *chart)
        : QWidget(chart)
        , m_owner(owner)
        , m_cursor(cursor)
    {
        setObjectName(cursor == RegionCursors::Cursor::A ? QStringLiteral("cursorMarkerA")
                                                         : QStringLiteral("cursorMarkerB"));
        setCursor(Qt::SizeHorCursor);
        setFixedWidth(2 * RegionCursors::MarkerReach + 1);
        hide();
    }

    void setActive(bool active)
    {
        if (m_active != active) {
            m_active = active;
            update();
        }
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const QColor colour = CursorColours[int(m_cursor)];
        QPainter painter(this);
        const int x = RegionCursors::MarkerReach;
        painter.fillRect(QRect(x, 0, 1, height()), Qt::white);
        for (int y = 0; y < height(); y += 8)
            painter.fillRect(QRect(x, y, 1, 4), colour);
        // The letter in a box at the top, B's under A's so that neither hides the other when
        // the lines meet: filled for the active cursor, the one the arrow keys move.
        const int top = m_cursor == RegionCursors::Cursor::A ? 0 : LetterHeight;
        const QRect box(0, top, width(), std::min(height() - top, LetterHeight));
        painter.fillRect(box, m_active ? colour : QColor(Qt::white));
        painter.setPen(colour);
        painter.drawRect(box.adjusted(0, 0, -1, -1));
        QFont bold = font();
        bold.setBold(true);
        bold.setPixelSize(10);
        painter.setFont(bold);
        painter.setPen(m_active ? QColor(Qt::white) : colour);
        painter.drawText(box, Qt::AlignCenter, QString(CursorLetters[int(m_cursor)]));
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton
            || !m_owner.press(chartPoint(event), event->modifiers(), m_cursor))
            event->ignore();
    }
    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (m_owner.m_dragged)
            m_owner.dragTo(chartPoint(event).x());
        else
            event->ignore();
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton && m_owner.m_dragged)
            m_owner.m_dragged.reset();
        else
            event->ignore();
    }

private:
    QPoint chartPoint(const QMouseEvent *event) const
    {
        return mapToParent(event->position().toPoint());
    }

    RegionCursors &m_owner;
    RegionCursors::Cursor m_cursor;
    bool m_active = false;
};

RegionCursors::RegionCursors(chart::TChart &chart, const ChartBuilder &builder, QObject *parent)
    : QObject(parent)
    , m_chart(chart)
    , m_builder(builder)
{
    for (const Cursor c : { Cursor::A, Cursor::B }) {
        auto *marker = new CursorMarker(*this, c, &chart);
        // Under the chart's own children: the progress panel, the catalogue, the copy button.
        marker->lower();
        slot(c).marker = marker;
    }
    // The readout's line under both: it never hides a cursor's letter.
    if (auto *line
        = chart.findChild<QWidget *>(QStringLiteral("cursorLine"), Qt::FindDirectChildrenOnly))
        line->stackUnder(slot(Cursor::B).marker);
    // The keys reach the cursors when the chart has the focus: a click on it gives it, and
    // Tab stops on it.
    chart.setFocusPolicy(Qt::StrongFocus);
    chart.installEventFilter(this);

    // The keys are the chart's own (keyPress): the entries only name them. A and B from the
    // menu put the cursor where the menu was opened.
    const auto action = [this](const char *name, const QString &text, QKeySequence key) {
        auto *a = new QAction(text + u'\t' + key.toString(QKeySequence::NativeText), this);
        a->setObjectName(QLatin1String(name));
        return a;
    };
    m_actions[0] = action("actCursorA", tr("Поставить курсор A"), Qt::Key_A);
    m_actions[1] = action("actCursorB", tr("Поставить курсор B"), Qt::Key_B);
    m_actions[2] = action("actCursorSwitch", tr("Сменить активный курсор"), Qt::Key_Space);
    m_actions[3] = action("actCursorsClear", tr("Убрать курсоры"), Qt::Key_Escape);
    for (int i : { 0, 1 })
        connect(m_actions[size_t(i)], &QAction::triggered, this, [this, i] {
            placeAt(Cursor(i), m_menuAt);
            m_chart.setFocus(Qt::ShortcutFocusReason);
        });
    connect(m_actions[2], &QAction::triggered, this, &RegionCursors::switchActive);
    connect(m_actions[3], &QAction::triggered, this, &RegionCursors::clear);
    updateActions();
}

QWidget *RegionCursors::marker(Cursor cursor) const
{
    return slot(cursor).marker;
}

const sig::DecodedRecording *RegionCursors::drawn() const
{
    const sig::DecodedRecording *r = m_builder.lastRecording();
    return r && r->pointCount() > 0 && r->axisMode != sig::AxisMode::None ? r : nullptr;
}

void RegionCursors::setActive(Cursor cursor)
{
    if (m_active == cursor)
        return;
    m_active = cursor;
    placeMarkers();
    updateActions();
}

void RegionCursors::place(Cursor cursor, double x)
{
    const sig::DecodedRecording *r = drawn();
    if (!r)
        return;
    const double snapped = r->x(sig::nearestPoint(*r, x));
    m_xPerFrame = xPerFrame(r);
    const bool moved = slot(cursor).x != snapped;
    slot(cursor).x = snapped;
    m_active = cursor;
    placeMarkers();
    updateActions();
    if (moved)
        emit changed();
}

void RegionCursors::placeAt(Cursor cursor, std::optional<QPoint> pointer)
{
    m_chart.ensureLayout();
    const QRect plot = m_chart.ChartRect();
    if (pointer && plot.contains(*pointer)) {
        place(cursor, valueAt(pointer->x()));
        return;
    }
    // A at a quarter of the shown range, B at three quarters: apart from the first key on.
    const chart::TChartAxis *bottom = m_chart.BottomAxis();
    const double low = bottom->workingMinimum(), high = bottom->workingMaximum();
    const double share = cursor == Cursor::A ? 0.25 : 0.75;
    place(cursor, low + (high - low) * share);
}

void RegionCursors::switchActive()
{
    if (m_slots[0].x && m_slots[1].x)
        setActive(m_active == Cursor::A ? Cursor::B : Cursor::A);
}

void RegionCursors::step(int points)
{
    const sig::DecodedRecording *r = drawn();
    const std::optional<double> x = slot(m_active).x;
    if (!r || !x)
        return;
    const int point = std::clamp(sig::nearestPoint(*r, *x) + points, 0, r->pointCount() - 1);
    place(m_active, r->x(point));
}

void RegionCursors::stepView(int tenths)
{
    const sig::DecodedRecording *r = drawn();
    const std::optional<double> x = slot(m_active).x;
    if (!r || !x)
        return;
    m_chart.ensureLayout();
    const chart::TChartAxis *bottom = m_chart.BottomAxis();
    const double width = bottom->workingMaximum() - bottom->workingMinimum();
    const int from = sig::nearestPoint(*r, *x);
    int to = sig::nearestPoint(*r, *x + width * tenths / 10);
    // At least a point, also when a tenth of the view is narrower than one.
    if (to == from) {
        const bool ascending = r->x(r->pointCount() - 1) >= r->x(0);
        to = from + (ascending == (tenths > 0) ? 1 : -1);
    }
    place(m_active, r->x(std::clamp(to, 0, r->pointCount() - 1)));
}

void RegionCursors::toViewEnd(bool last)
{
    const sig::DecodedRecording *r = drawn();
    if (!r || !slot(m_active).x)
        return;
    m_chart.ensureLayout();
    const chart::TChartAxis *bottom = m_chart.BottomAxis();
    const double low = bottom->workingMinimum(), high = bottom->workingMaximum();
    // The drawn point at the end of the shown range, inside it when one lies there.
    int point = sig::nearestPoint(*r, last ? high : low);
    const double x = r->x(point);
    if (x < low || x > high) {
        const int inward = (last ? -1 : 1) * (r->x(r->pointCount() - 1) >= r->x(0) ? 1 : -1);
        const int next = std::clamp(point + inward, 0, r->pointCount() - 1);
        if (r->x(next) >= low && r->x(next) <= high)
            point = next;
    }
    place(m_active, r->x(point));
}

void RegionCursors::clear()
{
    m_dragged.reset();
    if (!anyPlaced())
        return;
    for (Slot &s : m_slots) {
        s.x.reset();
        s.marker->hide();
    }
    m_active = Cursor::A;
    updateActions();
    emit changed();
}

void RegionCursors::chartBuilt()
{
    const sig::DecodedRecording *r = drawn();
    const double factor = xPerFrame(r);
    if (anyPlaced()) {
        if (!r || (factor != m_xPerFrame && (factor == 0 || m_xPerFrame == 0))) {
            clear();
        } else {
            for (Slot &s : m_slots) {
                if (!s.x)
                    continue;
                // The same frame in the new build's unit, then the new build's nearest point.
                double x = *s.x;
                if (factor != m_xPerFrame)
                    x = std::nearbyint(x / m_xPerFrame) * factor;
                s.x = r->x(sig::nearestPoint(*r, x));
            }
            placeMarkers();
            emit changed();
        }
    }
    m_xPerFrame = factor;
    updateActions();
}

double RegionCursors::valueAt(int x) const
{
    return m_chart.BottomAxis()->PositionToValue(x);
}

std::optional<RegionCursors::Cursor> RegionCursors::markerNear(int x) const
{
    // The active cursor first, where the two lie on one another.
    for (const Cursor c : { m_active, m_active == Cursor::A ? Cursor::B : Cursor::A }) {
        const Slot &s = slot(c);
        if (s.x && s.marker->isVisible()
            && std::abs(s.marker->x() + MarkerReach - x) <= MarkerReach)
            return c;
    }
    return std::nullopt;
}

bool RegionCursors::press(
    QPoint at, Qt::KeyboardModifiers modifiers, std::optional<Cursor> onMarker)
{
    if (!drawn())
        return false;
    m_chart.ensureLayout();
    const QRect plot = m_chart.ChartRect();
    if (!onMarker && !plot.contains(at))
        return false;
    std::optional<Cursor> taken;
    if (modifiers & Qt::ControlModifier)
        taken = Cursor::A;
    else if (modifiers & Qt::ShiftModifier)
        taken = Cursor::B;
    if (taken) {
        place(*taken, valueAt(std::clamp(at.x(), plot.left(), plot.right())));
    } else {
        taken = onMarker ? onMarker : markerNear(at.x());
        if (!taken)
            return false;
        setActive(*taken);
    }
    // The button held moves the cursor on.
    m_dragged = taken;
    return true;
}

void RegionCursors::dragTo(int x)
{
    if (!m_dragged)
        return;
    m_chart.ensureLayout();
    const QRect plot = m_chart.ChartRect();
    place(*m_dragged, valueAt(std::clamp(x, plot.left(), plot.right())));
}

bool RegionCursors::handlesKey(int key, Qt::KeyboardModifiers modifiers) const
{
    const Qt::KeyboardModifiers held = modifiers & ~Qt::KeypadModifier;
    switch (key) {
    case Qt::Key_A:
    case Qt::Key_B:
        return !held && drawn();
    case Qt::Key_Escape:
    case Qt::Key_Space:
    case Qt::Key_Home:
    case Qt::Key_End:
        return !held && anyPlaced();
    case Qt::Key_Left:
    case Qt::Key_Right:
        return (held == Qt::NoModifier || held == Qt::ShiftModifier || held == Qt::ControlModifier)
            && anyPlaced();
    default:
        return false;
    }
}

bool RegionCursors::keyPress(int key, Qt::KeyboardModifiers modifiers)
{
    if (!handlesKey(key, modifiers))
        return false;
    const Qt::KeyboardModifiers held = modifiers & ~Qt::KeypadModifier;
    // Keys moving a cursor move the one placed when the active one is not.
    if (!slot(m_active).x && anyPlaced())
        m_active = m_active == Cursor::A ? Cursor::B : Cursor::A;
    const int sign = key == Qt::Key_Left ? -1 : 1;
    switch (key) {
    case Qt::Key_A:
    case Qt::Key_B:
        placeAt(key == Qt::Key_A ? Cursor::A : Cursor::B, m_pointer);
        break;
    case Qt::Key_Escape:
        clear();
        break;
    case Qt::Key_Space:
        switchActive();
        break;
    case Qt::Key_Home:
    case Qt::Key_End:
        toViewEnd(key == Qt::Key_End);
        break;
    default: // the arrows
        if (held == Qt::ControlModifier)
            stepView(sign);
        else
            step(sign * (held == Qt::ShiftModifier ? 10 : 1));
        break;
    }
    return true;
}

bool RegionCursors::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != &m_chart)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Paint:
        // Zoom, scroll, a resize and a build move the shown range under the cursors.
        placeMarkers();
        break;
    case QEvent::Leave:
        m_pointer.reset();
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: { // the second press of a double click
        auto *mouse = static_cast<QMouseEvent *>(event);
        m_pointer = mouse->position().toPoint();
        if (mouse->button() == Qt::RightButton)
            m_menuAt = m_pointer; // where the chart's menu opens
        if (mouse->button() == Qt::LeftButton
            && press(mouse->position().toPoint(), mouse->modifiers(), std::nullopt))
            return true; // not the start of a zoom
        break;
    }
    case QEvent::MouseMove:
        m_pointer = static_cast<QMouseEvent *>(event)->position().toPoint();
        if (m_dragged) {
            dragTo(static_cast<QMouseEvent *>(event)->position().toPoint().x());
            return true;
        }
        break;
    case QEvent::MouseButtonRelease:
        if (m_dragged && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            m_dragged.reset();
            return true;
        }
        break;
    case QEvent::ShortcutOverride: {
        // The keys go to the chart rather than to the window's shortcuts (Esc) while they
        // act on a cursor.
        auto *key = static_cast<QKeyEvent *>(event);
        if (handlesKey(key->key(), key->modifiers())) {
            event->accept();
            return true;
        }
        break;
    }
    case QEvent::KeyPress: {
        auto *key = static_cast<QKeyEvent *>(event);
        // The menu key opens the menu at the middle of the chart, not where a right click
        // once opened it.
        m_menuAt.reset();
        if (keyPress(key->key(), key->modifiers()))
            return true;
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void RegionCursors::placeMarkers()
{
    if (!anyPlaced())
        return;
    m_chart.ensureLayout();
    const QRect plot = m_chart.ChartRect();
    const chart::TChartAxis *bottom = m_chart.BottomAxis();
    for (const Cursor c : { Cursor::A, Cursor::B }) {
        Slot &s = slot(c);
        s.marker->setActive(c == m_active);
        if (!s.x) {
            s.marker->hide();
            continue;
        }
        const int pixel = bottom->ValueToPosition(*s.x);
        if (pixel < plot.left() || pixel > plot.right()) {
            s.marker->hide();
            continue;
        }
        const QRect strip(pixel - MarkerReach, plot.top(), s.marker->width(), plot.height());
        if (s.marker->geometry() != strip)
            s.marker->setGeometry(strip);
        s.marker->show();
    }
}

void RegionCursors::updateActions()
{
    const bool points = drawn() != nullptr;
    m_actions[0]->setEnabled(points);
    m_actions[1]->setEnabled(points);
    m_actions[2]->setEnabled(m_slots[0].x && m_slots[1].x);
    m_actions[3]->setEnabled(anyPlaced());
}

} // namespace app
