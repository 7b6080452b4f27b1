// What every desktop program does, for the window: a file menu with shortcuts and the recent
// files, a file named on the command line or dropped on the window, a title that names the
// file and shows whether it is saved, and a measurement's wait that can be cancelled. The
// file menu also lays other recordings over the chart (app/overlays.h).

#include "acquisition/cyclerun.h"
#include "app/cataloguepanel.h"
#include "app/chartexport.h"
#include "app/cyclecontrol.h"
#include "app/filecontrol.h"
#include "app/form1.h"
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

QString StartCaption()
{
    return QCoreApplication::translate("app::TForm1", "ПУСК ИЗМЕРЕНИЯ");
}

QString CancelCaption()
{
    return QCoreApplication::translate("app::TForm1", "Отменить");
}

// An action of the window whose shortcut works wherever the focus is in it. The keys are
// named, not taken from the platform's standard keys: some platforms define no Quit key.
QAction *windowAction(QWidget *window, QMenu *menu, const char *name, const QString &text,
    const QKeySequence &shortcut = {})
{
    auto *action = menu ? menu->addAction(text) : new QAction(text, window);
    action->setObjectName(QLatin1String(name));
    action->setShortcut(shortcut);
    action->setShortcutContext(Qt::WindowShortcut);
    window->addAction(action);
    return action;
}

// The report of the current recording: its file's name (or "Новая запись"), its time, the
// sampling figures of its header, the comment as the comment box shows it, the range the chart
// is drawn with, and the cursors' table while cursors are placed; in the window's language.
chart::Report windowReport(TForm1 &form)
{
    const files::Recording &r = form.recording();
    const QString title = !r.savedPath.isEmpty() ? QFileInfo(r.savedPath).fileName()
        : r.data.isEmpty()                       ? TForm1::caption()
                           : QCoreApplication::translate("app::TForm1", "Новая запись");
    chart::Report report = chart::recordingReport(title, r.header, r.data.size(), r.time,
        form.mComment->toPlainText(), form.cbTrng->currentIndex(), uiLocale());
    report.region = form.regionPanel->reportTable();
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

void TForm1::createFileMenu()
{
    pmFile = new QMenu(this);
    pmFile->setObjectName(QStringLiteral("pmFile"));
    connect(windowAction(
                this, pmFile, "actOpen", tr("Открыть файл…"), QKeySequence(Qt::CTRL | Qt::Key_O)),
        &QAction::triggered, this, &TForm1::loadRequested);
    pmRecent = pmFile->addMenu(tr("Последние файлы"));
    pmRecent->setObjectName(QStringLiteral("pmRecent"));
    connect(windowAction(this, pmFile, "actUnsaved", tr("Несохранённые записи…")),
        &QAction::triggered, this, &TForm1::showUnsavedRecordings);
    pmFile->addSeparator();
    createOverlayActions();
    pmFile->addSeparator();
    connect(
        windowAction(this, pmFile, "actPrevFile", tr("Предыдущий файл в папке"), Qt::Key_PageUp),
        &QAction::triggered, this, [this] {
            if (btPrevFile->isEnabled())
                emit previousFileRequested();
        });
    connect(
        windowAction(this, pmFile, "actNextFile", tr("Следующий файл в папке"), Qt::Key_PageDown),
        &QAction::triggered, this, [this] {
            if (btNextFile->isEnabled())
                emit nextFileRequested();
        });
    connect(windowAction(this, pmFile, "actFind", tr("Поиск в комментариях…"),
                QKeySequence(Qt::CTRL | Qt::Key_F)),
        &QAction::triggered, this, [this] {
            if (!gbAllCmnt->isVisible())
                emit showCatalogueRequested();
            if (gbAllCmnt->isVisible()) {
                eFind->setFocus(Qt::ShortcutFocusReason);
                eFind->selectAll();
            }
        });
    pmFile->addSeparator();
    connect(
        windowAction(this, pmFile, "actSave", tr("Сохранить…"), QKeySequence(Qt::CTRL | Qt::Key_S)),
        &QAction::triggered, this, &TForm1::saveRequested);
    connect(windowAction(this, pmFile, "actExportCsv", tr("Экспорт в CSV…")), &QAction::triggered,
        this, &TForm1::csvExportRequested);
    connect(windowAction(this, pmFile, "actExportPdf", tr("Экспорт в PDF…")), &QAction::triggered,
        this, &TForm1::pdfExportRequested);
    connect(
        windowAction(this, pmFile, "actPrint", tr("Печать…"), QKeySequence(Qt::CTRL | Qt::Key_P)),
        &QAction::triggered, this, &TForm1::printDialogRequested);
    pmFile->addSeparator();
    createLanguageMenu();
    pmFile->addSeparator();
    connect(windowAction(this, pmFile, "actQuit", tr("Выход"), QKeySequence(Qt::CTRL | Qt::Key_Q)),
        &QAction::triggered, this, &QWidget::close);

    // Measurements: under the header's "Управление контроллером".
    pmControl = new QMenu(this);
    pmControl->setObjectName(QStringLiteral("pmControl"));
    connect(windowAction(this, pmControl, "actStart", StartCaption(), Qt::Key_F5),
        &QAction::triggered, this, [this] {
            if (btStart->isEnabled() && !measurementWaiting())
                btStartClick();
        });
    // Escape keeps its other uses (closing the frequency/time panel) while nothing waits.
    QAction *cancel
        = windowAction(this, pmControl, "actCancel", tr("Отменить измерение"), Qt::Key_Escape);
    cancel->setEnabled(false);
    connect(cancel, &QAction::triggered, this, &TForm1::cancelMeasurement);

    btLoadFile->setMenu(pmFile);
    btLoadFile->setPopupMode(QToolButton::DelayedPopup);
    btLoadFile->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(btLoadFile, &QWidget::customContextMenuRequested, this,
        [this](const QPoint &at) { pmFile->popup(btLoadFile->mapToGlobal(at)); });
    // The header's sections open them, as a menu bar's would.
    for (const char *name : { "lbFileMenu", "lbControlMenu" })
        if (auto *section = Header->findChild<QLabel *>(QLatin1String(name)))
            section->installEventFilter(this);
    rebuildRecentMenu();

    // Print and PDF export make the recording's report, and say in the status bar where it
    // went.
    if (auto *exporter = findChild<ChartExport *>(QStringLiteral("ChartExport"))) {
        exporter->report = [this] { return windowReport(*this); };
        exporter->showStatus = [this](const QString &text) { presenter->showStatus(text); };
    }
}

void TForm1::createOverlayActions()
{
    overlays = new Overlays(
        *Chart1, *chartBuilder, this, [this](const QString &text) { showMessage(text); }, this);
    // The dialog opens where the current file lies: the cycles of its run are there.
    overlays->startFolder = [this] {
        const QString current = fileControl->CurrentDataFile;
        return current.isEmpty() ? FileControl::storeFolder() : QFileInfo(current).absolutePath();
    };
    connect(windowAction(this, pmFile, "actOverlay", tr("Наложить запись…"),
                QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O)),
        &QAction::triggered, overlays, &Overlays::addClick);
    QAction *remove = windowAction(this, pmFile, "actRemoveOverlays", tr("Убрать наложения"),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Delete));
    remove->setEnabled(false);
    connect(remove, &QAction::triggered, overlays, &Overlays::clear);
    connect(overlays, &Overlays::changed, remove,
        [this, remove] { remove->setEnabled(overlays->count() > 0); });
}

