// The window's current recording: where recordings come from (the session, a file, the
// recovery folder), the rule that none that was not saved is lost, and the question on
// closing. The file handling and the cycle mode are bound here as well, since they save it.

#include "acquisition/cyclerun.h"
#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "app/chartbuilder.h"
#include "app/cyclecontrol.h"
#include "app/filecontrol.h"
#include "app/form1.h"
#include "app/recoverydialog.h"
#include "app/regioncursors.h"
#include "chart/chart.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

namespace app {

namespace {

QString notKeptMessage(const QString &error)
{
    return QCoreApplication::translate(
        "app::TForm1", "Несохранённая запись не записана в папку восстановления: %1")
        .arg(error);
}

} // namespace

void TForm1::createCycleControl()
{
    cycleControl = std::make_unique<CycleControl>(
        *session, *sampling, btCycle, cb1file, [this] { btStartClick(); },
        [this](const QString &text) { showMessage(text); });
    acquisition::CycleRun *run = &cycleControl->run();
    connect(this, &TForm1::cycleRequested, cycleControl.get(), &CycleControl::btCycleClick);
    connect(run, &acquisition::CycleRun::runningChanged, this,
        [this](bool running) { CycleRunning = running; });
    // A new run gives up the unsaved cycles of an earlier one: they are kept first.
    connect(run, &acquisition::CycleRun::unsavedCyclesDropped, this, &TForm1::keepCycles);
    chartBuilder->cycleStep = [this, run] {
        return !CycleRunning || run->cycleStep() != acquisition::CycleRun::StepResult::LowMemory;
    };
}

void TForm1::createFileControl()
{
    FileWindow window;
    window.dialogParent = this;
    window.comment = mComment;
    window.oneFile = cb1file;
    window.btNextFile = btNextFile;
    window.valueAxisTitle = [this] { return chartBuilder->valueAxisTitle(); };
    window.applyChannelBits = [this](quint8 bits) {
        for (int n = 1; n <= files::ThermocoupleCount; ++n)
            channelBoxes.at(n - 1)->setChecked(bits & files::thermocoupleBit(n));
        sampling->setAveraging((bits & 0x80) != 0);
    };
    window.enableBrowsing = [this] {
        btPrevFile->setEnabled(true);
        btNextFile->setEnabled(true);
        btShowCmnt->setEnabled(true);
    };
    window.holdRecording
        = [this](files::Recording recording) { holdRecording(std::move(recording)); };
    window.buildChart = [this] { BuildChart(); };
    window.displaySettings = [this] { return chartBuilder->displaySettings(); };
    window.showMessage = [this](const QString &text) { showMessage(text); };
    fileControl
        = new FileControl(std::move(window), *m_document, *session, cycleControl->run(), this);
    connect(this, &TForm1::saveRequested, fileControl, &FileControl::btSaveClick);
    connect(this, &TForm1::loadRequested, fileControl,
        [this] { fileControl->btLoadFileClick(btLoadFile); });
    connect(this, &TForm1::previousFileRequested, fileControl, &FileControl::btPrevFileClick);
    connect(this, &TForm1::nextFileRequested, fileControl, &FileControl::btNextFileClick);
}

// ---------------------------------------------------------------------------------------
// The current recording

void TForm1::holdRecording(files::Recording next)
{
    // The one held goes to the recovery folder as a save would write it now.
    m_document->recording().header.YTitle = chartBuilder->valueAxisTitle();
    QString error;
    m_document->replace(std::move(next), mComment->toPlainText(), &error);
    // The cursors stood on the points of the recording that went.
    regionCursors->clear();
    if (!error.isEmpty()) {
        qWarning("ferrun: %s", qPrintable(notKeptMessage(error)));
        showMessageLater(notKeptMessage(error));
    }
    updateTitle();
}

void TForm1::takeRecording(files::Recording next)
{
    holdRecording(std::move(next));
    BuildChart();
}

void TForm1::keepCycles(const QByteArray &arrays)
{
    files::Recording cycles;
    cycles.header = m_document->recording().header;
    cycles.header.YTitle = chartBuilder->valueAxisTitle();
    cycles.data = arrays;
    cycles.comment = mComment->toPlainText();
    cycles.origin = files::RecordingOrigin::Cycle;
    cycles.time = QDateTime::currentDateTime();
    QString error;
    if (m_document->recovery().keep(cycles, &error).isEmpty()) {
        qWarning("ferrun: %s", qPrintable(notKeptMessage(error)));
        showMessageLater(notKeptMessage(error));
    }
}

bool TForm1::cyclesAreTheRecording() const
{
    // After "Стоп" a save writes the run's cycles; during a run they are what is at stake.
    return session->RecordedByCycle() || CycleRunning;
}

bool TForm1::hasUnsavedRecording() const
{
    return cyclesAreTheRecording() ? cycleControl->run().hasUnsavedCycles()
                                   : m_document->recording().needsSaving();
}

void TForm1::keepUnsaved(bool exceptTheRecording)
{
    const bool cycles = cyclesAreTheRecording();
    if (m_document->recording().needsSaving() && !(exceptTheRecording && !cycles)) {
        m_document->recording().header.YTitle = chartBuilder->valueAxisTitle();
        QString error;
        if (m_document->keepInRecovery(mComment->toPlainText(), &error).isEmpty())
            qWarning("ferrun: %s", qPrintable(notKeptMessage(error)));
    }
    if (cycleControl->run().hasUnsavedCycles() && !(exceptTheRecording && cycles))
        keepCycles(cycleControl->run().unsavedCycleArrays());
}

SaveAnswer TForm1::askSaveRecordingBox()
{
    QMessageBox box(QMessageBox::Question, windowTitle().remove(QStringLiteral("[*]")),
        tr("Сохранить запись?"), QMessageBox::NoButton, this);
    QPushButton *save = box.addButton(tr("Сохранить"), QMessageBox::AcceptRole);
    QPushButton *discard = box.addButton(tr("Не сохранять"), QMessageBox::DestructiveRole);
    QPushButton *cancel = box.addButton(tr("Отмена"), QMessageBox::RejectRole);
    box.setDefaultButton(save);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == save)
        return SaveAnswer::Save;
    if (box.clickedButton() == discard)
        return SaveAnswer::Discard;
    return SaveAnswer::Cancel;
}

