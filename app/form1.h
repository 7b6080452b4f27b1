#pragma once

#include "acquisition/measurementsession.h"
#include "app/appoptions.h"
#include "files/channels.h"
#include "files/unsavedwork.h"

#include <QColor>
#include <QElapsedTimer>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QColorDialog;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QMenu;
class QMimeData;
class QTimer;

namespace chart {
class TChart;
class TChartSeries;
} // namespace chart

namespace acquisition {
class Instrument;
class SamplingParameters;
enum class Field;
} // namespace acquisition

namespace app {

class CataloguePanel;
class ChartBuilder;
class ChartExport;
class CursorReadout;
class CycleControl;
class ContextHelp;
class FileControl;
class HotPlug;
class Overlays;
class RegionCursors;
class RegionPanel;
class SessionPresenter;
class SpinEdit;
struct Form1Ui;

// What start-up takes from outside besides the settings file and the command line: how
// messages are shown (an information box unless replaced; tests collect them) and where
// discovery looks for the instrument.
struct FormEnvironment
{
    std::function<void(const QString &)> showMessage;
    QString sysfsRoot = QStringLiteral("/sys");
    QString devRoot = QStringLiteral("/dev");
    // The available area of each screen (less its task bars), where start-up places the
    // window; empty: the platform's screens.
    QList<QRect> availableScreens;
    // Where recordings replaced before they were saved are kept; empty: the user's data folder
    // (files::RecoveryStore::defaultFolder()).
    QString recoveryFolder;
    // The chart is drawn as the blocks of a transfer arrive (off: once complete, for the
    // bench that measures what drawing as they arrive costs).
    bool liveChart = true;
};

// The answers to "Сохранить запись?" when the window closes with a recording not saved.
enum class SaveAnswer { Save, Discard, Cancel };

// The main window, captioned "7 термопар, фотодиод". Creating it runs the start-up sequence
// (settings from `settingsPath`, applied to the controls in order); closing it runs the
// shutdown sequence, which writes every setting back.
//
// Controls are laid out at fixed positions; the chart and the bands that follow it are
// resized by FormResize from the window's outer size and the two margins. They are private
// (Form1Ui, app/form1ui.h): a test or a user finds a control by its object name. Each command
// is one QAction shared by its tool button, menu item and shortcut; updateActions() alone
// decides which commands are enabled, from the link, the session, the cycle run and the file
// handling.
//
// The window owns the instrument (the serial port SerialPort1, the link that finds and opens
// it, and the measurement session that runs every exchange on it) and the keeper of the work
// not saved (the current recording with its comment, the cycles of a run, failed transfers).
// Its handlers turn the controls into the session's requests; the presenter shows what the
// session does (status texts, progress panel). Every recording the session completes, and
// every file opened, becomes the current recording; one not saved goes to the recovery store
// first. Closing the window with something not saved asks "Сохранить запись?".
//
// Ownership: widgets, menus, actions and timers are Qt children of the window (or of the
// widget they belong to) and go with it. Every helper (an object that refers to other parts of
// the window or to the instrument) is held by a std::unique_ptr member declared after all it
// refers to. Members are destroyed in the reverse order of their declaration, and before any
// child widget (~QWidget deletes the children once the members are gone), so no helper
// outlives what it refers to and none is deleted by hand (the destructor only stops the window
// hearing the instrument, whose last exchange ends as it goes). Event hooks (app/eventhook.h)
// belong to the widget they watch.
class TForm1 : public QWidget
{
    Q_OBJECT

public:
    explicit TForm1(const QString &settingsPath, const AppOptions &options = {},
        FormEnvironment environment = {}, QWidget *parent = nullptr);
    ~TForm1() override;

    const AppOptions &options() const { return m_options; }
    // The window's title without a file's name: "7 термопар, фотодиод" in Russian.
    static QString caption();
    const QString &settingsPath() const { return m_settingsPath; }

    // The height of the channel check boxes' row below the chart.
    static constexpr int ChannelsBand = 30;
    // What the chart leaves of the window's outer height and width.
    static constexpr int ChartHeightMargin = 169;
    static constexpr int ChartWidthMargin = 22;
    // Blocks are drawn at most this often, right after a block request has gone out: the
    // drawing then fills the time the next block takes on the wire (6 ms) and holds up no
    // request. Without requests (a stalled board) they are drawn LiveFallbackMs after they
    // came. Either way a block's points show within 100 ms.
    static constexpr int LiveRedrawMs = 40;
    static constexpr int LiveFallbackMs = 80;
    // The least client size at which every control can be reached.
    static constexpr QSize MinimumClientSize { 712, 470 };

