#pragma once

#include <QColor>
#include <QFrame>
#include <QStringList>
#include <array>
#include <optional>
#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;
class QToolButton;

namespace chart {
class TChart;
struct ReportTable;
} // namespace chart

namespace app {

class ChartBuilder;
class RegionCursors;

// The panel under the chart while a cursor is placed: the cursors' X, Δx (with 1/Δx in Hz
// in the time modes) and, for every shown thermocouple, its values at A and B, B − A, and the
// minimum, maximum, mean and slope of its drawn points from A to B inclusive
// (sig::regionStatistics of the last build, the slope per second in the time modes and per
// sample in the sample modes). With one cursor placed, its values alone.
//
// The header line shows the cursors' X, Δx and 1/|Δx|, folds the table away and copies it:
// "Копировать" (and Ctrl+C in the table) puts the cursors' X and the table on the clipboard as
// tab-separated lines. Every column has one number format, the digits the recording resolves
// (sig::regionDecimals), in the table, the copied text and `ferrun-cli stats` alike. Folding
// is kept for the session only.
//
// Opening, the panel grows the window downwards by its height where the screen has room, so
// that the chart keeps its size; otherwise it takes at most a third of the chart's height.
class RegionPanel : public QFrame
{
    Q_OBJECT

public:
    // The value columns, after the row's name.
    enum Column { AtA, AtB, Difference, Minimum, Maximum, Mean, Slope, ColumnCount };

    RegionPanel(chart::TChart &chart, const ChartBuilder &builder, const RegionCursors &cursors,
        QWidget *parent);

    bool folded() const { return m_folded; }
    void setFolded(bool folded);
    // The height the panel takes out of `room` pixels it shares with the chart above it; 0
    // while no cursor is placed. The chart keeps at least two thirds of what it had before
    // the panel opened.
    int heightIn(int room) const;
    // Pixels the window grew by when the panel opened (given back when it closes): not part
    // of the window's own height, as the settings keep it.
    int windowGrowth() const { return m_grown; }

    // The cursors' X and the table as tab-separated lines, each column with the table's
    // digits (sig::regionDecimals, as `ferrun-cli stats` writes them) and a decimal point.
    QString text() const;
    void copy() const;
    // The table as a report prints it, while the panel is shown.
    std::optional<chart::ReportTable> reportTable() const;

    QTableWidget *table() const { return m_table; }
    QLabel *summary() const { return m_summary; }
    QToolButton *foldButton() const { return m_fold; }
    QPushButton *copyButton() const { return m_copy; }

    // Reads the cursors and the last build again.
    void refresh();

signals:
    // Shown, hidden, folded, unfolded, or its rows changed in number: the window lays out
    // the chart and the panel again.
    void heightChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Row
    {
        QString name;
        QColor colour; // the series colour; none for the X rows
        std::array<std::optional<double>, ColumnCount> values;
        std::array<QString, ColumnCount> shown; // as the table shows them
    };
    // The cursors' X: A, B, B − A and 1/|Δx| in Hz (time modes, two cursors apart).
    struct XRow
    {
        QString name;
        std::array<std::optional<double>, 4> values;
        int decimals = 0;
        int hertzDecimals = 0;
    };
    // The shown thermocouples and their colours: a change is seen at the chart's next paint.
    std::vector<std::pair<int, QRgb>> channelLook() const;
    void buildRows();
    int headerHeight() const;
    // The header line and the whole table (the header alone while folded).
    int wholeHeight() const;
    void growWindow();
    void shrinkWindow();
    void showRows();

    chart::TChart &m_chart;
    const ChartBuilder &m_builder;
    const RegionCursors &m_cursors;
    QToolButton *m_fold = nullptr;
    QLabel *m_summary = nullptr;
    QPushButton *m_copy = nullptr;
    QTableWidget *m_table = nullptr;
    bool m_folded = false;
    bool m_shown = false;
    bool m_refreshQueued = false;
    int m_grown = 0;
    QStringList m_captions;
    std::vector<Row> m_rows;
    XRow m_x;
    std::array<int, ColumnCount> m_digits {};
    std::vector<std::pair<int, QRgb>> m_look;
};

} // namespace app
