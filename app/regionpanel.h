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
}

namespace app {

class ChartBuilder;
class RegionCursors;

// The panel under the chart while a cursor is placed: the cursors' X, Δx (with 1/Δx in Hz
// in the time modes) and, for every shown thermocouple, its values at A and B, B − A, and the
// minimum, maximum, mean and slope of its drawn points from A to B inclusive
// (sig::regionStatistics of the last build, the slope per second in the time modes and per
// sample in the sample modes). With one cursor placed, its values alone.
//
// The header line folds the table away and copies it: "Копировать" (and Ctrl+C in the table)
// puts the table on the clipboard as tab-separated lines, a header line first, the numbers
// in full precision (sig::formatNumber). Folding is kept for the session only.
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
    // while no cursor is placed.
    int heightIn(int room) const;

    // The table as tab-separated lines, the numbers in full precision.
    QString text() const;
    void copy() const;

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
    // The shown thermocouples and their colours: a change is seen at the chart's next paint.
    std::vector<std::pair<int, QRgb>> channelLook() const;
    void buildRows();
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
    QStringList m_captions;
    std::vector<Row> m_rows;
    std::vector<std::pair<int, QRgb>> m_look;
};

} // namespace app