void TForm1::rebuildRecentMenu()
{
    pmRecent->clear();
    const QStringList captions = recentCaptions(m_recentFiles);
    for (qsizetype i = 0; i < m_recentFiles.size(); ++i) {
        const QString path = m_recentFiles.at(i);
        // "&" would mark a shortcut letter.
        QAction *action = pmRecent->addAction(QString(captions.at(i)).replace(u'&', "&&"));
        action->setToolTip(path);
        action->setStatusTip(path);
        connect(action, &QAction::triggered, this, [this, path] {
            fileControl->CurrentDataFile = path;
            if (fileControl->loadCurrentDataFile())
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
    pmRecent->setEnabled(!m_recentFiles.isEmpty());
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
    fileControl->CurrentDataFile = QFileInfo(path).absoluteFilePath();
    fileControl->loadCurrentDataFile();
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
    const bool cycles = m_work->recordedByCycle() && !CycleRunning;
    const QString savedPath = cycles && fileControl ? fileControl->cyclesFile() : r.savedPath;
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
    return session->state() == acquisition::SessionState::Measuring && !CycleRunning;
}

void TForm1::cancelMeasurement()
{
    if (measurementWaiting())
        session->cancelMeasurement();
}

void TForm1::mirrorStartButtons()
{
    const bool waiting = measurementWaiting();
    for (QAbstractButton *button :
        { static_cast<QAbstractButton *>(btStart), static_cast<QAbstractButton *>(btStartPlus) })
        button->setText(waiting ? CancelCaption() : StartCaption());
    if (auto *cancel = findChild<QAction *>(QStringLiteral("actCancel")))
        cancel->setEnabled(waiting);
}

} // namespace app
