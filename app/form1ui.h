#pragma once

#include "files/channels.h"

#include <array>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QToolBar;
class QToolButton;
class QWidget;

namespace chart {
class TChart;
}

namespace app {

class ColorPanel;
class SpinEdit;
class StatusBar;

// The controls of the main window, its menus and its commands: what TForm1 lays out
// (form1layout.cpp) and binds (form1actions.cpp). Every pointer is the window's Qt child, named
// with its object name (the name tests find it by); this struct owns none of them.
struct Form1Ui
{
    // ---- The header's menu sections and the three tool bars on ctlBar
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

    // ---- The comment, the chart and what lies over it
    QGroupBox *gbFile = nullptr;
    QPlainTextEdit *mComment = nullptr;
    QPlainTextEdit *mClipBoard = nullptr; // hidden: the comment copy goes through it
    chart::TChart *Chart1 = nullptr;
    QToolButton *btSaveChart = nullptr;
    QWidget *Panel1 = nullptr; // the progress panel
    QLabel *lAll = nullptr;
    QLabel *lElapsed = nullptr;
    QLabel *lRest = nullptr;
    QLabel *lbPercent = nullptr;
    QLabel *lbRestPercent = nullptr;
    QProgressBar *progressBar = nullptr;
    QGroupBox *gbAllCmnt = nullptr; // the comment catalogue
    QPlainTextEdit *MAllCmnt = nullptr;
    QWidget *pSearch = nullptr;
    QLineEdit *eFind = nullptr;
    QCheckBox *chkCaps = nullptr;
    QPushButton *btFind = nullptr;
    QPushButton *btOpenFind = nullptr;
    QPushButton *btPath = nullptr;
    QPushButton *btCancel = nullptr;

    // ---- The channel row and the status bar below the chart
    QWidget *pChannels = nullptr;
    std::array<QCheckBox *, files::ChannelCount> channelBoxes {}; // cbT1..cbT7, cbFD
    StatusBar *status = nullptr;

    // ---- The options panel
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

    // ---- The frequency/time panel
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

    // ---- Menus: the chart's (a right click), the file menu (the header's "Файл" and
    // btLoadFile's), its recent files and languages, and the header's "Управление
    // контроллером"
    QMenu *pmChart = nullptr;
    QMenu *pmFile = nullptr;
    QMenu *pmRecent = nullptr;
    QMenu *pmLanguage = nullptr;
    QMenu *pmControl = nullptr;

    // ---- The window's commands: each is one action, shared by its tool button, its menu item
    // and its shortcut; TForm1::updateActions sets which are enabled.
    QAction *actOpen = nullptr; // btLoadFile, Ctrl+O
    QAction *actSave = nullptr; // btSave, Ctrl+S
    QAction *actExportCsv = nullptr;
    QAction *actExportPdf = nullptr;
    QAction *actPrintNow = nullptr; // btPrint: the default printer
    QAction *actPrint = nullptr; // "Печать…": the print dialog, Ctrl+P
    QAction *actCopyComment = nullptr; // btCopy
    QAction *actCatalogue = nullptr; // btShowCmnt
    QAction *actFind = nullptr; // Ctrl+F
    QAction *actPrevFile = nullptr; // btPrevFile, PageUp
    QAction *actNextFile = nullptr; // btNextFile, PageDown
    QAction *actUnsaved = nullptr;
    QAction *actOverlay = nullptr;
    QAction *actRemoveOverlays = nullptr;
    QAction *actQuit = nullptr; // Ctrl+Q
    QAction *actConnect = nullptr; // btUSB
    QAction *actLaunch = nullptr; // btExtrn
    QAction *actChooseF = nullptr; // btChooseF
    QAction *actStart = nullptr; // btStart, btStartPlus, F5
    QAction *actCancel = nullptr; // btStart, btStartPlus while a measurement waits; Escape
    QAction *actCycle = nullptr; // btCycle
    QAction *actShortRead = nullptr; // bt500, bt500plus
    QAction *actReRead = nullptr; // a double click on the tool bars
    QAction *actTune = nullptr; // btTune
    QAction *actOptions = nullptr; // btOptions
    QAction *actHelp = nullptr; // btHelp
    QAction *actCopyChart = nullptr; // btSaveChart, the chart menu's "Копировать"
    QAction *actReadout = nullptr; // the chart menu's readout switch
};

} // namespace app
