// The window's current recording and the work not saved: where recordings come from (the
// session, a file, the recovery store), what a failed exchange leaves, the rule that nothing
// not saved is lost, and the question on closing. The file handling and the cycle mode are
// bound here as well, since they save it.

#include "acquisition/cyclerun.h"
#include "acquisition/samplingparameters.h"
#include "app/cataloguepanel.h"
#include "app/chartbuilder.h"
#include "app/cyclecontrol.h"
#include "app/filecontrol.h"
#include "app/form1.h"
#include "app/form1ui.h"
#include "app/recoverydialog.h"
#include "app/regioncursors.h"
#include "app/sessionpresenter.h"
#include "chart/chart.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
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
    m_cycleControl = std::make_unique<CycleControl>(
        *m_session, *m_sampling, *m_work, ui->actCycle, [this] { return measurementRequest(); },
        [this] {
            // What a press of btStart does besides starting.
            m_work->setRecordedByCycle(false);
            setFrequencyPanelVisible(false);
        },
        [this](const QString &text) { showMessage(text); });
    acquisition::CycleRun *run = &m_cycleControl->run();
    connect(run, &acquisition::CycleRun::runningChanged, this, [this](bool running) {
        if (running) {
            m_presenter->setCycleNumber(0);
            m_fileControl->cyclesBegan();
        }
    });
    m_presenter->setNamesCycle([run] { return run->ownsExchange(); });
    // A stored cycle that later bytes proved wrong goes to the failed transfers.
    connect(
        run, &acquisition::CycleRun::cycleRetracted, this, [this](const files::Recording &taken) {
            keepFailed(taken, SessionPresenter::provenOutOfStepText());
        });
    // A cycle the store could not take is held as a recording of its own, not saved: the
    // close question and the recovery store then cover it.
    connect(run, &acquisition::CycleRun::ended, this, [this, run](acquisition::CycleRun::Ending e) {
        if (e != acquisition::CycleRun::Ending::NotWritten || run->unwritten().data.isEmpty())
            return;
        files::Recording held = run->unwritten();
        held.origin = files::RecordingOrigin::Measurement;
        holdRecording(std::move(held));
    });
}

void TForm1::createFileControl()
{
    FileWindow window;
    window.dialogParent = this;
    window.comment = ui->mComment;
    window.oneFile = ui->cb1file;
    window.busy = [this] { return m_session->state() != acquisition::SessionState::Idle; };
    window.setFileCaption = [this](const QString &caption) { ui->gbFile->setTitle(caption); };
    window.setStatus = [this](const QString &text) { m_presenter->showStatus(text); };
    window.hideFrequencyPanel = [this] { setFrequencyPanelVisible(false); };
    window.applyChannelBits = [this](quint8 bits) {
        for (int n = 1; n <= files::ThermocoupleCount; ++n)
            ui->channelBoxes.at(n - 1)->setChecked(bits & files::thermocoupleBit(n));
        m_sampling->setAveraging((bits & 0x80) != 0);
    };
    window.enableBrowsing = [this] {
        m_fileUsed = true;
        updateActions();
    };
    window.holdRecording
        = [this](files::Recording recording) { holdRecording(std::move(recording)); };
    window.buildChart = [this] { BuildChart(); };
    window.displaySettings = [this](const files::DataFileHeader &header) {
        return m_chartBuilder->displaySettings(header);
    };
    window.showMessage = [this](const QString &text) { showMessage(text); };
    m_fileControl = std::make_unique<FileControl>(std::move(window), *m_work);
}

void TForm1::createCataloguePanel()
{
    const Form1Ui &u = *ui;
    m_cataloguePanel = std::make_unique<CataloguePanel>(
        CatalogueWidgets { u.gbAllCmnt, u.MAllCmnt, u.eFind, u.chkCaps, u.btFind, u.btOpenFind,
            u.btPath, u.btCancel, u.mComment, u.mClipBoard },
        *m_fileControl, *u.status, [this] { setFrequencyPanelVisible(false); },
        [this] { FormResize(); }, [this](const QString &text) { showMessage(text); });
}

// ---------------------------------------------------------------------------------------
// The current recording