    // ---- How messages, the colour dialog, the question on closing and the list of unsaved
    // recordings are shown; tests replace them.
    std::function<void(const QString &)> showMessage;
    std::function<std::optional<QColor>(const QColor &)> chooseColor;
    std::function<SaveAnswer()> askSaveRecording;
    // The recovered recording chosen from the list; empty when none.
    std::function<QString(const QList<files::RecoveryEntry> &)> chooseRecovered;

    // ---- The parts of the window, each reached through its own interface
    // The built-in board with --simulator, SerialPort1, the link and the session it holds.
    acquisition::Instrument &instrument() { return *m_instrument; }
    acquisition::MeasurementSession &session() { return *m_session; }
    // The session's states as the window shows them (status texts, progress panel).
    SessionPresenter &presenter() { return *m_presenter; }
    // The frequency/time panel's model.
    acquisition::SamplingParameters &sampling() { return *m_sampling; }
    // Chart building (app/chartbuilder.h), the status bar's readout (app/cursorreadout.h),
    // cursors A and B and their region's panel (app/regioncursors.h, app/regionpanel.h).
    ChartBuilder &chartBuilder() { return *m_chartBuilder; }
    CursorReadout &cursorReadout() { return *m_cursorReadout; }
    RegionCursors &regionCursors() { return *m_regionCursors; }
    RegionPanel &regionPanel() { return *m_regionPanel; }
    // The cycle mode (app/cyclecontrol.h): its run and stores.
    CycleControl &cycleControl() { return *m_cycleControl; }
    // Recordings laid over the chart to compare with (app/overlays.h): drawn anew after every
    // chart build, never the current recording.
    Overlays &overlays() { return *m_overlays; }
    // Data files, browsing and the comment catalogue (app/filecontrol.h, app/cataloguepanel.h).
    FileControl &fileControl() { return *m_fileControl; }
    CataloguePanel &cataloguePanel() { return *m_cataloguePanel; }
    // Printing, PDF export and the chart's copy (app/chartexport.h).
    ChartExport &chartExport() { return *m_chartExport; }
    ContextHelp &help() { return *m_help; }
    // Connects to the board when it is plugged in; none with --device or --simulator.
    HotPlug *hotPlug() { return m_hotPlug.get(); }

    // ---- The current recording and the work not saved
    const files::Recording &recording() const { return m_work->recording(); }
    files::UnsavedWork &work() { return *m_work; }
    // Makes `next` the current recording (the one held goes to the recovery store first when
    // it was not saved, with its comment) and draws it. A file (or a recording reopened from
    // the store) brings its comment into the box; a new recording keeps the box's text.
    void takeRecording(files::Recording next);
    // True when closing would lose something: what btSave writes (the current recording, or
    // after a cycle run its cycles) is not saved.
    bool hasUnsavedRecording() const;
    // The measurement the controls ask for now (btStart), and the short read or re-read.
    acquisition::MeasurementRequest measurementRequest() const;
    acquisition::ReadRequest readRequest() const;
    // LaunchType: 0 from the computer, 1 on the photodiode signal.
    int LaunchType() const { return m_launchType; }
    // Which picture btExtrn shows: Computer or RisingEdge.
    bool launchPictureIsComputer() const { return m_launchType != 1; }
    // A photodiode tuning runs: "Настройка ФД" was pressed, "Завершить (ФД)" not yet.
    bool tuning() const { return m_tuning; }
    bool frequencyPanelVisible() const { return m_frequencyPanelVisible; }
    void setFrequencyPanelVisible(bool visible);
    // A cycle run goes on ("Стоп" not pressed yet).
    bool cycleRunning() const;
    // A measurement waits for its recording (its time, or the photodiode trigger): the start
    // buttons read "Отменить" and cancel it.
    bool measurementWaiting() const;
    void cancelMeasurement();
    bool readoutOn() const { return m_readout; }

    // ---- The chart and its series T1..T7, FD
    // Decodes the current recording with the display controls into the series T1..T7, FD.
    // Runs when a recording arrives or is opened, and when cbInt, cbShowK or cbXscale change.
    void BuildChart();
    chart::TChartSeries *series(files::ChannelId channel) const;
    bool seriesActive(files::ChannelId channel) const;
    QColor seriesColor(files::ChannelId channel) const;
    // Bit n - 1 for each checked box cbTn.
    quint8 checkedThermocouples() const;
    // The range warning's blink: red becomes yellow, any other colour red (every 300 ms).
    void TimErrBlinkTimer();

