#pragma once

#include "app/appoptions.h"
#include "files/channels.h"
#include "acquisition/measurementsession.h"
#include "files/unsavedwork.h"

#include <QColor>
#include <QElapsedTimer>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QColorDialog;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class QToolBar;
class QToolButton;
class QAbstractButton;
class QDragEnterEvent;
class QDropEvent;
class QMimeData;

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
class ColorPanel;
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
class StatusBar;

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
// resized by FormResize from the window's outer size and the two margins.
//
// The window owns the instrument (the serial port SerialPort1, the link that finds and opens
// it, and the measurement session that runs every exchange on it) and the keeper of the work
// not saved (the current recording with its comment, the cycles of a run, failed transfers).
// Its handlers turn the controls into the session's requests; the presenter shows what the
// session does (status texts, progress panel). Every recording the session completes, and
// every file opened, becomes the current recording; one not saved goes to the recovery store
// first. Closing the window with something not saved asks "Сохранить запись?".
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
    // Blocks are drawn at most this often, right after a block request has gone out: the
    // drawing then fills the time the next block takes on the wire (6 ms) and holds up no
    // request. Without requests (a stalled board) they are drawn LiveFallbackMs after they
    // came. Either way a block's points show within 100 ms.
    static constexpr int LiveRedrawMs = 40;
    static constexpr int LiveFallbackMs = 80;
    // The least client size at which every control can be reached.
    static constexpr QSize MinimumClientSize { 712, 470 };

    // ---- Window-wide state
    int ChartHeightMargin = 0;
    int ChartWidthMargin = 0;
    bool CycleRunning = false;
    std::array<QCheckBox *, files::ChannelCount> CheckBoxByChannel {};
    std::array<ColorPanel *, files::ChannelCount> PanelByChannel {};
    acquisition::SamplingParameters *sampling = nullptr;

    // ---- The instrument (the built-in board with --simulator, SerialPort1, the link and the
    // session) and the session it holds
    std::unique_ptr<acquisition::Instrument> instrument;
    acquisition::MeasurementSession *session = nullptr;
    // The session's states as the window shows them (status texts, progress panel).
    SessionPresenter *presenter = nullptr;

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
    // A photodiode tuning runs: "Настройка ФД" was pressed, "Завершить (ФД)" not yet.
    bool tuning() const { return m_tuning; }
    bool frequencyPanelVisible() const { return m_frequencyPanelVisible; }
    void setFrequencyPanelVisible(bool visible);

    // ---- Chart building (app/chartbuilder.h)
    std::unique_ptr<ChartBuilder> chartBuilder;
    // Decodes the current recording with the display controls into the series T1..T7, FD.
    // Runs when a recording arrives or is opened, and when cbInt, cbShowK or cbXscale change.
    void BuildChart();
    // The status bar's X, Y and photodiode readout (app/cursorreadout.h).
    CursorReadout *cursorReadout = nullptr;
    // Cursors A and B over the chart and their region's panel under it
    // (app/regioncursors.h, app/regionpanel.h; form1chart.cpp).
    RegionCursors *regionCursors = nullptr;
    RegionPanel *regionPanel = nullptr;
    // The cycle mode (app/cyclecontrol.h): btCycle, its state and stores.
    std::unique_ptr<CycleControl> cycleControl;
    // Recordings laid over the chart to compare with (app/overlays.h): drawn anew after every
    // chart build, never the current recording.
    Overlays *overlays = nullptr;

    // ---- Data files, browsing and the comment catalogue (app/filecontrol.h,
    // app/cataloguepanel.h)
    FileControl *fileControl = nullptr;
    CataloguePanel *cataloguePanel = nullptr;

    // ---- Chart series T1..T7, FD
    chart::TChartSeries *series(files::ChannelId channel) const;
    bool seriesActive(files::ChannelId channel) const;
    QColor seriesColor(files::ChannelId channel) const;
    // Bit n - 1 for each checked box cbTn.
    quint8 checkedThermocouples() const;

    // ---- Controls
    QWidget *Header = nullptr;
    QWidget *ctlBar = nullptr;
    QToolBar *tbFile = nullptr;
    QToolBar *ToolBar8 = nullptr;
    QToolBar *tbOptions = nullptr;
    QToolButton *btSave = nullptr;
    QToolButton *btLoadFile = nullptr;
    QToolButton *btCopy = nullptr;
    QToolButton *btShowCmnt = nullptr;
    QToolButton *btPrevFile = nullptr;
    QToolButton *btNextFile = nullptr;
    QToolButton *btPrint = nullptr;
    QToolButton *btUSB = nullptr;
    QToolButton *btExtrn = nullptr;
    QToolButton *btChooseF = nullptr;
    QToolButton *btStartPlus = nullptr;
    QToolButton *btCycle = nullptr;
    QToolButton *bt500plus = nullptr;
    QToolButton *btOptions = nullptr;
    QToolButton *btHelp = nullptr;

    QGroupBox *gbFile = nullptr;
    QPlainTextEdit *mComment = nullptr;
    QPlainTextEdit *mClipBoard = nullptr;

    chart::TChart *Chart1 = nullptr;
    QMenu *pmChart = nullptr;
    // The file menu: under the header's "Файл", and btLoadFile's (held down, or a right
    // click). Its actions carry the window's shortcuts.
    QMenu *pmFile = nullptr;
    QMenu *pmRecent = nullptr; // "Последние файлы"
    // The file menu's "Язык / Language": the language of the next start, kept in the settings
    // file (app/language.h).
    QMenu *pmLanguage = nullptr;
    // The header's "Управление контроллером": start (F5) and cancel a waiting measurement (Esc).
    QMenu *pmControl = nullptr;
    QWidget *Panel1 = nullptr;
    QLabel *lAll = nullptr;
    QLabel *lElapsed = nullptr;
    QLabel *lRest = nullptr;
    QLabel *lbPercent = nullptr;
    QLabel *lbRestPercent = nullptr;
    QProgressBar *progressBar = nullptr;
    QGroupBox *gbAllCmnt = nullptr;
    QPlainTextEdit *MAllCmnt = nullptr;
    QWidget *pSearch = nullptr;
    QLineEdit *eFind = nullptr;
    QCheckBox *chkCaps = nullptr;
    QPushButton *btFind = nullptr;
    QPushButton *btOpenFind = nullptr;
    QPushButton *btPath = nullptr;
    QPushButton *btCancel = nullptr;
    QToolButton *btSaveChart = nullptr;

    QWidget *pChannels = nullptr;
    std::array<QCheckBox *, files::ChannelCount> channelBoxes {}; // cbT1..cbT7, cbFD
    StatusBar *status = nullptr;

    QGroupBox *gbOptions = nullptr;
    QComboBox *cbShowK = nullptr;
    std::array<ColorPanel *, files::ChannelCount> swatches {}; // pT1..pT7, pFD
    QCheckBox *cbInt = nullptr;
    SpinEdit *seInt = nullptr;
    QComboBox *cbXscale = nullptr;
    QComboBox *cbTrng = nullptr;
    SpinEdit *seFstep = nullptr;
    QPushButton *btTune = nullptr;
    SpinEdit *sePointChart = nullptr;
    QCheckBox *cbChartClear = nullptr;
    QCheckBox *cb1file = nullptr;
    SpinEdit *seYmax = nullptr;
    SpinEdit *seYmin = nullptr;

    QGroupBox *gbFT = nullptr;
    SpinEdit *seF = nullptr;
    SpinEdit *seTime = nullptr;
    SpinEdit *seSamples = nullptr;
    QCheckBox *cbAvgMC = nullptr;
    QLabel *lErrIn = nullptr;
    QLabel *lbF = nullptr;
    QLabel *lbT = nullptr;
    QLabel *lbMinutes = nullptr;
    QLabel *lbDly = nullptr;
    QLabel *lbFchnl = nullptr;
    QPushButton *btStart = nullptr;
    QPushButton *bt500 = nullptr;

    ContextHelp *help = nullptr;
    // Connects to the board when it is plugged in; none with --device or --simulator.
    HotPlug *hotPlug = nullptr;

    // ---- Outer window geometry (the frame included where the platform has one)
    int windowWidth() const;
    int windowHeight() const;
    void setWindowHeight(int height);
    void setWindowWidth(int width);
    void setWindowLeft(int left);
    void setWindowTop(int top);
    std::optional<QRect> foldState() const { return m_foldState; }

    // ---- Handlers
    void FormResize();
    void FormClick();
    void btOptionsClick();
    void gbOptionsClick();
    void ctlBarDblClick();
    void btExtrnClick();
    void btChooseFClick();
    void btTuneClick();
    void btStartClick(); // btStart, btStartPlus, Enter in seF
    void bt500Click(); // bt500, bt500plus
    void btUSBClick();
    void statusClick();
    void channelClick(files::ChannelId channel); // cbT1Click .. cbFDClick
    void swatchClick(files::ChannelId channel); // pT1Click .. pFDClick
    void TimErrBlinkTimer();
    // Escape in seF or seTime: closes the frequency/time panel as its toggle does.
    void closeFrequencyPanel();

    // Discovery: leaves SerialPort1 open on the instrument with the five measurement
    // buttons (btStart, btStartPlus, btCycle, bt500, bt500plus) enabled, or closed with them
    // disabled and the user told.
    void ConnectInstrument();

    bool readoutOn() const { return m_readout; }
    // Which picture btExtrn shows: Computer or RisingEdge.
    bool launchPictureIsComputer() const { return m_launchComputer; }

    // How messages, the colour dialog, the question on closing and the list of unsaved
    // recordings are shown; tests replace them.
    std::function<void(const QString &)> showMessage;
    std::function<std::optional<QColor>(const QColor &)> chooseColor;
    std::function<SaveAnswer()> askSaveRecording;
    // The recovered recording chosen from the list; empty when none.
    std::function<QString(const QList<files::RecoveryEntry> &)> chooseRecovered;

    // "Несохранённые записи…": the list of the recovery folder; the one chosen is opened.
    void showUnsavedRecordings();
    // Opens a data file as btLoadFile does after its dialog (a file named on the command
    // line, dropped on the window or picked from the recent files).
    void openFile(const QString &path);
    // The data files last opened or saved, newest first.
    const QStringList &recentFiles() const { return m_recentFiles; }
    // A measurement waits for its recording (its time, or the photodiode trigger): the start
    // buttons read "Отменить" and cancel it.
    bool measurementWaiting() const;
    void cancelMeasurement();
    // The next close has nobody to answer (a signal): what is not saved goes to the recovery
    // folder and the window closes without asking.
    void expectUnattendedClose();

    // Sets a button's caption colour (red for "Закрыть" and running states).
    static void setCaptionColor(QAbstractButton *button, const QColor &color);
    static QColor captionColor(const QAbstractButton *button);