void TForm1::expectUnattendedClose()
{
    m_unattendedClose = true;
}

void TForm1::closeEvent(QCloseEvent *event)
{
    if (m_shutDown) {
        event->accept();
        return;
    }
    bool discarded = false;
    if (!m_unattendedClose && hasUnsavedRecording()) {
        switch (askSaveRecording()) {
        case SaveAnswer::Cancel:
            event->ignore();
            return;
        case SaveAnswer::Save:
            // "Стоп" first: the save then writes the run's cycles.
            if (CycleRunning)
                cycleControl->btCycleClick();
            fileControl->btSaveClick();
            // The dialog was cancelled or the save failed: the window stays, nothing lost.
            if (hasUnsavedRecording()) {
                event->ignore();
                return;
            }
            break;
        case SaveAnswer::Discard:
            discarded = true;
            break;
        }
    }
    // What the question did not cover (or, with nobody to answer, everything not saved) is
    // kept in the recovery folder.
    keepUnsaved(discarded);
    // The settings are written even when they cannot be: the window closes all the same.
    shutDown();
    event->accept();
}

void TForm1::showUnsavedRecordings()
{
    const QList<files::RecoveryEntry> entries = m_document->recovery().entries();
    if (entries.isEmpty()) {
        showMessage(RecoveryDialog::emptyMessage());
        return;
    }
    const QString chosen = chooseRecovered(entries);
    if (!chosen.isEmpty())
        fileControl->openRecovered(chosen);
}

} // namespace app
