// The window's commands: one QAction each, shared by its tool button, its menu item and its
// shortcut, and enabled in one place (updateActions); the menus that list them; and what only
// events carry, each hooked on the widget whose event it is: a press on the header's sections,
// a double click on the tool bars, the chart's menu key and right click, a click on the options
// panel's empty part, Enter and Escape on btStart, a data file dragged over the comment boxes.

#include "acquisition/cyclerun.h"
#include "acquisition/samplingparameters.h"
#include "app/cataloguepanel.h"
#include "app/chartexport.h"
#include "app/commandbuttons.h"
#include "app/contexthelp.h"
#include "app/cyclecontrol.h"
#include "app/eventhook.h"
#include "app/filecontrol.h"
#include "app/form1.h"
#include "app/form1ui.h"
#include "app/icons.h"
#include "app/overlays.h"
#include "app/regioncursors.h"
#include "app/spinedit.h"
#include "app/statusbar.h"
#include "chart/chart.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>

namespace app {

namespace {

QString MeasureHint()
{
    return QCoreApplication::translate("app::TForm1", "Считать данные из памяти платы АЦП");
}

QString StartCaption()
{
    return QCoreApplication::translate("app::TForm1", "ПУСК ИЗМЕРЕНИЯ");
}

QString CancelCaption()
{
    return QCoreApplication::translate("app::TForm1", "Отменить");
}

QAction *withPicture(QAction *action, Picture picture, const QString &hint = {})
{
    action->setIcon(pictureIcon(picture));
    if (!hint.isEmpty())
        action->setToolTip(hint);
    return action;
}

} // namespace

QAction *TForm1::command(const char *name, const QString &text, const QKeySequence &shortcut)
{
    // The shortcut works wherever the focus is in the window. The keys are named, not taken
    // from the platform's standard keys: some platforms define no Quit key.
    auto *action = new QAction(text, this);
    action->setObjectName(QLatin1String(name));
    action->setShortcut(shortcut);
    action->setShortcutContext(Qt::WindowShortcut);
    // Menus name the commands; the pictures are the tool bar's.
    action->setIconVisibleInMenu(false);
    addAction(action);
    return action;
}

void TForm1::createActions()
{
    Form1Ui &u = *ui;
    const auto on = [this](QAction *action, auto handler) {
        connect(action, &QAction::triggered, this, handler);
    };

    // ---- Files
    u.actOpen
        = withPicture(command("actOpen", tr("Открыть файл…"), QKeySequence(Qt::CTRL | Qt::Key_O)),
            Picture::Open, tr("Открыть файл данных"));
    on(u.actOpen, [this] { m_fileControl->btLoadFileClick(); });
    u.actSave
        = withPicture(command("actSave", tr("Сохранить…"), QKeySequence(Qt::CTRL | Qt::Key_S)),
            Picture::Save, tr("Сохранить данные в файл"));
    on(u.actSave, [this] { m_fileControl->btSaveClick(); });
    u.actExportCsv = command("actExportCsv", tr("Экспорт в CSV…"));
    on(u.actExportCsv, [this] { m_fileControl->exportCsvClick(); });
    u.actExportPdf = command("actExportPdf", tr("Экспорт в PDF…"));
    on(u.actExportPdf, [this] { m_chartExport->exportPdfClick(); });
    // btPrint: the default printer, without a dialog; the button has no hint.
    u.actPrintNow = withPicture(command("actPrintNow", {}), Picture::Print);
    on(u.actPrintNow, [this] { m_chartExport->btPrintClick(); });
    u.actPrint = command("actPrint", tr("Печать…"), QKeySequence(Qt::CTRL | Qt::Key_P));
    on(u.actPrint, [this] { m_chartExport->printWithDialog(); });
    u.actCopyComment = withPicture(
        command("actCopyComment", tr("Копировать комментарий в буфер обмена")), Picture::CopyText);
    on(u.actCopyComment, [this] { m_cataloguePanel->btCopyClick(); });
    u.actCatalogue = withPicture(
        command("actCatalogue", tr("Просмотреть комментарии ко всем  файлам в папке")),
        Picture::Catalogue);
    on(u.actCatalogue, [this] { m_cataloguePanel->btShowCmntClick(); });
    u.actFind = command("actFind", tr("Поиск в комментариях…"), QKeySequence(Qt::CTRL | Qt::Key_F));
    on(u.actFind, [this] {
        if (!ui->gbAllCmnt->isVisible())
            m_cataloguePanel->btShowCmntClick();
        if (ui->gbAllCmnt->isVisible()) {
            ui->eFind->setFocus(Qt::ShortcutFocusReason);
            ui->eFind->selectAll();
        }
    });
    u.actPrevFile = withPicture(
        command("actPrevFile", tr("Предыдущий файл в папке"), Qt::Key_PageUp), Picture::Previous);
    on(u.actPrevFile, [this] { m_fileControl->btPrevFileClick(); });
    u.actNextFile = withPicture(
        command("actNextFile", tr("Следующий файл в папке"), Qt::Key_PageDown), Picture::Next);
    on(u.actNextFile, [this] { m_fileControl->btNextFileClick(); });
    u.actUnsaved = command("actUnsaved", tr("Несохранённые записи…"));
    on(u.actUnsaved, [this] { showUnsavedRecordings(); });
    u.actOverlay = command(
        "actOverlay", tr("Наложить запись…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    on(u.actOverlay, [this] { m_overlays->addClick(); });
    u.actRemoveOverlays = command("actRemoveOverlays", tr("Убрать наложения"),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Delete));
    on(u.actRemoveOverlays, [this] { m_overlays->clear(); });
    u.actQuit = command("actQuit", tr("Выход"), QKeySequence(Qt::CTRL | Qt::Key_Q));
    on(u.actQuit, [this] { close(); });

    // ---- The instrument
    u.actConnect
        = withPicture(command("actConnect", tr("Подключить АЦП к компьютеру")), Picture::Usb);
    on(u.actConnect, [this] { ConnectInstrument(); });
    u.actLaunch
        = withPicture(command("actLaunch", tr("Внешний запуск по фронту")), Picture::RisingEdge);
    on(u.actLaunch, [this] { btExtrnClick(); });
    u.actChooseF = command("actChooseF", tr("Выбор F/T"));
    u.actChooseF->setToolTip(tr("Выбрать частоту выборки / время измерения"));
    on(u.actChooseF, [this] { btChooseFClick(); });
    u.actStart = command("actStart", StartCaption(), Qt::Key_F5);
    u.actStart->setToolTip(MeasureHint());
    on(u.actStart, [this] { btStartClick(); });
    // Escape keeps its other uses (closing the frequency/time panel) while nothing waits.
    u.actCancel = command("actCancel", tr("Отменить измерение"), Qt::Key_Escape);
    u.actCancel->setIconText(CancelCaption());
    u.actCancel->setToolTip(MeasureHint());
    on(u.actCancel, [this] { cancelMeasurement(); });
    u.actCycle = command("actCycle", tr("ЦИКЛ"));
    u.actCycle->setToolTip(MeasureHint());
    on(u.actCycle, [this] { m_cycleControl->btCycleClick(); });
    u.actShortRead = command("actShortRead", tr("500 байт"));
    u.actShortRead->setToolTip(MeasureHint());
    on(u.actShortRead, [this] { bt500Click(); });
    u.actReRead = command("actReRead", {});
    on(u.actReRead, [this] { ctlBarDblClick(); });
    u.actTune = command("actTune", TuneCaption());
    on(u.actTune, [this] { btTuneClick(); });

    // ---- The window
    u.actOptions = command("actOptions", tr("Отображение"));
    u.actOptions->setToolTip(tr("Режимы измерения, сохранения, сглаживания"));
    on(u.actOptions, [this] { btOptionsClick(); });
    u.actHelp = withPicture(
        command("actHelp", tr("Справка: щелкните затем по элементу окна")), Picture::Help);
    on(u.actHelp, [this] { m_help->enterPickMode(); });
    u.actCopyChart = withPicture(command("actCopyChart", tr("Копировать")), Picture::CopyChart,
        tr("Копировать график в буфер обмена (рисунок SVG и PNG)"));
    on(u.actCopyChart, [this] { m_chartExport->btSaveChartClick(); });
    // The readout's switch, also where the chart is (a click on the status bar is the other).
    u.actReadout = command("actReadout", tr("Показывать X, Y под курсором"));
    u.actReadout->setCheckable(true);
    on(u.actReadout, [this] { statusClick(); });
}

void TForm1::bindButtons()
{
    const Form1Ui &u = *ui;
    const std::pair<QToolButton *, QAction *> buttons[] = {
        { u.btSave, u.actSave },
        { u.btLoadFile, u.actOpen },
        { u.btCopy, u.actCopyComment },
        { u.btShowCmnt, u.actCatalogue },
        { u.btPrevFile, u.actPrevFile },
        { u.btNextFile, u.actNextFile },
        { u.btPrint, u.actPrintNow },
        { u.btUSB, u.actConnect },
        { u.btExtrn, u.actLaunch },
        { u.btChooseF, u.actChooseF },
        { u.btStartPlus, u.actStart },
        { u.btCycle, u.actCycle },
        { u.bt500plus, u.actShortRead },
        { u.btOptions, u.actOptions },
        { u.btHelp, u.actHelp },
        { u.btSaveChart, u.actCopyChart },
    };
    for (const auto &[button, action] : buttons)
        button->setDefaultAction(action);
    showAction(u.btStart, u.actStart);
    showAction(u.bt500, u.actShortRead);
    showAction(u.btTune, u.actTune);
}

void TForm1::createMenus()
{
    Form1Ui &u = *ui;
    u.pmFile = new QMenu(this);
    u.pmFile->setObjectName(QStringLiteral("pmFile"));
    u.pmFile->addAction(u.actOpen);
    u.pmRecent = u.pmFile->addMenu(tr("Последние файлы"));
    u.pmRecent->setObjectName(QStringLiteral("pmRecent"));
    u.pmFile->addAction(u.actUnsaved);
    u.pmFile->addSeparator();
    u.pmFile->addActions({ u.actOverlay, u.actRemoveOverlays });
    u.pmFile->addSeparator();
    u.pmFile->addActions({ u.actPrevFile, u.actNextFile, u.actFind });
    u.pmFile->addSeparator();
    u.pmFile->addActions({ u.actSave, u.actExportCsv, u.actExportPdf, u.actPrint });
    u.pmFile->addSeparator();
    createLanguageMenu();
    u.pmFile->addSeparator();
    u.pmFile->addAction(u.actQuit);
    rebuildRecentMenu();

    // Measurements: under the header's "Управление контроллером".
    u.pmControl = new QMenu(this);
    u.pmControl->setObjectName(QStringLiteral("pmControl"));
    u.pmControl->addActions({ u.actStart, u.actCancel });

    // The chart's menu, with the cursors' commands.
    u.pmChart->addActions({ u.actCopyChart, u.actReadout });
    u.pmChart->addSeparator();
    for (QAction *action : m_regionCursors->actions())
        u.pmChart->addAction(action);

    // btLoadFile's menu: held down, or a right click.
    u.btLoadFile->setMenu(u.pmFile);
    u.btLoadFile->setPopupMode(QToolButton::DelayedPopup);
    u.btLoadFile->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(u.btLoadFile, &QWidget::customContextMenuRequested, this,
        [this](const QPoint &at) { ui->pmFile->popup(ui->btLoadFile->mapToGlobal(at)); });
}

void TForm1::updateActions()
{
    const Form1Ui &u = *ui;
    const bool waiting = measurementWaiting();
    u.actStart->setEnabled(m_boardReady && !waiting);
    u.actCancel->setEnabled(waiting);
    for (QAction *measure : { u.actCycle, u.actShortRead, u.actReRead })
        measure->setEnabled(m_boardReady);
    for (QAction *browse : { u.actPrevFile, u.actNextFile, u.actCatalogue })
        browse->setEnabled(m_fileUsed);
    u.actRemoveOverlays->setEnabled(m_overlays && m_overlays->count() > 0);
    // While a measurement waits, the start buttons read "Отменить" and cancel it.
    QAction *start = waiting ? u.actCancel : u.actStart;
    if (QAction *shown = u.btStartPlus->defaultAction(); shown != start) {
        // One action on the button: with more it would offer the others as a menu.
        u.btStartPlus->removeAction(shown);
        u.btStartPlus->setDefaultAction(start);
        showAction(u.btStart, start);
    }
}

void TForm1::bindControls()
{
    Form1Ui &u = *ui;
    connect(u.status, &StatusBar::clicked, this, &TForm1::statusClick);
    for (int i = 0; i < files::ChannelCount; ++i) {
        const auto channel = files::ChannelId(i);
        connect(u.channelBoxes.at(i), &QCheckBox::toggled, this,
            [this, channel](bool) { channelClick(channel); });
        connect(u.swatches.at(i), &ColorPanel::clicked, this,
            [this, channel] { swatchClick(channel); });
    }
    // The display controls redraw the chart.
    connect(u.cbShowK, &QComboBox::activated, this, &TForm1::displayChanged);
    connect(u.cbXscale, &QComboBox::activated, this, &TForm1::displayChanged);
    connect(u.cbInt, &QCheckBox::clicked, this, &TForm1::displayChanged);
    for (SpinEdit *s : { u.seYmax, u.seYmin })
        connect(s, &SpinEdit::userLeft, m_sampling.get(),
            &acquisition::SamplingParameters::seFstepExit);
    // Every edit of the comment is the recording's: it counts as not saved until it is.
    connect(u.mComment, &QPlainTextEdit::textChanged, this, [this] {
        m_work->setComment(ui->mComment->toPlainText());
        updateTitle();
    });
    // What enables and disables the commands.
    connect(m_session, &acquisition::MeasurementSession::stateChanged, this, [this] {
        updateActions();
        updateTitle();
    });
    acquisition::CycleRun *run = &m_cycleControl->run();
    connect(run, &acquisition::CycleRun::runningChanged, this, [this] {
        updateActions();
        updateTitle();
    });
    connect(run, &acquisition::CycleRun::cycleStored, this, &TForm1::updateTitle);
    connect(m_fileControl.get(), &FileControl::fileUsed, this, [this](const QString &path) {
        rememberFile(path);
        updateTitle();
    });
    connect(m_overlays.get(), &Overlays::changed, this, &TForm1::updateActions);
}

void TForm1::hookEvents()
{
    Form1Ui &u = *ui;
    for (QWidget *area : { u.mComment->viewport(), u.MAllCmnt->viewport() })
        app::hookEvents(area, [this](QEvent *event) { return dragOverTextBox(event); });
    for (const auto &[name, menu] :
        { std::pair { "lbFileMenu", u.pmFile }, std::pair { "lbControlMenu", u.pmControl } }) {
        QLabel *section = u.Header->findChild<QLabel *>(QLatin1String(name));
        app::hookEvents(section, [section, menu = menu](QEvent *event) {
            return openMenuOnPress(event, section, menu);
        });
    }
    for (QWidget *bar : { u.ctlBar, static_cast<QWidget *>(u.tbFile),
             static_cast<QWidget *>(u.ToolBar8), static_cast<QWidget *>(u.tbOptions) })
        app::hookEvents(bar, [this](QEvent *event) { return toolBarDoubleClick(event); });
    app::hookEvents(u.Chart1, [this, pressedAt = QPoint()](QEvent *event) mutable {
        return chartMenuEvent(event, pressedAt);
    });
    app::hookEvents(u.gbOptions, [this](QEvent *event) { return optionsPanelClick(event); });
    app::hookEvents(u.btStart, [this](QEvent *event) { return startButtonKey(event); });
}

bool TForm1::dragOverTextBox(QEvent *event)
{
    // A data file dragged over the comment or the catalogue opens as on the rest of the
    // window (those boxes would take its name as text).
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return false;
    auto *drop = static_cast<QDropEvent *>(event);
    if (droppedDataFile(drop->mimeData()).isEmpty())
        return false;
    if (type == QEvent::Drop)
        dropEvent(drop);
    else
        drop->acceptProposedAction();
    return true;
}

bool TForm1::openMenuOnPress(QEvent *event, QWidget *section, QMenu *menu)
{
    // The header's sections open their menus, as a menu bar's would.
    if (event->type() != QEvent::MouseButtonPress)
        return false;
    menu->popup(section->mapToGlobal(QPoint(0, section->height())));
    return true;
}

bool TForm1::toolBarDoubleClick(QEvent *event)
{
    // A double click on the tool bars reads the board's memory again.
    if (event->type() != QEvent::MouseButtonDblClick)
        return false;
    ui->actReRead->trigger();
    return true;
}

bool TForm1::chartMenuEvent(QEvent *event, QPoint &pressedAt)
{
    // The chart's menu: the menu key, Shift+F10, or a right click without a drag (the right
    // button also scrolls the chart, which sees the button's events too).
    chart::TChart *chart = ui->Chart1;
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() != Qt::Key_Menu
            && (key->key() != Qt::Key_F10 || key->modifiers() != Qt::ShiftModifier))
            return false;
        ui->pmChart->popup(chart->mapToGlobal(chart->ChartRect().center()));
        return true;
    }
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease)
        return false;
    const auto *mouse = static_cast<QMouseEvent *>(event);
    if (mouse->button() != Qt::RightButton)
        return false;
    const QPoint at = mouse->position().toPoint();
    if (event->type() == QEvent::MouseButtonPress)
        pressedAt = at;
    else if ((at - pressedAt).manhattanLength() < 3)
        ui->pmChart->popup(mouse->globalPosition().toPoint());
    return false;
}

bool TForm1::optionsPanelClick(QEvent *event)
{
    // A click on the options panel's empty part closes it.
    if (event->type() != QEvent::MouseButtonPress
        || ui->gbOptions->childAt(static_cast<QMouseEvent *>(event)->position().toPoint()))
        return false;
    gbOptionsClick();
    return true;
}

bool TForm1::startButtonKey(QEvent *event)
{
    // On the start button, Enter does what a click does and Escape hides the panel.
    if (event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        (measurementWaiting() ? ui->actCancel : ui->actStart)->trigger();
    else if (key == Qt::Key_Escape)
        closeFrequencyPanel();
    else
        return false;
    return true;
}

} // namespace app