    // ---- Outer window geometry (the frame included where the platform has one)
    int windowWidth() const;
    int windowHeight() const;
    void setWindowHeight(int height);
    void setWindowWidth(int width);
    void setWindowLeft(int left);
    void setWindowTop(int top);
    std::optional<QRect> foldState() const { return m_foldState; }

    // ---- Files
    // "Несохранённые записи…": the list of the recovery folder; the one chosen is opened.
    void showUnsavedRecordings();
    // Opens a data file as btLoadFile does after its dialog (a file named on the command
    // line, dropped on the window or picked from the recent files).
    void openFile(const QString &path);
    // The data files last opened or saved, newest first.
    const QStringList &recentFiles() const { return m_recentFiles; }
    // The next close has nobody to answer (a signal): what is not saved goes to the recovery
    // folder and the window closes without asking.
    void expectUnattendedClose();

signals:
    void settingsWriteFailed(const QString &message);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool event(QEvent *event) override;

private:
    // ---- Controls (form1layout.cpp)
    void createControls();
    void createHeaderAndToolBars();
    void createCommentAndChart();
    void createChannelPanel();
    void createOptionsPanel();
    void createFrequencyPanel();
    void assignHelpTopics();
    // ---- Commands and the events that only events can carry (form1actions.cpp)
    void createActions();
    QAction *command(const char *name, const QString &text, const QKeySequence &shortcut = {});
    void bindButtons();
    void bindControls();
    void hookEvents();
    // What only events carry, each hooked on the widget whose event it is; true when taken.
    bool dragOverTextBox(QEvent *event); // mComment, MAllCmnt
    static bool openMenuOnPress(QEvent *event, QWidget *section, QMenu *menu); // the header
    bool toolBarDoubleClick(QEvent *event); // ctlBar and its tool bars
    bool chartMenuEvent(QEvent *event, QPoint &pressedAt); // Chart1
    bool optionsPanelClick(QEvent *event); // gbOptions
    bool startButtonKey(QEvent *event); // btStart
    void createMenus();
    // Which commands are enabled, and what the start buttons stand for: from the link (a board
    // to measure with), the session and the cycle run (a measurement waits), the file handling
    // (a file to browse from) and the overlays.
    void updateActions();
    // ---- The frequency/time panel's model and the instrument (form1.cpp)
    void bindSampling();
    void mirrorField(acquisition::Field field);
    void mirrorLabels();
    void mirrorError();
    void createInstrument();
    void bindSession();
    void bindChartBuilder();
    void createRegionCursors();
    // The chart drawn as the blocks of a transfer arrive (form1chart.cpp).
    void bindLiveChart();
    void drawLive();
    void liveChartEnded();
    void createCycleControl();
    void createFileControl();
    void createChartExport();
    void createOverlays();
    void createCataloguePanel();
    void createHotPlug();
    // ---- The current recording (form1recording.cpp)
    // The current recording: replaced without drawing (the one held kept when unsaved).
    void holdRecording(files::Recording next);
    // What an exchange ended with: the recording drawn, a failure said and its bytes kept.
    void exchangeEnded(const acquisition::ExchangeOutcome &outcome);
    // Bytes after the exchange `exchangeId` proved its recording wrong.
    void provenOutOfStep(quint64 exchangeId);
    // A failed transfer's bytes go to the recovery store; the failure is said.
    void keepFailed(const files::Recording &received, const QString &text);
    // Everything not saved goes to the recovery store, but what "Не сохранять" answered for.
    void keepUnsaved(bool exceptTheRecording);
    SaveAnswer askSaveRecordingBox();
    // ---- Handlers of the commands and controls
    void FormResize();
    void FormClick();
    void btOptionsClick();
    void gbOptionsClick();
    void ctlBarDblClick();
    void btExtrnClick();
    void btChooseFClick();
    void btTuneClick();
    void btStartClick();
    void bt500Click();
    void statusClick();
    void channelClick(files::ChannelId channel); // cbT1Click .. cbFDClick
    void swatchClick(files::ChannelId channel); // pT1Click .. pFDClick
    // Escape in seF, seTime or btStart: closes the frequency/time panel as its toggle does.
    void closeFrequencyPanel();
    // Discovery: leaves SerialPort1 open on the instrument with the measurement commands
    // enabled, or closed with them disabled and the user told.
    void ConnectInstrument();
    void mirrorChooseF();
    void mirrorTuneButton();
    void mirrorLaunchButton();
    void mirrorErrorColour();
    void mirrorOptionsButton(bool open);
    // ---- Desktop (form1desktop.cpp, form1language.cpp)
    void rebuildRecentMenu();
    void createLanguageMenu();
    void updateLanguageMenu();
    void chooseLanguage(UiLanguage language);
    // The settings file could not be written: a line for the journal (settingsWriteFailed)
    // and a message in the window's language.
    void reportSettingsNotWritten();
    void rememberFile(const QString &path);
    // "NAME.kdx[*] — 7 термопар, фотодиод", modified while the recording is not saved.
    void updateTitle();
    // The dropped data file, when a drag carries one.
    static QString droppedDataFile(const QMimeData *data);
    // A display control changed: redraw unless an exchange or a cycle run is under way.
    void displayChanged();
    void setMeasurementButtonsEnabled(bool enabled);
    void showMessageLater(const QString &text);
    // The board went away while the port was open (unplugged, or its pseudo-terminal closed).
    void instrumentLost();
    // ---- Start-up and shutdown (form1settings.cpp)
    void startUp();
    void shutDown();
    void applySeriesColor(int index);
    SpinEdit *spinFor(acquisition::Field field) const;
    QSize frameExtra() const;
    void noteNormalGeometry();
    void applyRequestedOuterSize();

