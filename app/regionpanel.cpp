#include "app/regionpanel.h"

#include "app/chartbuilder.h"
#include "app/regioncursors.h"
#include "app/statusbar.h"
#include "chart/chart.h"
#include "channelchart/chartreport.h"
#include "files/channels.h"
#include "signal/csvexport.h"
#include "signal/regionstats.h"

#include <QBoxLayout>
#include <QClipboard>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>

namespace app {

namespace {

using Cursor = RegionCursors::Cursor;

QString help()
{
    return QCoreApplication::translate("app::RegionPanel",
        "Ctrl+щелчок по графику ставит курсор A, Shift+щелчок — курсор B; линию курсора можно "
        "перетащить мышью. С фокусом на графике: A и B ставят курсор под мышью (или на четверть "
        "и три четверти видимой части), ← и → сдвигают активный курсор на точку, с Shift — на "
        "10 точек, с Ctrl — на десятую часть видимой части, Home и End — к её краям; пробел "
        "меняет активный курсор, Esc убирает курсоры.");
}

// The table takes Ctrl+C for the whole of it, as "Копировать" does.
class RegionTable : public QTableWidget
{
public:
    using QTableWidget::QTableWidget;
    std::function<void()> copyAll;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->matches(QKeySequence::Copy)) {
            copyAll();
            event->accept();
            return;
        }
        QTableWidget::keyPressEvent(event);
    }
};

QString slopeUnit(sig::AxisMode mode)
{
    switch (mode) {
    case sig::AxisMode::ValuesTime:
        return QCoreApplication::translate("app::RegionPanel", "°C/с");
    case sig::AxisMode::AdcTime:
        return QCoreApplication::translate("app::RegionPanel", "ед./с");
    case sig::AxisMode::ValuesSamples:
        return QCoreApplication::translate("app::RegionPanel", "°C/выборку");
    case sig::AxisMode::AdcSamples:
    case sig::AxisMode::None:
        break;
    }
    return QCoreApplication::translate("app::RegionPanel", "ед./выборку");
}

} // namespace

RegionPanel::RegionPanel(chart::TChart &chart, const ChartBuilder &builder,
    const RegionCursors &cursors, QWidget *parent)
    : QFrame(parent)
    , m_chart(chart)
    , m_builder(builder)
    , m_cursors(cursors)
{
    setObjectName(QStringLiteral("pCursors"));
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setAutoFillBackground(true);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(3, 2, 3, 3);
    column->setSpacing(2);
    auto *header = new QHBoxLayout;
    column->addLayout(header);

    m_fold = new QToolButton(this);
    m_fold->setObjectName(QStringLiteral("btCursorsFold"));
    m_fold->setText(tr("Курсоры"));
    m_fold->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_fold->setAutoRaise(true);
    m_fold->setArrowType(Qt::DownArrow);
    m_fold->setToolTip(tr("Свернуть или развернуть таблицу"));
    connect(m_fold, &QToolButton::clicked, this, [this] { setFolded(!m_folded); });
    header->addWidget(m_fold);

    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("lbCursors"));
    m_summary->setToolTip(help());
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    header->addWidget(m_summary, 1);

    m_copy = new QPushButton(tr("Копировать"), this);
    m_copy->setObjectName(QStringLiteral("btCursorsCopy"));
    m_copy->setToolTip(
        tr("Копировать координаты курсоров и таблицу в буфер обмена как текст с табуляциями"));
    connect(m_copy, &QPushButton::clicked, this, &RegionPanel::copy);
    header->addWidget(m_copy);

    auto *table = new RegionTable(this);
    table->copyAll = [this] { copy(); };
    m_table = table;
    m_table->setObjectName(QStringLiteral("tbCursors"));
    m_table->setColumnCount(1 + ColumnCount);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::ContiguousSelection);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    // The value columns share the width: no column jumps as the numbers change in a drag.
    QHeaderView *columns = m_table->horizontalHeader();
    columns->setSectionResizeMode(QHeaderView::Stretch);
    columns->setSectionResizeMode(0, QHeaderView::Fixed);
    columns->resizeSection(0, fontMetrics().horizontalAdvance(tr("Канал")) + 16);
    columns->setHighlightSections(false);
    column->addWidget(m_table, 1);

    chart.installEventFilter(this);
    connect(&cursors, &RegionCursors::changed, this, &RegionPanel::refresh);
    hide();
}

