#include "app/filecontrol.h"

#include "acquisition/cyclerun.h"
#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "app/chartbuilder.h"
#include "app/cyclecontrol.h"
#include "app/form1.h"
#include "chart/chart.h"
#include "files/folderbrowser.h"
#include "signal/csvexport.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCompleter>
#include <QDir>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QToolButton>
#include <algorithm>

namespace app {

namespace {

// A dialog closed with Return while the completion list of its name box is up leaves that
// list on the screen when the window system moves the focus after the dialog has closed (as
// X11 does): the list, a popup, would then swallow the next click on the window to close
// itself. The list goes with the dialog.
void closeCompletionLists(QFileDialog *dialog)
{
    for (QCompleter *completer : dialog->findChildren<QCompleter *>())
        if (QAbstractItemView *list = completer->popup(); list && list->isVisible())
            list->hide();
}

const QString FileCaptionPrefix = QStringLiteral("ФАЙЛ ");

// The cycle run's stores written as the save asks: the stream into one file, or one file per
// stored cycle (written records released, the others kept for another save).
CycleSaveOutcome saveCycleStores(acquisition::CycleRun &run, const CycleSaveRequest &request)
{
    CycleSaveOutcome outcome;
    if (request.oneFile) {
        if (run.saveStream(request.fileName, request.header, request.comment, &outcome.error))
            outcome.written = QStringList { request.fileName };
        return outcome;
    }
    const files::CycleSaveResult result
        = run.saveRecords(request.fileName, request.header, request.comment);
    outcome.written = result.written;
    outcome.error = result.error;
    return outcome;
}

} // namespace

FileControl::FileControl(TForm1 &form)
    : QObject(&form)
    , m_form(form)
{
    chooseSaveFile = [this](const QString &proposed) { return execSaveDialog(proposed); };
    chooseOpenFile = [this] { return execOpenDialog(); };
    sessionFaulty = [this] { return m_form.session && m_form.session->recordingFaulty(); };
    if (form.cycleControl) {
        cycleSaver = [this](const CycleSaveRequest &request) {
            return saveCycleStores(m_form.cycleControl->run(), request);
        };
    }

    connect(&form, &TForm1::saveRequested, this, &FileControl::btSaveClick);
    connect(&form, &TForm1::loadRequested, this, [this] { btLoadFileClick(m_form.btLoadFile); });
    connect(&form, &TForm1::previousFileRequested, this, &FileControl::btPrevFileClick);
    connect(&form, &TForm1::nextFileRequested, this, &FileControl::btNextFileClick);
    // A chart build and an acquisition start write the header record (both set the time
    // axis title): from then on the loaded header no longer stands for the recording.
    connect(form.session.get(), &acquisition::MeasurementSession::xTitleChanged, this,
        [this] { m_loadedHeader.reset(); });
    // A new exchange fills the buffer from the board again.
    connect(form.session.get(), &acquisition::MeasurementSession::stateChanged, this,
        [this](acquisition::SessionState state) {
            if (state != acquisition::SessionState::Idle
                && state != acquisition::SessionState::Drawing)
                m_bufferFromFile = false;
        });
}

bool FileControl::recordingFaulty() const
{
    return !m_bufferFromFile && sessionFaulty && sessionFaulty();
}

FileControl::~FileControl() = default;

QString FileControl::faultyRecordingMessage()
{
    return QStringLiteral("Приём массива прерван: данные неполны и не сохраняются");
}

QString FileControl::busyMessage()
{
    return QStringLiteral("Идёт обмен с АЦП: откройте файл после окончания измерения");
}

QString FileControl::storeFolder()
{
    const QString folder = QDir::current().filePath(QStringLiteral("Mersklad"));
    if (QDir().mkpath(folder))
        return folder;
    return QDir::currentPath();
}

const QStringList &FileControl::saveFilters()
{
    static const QStringList filters { QStringLiteral("ADC files (*.kdx)"),
        QStringLiteral("Save to Text file (*.txt)"), QStringLiteral("All files (*)") };
    return filters;
}

const QStringList &FileControl::openFilters()
{
    static const QStringList filters { QStringLiteral("ADC files (*.kdx)"),
        QStringLiteral("All files (*)") };
    return filters;
}

QFileDialog *FileControl::saveDialog()
{
    if (!SaveDlg) {
        // The folder exists before the dialog reads it: a dialog started in the working
        // folder keeps the listing it read there and shows the drives for a folder made
        // after it.
        const QString folder = storeFolder();
        SaveDlg = new QFileDialog(&m_form, QString(), folder);
        SaveDlg->setObjectName(QStringLiteral("SaveDlg"));
        SaveDlg->setOption(QFileDialog::DontUseNativeDialog);
        SaveDlg->setAcceptMode(QFileDialog::AcceptSave);
        SaveDlg->setFileMode(QFileDialog::AnyFile);
        SaveDlg->setNameFilters(saveFilters());
        SaveDlg->setDefaultSuffix(QStringLiteral("kdx"));
        // A name typed without extension takes that of the chosen filter.
        connect(SaveDlg, &QFileDialog::filterSelected, SaveDlg, [dialog = SaveDlg.data()] {
            const bool text = dialog->selectedNameFilter() == saveFilters().at(1);
            dialog->setDefaultSuffix(text ? QStringLiteral("txt") : QStringLiteral("kdx"));
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
        OpenDlg = new QFileDialog(&m_form, QString(), folder);
        OpenDlg->setObjectName(QStringLiteral("OpenDlg"));
        OpenDlg->setOption(QFileDialog::DontUseNativeDialog);
        OpenDlg->setAcceptMode(QFileDialog::AcceptOpen);
        OpenDlg->setFileMode(QFileDialog::ExistingFile);
        OpenDlg->setNameFilters(openFilters());
        OpenDlg->setDefaultSuffix(QStringLiteral("kdx"));
    }
    return OpenDlg;
}

std::optional<SaveChoice> FileControl::execSaveDialog(const QString &proposed)
{
    QFileDialog *dialog = saveDialog();
    if (!proposed.isEmpty())
        dialog->selectFile(proposed);
    const int result = dialog->exec();
    closeCompletionLists(dialog);
    if (result != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog->selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return std::nullopt;
    const qsizetype filter = saveFilters().indexOf(dialog->selectedNameFilter());
    return SaveChoice { chosen.first(), filter < 0 ? SaveFilter::AdcFiles : SaveFilter(filter) };
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

files::DataFileHeader FileControl::headerRecord() const
{
    files::DataFileHeader h;
    if (m_loadedHeader) {
        h = *m_loadedHeader;
    } else {
        const ChartBuilder &builder = *m_form.chartBuilder;
        h.ChartChannelBits = builder.ChartChannelBits();
        h.ValueScale = builder.ValueScale();
        h.ValueOffset = builder.ValueOffset();
    }
    h.FileType = files::DataFileType;
    h.DataLength = quint32(m_form.AcquisitionBuffer() ? m_form.AcquisitionBuffer()->size() : 0);
    h.ChannelIntervalUs = m_form.session->ChannelIntervalUs();
    h.XTitle = m_form.session->XTitle();
    // The value axis's title as the chart shows it now.
    h.YTitle = m_form.Chart1->LeftAxis()->Title().Caption();
    return h;
}

// ---------------------------------------------------------------------------------------
// Save

void FileControl::btSaveClick()
{
    // A recording whose transfer broke off is not written as if it were whole. The cycles
    // of a cycle run are kept apart from it and are saved.
    const bool cycleRun = m_form.session->RecordedByCycle();
    if (!cycleRun && recordingFaulty()) {
        m_form.showMessage(faultyRecordingMessage());
        return;
    }
    const std::optional<SaveChoice> choice = chooseSaveFile(LastSavedFile);
    if (!choice || choice->fileName.isEmpty())
        return;
    LastSavedFile = choice->fileName;
    if (choice->filter == SaveFilter::TextFile) {
        // The text is the recording held, also after a cycle run.
        if (recordingFaulty())
            m_form.showMessage(faultyRecordingMessage());
        else
            saveText(choice->fileName);
        return;
    }
    const QString comment = m_form.mComment->toPlainText();
    if (cycleRun) {
        saveCycleRun({ choice->fileName, headerRecord(), comment, m_form.cb1file->isChecked() });
        return;
    }
    const QByteArray *buffer = m_form.AcquisitionBuffer();
    QString error;
    if (!files::saveDataFile(
            choice->fileName, headerRecord(), buffer ? *buffer : QByteArray(), comment, &error)) {
        m_form.showMessage(error);
        return;
    }
    m_form.session->setFileCaption(FileCaptionPrefix + files::namePart(choice->fileName));
}

void FileControl::saveCycleRun(const CycleSaveRequest &request)
{
    if (!cycleSaver)
        return;
    const CycleSaveOutcome outcome = cycleSaver(request);
    if (!outcome.error.isEmpty()) {
        m_form.showMessage(outcome.error);
        return;
    }
    if (request.oneFile)
        m_form.session->setFileCaption(FileCaptionPrefix + files::namePart(request.fileName));
}

void FileControl::saveText(const QString &fileName)
{
    // The recording as the chart shows it now: the points of the current display settings.
    const QByteArray *buffer = m_form.AcquisitionBuffer();
    sig::ChartDecoder decoder;
    const sig::DecodedRecording recording
        = decoder.decode(buffer ? *buffer : QByteArray(), m_form.chartBuilder->displaySettings());
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        m_form.showMessage(QStringLiteral("Cannot create file %1").arg(fileName));
        return;
    }
    if (!sig::writeCsv(recording, file) || !file.commit()) {
        file.cancelWriting();
        m_form.showMessage(QStringLiteral("Stream write error"));
        return;
    }
    m_form.session->setFileCaption(FileCaptionPrefix + files::namePart(fileName));
}

// ---------------------------------------------------------------------------------------
// Load

void FileControl::btLoadFileClick(QObject *sender)
{
    // The session appends each block it receives to the buffer a load would replace: a file
    // opened during an exchange would be mixed with the blocks still to come.
    if (m_form.session->state() != acquisition::SessionState::Idle
        && m_form.session->state() != acquisition::SessionState::Drawing) {
        m_form.showMessage(busyMessage());
        return;
    }
    m_form.session->setFrequencyPanelVisible(false);
    SearchLine = 0;
    if (sender != m_form.btNextFile) {
        const QString chosen = chooseOpenFile();
        if (chosen.isEmpty())
            return;
        CurrentDataFile = chosen;
    }
    // The whole file is read and checked before anything changes.
    files::DataFile file;
    QString error;
    if (files::readDataFile(CurrentDataFile, &file, &error) != files::DataFileStatus::Ok) {
        m_form.showMessage(error);
        return;
    }
    applyLoaded(file);
}

bool FileControl::loadCurrentDataFile()
{
    m_loadedOk = false;
    btLoadFileClick(m_form.btNextFile);
    return m_loadedOk;
}

void FileControl::applyLoaded(const files::DataFile &file)
{
    const files::DataFileHeader &h = file.header;
    acquisition::MeasurementSession &session = *m_form.session;
    // Check boxes T1..T7 and cbAvgMC from the channel bits; a box that changes runs its
    // click handler. The photodiode box is left as it is.
    for (int n = 1; n <= files::ThermocoupleCount; ++n)
        m_form.channelBoxes.at(n - 1)->setChecked(h.ChartChannelBits & files::thermocoupleBit(n));
    m_form.sampling->setAveraging((h.ChartChannelBits & 0x80) != 0);

    session.setChannelIntervalUs(h.ChannelIntervalUs);
    session.setXTitle(h.XTitle);
    m_loadedHeader = h;
    session.setSessionBlocks(quint16(std::min<quint32>(h.DataLength / 60000, 0xFFFF)));
    session.acquisitionBuffer() = file.data;
    m_bufferFromFile = true;
    m_form.mComment->setPlainText(file.comment());

    session.setFileCaption(FileCaptionPrefix + files::namePart(CurrentDataFile));
    m_form.btPrevFile->setEnabled(true);
    m_form.btNextFile->setEnabled(true);
    m_form.btShowCmnt->setEnabled(true);
    m_loadedOk = true;
    m_form.BuildChart();
}

// ---------------------------------------------------------------------------------------
// Browsing

void FileControl::browseTo(const QString &fileName)
{
    CurrentDataFile = fileName;
    btLoadFileClick(m_form.btNextFile);
}

void FileControl::btPrevFileClick()
{
    m_form.session->setFrequencyPanelVisible(false);
    const files::BrowseStep step = files::previousDataFile(CurrentDataFile);
    if (step.outcome == files::BrowseOutcome::NoMoreFiles)
        m_form.showMessage(files::NoMoreFilesMessage);
    else if (step.outcome == files::BrowseOutcome::Open)
        browseTo(step.fileName);
}

void FileControl::btNextFileClick()
{
    m_form.session->setFrequencyPanelVisible(false);
    const files::BrowseStep step = files::nextDataFile(CurrentDataFile);
    if (step.outcome == files::BrowseOutcome::NoMoreFiles)
        m_form.showMessage(files::NoMoreFilesMessage);
    else if (step.outcome == files::BrowseOutcome::Open)
        browseTo(step.fileName);
}

} // namespace app
