// What every desktop program does, for the window: the recent files, a file named on the
// command line or dropped on the window, a title that names the file and shows whether it is
// saved, a measurement's wait that can be cancelled, print and PDF of the recording's report,
// and other recordings laid over the chart (app/overlays.h).

#include "acquisition/cyclerun.h"
#include "app/cataloguepanel.h"
#include "app/chartexport.h"
#include "app/cyclecontrol.h"
#include "app/filecontrol.h"
#include "app/form1.h"
#include "app/form1ui.h"
#include "app/language.h"
#include "app/overlays.h"
#include "app/regionpanel.h"
#include "app/sessionpresenter.h"
#include "channelchart/chartreport.h"
#include "files/datafile.h"
#include "files/settings.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>

namespace app {

namespace {

// The report of the current recording: its file's name (or "Новая запись"), its time, the
// sampling figures of its header, the comment as the comment box shows it, the range the chart
// is drawn with, and the cursors' table while cursors are placed; in the window's language.
chart::Report windowReport(const files::UnsavedWork &work, const QString &comment, int rangeIndex,
    const RegionPanel &cursors)
{
    const files::Recording &r = work.recording();
    const QString title = !r.savedPath.isEmpty() ? QFileInfo(r.savedPath).fileName()
        : r.data.isEmpty()                       ? TForm1::caption()
                           : QCoreApplication::translate("app::TForm1", "Новая запись");
    chart::Report report = chart::recordingReport(
        title, r.header, r.data.size(), r.time, comment, rangeIndex, uiLocale());
    report.region = cursors.reportTable();
    return report;
}

// The recent files' menu entries: each file's name and enough of its folder to tell it apart.
QStringList recentCaptions(const QStringList &paths)
{
    // Each entry names its file and its folder; where two would read alike, as many folders
    // above as tell them apart.
    const auto folders = [](const QString &path) {
        return QFileInfo(path).absolutePath().split(u'/', Qt::SkipEmptyParts);
    };
    const auto caption = [&](const QString &path, int depth) {
        const QStringList parts = folders(path);
        const QString folder = depth >= parts.size()
            ? QDir::toNativeSeparators(QFileInfo(path).absolutePath())
            : parts.mid(parts.size() - depth).join(u'/');
        return QFileInfo(path).fileName() + QStringLiteral(" — ") + folder;
    };
    std::vector<int> depth(size_t(paths.size()), 1);
    QStringList captions;
    for (bool changed = true; changed;) {
        changed = false;
        captions.clear();
        for (qsizetype i = 0; i < paths.size(); ++i)
            captions << caption(paths.at(i), depth[size_t(i)]);
        for (qsizetype i = 0; i < paths.size(); ++i)
            for (qsizetype j = i + 1; j < paths.size(); ++j)
                if (captions.at(i) == captions.at(j) && paths.at(i) != paths.at(j))
                    for (const qsizetype k : { i, j })
                        if (depth[size_t(k)] <= folders(paths.at(k)).size()) {
                            ++depth[size_t(k)];
                            changed = true;
                        }
    }
    return captions;
}

} // namespace

void TForm1::createChartExport()
{
    m_chartExport = std::make_unique<ChartExport>(
        ui->Chart1, [this](const QString &text) { showMessage(text); });
    // Print and PDF export make the recording's report, and say in the status bar where it
    // went.
    m_chartExport->report = [this] {
        return windowReport(
            *m_work, ui->mComment->toPlainText(), ui->cbTrng->currentIndex(), *m_regionPanel);
    };
    m_chartExport->showStatus = [this](const QString &text) { m_presenter->showStatus(text); };
}

void TForm1::createOverlays()
{
    m_overlays = std::make_unique<Overlays>(
        *ui->Chart1, *m_chartBuilder, this, [this](const QString &text) { showMessage(text); });
    // The dialog opens where the current file lies: the cycles of its run are there.
    m_overlays->startFolder = [this] {
        const QString current = m_fileControl->CurrentDataFile;
        return current.isEmpty() ? FileControl::storeFolder() : QFileInfo(current).absolutePath();
    };
}

void TForm1::rebuildRecentMenu()
{
    ui->pmRecent->clear();
    const QStringList captions = recentCaptions(m_recentFiles);
    for (qsizetype i = 0; i < m_recentFiles.size(); ++i) {
        const QString path = m_recentFiles.at(i);
        // "&" would mark a shortcut letter.
        QAction *action = ui->pmRecent->addAction(QString(captions.at(i)).replace(u'&', "&&"));
        action->setToolTip(path);
        action->setStatusTip(path);
        connect(action, &QAction::triggered, this, [this, path] {
            m_fileControl->CurrentDataFile = path;
            if (m_fileControl->loadCurrentDataFile())
                return;
            // An entry whose file is gone or no longer a data file leaves the list (one
            // that was not opened because the user kept the recording held stays). The menu
            // is made again once this action's signal is over.
            files::DataFileSummary summary;
            if (files::readDataFileSummary(path, &summary, 0) != files::DataFileStatus::Ok) {
                m_recentFiles.removeAll(path);
                QMetaObject::invokeMethod(this, &TForm1::rebuildRecentMenu, Qt::QueuedConnection);
            }
        });
    }
    ui->pmRecent->setEnabled(!m_recentFiles.isEmpty());
}

void TForm1::rememberFile(const QString &path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    m_recentFiles.removeAll(absolute);
    m_recentFiles.prepend(absolute);
    while (m_recentFiles.size() > files::Settings::MaxRecentFiles)
        m_recentFiles.removeLast();
    rebuildRecentMenu();
}

void TForm1::openFile(const QString &path)
{
    m_fileControl->CurrentDataFile = QFileInfo(path).absoluteFilePath();
    m_fileControl->loadCurrentDataFile();
}

QString TForm1::droppedDataFile(const QMimeData *data)
{
    if (!data || !data->hasUrls() || data->urls().size() != 1)
        return {};
    const QUrl url = data->urls().constFirst();
    if (!url.isLocalFile())
        return {};
    const QString path = url.toLocalFile();
    return path.endsWith(QStringLiteral(".kdx"), Qt::CaseInsensitive) ? path : QString();
}

void TForm1::dragEnterEvent(QDragEnterEvent *event)
{
    if (!droppedDataFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent *event)
{
    const QString path = droppedDataFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    openFile(path);
}

void TForm1::updateTitle()
{
    // The title names what a save writes: after a cycle run its cycles (the file of their
    // last one-file save), otherwise the current recording.
    const files::Recording &r = recording();
    const bool unsaved = hasUnsavedRecording();
    const bool cycles = m_work->recordedByCycle() && !cycleRunning();
    const QString savedPath = cycles && m_fileControl ? m_fileControl->cyclesFile() : r.savedPath;
    QString name;
    if (!savedPath.isEmpty())
        name = QFileInfo(savedPath).fileName();
    else if (unsaved || !r.data.isEmpty() || (cycles && m_work->cycles().count() > 0))
        name = tr("Новая запись");
    // "[*]" is where the window shows its modified mark.
    setWindowTitle(name.isEmpty() ? caption() : name + QStringLiteral("[*] — ") + caption());
    setWindowModified(unsaved);
}

QString TForm1::caption()
{
    return tr("7 термопар, фотодиод");
}

bool TForm1::measurementWaiting() const
{
    return m_session->state() == acquisition::SessionState::Measuring && !cycleRunning();
}

bool TForm1::cycleRunning() const
{
    return m_cycleControl && m_cycleControl->run().CycleRunning();
}

void TForm1::cancelMeasurement()
{
    if (measurementWaiting())
        m_session->cancelMeasurement();
}

} // namespace app
