#pragma once

#include "files/datafile.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QFileDialog;

namespace app {

class TForm1;

// The filters of the save dialog, in the order it lists them.
enum class SaveFilter { AdcFiles, TextFile, AllFiles };

struct SaveChoice
{
    QString fileName;
    SaveFilter filter = SaveFilter::AdcFiles;
};

// What a save of a cycle run (RecordedByCycle set) is given: the name chosen in the save
// dialog (LastSavedFile), the header record (DataLength is set by the writer), the comment,
// and whether "В один файл" is checked at the moment of saving.
struct CycleSaveRequest
{
    QString fileName;
    files::DataFileHeader header;
    QString comment;
    bool oneFile = false;
};

struct CycleSaveOutcome
{
    // Files written, in the order written.
    QStringList written;
    // The failure to show ("Cannot create file <name>" or the write failure); empty when
    // everything was written.
    QString error;
};

// Saving and opening data files in the window, and stepping through the data files of the
// current file's folder. The reading, writing and listing are the core's (files/); this
// class asks for names, moves the loaded values into the controls and shows the messages.
//
// A load reads and checks the whole file first: a file that cannot be opened, is not an
// instrument file or ends too early changes nothing but CurrentDataFile.
class FileControl : public QObject
{
    Q_OBJECT

public:
    explicit FileControl(TForm1 &form);
    ~FileControl() override;

    // ---- Names kept for the window's life
    // The full name of the data file last opened, browsed to or picked in the catalogue.
    QString CurrentDataFile;
    // The name chosen in the last save dialog; names the per-cycle files.
    QString LastSavedFile;
    // The catalogue line the next search starts at; every load resets it.
    qsizetype SearchLine = 0;

    // ---- Handlers
    void btSaveClick();
    // With btNextFile as sender the dialog is skipped and CurrentDataFile is loaded.
    void btLoadFileClick(QObject *sender);
    void btPrevFileClick();
    void btNextFileClick();
    // The load without a dialog, as browsing and the catalogue call it. True when the file
    // was loaded.
    bool loadCurrentDataFile();

    // The header record as a save writes it now (DataLength excepted).
    files::DataFileHeader headerRecord() const;

    // The save of a cycle run goes through here, and only here: it hands the request to
    // `cycleSaver`, shows a failure, and names the file in the comment frame after a one-file
    // save that succeeded.
    void saveCycleRun(const CycleSaveRequest &request);

    // ---- Replaceable parts (tests replace the dialogs)
    // The save dialog, offering `proposed` (the name last chosen); nothing when cancelled.
    std::function<std::optional<SaveChoice>(const QString &proposed)> chooseSaveFile;
    // The open dialog; an empty name when cancelled.
    std::function<QString()> chooseOpenFile;
    // Writes the stored cycles of a cycle run: the window's cycle run (app/cyclecontrol.h)
    // unless replaced. Without one a cycle run's save writes nothing.
    std::function<CycleSaveOutcome(const CycleSaveRequest &)> cycleSaver;
    // True when the session flags the recording it received as faulty (a broken transfer).
    std::function<bool()> sessionFaulty;

    // The recording held is one the session flagged and no file has replaced it since.
    bool recordingFaulty() const;

    // The folder the dialogs start in: "Mersklad" in the working folder, created when
    // missing (the working folder itself when it cannot be created).
    static QString storeFolder();
    static const QStringList &saveFilters();
    static const QStringList &openFilters();

    // The dialogs as the defaults use them (created on first use; tests look at them).
    QFileDialog *saveDialog();
    QFileDialog *openDialog();

    // The dialogs shown modally, as the default choosers run them.
    std::optional<SaveChoice> execSaveDialog(const QString &proposed);
    QString execOpenDialog();

    static QString faultyRecordingMessage();
    // Shown when a file is to be opened while the instrument is measuring or sending.
    static QString busyMessage();

private:
    void applyLoaded(const files::DataFile &file);
    void saveText(const QString &fileName);
    void browseTo(const QString &fileName);

    TForm1 &m_form;
    QPointer<QFileDialog> SaveDlg;
    QPointer<QFileDialog> OpenDlg;
    // The header of the last load while no chart build or acquisition start has written the
    // record since (a file without data draws nothing, so its values stay in the record).
    std::optional<files::DataFileHeader> m_loadedHeader;
    bool m_loadedOk = false;
    // The buffer holds a loaded file: the session's flag, which tells of its last exchange,
    // does not describe it until the next exchange starts.
    bool m_bufferFromFile = false;
};

} // namespace app
