#pragma once

#include "files/datafile.h"
#include "files/recording.h"
#include "signal/chartdecoder.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QCheckBox;
class QFileDialog;
class QPlainTextEdit;
class QWidget;

namespace files {
class UnsavedWork;
}

namespace app {

// The parts of the window the file handling works with.
struct FileWindow
{
    QWidget *dialogParent = nullptr;
    // mComment: the comment saved with a recording and filled by a load.
    QPlainTextEdit *comment = nullptr;
    // cb1file, looked at when a cycle run is saved.
    QCheckBox *oneFile = nullptr;
    // An exchange with the board is under way: no file is opened then.
    std::function<bool()> busy;
    // gbFile's caption, the first status panel, and the frequency/time panel hidden.
    std::function<void(const QString &)> setFileCaption;
    std::function<void(const QString &)> setStatus;
    std::function<void()> hideFrequencyPanel;
    // cbT1..cbT7 and cbAvgMC from the channel bits of a loaded file (a box that changes runs
    // its click handler).
    std::function<void(quint8 chartChannelBits)> applyChannelBits;
    // A file was loaded or saved: the folder's files can be browsed and catalogued.
    std::function<void()> enableBrowsing;
    // Makes the recording the current one (the one held goes to the recovery store first
    // when it needs saving) with its comment in the box, without drawing it.
    std::function<void(files::Recording)> holdRecording;
    std::function<void()> buildChart;
    // The display controls for a recording with this header, for the text export of what
    // the chart shows.
    std::function<sig::DisplaySettings(const files::DataFileHeader &)> displaySettings;
    std::function<void(const QString &)> showMessage;
};

// The filters of the save dialog, in the order it lists them.
enum class SaveFilter { AdcFiles, TextFile, AllFiles };

struct SaveChoice
{
    QString fileName;
    SaveFilter filter = SaveFilter::AdcFiles;
};

// What a save of a cycle run (RecordedByCycle set) is given: the name chosen in the save
// dialog (LastSavedFile), the comment, and whether "В один файл" is checked at the moment of
// saving.
struct CycleSaveRequest
{
    QString fileName;
    QString comment;
    bool oneFile = false;
};

struct CycleSaveOutcome
{
    // Files written, in the order written.
    QStringList written;
    // The failure to show (app/writefailure.h); empty when everything was written.
    QString error;
};

// Saving and opening data files in the window, and stepping through the data files of the
// current file's folder. The reading, writing and listing are the core's (files/); this
// class asks for names, moves the loaded values into the controls and shows the messages.
// What it saves is the keeper's current recording (or, after a cycle run, the run's cycles);
// a saved recording is marked saved, and the file saved becomes the current file. The name's
// extension decides the format (.csv and .txt: the chart's points; otherwise a data file), and
// every save says in the status bar what it wrote.
//
// A load reads and checks the whole file first: a file that cannot be opened, is not an
// instrument file or ends too early changes nothing but CurrentDataFile.
class FileControl : public QObject
{
    Q_OBJECT

public:
    // "ФАЙЛ " + the name without its folder: the comment frame's caption for a file.
    static QString fileCaption(const QString &fileName);

    FileControl(FileWindow window, files::UnsavedWork &work, QObject *parent = nullptr);
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
    // "Экспорт в CSV…": the points the chart shows, as `ferrun-cli export` writes them. Never
    // a data file, never the current file.
    void exportCsvClick();
    // The open dialog, then the file chosen is loaded.
    void btLoadFileClick();
    void btPrevFileClick();
    void btNextFileClick();
    // The load without a dialog, as browsing and the catalogue call it. True when the file
    // was loaded.
    bool loadCurrentDataFile();
    // Opens a recording kept in the recovery folder as the current one: it still needs
    // saving, and CurrentDataFile stays as it was. True when it was read.
    bool openRecovered(const QString &path);

    // The header record as a save writes it now: the current recording's own, with its length.
    files::DataFileHeader headerRecord() const;
    // The file the cycles were last saved to as one file; empty when they were not.
    const QString &cyclesFile() const { return m_cyclesFile; }
    // A new cycle run began: its cycles are in no file yet.
    void cyclesBegan() { m_cyclesFile.clear(); }

    // The save of a cycle run goes through here, and only here: it hands the request to
    // `cycleSaver`, shows a failure, and names the file in the comment frame after a one-file
    // save that succeeded.
    void saveCycleRun(const CycleSaveRequest &request);

    // ---- Replaceable parts (tests replace the dialogs)
    // The save dialog, offering `proposed` (the name last chosen); nothing when cancelled.
    std::function<std::optional<SaveChoice>(const QString &proposed)> chooseSaveFile;
    // The save dialog of the CSV export; an empty name when cancelled.
    std::function<QString(const QString &proposed)> chooseCsvFile;
    // Asked when the comment holds characters Windows-1251 cannot hold (`missing`, each
    // once): true saves anyway, false goes back to the comment.
    std::function<bool(const QString &missing)> confirmLossyComment;
    // The open dialog; an empty name when cancelled.
    std::function<QString()> chooseOpenFile;
    // Writes the stored cycles of a cycle run: the keeper's cycle store unless replaced.
    std::function<CycleSaveOutcome(const CycleSaveRequest &)> cycleSaver;

    // The current recording is the faulty remains of a failed transfer.
    bool recordingFaulty() const;

    // The folder the dialogs start in: "Mersklad" in the working folder, created when
    // missing (the working folder itself when it cannot be created).
    static QString storeFolder();
    static QStringList saveFilters();
    static QStringList openFilters();

    // The dialogs as the defaults use them (created on first use; tests look at them).
    QFileDialog *saveDialog();
    QFileDialog *openDialog();

    // The dialogs shown modally, as the default choosers run them; the save dialog opens on
    // `filter` whatever was chosen in it last.
    std::optional<SaveChoice> execSaveDialog(
        const QString &proposed, SaveFilter filter = SaveFilter::AdcFiles);
    QString execOpenDialog();
    // Hides what a file dialog leaves up once it has closed (its name box's completion list).
    static void closeCompletionLists(QFileDialog *dialog);

    static QString faultyRecordingMessage();
    static QString lossyCommentMessage(const QString &missing);

signals:
    // A data file was opened or saved (for the list of recent files).
    void fileUsed(const QString &fileName);

public:
    // Shown when a file is to be opened while the instrument is measuring or sending.
    static QString busyMessage();

private:
    // The busy check and the panel's hiding that every load starts with; false when busy.
    bool mayLoad();
    // CurrentDataFile loaded, or the one chosen in the open dialog first; true when loaded.
    bool load(bool askName);
    void applyLoaded(files::Recording recording, const QString &caption);
    void exportCsv(const QString &fileName);
    void browseTo(const QString &fileName);
    // The file saved is the current file: browsing, the catalogue and the copied comment
    // start from it; with `caption` the comment frame names it.
    void becameCurrent(const QString &fileName, bool caption);
    void say(const QString &statusText);
    bool commentMayBeSaved(const QString &comment);
    bool askLossyComment(const QString &missing);

    FileWindow m_window;
    files::UnsavedWork &m_work;
    QString m_cyclesFile;
    QPointer<QFileDialog> SaveDlg;
    QPointer<QFileDialog> OpenDlg;
};

} // namespace app
