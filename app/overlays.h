#pragma once

#include "channelchart/channelchart.h"
#include "files/datafile.h"
#include "signal/chartdecoder.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

class QFileDialog;
class QWidget;

namespace chart {
class TChart;
}

namespace app {

class ChartBuilder;

// Recordings laid over the window's chart to compare them with the current one ("Наложить
// запись…", "Убрать наложения"): cycles of one run against one another, a sample against a
// reference. Each is drawn in the channel colours with a dash pattern of its own and named
// in the legend (chart::addOverlaySeries).
//
// An overlay is for looking only: it is read once, whole and checked, and kept in memory
// apart from the current recording, which it never becomes and whose header, saved state
// and file it never touches. It is decoded with the display controls of each chart build
// (mode, unit, range, integration, skip, photodiode line) and with its own file's channels,
// averaging and interval, as the file would be drawn if it were opened; the window draws it
// anew after every build, so it stays while files are browsed and recordings come in. The
// overlays last for the session: the settings file does not keep them.
class Overlays : public QObject
{
    Q_OBJECT

public:
    // `builder` gives the display controls and the decoder state of the window's builds;
    // `showMessage` tells which files could not be laid over.
    Overlays(chart::TChart &chart, const ChartBuilder &builder, QWidget *dialogParent,
        std::function<void(const QString &)> showMessage, QObject *parent = nullptr);
    ~Overlays() override;

    // "Наложить запись…": the files chosen, then the shift asked for; nothing is laid over
    // when either dialog is cancelled.
    void addClick();
    // Reads `paths` and lays each data file among them over the chart, moved along X by
    // `shift` in the chart's X unit now. One message names every file that could not be
    // laid over, each with its cause; the others are laid over all the same.
    void add(const QStringList &paths, double shift);
    // "Убрать наложения".
    void clear();
    // Draws every overlay anew with the display controls as they are now.
    void redraw();
    // The overlays' lines take the channel colours the window has now.
    void followColours();

    int count() const { return int(m_items.size()); }
    // The overlays' names as the legend shows them, in the order laid over.
    QStringList names() const;
    const chart::OverlaySeries &series(int index) const { return m_items.at(size_t(index)).series; }

    // The X unit the shift is given in now: the time unit's name in the time modes,
    // "выборки" in the others.
    QString shiftUnit() const;

    // ---- Replaceable parts (tests replace the file dialog)
    // The files to lay over; empty when cancelled.
    std::function<QStringList()> chooseFiles;
    // The shift in the unit named; nothing when cancelled.
    std::function<std::optional<double>(const QString &unit)> askShift;
    // Where the file dialog opens: the folder of the current file, where a run's cycles lie.
    std::function<QString()> startFolder;

    // The dialogs as the defaults run them.
    QFileDialog *fileDialog();
    QStringList execFileDialog();
    std::optional<double> execShiftDialog(const QString &unit);

    // Why a file could not be laid over, as the message says it.
    static QString problemText(const files::DataFileProblem &problem);

signals:
    // Overlays were added or removed.
    void changed();

private:
    struct Item
    {
        QString path;
        files::DataFileHeader header;
        QByteArray data;
        chart::OverlaySeries series;
        // The shift as given, in X units, and the overlay's X step then (known from its first
        // decode on): it stays the same number of the overlay's points whatever mode, unit
        // or averaging is shown later.
        double shift = 0;
        double step = 0;
        bool stepKnown = false;
        // What the series' points were decoded with: the settings and the decoder's kept unit
        // divisor and point step. A build with the same ones (each cycle of a run, browsing)
        // leaves the points as they are.
        struct Decode
        {
            sig::DisplaySettings settings;
            double unitDivisor = 0;
            double pointStep = 0;
            bool operator==(const Decode &) const = default;
        };
        std::optional<Decode> drawnWith;
    };
    void draw(Item &item, const sig::DisplaySettings &controls);
    static double xShift(const Item &item, const sig::DecodedRecording &r);

    chart::TChart &m_chart;
    const ChartBuilder &m_builder;
    QWidget *m_dialogParent;
    std::function<void(const QString &)> m_showMessage;
    std::vector<Item> m_items;
    sig::DecodedRecording m_decoded; // scratch of the decodes, its lists reused
    std::vector<double> m_x;
    QPointer<QFileDialog> m_fileDialog;
};

} // namespace app