void TForm1::holdRecording(files::Recording next)
{
    // A file, or a recording reopened from the store, brings its own comment; a new recording
    // takes the text the box goes on showing.
    const bool ownComment
        = next.origin == files::RecordingOrigin::File || !next.recoveryPath.isEmpty();
    const QString comment = ownComment ? next.comment : ui->mComment->toPlainText();
    QString error;
    m_work->replace(std::move(next), comment, &error);
    if (ownComment) {
        const QSignalBlocker quiet(ui->mComment);
        ui->mComment->setPlainText(comment);
    }
    // The cursors stood on the points of the recording that went.
    m_regionCursors->clear();
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

void TForm1::exchangeEnded(const acquisition::ExchangeOutcome &outcome)
{
    using acquisition::ExchangeEnd;
    using acquisition::SessionFailure;
    const bool ofTheRun = m_cycleControl && m_cycleControl->run().isOwn(outcome.exchangeId);
    // The part drawn as it arrived gives way to a build of what the exchange left.
    const bool wasLive = m_chartBuilder->live();
    liveChartEnded();
    bool drawn = false;
    switch (outcome.end) {
    case ExchangeEnd::Completed: {
        files::Recording next = outcome.recording;
        // A cycle's recording is kept by the run's store (or, after "Стоп", was not asked
        // for): it is drawn, not held as one more recording to save.
        if (ofTheRun)
            next.origin = files::RecordingOrigin::Cycle;
        else if (outcome.exchange != acquisition::ExchangeKind::Measurement)
            // A new read, not the file the frame named.
            ui->gbFile->setTitle(tr("Комментарий"));
        takeRecording(std::move(next));
        drawn = true;
        break;
    }
    case ExchangeEnd::Failed:
        // A wait that ended without data draws what the chart holds.
        if (outcome.failure == SessionFailure::NoData
            && outcome.exchange == acquisition::ExchangeKind::Measurement) {
            BuildChart();
            drawn = true;
            break;
        }
        // What was received is kept as a failed transfer and drawn for the user to look at,
        // under the failure's text, as a faulty recording that no save writes. A cycle run
        // does not draw it: it is no cycle of the run.
        if (!outcome.recording.data.isEmpty()) {
            keepFailed(outcome.recording, SessionPresenter::failureText(outcome.failure));
            if (!cycleRunning()) {
                takeRecording(outcome.recording);
                drawn = true;
                m_presenter->showStatus(SessionPresenter::failureText(outcome.failure));
            }
        }
        showMessageLater(SessionPresenter::failureText(outcome.failure));
        break;
    case ExchangeEnd::Cancelled:
    case ExchangeEnd::Interrupted:
        break;
    }
    // The chart shows the recording held again, not what was drawn of the broken transfer.
    if (wasLive && !drawn) {
        const QString status = m_presenter->statusText();
        BuildChart();
        m_presenter->showStatus(status);
    }
    updateActions();
    updateTitle();
}

void TForm1::keepFailed(const files::Recording &received, const QString &text)
{
    files::Recording kept = received;
    kept.comment = ui->mComment->toPlainText();
    QString error;
    if (m_work->keepFailed(kept, text, {}, &error).isEmpty() && !error.isEmpty()) {
        qWarning("ferrun: %s", qPrintable(notKeptMessage(error)));
        showMessageLater(notKeptMessage(error));
    }
}

void TForm1::provenOutOfStep(quint64 exchangeId)
{
    if (!m_work->exchangeOutOfStep(exchangeId))
        return;
    // The recording on the chart is that exchange's: it stays for a look, marked.
    const QString text = SessionPresenter::provenOutOfStepText();
    m_presenter->showStatus(text);
    const QString saved = recording().savedPath;
    showMessageLater(saved.isEmpty()
            ? text
            : tr("%1\nФайл %2 содержит эту запись.").arg(text, QDir::toNativeSeparators(saved)));
    updateTitle();
}

bool TForm1::hasUnsavedRecording() const
{
    // After "Стоп" a save writes the run's cycles; during a run they are what is at stake.
    if (cycleRunning())
        return m_work->cycles().hasUnsaved();
    return m_work->saveTargetUnsaved();
}

void TForm1::keepUnsaved(bool exceptTheRecording)
{
    m_work->setComment(ui->mComment->toPlainText());
    QString error;
    if (!m_work->keepAll(exceptTheRecording, &error))
        qWarning("ferrun: %s", qPrintable(notKeptMessage(error)));
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
    // During a run its cycles are what the question is about.
    const bool cyclesAtStake = cycleRunning();
    if (!m_unattendedClose && hasUnsavedRecording()) {
        switch (askSaveRecording()) {
        case SaveAnswer::Cancel:
            event->ignore();
            return;
        case SaveAnswer::Save:
            // "Стоп" first: the save then writes the run's cycles.
            if (cycleRunning())
                m_cycleControl->btCycleClick();
            m_fileControl->btSaveClick();
            // The dialog was cancelled or the save failed: the window stays, nothing lost.
            if (hasUnsavedRecording()) {
                event->ignore();
                return;
            }
            break;
        case SaveAnswer::Discard:
            discarded = true;
            if (cyclesAtStake)
                m_work->setRecordedByCycle(true);
            break;
        }
    }
    // A run still going ends with the window: its cycles are on disk already.
    if (cycleRunning())
        m_cycleControl->run().stop();
    // What the question did not cover (or, with nobody to answer, everything not saved) is
    // kept in the recovery store.
    keepUnsaved(discarded);
    // The settings are written even when they cannot be: the window closes all the same.
    shutDown();
    event->accept();
}

void TForm1::showUnsavedRecordings()
{
    const QList<files::RecoveryEntry> entries = m_work->recovery().entries();
    if (entries.isEmpty()) {
        showMessage(RecoveryDialog::emptyMessage());
        return;
    }
    const QString chosen = chooseRecovered(entries);
    if (!chosen.isEmpty())
        m_fileControl->openRecovered(chosen);
}

} // namespace app
