#include "app/form1.h"

#include "acquisition/instrument.h"
#include "acquisition/instrumentlink.h"
#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "app/cataloguepanel.h"
#include "app/chartbuilder.h"
#include "app/chartexport.h"
#include "app/contexthelp.h"
#include "app/cursorreadout.h"
#include "app/cyclecontrol.h"
#include "app/filecontrol.h"
#include "app/hotplug.h"
#include "app/icons.h"
#include "app/overlays.h"
#include "app/recoverydialog.h"
#include "app/regioncursors.h"
#include "app/sessionpresenter.h"
#include "app/spinedit.h"
#include "app/statusbar.h"
#include "chart/chart.h"
#include "serial/serialport.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <algorithm>

using acquisition::Field;

// Resources of a static library must be registered by name, outside any namespace.
static void initAppResources()
{
    Q_INIT_RESOURCE(app);
}

namespace app {

namespace {

const QColor CaptionRed(255, 0, 0); // colour value 255
const QColor CaptionBlack(0, 0, 0);

// The value of a spin edit as a build reads it: the typed value within its bounds.
int boundedValue(const SpinEdit *edit)
{
    return std::clamp(edit->currentValue(), edit->minimumValue(),
        std::max(edit->minimumValue(), edit->maximumValue()));
}

// The value axis's title a recording is drawn under: that of the axis mode selected (the
// chart's own title is the last build's, and before the first build it is in ADC units
// whatever mode is selected); the chart's when no mode is selected.
QString valueTitleFor(int axisMode, const QString &shown)
{
    if (axisMode < 0 || axisMode > 3)
        return shown;
    const bool temperature = sig::isTemperatureMode(sig::AxisMode(axisMode));
    return QString::fromUtf8(temperature ? sig::TemperatureTitle : sig::AdcUnitsTitle);
}

} // namespace

QString TForm1::TuneCaption()
{
    return tr("Настройка ФД");
}

TForm1::TForm1(const QString &settingsPath, const AppOptions &options, FormEnvironment environment,
    QWidget *parent)
    : QWidget(parent)
    , m_options(options)
    , m_environment(std::move(environment))
    , m_settingsPath(settingsPath)
{
    initAppResources();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(caption());
    // System menu and help button only: no minimise or maximise buttons.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowCloseButtonHint | Qt::WindowContextHelpButtonHint | Qt::CustomizeWindowHint);
    setToolTip(tr("Щелкните по незанятой части окна для разворачивания/сворачивания окна"));
    QFont small = font();
    small.setPointSize(8);
    setFont(small);
    resize(761, 525);
    setMinimumSize(MinimumClientSize);

    if (m_environment.showMessage)
        showMessage = m_environment.showMessage;
    else
        showMessage
            = [this](const QString &text) { QMessageBox::information(this, caption(), text); };
    chooseColor = [this](const QColor &initial) -> std::optional<QColor> {
        if (!ColorDlg) {
            ColorDlg = new QColorDialog(this);
            ColorDlg->setObjectName(QStringLiteral("ColorDlg"));
        }
        ColorDlg->setCurrentColor(initial);
        if (ColorDlg->exec() != QDialog::Accepted)
            return std::nullopt;
        return ColorDlg->currentColor();
    };

    askSaveRecording = [this] { return askSaveRecordingBox(); };
    chooseRecovered = [this](const QList<files::RecoveryEntry> &entries) {
        return RecoveryDialog::choose(entries, this);
    };

    m_work = std::make_unique<files::UnsavedWork>(
        files::RecoveryStore(m_environment.recoveryFolder.isEmpty()
                ? files::RecoveryStore::defaultFolder()
                : m_environment.recoveryFolder),
        files::RecoveryKeeper::Window);
    sampling = new acquisition::SamplingParameters(QLocale::system(), this);
    help = new ContextHelp(this);
    createControls();
    assignHelpTopics();
    bindSampling();
    createInstrument();
    bindSession();
    bindChartBuilder();
    bindLiveChart();
    createRegionCursors();
    createCycleControl();
    auto *chartExport = new ChartExport(
        Chart1, [this](const QString &text) { showMessage(text); }, this);
    connect(this, &TForm1::printRequested, chartExport, &ChartExport::btPrintClick);
    connect(this, &TForm1::copyChartRequested, chartExport, &ChartExport::btSaveChartClick);
    createFileControl();
    createFileMenu();
    setAcceptDrops(true);
    for (QWidget *area : { mComment->viewport(), MAllCmnt->viewport() })
        area->installEventFilter(this);
    connect(this, &TForm1::csvExportRequested, fileControl, &FileControl::exportCsvClick);
    connect(this, &TForm1::printDialogRequested, chartExport, &ChartExport::printWithDialog);
    connect(this, &TForm1::pdfExportRequested, chartExport, &ChartExport::exportPdfClick);
    connect(fileControl, &FileControl::fileUsed, this, [this](const QString &path) {
        rememberFile(path);
        updateTitle();
    });
    connect(session, &acquisition::MeasurementSession::stateChanged, this, [this] {
        mirrorStartButtons();
        updateTitle();
    });
    connect(&cycleControl->run(), &acquisition::CycleRun::runningChanged, this, [this] {
        mirrorStartButtons();
        updateTitle();
    });
    connect(&cycleControl->run(), &acquisition::CycleRun::cycleStored, this, &TForm1::updateTitle);
    cataloguePanel = new CataloguePanel(
        { gbAllCmnt, MAllCmnt, eFind, chkCaps, btFind, btOpenFind, btPath, btCancel, mComment,
            mClipBoard },
        *fileControl, *status, [this] { setFrequencyPanelVisible(false); },
        [this] { FormResize(); },
        [this](const QString &text) { showMessage(text); }, this);
    connect(
        this, &TForm1::showCatalogueRequested, cataloguePanel, &CataloguePanel::btShowCmntClick);
    connect(this, &TForm1::copyCommentRequested, cataloguePanel, &CataloguePanel::btCopyClick);

    startUp();
    // The cycles of a run that a crash or a kill ended are on disk: they are named now.
    QStringList interrupted;
    for (const files::RecoveryEntry &entry : m_work->recovery().repairInterruptedRuns())
        interrupted << QDir::toNativeSeparators(entry.path);
    if (!interrupted.isEmpty())
        showMessageLater(tr("Циклы измерения, прерванного без сохранения, сохранены в списке "
                            "«Несохранённые записи…»:\n%1")
                .arg(interrupted.join(u'\n')));
    if (m_options.device.isEmpty() && !m_options.simulator) {
        // btUSB's connect with its information box left out; the window's own way of showing
        // messages comes back whatever happens.
        const auto connectQuietly = [this] {
            using Show = std::function<void(const QString &)>;
            struct Restore
            {
                Show &target;
                Show saved;
                ~Restore() { target = std::move(saved); }
            };
            const Restore restore { showMessage, std::exchange(showMessage, Show([](auto &) {})) };
            ConnectInstrument();
        };
        hotPlug = new HotPlug(
            *instrument, connectQuietly, [this] { return m_shutDown; },
            { m_environment.sysfsRoot, m_environment.devRoot }, this);
        // "USB: нет связи" of the lost board is no longer true.
        connect(hotPlug, &HotPlug::connectAttempted, this, [this](bool connected) {
            if (connected
                && status->panelText(0) == acquisition::InstrumentLink::noLinkStatus())
                status->setPanelText(0, QString());
        });
    }
}

TForm1::~TForm1()
{
    // The helpers that hold the session let go of it before the instrument goes.
    cycleControl.reset();
    delete presenter;
    presenter = nullptr;
}

// ---------------------------------------------------------------------------------------
// Frequency/time panel: the model decides, the widgets mirror it.

SpinEdit *TForm1::spinFor(Field field) const
{
    switch (field) {
    case Field::seF:
        return seF;
    case Field::seTime:
        return seTime;
    case Field::seSamples:
        return seSamples;
    case Field::seFstep:
        return seFstep;
    case Field::sePointChart:
        return sePointChart;
    case Field::None:
        break;
    }
    return nullptr;
}

void TForm1::bindSampling()
{
    for (Field field :
        { Field::seF, Field::seTime, Field::seSamples, Field::seFstep, Field::sePointChart }) {
        SpinEdit *edit = spinFor(field);
        edit->setModelDriven(true);
        connect(edit, &SpinEdit::userEntered, sampling,
            [this, field] { sampling->setFocusField(field); });
        connect(edit, &SpinEdit::userTyped, sampling,
            [this, field](const QString &text) { sampling->userTyped(field, text); });
        connect(edit, &SpinEdit::userStepped, sampling,
            [this, field](int steps) { sampling->userStepped(field, steps); });
        connect(edit, &SpinEdit::userLeft, sampling, [this, field] { sampling->userLeft(field); });
        mirrorField(field);
    }
    connect(sampling, &acquisition::SamplingParameters::fieldChanged, this, &TForm1::mirrorField);
    connect(sampling, &acquisition::SamplingParameters::labelsChanged, this, &TForm1::mirrorLabels);
    connect(sampling, &acquisition::SamplingParameters::errorChanged, this, &TForm1::mirrorError);
    connect(
        sampling, &acquisition::SamplingParameters::averagingChanged, this, [this](bool checked) {
            const bool blocked = cbAvgMC->blockSignals(true);
            cbAvgMC->setChecked(checked);
            cbAvgMC->blockSignals(blocked);
        });
    connect(cbAvgMC, &QCheckBox::clicked, sampling,
        [this](bool checked) { sampling->setAveraging(checked); });
    for (int n = 1; n <= files::ThermocoupleCount; ++n)
        sampling->setChannelChecked(n, channelBoxes.at(n - 1)->isChecked());

    // Enter in the frequency field is the start button's click, and like the button it does
    // nothing while there is no instrument to start.
    connect(seF, &SpinEdit::enterPressed, this, [this] {
        if (btStart->isEnabled())
            btStartClick();
    });
    connect(seF, &SpinEdit::escapePressed, this, &TForm1::closeFrequencyPanel);
    connect(seTime, &SpinEdit::escapePressed, this, &TForm1::closeFrequencyPanel);
    mirrorLabels();
    mirrorError();
}

void TForm1::mirrorField(Field field)
{
    SpinEdit *edit = spinFor(field);
    if (!edit)
        return;
    const acquisition::SpinField &f = sampling->field(field);
    edit->setBounds(f.minimum, f.maximum);
    edit->setIncrement(f.increment);
    edit->mirror(f.value);
}

void TForm1::mirrorLabels()
{
    lbF->setText(sampling->lbF());
    lbT->setText(sampling->lbT());
    lbMinutes->setText(sampling->lbMinutes());
    lbDly->setText(sampling->lbDly());
    lbFchnl->setText(sampling->lbFchnl());
    lbFchnl->setVisible(sampling->lbFchnlVisible());
}

void TForm1::mirrorError()
{
    lErrIn->setText(sampling->lErrIn());
    lErrIn->setVisible(sampling->lErrInVisible());
}

void TForm1::TimErrBlinkTimer()
{
    // Red becomes yellow, any other colour red.
    m_errorColour = m_errorColour == 0x000000FF ? 0x0000FFFF : 0x000000FF;
    mirrorErrorColour();
}

// ---------------------------------------------------------------------------------------
// Instrument and session: the session decides, the widgets mirror it.

void TForm1::createInstrument()
{
    // Errors raised in the port's handlers reach the user as a message, after the handler
    // has returned (a modal box inside a port event would hold up the port's event thread).
    serial::setExceptionReporter([form = QPointer<TForm1>(this)](const std::exception &error) {
        const QString text = QString::fromUtf8(error.what());
        if (form)
            form->showMessageLater(text);
        else
            qWarning("%s", qPrintable(text));
    });

    acquisition::Instrument::Options where;
    where.device = m_options.device;
    where.simulator = m_options.simulator;
    where.roots = { m_environment.sysfsRoot, m_environment.devRoot };
    instrument = std::make_unique<acquisition::Instrument>(where);
    session = &instrument->session();
    if (m_options.simulator && !instrument->simulatorError().isEmpty())
        showMessage(tr("Имитатор платы не запущен: %1").arg(instrument->simulatorError()));
}

void TForm1::bindSession()
{
    using acquisition::InstrumentLink;
    using acquisition::MeasurementSession;
    InstrumentLink *link = &instrument->link();
    connect(link, &InstrumentLink::informationMessage, this, [this](const QString &text) {
        if (m_quietNotFound)
            status->setPanelText(0, InstrumentLink::noLinkStatus());
        else
            showMessage(text);
    });
    connect(link, &InstrumentLink::statusText, status,
        [this](const QString &text) { status->setPanelText(0, text); });
    connect(link, &InstrumentLink::measurementButtonsEnabled, this,
        &TForm1::setMeasurementButtonsEnabled);

    presenter = new SessionPresenter(*session, *status,
        { Panel1, progressBar, lAll, lElapsed, lRest, lbPercent, lbRestPercent }, gbFile);
    MeasurementSession *m = session;
    connect(m, &MeasurementSession::portFailure, this, &TForm1::showMessageLater);
    connect(m, &MeasurementSession::exchangeEnded, this, &TForm1::exchangeEnded);
    connect(m, &MeasurementSession::provenOutOfStep, this, &TForm1::provenOutOfStep);
    // The board went away (the session has heard of it first); the port is closed.
    connect(
        instrument.get(), &acquisition::Instrument::disconnected, this, &TForm1::instrumentLost);

    TimErrBlink = new QTimer(this);
    TimErrBlink->setInterval(300);
    connect(TimErrBlink, &QTimer::timeout, this, &TForm1::TimErrBlinkTimer);
    TimErrBlink->start();
    gbFT->setVisible(false);
    mirrorChooseF();
    mirrorTuneButton();
    mirrorLaunchButton();
    mirrorErrorColour();
}

void TForm1::mirrorChooseF()
{
    // The toggle reads "Закрыть" in red only while the panel is open.
    btChooseF->setText(m_frequencyPanelVisible ? tr("Закрыть") : tr("Выбор F/T"));
    setCaptionColor(btChooseF, m_frequencyPanelVisible ? CaptionRed : CaptionBlack);
}

void TForm1::mirrorTuneButton()
{
    btTune->setText(m_tuning ? tr("Завершить (ФД)") : TuneCaption());
    setCaptionColor(btTune, m_tuning ? CaptionRed : CaptionBlack);
}

void TForm1::mirrorLaunchButton()
{
    m_launchComputer = m_launchType != 1;
    btExtrn->setIcon(pictureIcon(m_launchComputer ? Picture::Computer : Picture::RisingEdge));
    btExtrn->setToolTip(
        m_launchComputer ? tr("Запуск от компьютера") : tr("Запуск по сигналу фотодиода"));
}

void TForm1::mirrorErrorColour()
{
    QPalette pal = lErrIn->palette();
    pal.setColor(QPalette::WindowText, colorFromValue(m_errorColour));
    lErrIn->setPalette(pal);
}

void TForm1::setFrequencyPanelVisible(bool visible)
{
    m_frequencyPanelVisible = visible;
    gbFT->setVisible(visible);
    if (visible)
        gbFT->raise();
    mirrorChooseF();
}

void TForm1::setMeasurementButtonsEnabled(bool enabled)
{
    for (QWidget *button :
        std::initializer_list<QWidget *> { btStart, btStartPlus, btCycle, bt500, bt500plus })
        button->setEnabled(enabled);
}

void TForm1::ConnectInstrument()
{
    // The information box names no reason; the terminal gets it (a wrong --device path).
    if (!instrument->connectInstrument() && !instrument->lastError().isEmpty())
        qWarning("ferrun: %s", qPrintable(instrument->lastError()));
}

void TForm1::instrumentLost()
{
    // Nothing more can come from the board: the port is closed so that btUSB can find it
    // again, and the measurement buttons stay off until it does. The recording stays.
    setMeasurementButtonsEnabled(false);
    // An exchange the board broke off has been reported as such already.
    if (session->lastFailure() == acquisition::SessionFailure::Disconnected)
        return;
    status->setPanelText(0, acquisition::InstrumentLink::noLinkStatus());
    showMessageLater(acquisition::InstrumentLink::notFoundMessage());
}

void TForm1::showMessageLater(const QString &text)
{
    // A failure that repeats before its box is up is shown once.
    if (m_pendingMessages.contains(text))
        return;
    m_pendingMessages << text;
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            m_pendingMessages.removeOne(text);
            showMessage(text);
        },
        Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------------------
// Chart building

void TForm1::bindChartBuilder()
{
    ChartControls controls;
    controls.displaySettings = [this] {
        sig::DisplaySettings s;
        s.photodiode = channelBoxes.at(int(files::ChannelId::FD))->isChecked();
        s.timeUnitIndex = cbXscale->currentIndex();
        const int mode = cbShowK->currentIndex();
        s.axisMode = mode >= 0 && mode <= 3 ? sig::AxisMode(mode) : sig::AxisMode::None;
        s.rangeIndex = cbTrng->currentIndex();
        s.integrate = cbInt->isChecked();
        s.integrationLength = boundedValue(seInt);
        s.pointSkip = std::max(1, sampling->value(acquisition::Field::sePointChart));
        return s;
    };
    controls.clearFirst = [this] { return cbChartClear->isChecked(); };
    controls.valueRange = [this] {
        return std::pair { boundedValue(seYmin), boundedValue(seYmax) };
    };
    chartBuilder = std::make_unique<ChartBuilder>(*Chart1, std::move(controls));
    chartBuilder->reportError = [this](const QString &text) { showMessageLater(text); };
    cursorReadout = new CursorReadout(
        *Chart1, *chartBuilder, *status, [this] { return m_readout; }, this);
    connect(this, &TForm1::chartRebuildRequested, this, &TForm1::displayChanged);
}

// ---------------------------------------------------------------------------------------
// Window and control events

bool TForm1::event(QEvent *event)
{
    // The title bar's help button, where the desktop offers one.
    if (event->type() == QEvent::EnterWhatsThisMode) {
        help->enterPickMode();
        return true;
    }
    // The window's hint belongs to its empty parts only.
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        if (childAt(help->pos())) {
            QToolTip::hideText();
            event->ignore();
            return true;
        }
    }
    return QWidget::event(event);
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    // A data file dragged over the comment or the catalogue opens as on the rest of the
    // window (those boxes would take its name as text).
    if ((event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove
            || event->type() == QEvent::Drop)
        && (watched == mComment->viewport() || watched == MAllCmnt->viewport())) {
        auto *drop = static_cast<QDropEvent *>(event);
        if (droppedDataFile(drop->mimeData()).isEmpty())
            return false;
        if (event->type() == QEvent::Drop)
            dropEvent(drop);
        else
            drop->acceptProposedAction();
        return true;
    }
    if (event->type() == QEvent::MouseButtonPress
        && (watched->objectName() == QLatin1String("lbFileMenu")
            || watched->objectName() == QLatin1String("lbControlMenu"))) {
        auto *section = static_cast<QWidget *>(watched);
        QMenu *menu = watched->objectName() == QLatin1String("lbFileMenu") ? pmFile : pmControl;
        menu->popup(section->mapToGlobal(QPoint(0, section->height())));
        return true;
    }
    if (event->type() == QEvent::MouseButtonDblClick
        && (watched == ctlBar || watched == tbFile || watched == ToolBar8
            || watched == tbOptions)) {
        ctlBarDblClick();
        return true;
    }
    if (watched == Chart1 && event->type() == QEvent::KeyPress) {
        // The menu key and Shift+F10 open the chart's menu, as a right click does.
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Menu
            || (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier)) {
            pmChart->popup(Chart1->mapToGlobal(Chart1->ChartRect().center()));
            return true;
        }
    }
    if (watched == Chart1
        && (event->type() == QEvent::MouseButtonPress
            || event->type() == QEvent::MouseButtonRelease)) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton) {
            const QPoint at = mouse->position().toPoint();
            if (event->type() == QEvent::MouseButtonPress)
                m_menuPress = at;
            else if ((at - m_menuPress).manhattanLength() < 3)
                pmChart->popup(mouse->globalPosition().toPoint());
        }
        return false; // the chart handles the button too
    }
    if (watched == gbOptions && event->type() == QEvent::MouseButtonPress) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (!gbOptions->childAt(mouse->position().toPoint())) {
            gbOptionsClick();
            return true;
        }
    }
    if (watched == btStart && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        // Enter starts, Escape hides the frequency/time panel.
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            btStartClick();
            return true;
        }
        if (key == Qt::Key_Escape) {
            setFrequencyPanelVisible(false);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------
// Panels and buttons

void TForm1::setCaptionColor(QAbstractButton *button, const QColor &color)
{
    QPalette pal = button->palette();
    pal.setColor(QPalette::ButtonText, color);
    pal.setColor(QPalette::WindowText, color);
    button->setPalette(pal);
}

QColor TForm1::captionColor(const QAbstractButton *button)
{
    return button->palette().color(QPalette::ButtonText);
}

void TForm1::btOptionsClick()
{
    if (!gbOptions->isVisible()) {
        gbOptions->show();
        gbOptions->raise();
        btOptions->setText(tr("Закрыть"));
        setCaptionColor(btOptions, CaptionRed);
        return;
    }
    gbOptions->hide();
    btOptions->setText(tr("ОПЦИИ"));
    setCaptionColor(btOptions, CaptionBlack);
    if (m_tuning)
        btTune->click(); // stop it
}

void TForm1::gbOptionsClick()
{
    gbOptions->hide();
    btOptions->setText(tr("ОПЦИИ"));
    setCaptionColor(btOptions, CaptionBlack);
}

void TForm1::btTuneClick()
{
    m_tuning = !m_tuning;
    mirrorTuneButton();
    session->tune(m_tuning);
}

void TForm1::btChooseFClick()
{
    if (m_frequencyPanelVisible) {
        setFrequencyPanelVisible(false);
        return;
    }
    setFrequencyPanelVisible(true);
    // Opening the panel moves the focus to the time field and runs its change handler, which
    // then acts because the field has the focus.
    seTime->setFocus(Qt::OtherFocusReason);
    sampling->setFocusField(Field::seTime);
    sampling->seTimeChange();
}

void TForm1::closeFrequencyPanel()
{
    setFrequencyPanelVisible(false);
}

acquisition::MeasurementRequest TForm1::measurementRequest() const
{
    acquisition::MeasurementRequest request;
    request.plan = sampling->plan();
    request.rangeIndex = cbTrng->currentIndex() == 1 ? 1 : 0;
    request.launchType = m_launchType;
    // The value axis's title of the mode selected; the time title names the interval's unit.
    request.yTitle = valueTitleFor(cbShowK->currentIndex(), chartBuilder->valueAxisTitle());
    return request;
}

acquisition::ReadRequest TForm1::readRequest() const
{
    acquisition::ReadRequest request;
    request.channels = checkedThermocouples();
    request.rangeIndex = cbTrng->currentIndex() == 1 ? 1 : 0;
    request.launchType = m_launchType;
    // The interval of the last measurement or file: the recording on the chart has it.
    request.channelIntervalUs = recording().header.ChannelIntervalUs;
    request.yTitle = valueTitleFor(cbShowK->currentIndex(), chartBuilder->valueAxisTitle());
    return request;
}

void TForm1::ctlBarDblClick()
{
    // The re-read asks the instrument: without one (measurement buttons disabled) nothing
    // would answer while the status bar claimed a measurement.
    if (!btStart->isEnabled())
        return;
    setFrequencyPanelVisible(false);
    sampling->seTimeChange();
    acquisition::ReadRequest request = readRequest();
    request.channels = sampling->ChannelMask();
    session->startReRead(request);
}

void TForm1::btExtrnClick()
{
    m_launchType = acquisition::toggledLaunchType(m_launchType);
    mirrorLaunchButton();
}

void TForm1::btStartClick()
{
    // While a measurement waits for its recording, the start buttons read "Отменить".
    if (measurementWaiting()) {
        cancelMeasurement();
        return;
    }
    m_work->setRecordedByCycle(false);
    setFrequencyPanelVisible(false);
    session->startMeasurement(measurementRequest());
}

void TForm1::bt500Click()
{
    m_work->setRecordedByCycle(false);
    setFrequencyPanelVisible(false);
    session->startShortRead(readRequest());
}

void TForm1::btUSBClick()
{
    ConnectInstrument();
}

void TForm1::statusClick()
{
    m_readout = !m_readout;
    if (auto *readout = pmChart->findChild<QAction *>(QStringLiteral("actReadout")))
        readout->setChecked(m_readout);
    // Panels 1 and 2 (the second and the third): the first keeps the session's state. The
    // hint stands in the second panel while the readout is off.
    if (!m_readout) {
        cursorReadout->switchedOff();
        status->setPanelText(1, tr("Щелкните для отображения X,Y"));
        status->setPanelText(2, QString());
    } else if (status->panelText(1) == tr("Щелкните для отображения X,Y")) {
        status->setPanelText(1, QString());
    }
}

chart::TChartSeries *TForm1::series(files::ChannelId channel) const
{
    return Chart1->Series(int(channel));
}

bool TForm1::seriesActive(files::ChannelId channel) const
{
    return series(channel)->Active();
}

QColor TForm1::seriesColor(files::ChannelId channel) const
{
    return series(channel)->SeriesColor();
}

quint8 TForm1::checkedThermocouples() const
{
    quint8 bits = 0;
    for (int n = 1; n <= files::ThermocoupleCount; ++n)
        if (channelBoxes.at(n - 1)->isChecked())
            bits |= files::thermocoupleBit(n);
    return bits;
}

void TForm1::channelClick(files::ChannelId channel)
{
    const int i = int(channel);
    // The series' own state decides.
    chart::TChartSeries *line = series(channel);
    line->setActive(!line->Active());
    if (channel == files::ChannelId::FD)
        return;
    sampling->setChannelChecked(i + 1, channelBoxes.at(i)->isChecked());
    sampling->UpdateChannelMask();
}

void TForm1::applySeriesColor(int index)
{
    const QColor color = colorFromValue(swatches.at(index)->colorValue());
    series(files::ChannelId(index))->setSeriesColor(swatches.at(index)->colorValue() & 0xFFFFFF);
    if (overlays)
        overlays->followColours();
    QCheckBox *box = channelBoxes.at(index);
    // Text stays readable on dark channel colours.
    const QColor text = isDarkColor(color) ? Qt::white : Qt::black;
    box->setStyleSheet(QStringLiteral("QCheckBox { background-color: %1; color: %2; }")
                           .arg(color.name(), text.name()));
    box->setProperty("channelColor", color);
}

void TForm1::swatchClick(files::ChannelId channel)
{
    const std::optional<QColor> chosen = chooseColor(m_lastChosenColor);
    if (!chosen || !chosen->isValid())
        return;
    m_lastChosenColor = *chosen;
    swatches.at(int(channel))->setColorValue(valueFromColor(*chosen));
    applySeriesColor(int(channel));
}

} // namespace app
