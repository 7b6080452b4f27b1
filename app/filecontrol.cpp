#include "app/filecontrol.h"

#include "app/windowoutput.h"
#include "app/writefailure.h"
#include "files/channels.h"
#include "files/cyclestore.h"
#include "files/folderbrowser.h"
#include "files/outputfile.h"
#include "files/recoverystore.h"
#include "files/unsavedwork.h"
#include "signal/csvexport.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCompleter>
#include <QDir>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QToolButton>
#include <algorithm>

namespace app {

namespace {

// The cycles written as the save asks: all of them into one file, or one file per cycle not
// yet written so (the others stay for another save).
CycleSaveOutcome saveCycles(files::CycleStore &cycles, const CycleSaveRequest &request)
{
    CycleSaveOutcome outcome;
    if (request.oneFile) {
        files::SaveFailure failure = files::SaveFailure::None;
        int systemError = 0;
        if (cycles.saveOneFile(request.fileName, request.comment, nullptr, nullptr, WindowOutput,
                &failure, &systemError))
            outcome.written = QStringList { request.fileName };
        outcome.error = writeFailureText(failure, request.fileName, systemError);
        return outcome;
    }
    const files::CycleSaveResult result
        = cycles.savePerCycle(request.fileName, request.comment, WindowOutput);
    outcome.written = result.written;
    outcome.error = writeFailureText(result.failure, result.failedFile, result.systemError);
    return outcome;
}

} // namespace

FileControl::FileControl(FileWindow window, files::UnsavedWork &work, QObject *parent)
    : QObject(parent)
    , m_window(std::move(window))
    , m_work(work)
{
    chooseSaveFile = [this](const QString &proposed) { return execSaveDialog(proposed); };
    chooseCsvFile = [this](const QString &proposed) {
        const std::optional<SaveChoice> choice = execSaveDialog(proposed, SaveFilter::TextFile);
        return choice ? choice->fileName : QString();
    };
    confirmLossyComment = [this](const QString &missing) { return askLossyComment(missing); };
    chooseOpenFile = [this] { return execOpenDialog(); };
    cycleSaver
        = [this](const CycleSaveRequest &request) { return saveCycles(m_work.cycles(), request); };
}

bool FileControl::recordingFaulty() const
{
    return m_work.recording().faulty;
}

FileControl::~FileControl() = default;

// A dialog closed with Return while the completion list of its name box is up leaves that
// list on the screen when the window system moves the focus after the dialog has closed (as
// X11 does): the list, a popup, would then swallow the next click on the window to close
// itself. The list goes with the dialog.
void FileControl::closeCompletionLists(QFileDialog *dialog)
{
    for (QCompleter *completer : dialog->findChildren<QCompleter *>())
        if (QAbstractItemView *list = completer->popup(); list && list->isVisible())
            list->hide();
}

QString FileControl::faultyRecordingMessage()
{
    return tr("Приём массива прерван: данные неполны и не сохраняются");
}

QString FileControl::busyMessage()
{
    return tr("Идёт обмен с АЦП: откройте файл после окончания измерения");
}

QString FileControl::storeFolder()
{
    const QString folder = QDir::current().filePath(QStringLiteral("Mersklad"));
    if (QDir().mkpath(folder))
        return folder;
    return QDir::currentPath();
}

QStringList FileControl::saveFilters()
{
    return { tr("Файлы АЦП (*.kdx)"), tr("Текстовый файл (*.csv *.txt)"), tr("Все файлы (*)") };
}

QStringList FileControl::openFilters()
{
    return { tr("Файлы АЦП (*.kdx)"), tr("Все файлы (*)") };
}

QFileDialog *FileControl::saveDialog()
{
    if (!SaveDlg) {
        // The folder exists before the dialog reads it: a dialog started in the working
        // folder keeps the listing it read there and shows the drives for a folder made
        // after it.
        const QString folder = storeFolder();
        SaveDlg = new QFileDialog(m_window.dialogParent, QString(), folder);
        SaveDlg->setObjectName(QStringLiteral("SaveDlg"));
        SaveDlg->setOption(QFileDialog::DontUseNativeDialog);
        SaveDlg->setAcceptMode(QFileDialog::AcceptSave);
        SaveDlg->setFileMode(QFileDialog::AnyFile);
        SaveDlg->setNameFilters(saveFilters());
        SaveDlg->setDefaultSuffix(QStringLiteral("kdx"));
        // A name typed without extension takes that of the chosen filter.
        connect(SaveDlg, &QFileDialog::filterSelected, SaveDlg, [dialog = SaveDlg.data()] {
            const bool text = dialog->selectedNameFilter() == saveFilters().at(1);
            dialog->setDefaultSuffix(text ? QStringLiteral("csv") : QStringLiteral("kdx"));
        });
    }
    return SaveDlg;
}

QFileDialog *FileControl::openDialog()
{
    if (!OpenDlg) {
        // The folder exists before the dialog reads it: a dialog started in the working
        // folder keeps the listing it read there and shows the drives for a folder made
        // after it.
        const QString folder = storeFolder();
        OpenDlg = new QFileDialog(m_window.dialogParent, QString(), folder);
        OpenDlg->setObjectName(QStringLiteral("OpenDlg"));
        OpenDlg->setOption(QFileDialog::DontUseNativeDialog);
        OpenDlg->setAcceptMode(QFileDialog::AcceptOpen);
        OpenDlg->setFileMode(QFileDialog::ExistingFile);
        OpenDlg->setNameFilters(openFilters());
        OpenDlg->setDefaultSuffix(QStringLiteral("kdx"));
    }
    return OpenDlg;
}

std::optional<SaveChoice> FileControl::execSaveDialog(const QString &proposed, SaveFilter filter)
{
    QFileDialog *dialog = saveDialog();
    // Each save starts on the filter asked for: the last one chosen does not stick.
    dialog->selectNameFilter(saveFilters().at(int(filter)));
    dialog->setDefaultSuffix(
        filter == SaveFilter::TextFile ? QStringLiteral("csv") : QStringLiteral("kdx"));
    if (!proposed.isEmpty())
        dialog->selectFile(proposed);
    const int result = dialog->exec();
    closeCompletionLists(dialog);
    if (result != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog->selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return std::nullopt;
    const qsizetype chosenFilter = saveFilters().indexOf(dialog->selectedNameFilter());
    return SaveChoice { chosen.first(),
        chosenFilter < 0 ? SaveFilter::AdcFiles : SaveFilter(chosenFilter) };
}

QString FileControl::execOpenDialog()
{
    QFileDialog *dialog = openDialog();
    const int result = dialog->exec();
    closeCompletionLists(dialog);
    if (result != QDialog::Accepted)
        return {};
    const QStringList chosen = dialog->selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

// ---------------------------------------------------------------------------------------
// Load

bool FileControl::mayLoad()
{
    // The recording of the exchange under way would replace a file opened now, which the
    // user did not ask for.
    if (m_window.busy()) {
        m_window.showMessage(busyMessage());
        return false;
    }
    m_window.hideFrequencyPanel();
    SearchLine = 0;
    return true;
}

void FileControl::btLoadFileClick()
{
    load(true);
}

bool FileControl::loadCurrentDataFile()
{
    return load(false);
}

bool FileControl::load(bool askName)
{
    if (!mayLoad())
        return false;
    if (askName) {
        const QString chosen = chooseOpenFile();
        if (chosen.isEmpty())
            return false;
        CurrentDataFile = chosen;
    }
    // The whole file is read and checked before anything changes.
    files::Recording recording;
    QString error;
    if (files::readRecording(CurrentDataFile, &recording, &error) != files::DataFileStatus::Ok) {
        m_window.showMessage(error);
        return false;
    }
    applyLoaded(std::move(recording), fileCaption(CurrentDataFile));
    m_window.enableBrowsing();
    emit fileUsed(CurrentDataFile);
    m_window.buildChart();
    return true;
}

bool FileControl::openRecovered(const QString &path)
{
    if (!mayLoad())
        return false;
    files::Recording recording;
    QString error;
    if (files::RecoveryStore::reopen(path, &recording, &error) != files::DataFileStatus::Ok) {
        m_window.showMessage(error);
        return false;
    }
    applyLoaded(std::move(recording), tr("Комментарий"));
    m_window.buildChart();
    return true;
}

void FileControl::applyLoaded(files::Recording recording, const QString &caption)
{
    // Check boxes T1..T7 and cbAvgMC from the channel bits; a box that changes runs its
    // click handler. The photodiode box is left as it is.
    m_window.applyChannelBits(recording.header.ChartChannelBits);
    // The recording held keeps the comment typed for it; the box then shows the file's.
    m_window.holdRecording(std::move(recording));
    m_window.setFileCaption(caption);
}

// ---------------------------------------------------------------------------------------
// Browsing

void FileControl::browseTo(const QString &fileName)
{
    CurrentDataFile = fileName;
    load(false);
}

void FileControl::btPrevFileClick()
{
    m_window.hideFrequencyPanel();
    const files::BrowseStep step = files::previousDataFile(CurrentDataFile);
    if (step.outcome == files::BrowseOutcome::NoMoreFiles)
        m_window.showMessage(files::noMoreFilesMessage());
    else if (step.outcome == files::BrowseOutcome::Open)
        browseTo(step.fileName);
}

void FileControl::btNextFileClick()
{
    m_window.hideFrequencyPanel();
    const files::BrowseStep step = files::nextDataFile(CurrentDataFile);
    if (step.outcome == files::BrowseOutcome::NoMoreFiles)
        m_window.showMessage(files::noMoreFilesMessage());
    else if (step.outcome == files::BrowseOutcome::Open)
        browseTo(step.fileName);
}

} // namespace app