    // btTune's caption while no tuning runs.
    static QString TuneCaption();

    // ---- Values
    AppOptions m_options;
    FormEnvironment m_environment;
    QString m_settingsPath;
    std::optional<QRect> m_foldState;
    int m_launchType = 0;
    bool m_tuning = false;
    bool m_frequencyPanelVisible = false;
    // The link found the board: the measurement commands may run.
    bool m_boardReady = false;
    // A data file was opened or saved: the folder's files can be browsed and catalogued.
    bool m_fileUsed = false;
    // The range warning's colour (0x00BBGGRR), blinking red and yellow every 300 ms.
    quint32 m_errorColour = 0x000000FF;
    // The blocks of a transfer not drawn yet, and when they were last drawn.
    QByteArray m_liveBytes;
    QElapsedTimer m_liveDrawn;
    bool m_liveDrawQueued = false;
    QStringList m_recentFiles;
    // The language code as the settings file holds it (empty: never chosen), written back as
    // it is unless the language menu changes it.
    QString m_languageCode;
    bool m_unattendedClose = false;
    bool m_readout = false;
    bool m_shutDown = false;
    QStringList m_pendingMessages; // queued by showMessageLater, not shown yet
    bool m_framed = false;
    QColor m_lastChosenColor = Qt::white;
    QSize m_requestedOuter;
    // The frame the desktop adds has been seen, and the stored outer size applied with it.
    bool m_frameSeen = false;
    bool m_quietNotFound = false; // the start-up's connection, for a file to be opened
    // Where start-up placed the window's frame; written back when the window closes before
    // it was ever shown (a native window created for a dialog may report its client origin).
    QPoint m_placedPosition;
    // The outer geometry of the window when last not maximised (less the cursors' panel's
    // growth): what a maximised window is saved with.
    QRect m_normalOuter;

    // ---- Children: controls and timers (owned by Qt's parent chain)
    std::unique_ptr<Form1Ui> ui;
    // Draws the blocks received should no block request come.
    QTimer *m_liveRedraw = nullptr;
    // Over the chart while the recording drawn is the broken remains of a failed transfer.
    QLabel *m_incompleteMark = nullptr;
    QColorDialog *ColorDlg = nullptr;

    // ---- Helpers, each declared after what it refers to (see "Ownership" above)
    std::unique_ptr<files::UnsavedWork> m_work;
    std::unique_ptr<acquisition::SamplingParameters> m_sampling;
    std::unique_ptr<ContextHelp> m_help;
    std::unique_ptr<acquisition::Instrument> m_instrument;
    acquisition::MeasurementSession *m_session = nullptr; // the instrument's
    std::unique_ptr<SessionPresenter> m_presenter;
    std::unique_ptr<ChartBuilder> m_chartBuilder;
    std::unique_ptr<CursorReadout> m_cursorReadout;
    std::unique_ptr<RegionCursors> m_regionCursors;
    std::unique_ptr<RegionPanel> m_regionPanel;
    std::unique_ptr<CycleControl> m_cycleControl;
    std::unique_ptr<ChartExport> m_chartExport;
    std::unique_ptr<FileControl> m_fileControl;
    std::unique_ptr<Overlays> m_overlays;
    std::unique_ptr<CataloguePanel> m_cataloguePanel;
    std::unique_ptr<HotPlug> m_hotPlug;
};

} // namespace app
