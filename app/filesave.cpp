// Saving in the window: the recording (or a cycle run's cycles) as data files, and the chart's
// points as CSV. The name's extension decides the format; every save says what it wrote.

#include "app/filecontrol.h"
#include "app/windowoutput.h"
#include "app/writefailure.h"
#include "files/folderbrowser.h"
#include "files/outputfile.h"
#include "files/unsavedwork.h"
#include "files/windows1251.h"
#include "signal/csvexport.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>

namespace app {

namespace {

// .csv and .txt are the CSV of the chart's points; every other name a data file.
bool isTextName(const QString &fileName)
{
    return fileName.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)
        || fileName.endsWith(QStringLiteral(".txt"), Qt::CaseInsensitive);
}

} // namespace

QString FileControl::fileCaption(const QString &fileName)
{
    return tr("ФАЙЛ ") + files::namePart(fileName);
}

files::DataFileHeader FileControl::headerRecord() const
{
    const files::Recording &r = m_work.recording();
    files::DataFileHeader h = r.header;
    h.FileType = files::DataFileType;
    h.DataLength = quint32(r.data.size());
    // Before any recording the value axis is titled in ADC units, as the chart starts.
    if (r.origin == files::RecordingOrigin::None && h.YTitle.isEmpty())
        h.YTitle = QString::fromUtf8(sig::AdcUnitsTitle);
    return h;
}

void FileControl::becameCurrent(const QString &fileName, bool caption)
{
    CurrentDataFile = fileName;
    SearchLine = 0;
    if (caption)
        m_window.setFileCaption(fileCaption(fileName));
    m_window.enableBrowsing();
    emit fileUsed(fileName);
}

void FileControl::say(const QString &text)
{
    m_window.setStatus(text);
}

bool FileControl::commentMayBeSaved(const QString &comment)
{
    const QString missing = files::notInWindows1251(comment);
    if (missing.isEmpty() || confirmLossyComment(missing))
        return true;
    m_window.comment->setFocus(Qt::OtherFocusReason);
    return false;
}

bool FileControl::askLossyComment(const QString &missing)
{
    // The window's title without its modified mark's place holder.
    QMessageBox box(QMessageBox::Warning,
        m_window.dialogParent->window()->windowTitle().remove(QStringLiteral("[*]")),
        lossyCommentMessage(missing), QMessageBox::NoButton, m_window.dialogParent);
    QPushButton *save = box.addButton(tr("Сохранить так"), QMessageBox::AcceptRole);
    QPushButton *back = box.addButton(tr("Вернуться к комментарию"), QMessageBox::RejectRole);
    box.setDefaultButton(back);
    box.setEscapeButton(back);
    box.exec();
    return box.clickedButton() == save;
}

QString FileControl::lossyCommentMessage(const QString &missing)
{
    QStringList shown;
    for (uint c : missing.toUcs4())
        shown << QString::fromUcs4(reinterpret_cast<const char32_t *>(&c), 1);
    return tr("В комментарии есть знаки, которых нет в кодировке файла данных "
              "(Windows-1251): %1\nВ файле они будут заменены на «?».")
        .arg(shown.join(u' '));
}

void FileControl::btSaveClick()
{
    // A recording whose transfer broke off is not written as if it were whole. The cycles
    // of a cycle run are kept apart from it and are saved.
    const bool cycleRun = m_work.recordedByCycle();
    if (!cycleRun && recordingFaulty()) {
        m_window.showMessage(faultyRecordingMessage());
        return;
    }
    const std::optional<SaveChoice> choice = chooseSaveFile(LastSavedFile);
    if (!choice || choice->fileName.isEmpty())
        return;
    LastSavedFile = choice->fileName;
    // The name decides the format, not the filter that listed the files.
    if (isTextName(choice->fileName)) {
        exportCsv(choice->fileName);
        return;
    }
    const QString comment = m_window.comment->toPlainText();
    if (!commentMayBeSaved(comment))
        return;
    if (cycleRun) {
        saveCycleRun({ choice->fileName, comment, m_window.oneFile->isChecked() });
        return;
    }
    files::SaveFailure failure = files::SaveFailure::None;
    int systemError = 0;
    if (!files::saveDataFile(choice->fileName, headerRecord(), m_work.recording().data, comment,
            nullptr, nullptr, nullptr, WindowOutput, &failure, &systemError)) {
        m_window.showMessage(writeFailureText(failure, choice->fileName, systemError));
        return;
    }
    // The box shows what the file holds: characters the file could not hold are its "?".
    const QString stored = files::fromWindows1251(files::toWindows1251(comment));
    if (stored != comment)
        m_window.comment->setPlainText(stored);
    m_work.setComment(stored);
    m_work.recordingSaved(choice->fileName);
    becameCurrent(choice->fileName, true);
    say(tr("Сохранено: %1").arg(files::namePart(choice->fileName)));
}

void FileControl::saveCycleRun(const CycleSaveRequest &request)
{
    if (!cycleSaver)
        return;
    const CycleSaveOutcome outcome = cycleSaver(request);
    if (!outcome.written.isEmpty()) {
        if (request.oneFile)
            m_cyclesFile = outcome.written.last();
        const QString stored = files::fromWindows1251(files::toWindows1251(request.comment));
        if (stored != request.comment)
            m_window.comment->setPlainText(stored);
        // Files of a per-cycle save are written newest first: the last is cycle 0's.
        becameCurrent(outcome.written.last(), request.oneFile);
        say(request.oneFile
                ? tr("Циклы сохранены в файл %1").arg(files::namePart(outcome.written.last()))
                : tr("Сохранено файлов циклов: %1 (%2 … %3)")
                      .arg(outcome.written.size())
                      .arg(files::namePart(outcome.written.last()),
                          files::namePart(outcome.written.first())));
    } else if (outcome.error.isEmpty()) {
        say(tr("Нет новых циклов для сохранения"));
    }
    if (!outcome.error.isEmpty())
        m_window.showMessage(outcome.error);
}

void FileControl::exportCsvClick()
{
    if (recordingFaulty()) {
        m_window.showMessage(faultyRecordingMessage());
        return;
    }
    const QString name = chooseCsvFile(LastSavedFile);
    if (!name.isEmpty())
        exportCsv(name);
}

void FileControl::exportCsv(const QString &fileName)
{
    // The text is the recording held, also after a cycle run: the points the chart shows now.
    if (recordingFaulty()) {
        m_window.showMessage(faultyRecordingMessage());
        return;
    }
    const files::Recording &held = m_work.recording();
    const sig::DisplaySettings settings = m_window.displaySettings(held.header);
    sig::ChartDecoder decoder;
    const sig::DecodedRecording recording = decoder.decode(held.data, settings);
    // A file replaced whole; a device or FIFO is refused, as for every save of the window.
    files::OutputFile file;
    if (!file.open(fileName, WindowOutput)) {
        m_window.showMessage(
            writeFailureText(files::SaveFailure::CannotCreate, fileName, file.errorNumber()));
        return;
    }
    if (!file.write(sig::csvText(recording)) || !file.commit()) {
        m_window.showMessage(
            writeFailureText(files::SaveFailure::CannotWrite, fileName, file.errorNumber()));
        return;
    }
    // An export is no data file: the current file and the frame's caption stay.
    say(tr("Экспорт в CSV: %1").arg(files::namePart(fileName)));
}

} // namespace app