void RegionPanel::setFolded(bool folded)
{
    if (m_folded == folded)
        return;
    m_folded = folded;
    m_table->setVisible(!folded);
    m_fold->setArrowType(folded ? Qt::RightArrow : Qt::DownArrow);
    emit heightChanged();
}

int RegionPanel::headerHeight() const
{
    const QMargins margins = layout()->contentsMargins();
    return std::max(m_fold->sizeHint().height(), m_copy->sizeHint().height()) + margins.top()
        + margins.bottom() + 2 * frameWidth();
}

int RegionPanel::wholeHeight() const
{
    const int table = m_table->horizontalHeader()->sizeHint().height()
        + m_table->verticalHeader()->defaultSectionSize() * int(m_rows.size())
        + 2 * m_table->frameWidth() + layout()->spacing();
    return headerHeight() + (m_folded ? 0 : table);
}

int RegionPanel::heightIn(int room) const
{
    if (!m_shown)
        return 0;
    const int header = headerHeight();
    // What the window grew by is the panel's; of the rest the chart keeps two thirds, and
    // the table scrolls beyond that.
    const int own = std::max(0, room - m_grown);
    return std::clamp(wholeHeight(), header, std::max(header, m_grown + own / 3));
}

void RegionPanel::growWindow()
{
    // A window that can grow downwards on its screen takes the panel's height there, so that
    // the chart keeps its size and nothing under the mouse moves; a maximised or full-screen
    // window, or one at the screen's bottom, gives the chart's room.
    QWidget *w = window();
    const QScreen *screen = w->screen();
    if (w == this || !w->isVisible() || !screen
        || (w->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    const int below = screen->availableGeometry().bottom() - w->frameGeometry().bottom();
    const int grow = std::clamp(wholeHeight(), 0, std::max(0, below));
    if (grow == 0)
        return;
    m_grown = grow;
    w->resize(w->width(), w->height() + grow);
}

void RegionPanel::shrinkWindow()
{
    QWidget *w = window();
    const int grown = std::exchange(m_grown, 0);
    if (grown == 0 || w == this
        || (w->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    w->resize(w->width(), std::max(w->minimumHeight(), w->height() - grown));
}

std::vector<std::pair<int, QRgb>> RegionPanel::channelLook() const
{
    std::vector<std::pair<int, QRgb>> look;
    const sig::DecodedRecording *r = m_builder.lastRecording();
    for (int n = 1; n <= files::ThermocoupleCount; ++n) {
        const chart::TChartSeries *series = m_chart.Series(int(files::thermocouple(n)));
        if (r && r->hasChannel(n) && series->Active())
            look.emplace_back(n, series->SeriesColor().rgb());
    }
    return look;
}

bool RegionPanel::eventFilter(QObject *watched, QEvent *event)
{
    // A channel shown or hidden, or given another colour, repaints the chart; the table
    // follows once the paint is done.
    if (watched == &m_chart && event->type() == QEvent::Paint && m_shown && !m_refreshQueued
        && channelLook() != m_look) {
        m_refreshQueued = true;
        QMetaObject::invokeMethod(this, &RegionPanel::refresh, Qt::QueuedConnection);
    }
    return QFrame::eventFilter(watched, event);
}

void RegionPanel::refresh()
{
    m_refreshQueued = false;
    const size_t rowsBefore = m_rows.size();
    const bool shownBefore = m_shown;
    m_look = channelLook();
    buildRows();
    m_shown = !m_rows.empty();
    if (m_shown)
        showRows();
    setVisible(m_shown);
    if (m_shown && !shownBefore)
        growWindow();
    else if (!m_shown && shownBefore)
        shrinkWindow();
    if (m_shown != shownBefore || m_rows.size() != rowsBefore)
        emit heightChanged();
}

void RegionPanel::buildRows()
{
    m_rows.clear();
    m_x = XRow();
    const sig::DecodedRecording *r = m_builder.lastRecording();
    const std::optional<double> a = m_cursors.position(Cursor::A);
    const std::optional<double> b = m_cursors.position(Cursor::B);
    if (!r || r->pointCount() == 0 || (!a && !b))
        return;
    // The system's decimal separator without grouping: "1,832" would read as a fraction.
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    const bool time = sig::isTimeMode(r->axisMode);
    const bool both = a && b;
    const double perSecond = sig::slopePerSecondFactor(*r);
    const sig::RegionDecimals decimals = sig::regionDecimals(*r, both ? *b - *a : 0);

    m_captions = QStringList { tr("Канал"), QStringLiteral("A"), QStringLiteral("B"),
        QStringLiteral("B − A"), tr("Мин."), tr("Макс."), tr("Среднее"),
        tr("Наклон,\n") + slopeUnit(r->axisMode) };
    m_digits = { decimals.value, decimals.value, decimals.value, decimals.value, decimals.value,
        decimals.mean, decimals.slope };

    // X of the cursors in the bottom axis's unit, and 1/|Δx| in Hz from Δx in seconds: in
    // the header line, apart from the channels' columns.
    m_x.name
        = time ? QStringLiteral("X, ") + sig::displayedTimeUnit(r->TimeUnitName) : tr("X, выборки");
    m_x.decimals = decimals.x;
    m_x.values = { a, b, both ? std::optional(*b - *a) : std::nullopt, std::nullopt };
    if (time && both && *b != *a) {
        m_x.values[3] = perSecond / std::abs(*b - *a);
        m_x.hertzDecimals = decimals.hertz;
    }
    const auto shownX = [&](int i) {
        return locale.toString(
            *m_x.values[size_t(i)], 'f', i == 3 ? m_x.hertzDecimals : m_x.decimals);
    };

    const int pointA = a ? sig::nearestPoint(*r, *a) : -1;
    const int pointB = b ? sig::nearestPoint(*r, *b) : -1;
    const std::vector<sig::ChannelStatistics> statistics = both
        ? sig::regionStatistics(*r, std::min(*a, *b), std::max(*a, *b))
        : std::vector<sig::ChannelStatistics>();
    for (const auto &[n, rgb] : m_look) {
        Row row;
        row.name = QString::fromLatin1(files::channelName(files::thermocouple(n)));
        row.colour = QColor::fromRgb(rgb);
        if (pointA >= 0)
            row.values[AtA] = r->y(n, pointA);
        if (pointB >= 0)
            row.values[AtB] = r->y(n, pointB);
        if (both)
            row.values[Difference] = *row.values[AtB] - *row.values[AtA];
        const auto s = std::find_if(statistics.begin(), statistics.end(),
            [n](const sig::ChannelStatistics &c) { return c.channel == n; });
        if (s != statistics.end() && s->count > 0) {
            row.values[Minimum] = s->minimum;
            row.values[Maximum] = s->maximum;
            row.values[Mean] = s->mean;
            row.values[Slope] = s->slope * perSecond;
        }
        for (int c = 0; c < ColumnCount; ++c)
            if (const std::optional<double> v = row.values[size_t(c)])
                row.shown[size_t(c)]
                    = QString::fromLatin1(sig::formatDecimals(*v, m_digits[size_t(c)]))
                          .replace(u'.', locale.decimalPoint());
        m_rows.push_back(row);
    }

    QString summary;
    const QString unit = time ? sig::displayedTimeUnit(r->TimeUnitName) : tr("выб.");
    const auto withUnit
        = [&unit](const QString &text) { return unit.isEmpty() ? text : text + u' ' + unit; };
    if (a)
        summary += QStringLiteral("A: ") + withUnit(shownX(0));
    if (b)
        summary += (a ? QStringLiteral("    B: ") : QStringLiteral("B: ")) + withUnit(shownX(1));
    if (both)
        summary += QStringLiteral("    Δx = ") + withUnit(shownX(2));
    if (m_x.values[3])
        summary += QStringLiteral("    1/|Δx| = ") + shownX(3) + tr(" Гц");
    m_summary->setText(summary);
}

void RegionPanel::showRows()
{
    for (int c = 0; c <= ColumnCount; ++c) {
        QTableWidgetItem *h = m_table->horizontalHeaderItem(c);
        if (!h)
            m_table->setHorizontalHeaderItem(c, h = new QTableWidgetItem);
        if (h->text() != m_captions.at(c))
            h->setText(m_captions.at(c));
    }
    if (m_table->rowCount() != int(m_rows.size()))
        m_table->setRowCount(int(m_rows.size()));
    for (int i = 0; i < int(m_rows.size()); ++i) {
        const Row &row = m_rows[size_t(i)];
        for (int c = 0; c <= ColumnCount; ++c) {
            QTableWidgetItem *item = m_table->item(i, c);
            if (!item) {
                item = new QTableWidgetItem;
                item->setTextAlignment(
                    c == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignRight | Qt::AlignVCenter);
                m_table->setItem(i, c, item);
            }
            const QString &text = c == 0 ? row.name : row.shown[size_t(c - 1)];
            if (item->text() != text)
                item->setText(text);
        }
        // The channel's name on its series colour, in black or white to be read on it, as the
        // channel boxes below the chart are.
        QTableWidgetItem *name = m_table->item(i, 0);
        const QBrush back = row.colour.isValid() ? QBrush(row.colour) : QBrush();
        if (name->background() != back) {
            name->setBackground(back);
            name->setForeground(
                row.colour.isValid() && isDarkColor(row.colour) ? QBrush(Qt::white) : QBrush());
        }
    }
}

QString RegionPanel::text() const
{
    if (m_rows.empty())
        return {};
    const auto number = [](const std::optional<double> &v, int decimals) {
        return v ? QString::fromLatin1(sig::formatDecimals(*v, decimals)) : QString();
    };
    // The cursors' X first, then the channels' table: each column in the table's digits,
    // with a point for the decimals.
    QStringList xHeader { QString(), QStringLiteral("A"), QStringLiteral("B"),
        QStringLiteral("B − A") };
    QStringList xCells { m_x.name };
    for (int i = 0; i < 3; ++i)
        xCells << number(m_x.values[size_t(i)], m_x.decimals);
    if (m_x.values[3]) {
        xHeader << tr("1/|Δx|, Гц");
        xCells << number(m_x.values[3], m_x.hertzDecimals);
    }
    QStringList lines { xHeader.join(u'\t'), xCells.join(u'\t'), QString() };
    QStringList header = m_captions;
    header.last().replace(u'\n', u' ');
    lines << header.join(u'\t');
    for (const Row &row : m_rows) {
        QStringList cells { row.name };
        for (int c = 0; c < ColumnCount; ++c)
            cells << number(row.values[size_t(c)], m_digits[size_t(c)]);
        lines << cells.join(u'\t');
    }
    return lines.join(u'\n') + u'\n';
}

std::optional<chart::ReportTable> RegionPanel::reportTable() const
{
    if (!m_shown || m_rows.empty())
        return std::nullopt;
    chart::ReportTable table;
    table.caption = m_summary->text();
    for (const QString &caption : m_captions)
        table.header << QString(caption).replace(u'\n', u' ');
    for (const Row &row : m_rows) {
        QStringList cells { row.name };
        for (const QString &shown : row.shown)
            cells << shown;
        table.rows.push_back(cells);
        table.colours.push_back(row.colour);
    }
    return table;
}

void RegionPanel::copy() const
{
    if (m_shown && !m_rows.empty())
        QGuiApplication::clipboard()->setText(text());
}

} // namespace app