signals:
    // Actions the window leaves to the cycle, file and chart parts.
    void cycleRequested(); // btCycle
    void chartRebuildRequested(); // cbShowK, cbXscale, cbInt
    void copyChartRequested(); // btSaveChart, pmChart "Копировать"
    void printRequested();
    void saveRequested();
    void loadRequested();
    void copyCommentRequested();
    void csvExportRequested(); // "Экспорт в CSV…"
    void printDialogRequested(); // "Печать…"
    void pdfExportRequested(); // "Экспорт в PDF…"
    void showCatalogueRequested();
    void previousFileRequested();
    void nextFileRequested();
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
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls();
    void createHeaderAndToolBars();
    void createCommentAndChart();
    void createChannelPanel();
    void createOptionsPanel();
    void createFrequencyPanel();
    void assignHelpTopics();
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
    void mirrorChooseF();
    void mirrorTuneButton();
    SaveAnswer askSaveRecordingBox();
    // The file menu with its shortcuts, and the window's other shortcuts (form1desktop.cpp).
    void createFileMenu();
    // "Наложить запись…" and "Убрать наложения" in the file menu, and their Overlays.
    void createOverlayActions();
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
    void mirrorStartButtons();
    // The dropped data file, when a drag carries one.
    static QString droppedDataFile(const QMimeData *data);
    // A display control changed: redraw unless an exchange or a cycle run is under way.
    void displayChanged();
    void mirrorLaunchButton();
    void mirrorErrorColour();
    void setMeasurementButtonsEnabled(bool enabled);
    void showMessageLater(const QString &text);
    // The board went away while the port was open (unplugged, or its pseudo-terminal closed).
    void instrumentLost();
    void startUp();
    void shutDown();
    void applySeriesColor(int index);
    SpinEdit *spinFor(acquisition::Field field) const;
    QSize frameExtra() const;
    void noteNormalGeometry();
    void applyRequestedOuterSize();

    // btTune's caption while no tuning runs.
    static QString TuneCaption();

    AppOptions m_options;
    FormEnvironment m_environment;
    QString m_settingsPath;
    std::optional<QRect> m_foldState;
    std::unique_ptr<files::UnsavedWork> m_work;
    int m_launchType = 0;
    bool m_tuning = false;
    bool m_frequencyPanelVisible = false;
    // The range warning's colour (0x00BBGGRR), blinking red and yellow every 300 ms.
    quint32 m_errorColour = 0x000000FF;
    QTimer *TimErrBlink = nullptr;
    // The blocks of a transfer not drawn yet, when they were last drawn, and the timer that
    // draws them should no block request come.
    QByteArray m_liveBytes;
    QElapsedTimer m_liveDrawn;
    bool m_liveDrawQueued = false;
    QTimer *m_liveRedraw = nullptr;
    // Over the chart while the recording drawn is the broken remains of a failed transfer.
    QLabel *m_incompleteMark = nullptr;
    QStringList m_recentFiles;
    // The language code as the settings file holds it (empty: never chosen), written back as
    // it is unless the language menu changes it.
    QString m_languageCode;
    bool m_unattendedClose = false;
    bool m_readout = false;
    bool m_launchComputer = false;
    bool m_shutDown = false;
    QStringList m_pendingMessages; // queued by showMessageLater, not shown yet
    bool m_framed = false;
    QPoint m_menuPress;
    QColorDialog *ColorDlg = nullptr;
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
};

} // namespace app
