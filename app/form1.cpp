#include "app/form1.h"

#include "acquisition/instrument.h"
#include "acquisition/instrumentlink.h"
#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "app/cataloguepanel.h"
#include "app/chartbuilder.h"
#include "app/chartexport.h"
#include "app/commandbuttons.h"
#include "app/contexthelp.h"
#include "app/cursorreadout.h"
#include "app/cyclecontrol.h"
#include "app/filecontrol.h"
#include "app/form1ui.h"
#include "app/hotplug.h"
#include "app/icons.h"
#include "app/overlays.h"
#include "app/recoverydialog.h"
#include "app/regioncursors.h"
#include "app/regionpanel.h"
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
    m_sampling = std::make_unique<acquisition::SamplingParameters>(QLocale::system());
    m_help = std::make_unique<ContextHelp>();
    ui = std::make_unique<Form1Ui>();
    createControls();
    assignHelpTopics();
    createActions();
    bindSampling();
    createInstrument();
    bindSession();
    bindChartBuilder();
    bindLiveChart();
    createRegionCursors();
    createCycleControl();
    createChartExport();
    createFileControl();
    createOverlays();
    createCataloguePanel();
    createMenus();
    bindButtons();
    bindControls();
    hookEvents();
    setAcceptDrops(true);
    updateActions();

    startUp();
    // The cycles of a run that a crash or a kill ended are on disk: they are named now.
    QStringList interrupted;
    for (const files::RecoveryEntry &entry : m_work->recovery().repairInterruptedRuns())
        interrupted << QDir::toNativeSeparators(entry.path);
    if (!interrupted.isEmpty())
        showMessageLater(tr("Циклы измерения, прерванного без сохранения, сохранены в списке "
                            "«Несохранённые записи…»:\n%1")
                             .arg(interrupted.join(u'\n')));
    createHotPlug();
}

TForm1::~TForm1()
{
    // An exchange that ends with the instrument (the last of the members to refer to it) is
    // nobody's to show: the window stops hearing the instrument before its helpers go.
    m_session->disconnect(this);
    m_instrument->link().disconnect(this);
    m_instrument->disconnect(this);
}

void TForm1::createHotPlug()
{
    if (!m_options.device.isEmpty() || m_options.simulator)
        return;
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
    m_hotPlug = std::make_unique<HotPlug>(
        *m_instrument, connectQuietly, [this] { return m_shutDown; },
        acquisition::DiscoveryRoots { m_environment.sysfsRoot, m_environment.devRoot });
    // "USB: нет связи" of the lost board is no longer true.
    connect(m_hotPlug.get(), &HotPlug::connectAttempted, this, [this](bool connected) {
        if (connected && ui->status->panelText(0) == acquisition::InstrumentLink::noLinkStatus())
            ui->status->setPanelText(0, QString());
    });
}

// ---------------------------------------------------------------------------------------
// Frequency/time panel: the model decides, the widgets mirror it.

SpinEdit *TForm1::spinFor(Field field) const
{
    switch (field) {
    case Field::seF:
        return ui->seF;
    case Field::seTime:
        return ui->seTime;
    case Field::seSamples:
        return ui->seSamples;
    case Field::seFstep:
        return ui->seFstep;
    case Field::sePointChart:
        return ui->sePointChart;
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
        connect(edit, &SpinEdit::userEntered, m_sampling.get(),
            [this, field] { m_sampling->setFocusField(field); });
        connect(edit, &SpinEdit::userTyped, m_sampling.get(),
            [this, field](const QString &text) { m_sampling->userTyped(field, text); });
        connect(edit, &SpinEdit::userStepped, m_sampling.get(),
            [this, field](int steps) { m_sampling->userStepped(field, steps); });
        connect(edit, &SpinEdit::userLeft, m_sampling.get(),
            [this, field] { m_sampling->userLeft(field); });
        mirrorField(field);
    }
    connect(m_sampling.get(), &acquisition::SamplingParameters::fieldChanged, this,
        &TForm1::mirrorField);
    connect(m_sampling.get(), &acquisition::SamplingParameters::labelsChanged, this,
        &TForm1::mirrorLabels);
    connect(m_sampling.get(), &acquisition::SamplingParameters::errorChanged, this,
        &TForm1::mirrorError);
    connect(m_sampling.get(), &acquisition::SamplingParameters::averagingChanged, this,
        [this](bool checked) {
            const bool blocked = ui->cbAvgMC->blockSignals(true);
            ui->cbAvgMC->setChecked(checked);
            ui->cbAvgMC->blockSignals(blocked);
        });
    connect(ui->cbAvgMC, &QCheckBox::clicked, m_sampling.get(),
        [this](bool checked) { m_sampling->setAveraging(checked); });
    for (int n = 1; n <= files::ThermocoupleCount; ++n)
        m_sampling->setChannelChecked(n, ui->channelBoxes.at(n - 1)->isChecked());

    // Enter in the frequency field is the start button's click, and like the button it does
    // nothing while there is no instrument to start.
    connect(ui->seF, &SpinEdit::enterPressed, this,
        [this] { (measurementWaiting() ? ui->actCancel : ui->actStart)->trigger(); });
    connect(ui->seF, &SpinEdit::escapePressed, this, &TForm1::closeFrequencyPanel);
    connect(ui->seTime, &SpinEdit::escapePressed, this, &TForm1::closeFrequencyPanel);
    mirrorLabels();
    mirrorError();
}

void TForm1::mirrorField(Field field)
{
    SpinEdit *edit = spinFor(field);
    if (!edit)
        return;
    const acquisition::SpinField &f = m_sampling->field(field);
    edit->setBounds(f.minimum, f.maximum);
    edit->setIncrement(f.increment);
    edit->mirror(f.value);
}

void TForm1::mirrorLabels()
{
    ui->lbF->setText(m_sampling->lbF());
    ui->lbT->setText(m_sampling->lbT());
    ui->lbMinutes->setText(m_sampling->lbMinutes());
    ui->lbDly->setText(m_sampling->lbDly());
    ui->lbFchnl->setText(m_sampling->lbFchnl());
    ui->lbFchnl->setVisible(m_sampling->lbFchnlVisible());
}

void TForm1::mirrorError()
{
    ui->lErrIn->setText(m_sampling->lErrIn());
    ui->lErrIn->setVisible(m_sampling->lErrInVisible());
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
    m_instrument = std::make_unique<acquisition::Instrument>(where);
    m_session = &m_instrument->session();
    if (m_options.simulator && !m_instrument->simulatorError().isEmpty())
        showMessage(tr("Имитатор платы не запущен: %1").arg(m_instrument->simulatorError()));
}

void TForm1::bindSession()
{
    using acquisition::InstrumentLink;
    using acquisition::MeasurementSession;
    InstrumentLink *link = &m_instrument->link();
    connect(link, &InstrumentLink::informationMessage, this, [this](const QString &text) {
        if (m_quietNotFound)
            ui->status->setPanelText(0, InstrumentLink::noLinkStatus());
        else
            showMessage(text);
    });
    connect(link, &InstrumentLink::statusText, ui->status,
        [this](const QString &text) { ui->status->setPanelText(0, text); });
    connect(link, &InstrumentLink::measurementButtonsEnabled, this,
        &TForm1::setMeasurementButtonsEnabled);

    const Form1Ui &u = *ui;
    m_presenter = std::make_unique<SessionPresenter>(*m_session, *u.status,
        ProgressWidgets {
            u.Panel1, u.progressBar, u.lAll, u.lElapsed, u.lRest, u.lbPercent, u.lbRestPercent },
        u.gbFile);
    MeasurementSession *m = m_session;
    connect(m, &MeasurementSession::portFailure, this, &TForm1::showMessageLater);
    connect(m, &MeasurementSession::exchangeEnded, this, &TForm1::exchangeEnded);
    connect(m, &MeasurementSession::provenOutOfStep, this, &TForm1::provenOutOfStep);
    // The board went away (the session has heard of it first); the port is closed.
    connect(
        m_instrument.get(), &acquisition::Instrument::disconnected, this, &TForm1::instrumentLost);

    auto *blink = new QTimer(this);
    blink->setObjectName(QStringLiteral("TimErrBlink"));
    blink->setInterval(300);
    connect(blink, &QTimer::timeout, this, &TForm1::TimErrBlinkTimer);
    blink->start();
    ui->gbFT->setVisible(false);
    mirrorChooseF();
    mirrorTuneButton();
    mirrorLaunchButton();
    mirrorErrorColour();
}

void TForm1::mirrorChooseF()
{
    // The toggle reads "Закрыть" in red only while the panel is open.
    setCommandCaption(ui->actChooseF, m_frequencyPanelVisible ? tr("Закрыть") : tr("Выбор F/T"),
        m_frequencyPanelVisible);
}

void TForm1::mirrorTuneButton()
{
    setCommandCaption(ui->actTune, m_tuning ? tr("Завершить (ФД)") : TuneCaption(), m_tuning);
}

void TForm1::mirrorLaunchButton()
{
    const bool computer = launchPictureIsComputer();
    ui->actLaunch->setIcon(pictureIcon(computer ? Picture::Computer : Picture::RisingEdge));
    ui->actLaunch->setText(
        computer ? tr("Запуск от компьютера") : tr("Запуск по сигналу фотодиода"));
}

void TForm1::mirrorErrorColour()
{
    QPalette pal = ui->lErrIn->palette();
    pal.setColor(QPalette::WindowText, colorFromValue(m_errorColour));
    ui->lErrIn->setPalette(pal);
}

void TForm1::setFrequencyPanelVisible(bool visible)
{
    m_frequencyPanelVisible = visible;
    ui->gbFT->setVisible(visible);
    if (visible)
        ui->gbFT->raise();
    mirrorChooseF();
}

void TForm1::setMeasurementButtonsEnabled(bool enabled)
{
    m_boardReady = enabled;
    updateActions();
}

void TForm1::ConnectInstrument()
{
    // The information box names no reason; the terminal gets it (a wrong --device path).
    if (!m_instrument->connectInstrument() && !m_instrument->lastError().isEmpty())
        qWarning("ferrun: %s", qPrintable(m_instrument->lastError()));
}

void TForm1::instrumentLost()
{
    // Nothing more can come from the board: the port is closed so that btUSB can find it
    // again, and the measurement buttons stay off until it does. The recording stays.
    setMeasurementButtonsEnabled(false);
    // An exchange the board broke off has been reported as such already.
    if (m_session->lastFailure() == acquisition::SessionFailure::Disconnected)
        return;
    ui->status->setPanelText(0, acquisition::InstrumentLink::noLinkStatus());
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
        s.photodiode = ui->channelBoxes.at(int(files::ChannelId::FD))->isChecked();
        s.timeUnitIndex = ui->cbXscale->currentIndex();
        const int mode = ui->cbShowK->currentIndex();
        s.axisMode = mode >= 0 && mode <= 3 ? sig::AxisMode(mode) : sig::AxisMode::None;
        s.rangeIndex = ui->cbTrng->currentIndex();
        s.integrate = ui->cbInt->isChecked();
        s.integrationLength = boundedValue(ui->seInt);
        s.pointSkip = std::max(1, m_sampling->value(acquisition::Field::sePointChart));
        return s;
    };
    controls.clearFirst = [this] { return ui->cbChartClear->isChecked(); };
    controls.valueRange = [this] {
        return std::pair { boundedValue(ui->seYmin), boundedValue(ui->seYmax) };
    };
    m_chartBuilder = std::make_unique<ChartBuilder>(*ui->Chart1, std::move(controls));
    m_chartBuilder->reportError = [this](const QString &text) { showMessageLater(text); };
    m_cursorReadout = std::make_unique<CursorReadout>(
        *ui->Chart1, *m_chartBuilder, *ui->status, [this] { return m_readout; });
}

// ---------------------------------------------------------------------------------------
// Window and control events

bool TForm1::event(QEvent *event)
{
    // The title bar's help button, where the desktop offers one.
    if (event->type() == QEvent::EnterWhatsThisMode) {
        m_help->enterPickMode();
        return true;
    }
    // The window's hint belongs to its empty parts only.
    if (event->type() == QEvent::ToolTip) {
        auto *helpEvent = static_cast<QHelpEvent *>(event);
        if (childAt(helpEvent->pos())) {
            QToolTip::hideText();
            event->ignore();
            return true;
        }
    }
    return QWidget::event(event);
}

// ---------------------------------------------------------------------------------------
// Panels and buttons

void TForm1::mirrorOptionsButton(bool open)
{
    setCommandCaption(ui->actOptions, open ? tr("Закрыть") : tr("ОПЦИИ"), open);
}

void TForm1::btOptionsClick()
{
    if (!ui->gbOptions->isVisible()) {
        ui->gbOptions->show();
        ui->gbOptions->raise();
        mirrorOptionsButton(true);
        return;
    }
    ui->gbOptions->hide();
    mirrorOptionsButton(false);
    if (m_tuning)
        ui->actTune->trigger(); // stop it
}

void TForm1::gbOptionsClick()
{
    ui->gbOptions->hide();
    mirrorOptionsButton(false);
}

void TForm1::btTuneClick()
{
    m_tuning = !m_tuning;
    mirrorTuneButton();
    m_session->tune(m_tuning);
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
    ui->seTime->setFocus(Qt::OtherFocusReason);
    m_sampling->setFocusField(Field::seTime);
    m_sampling->seTimeChange();
}

void TForm1::closeFrequencyPanel()
{
    setFrequencyPanelVisible(false);
}

acquisition::MeasurementRequest TForm1::measurementRequest() const
{
    acquisition::MeasurementRequest request;
    request.plan = m_sampling->plan();
    request.rangeIndex = ui->cbTrng->currentIndex() == 1 ? 1 : 0;
    request.launchType = m_launchType;
    // The value axis's title of the mode selected; the time title names the interval's unit.
    request.yTitle = valueTitleFor(ui->cbShowK->currentIndex(), m_chartBuilder->valueAxisTitle());
    return request;
}

acquisition::ReadRequest TForm1::readRequest() const
{
    acquisition::ReadRequest request;
    request.channels = checkedThermocouples();
    request.rangeIndex = ui->cbTrng->currentIndex() == 1 ? 1 : 0;
    request.launchType = m_launchType;
    // The interval of the last measurement or file: the recording on the chart has it.
    request.channelIntervalUs = recording().header.ChannelIntervalUs;
    request.yTitle = valueTitleFor(ui->cbShowK->currentIndex(), m_chartBuilder->valueAxisTitle());
    return request;
}

void TForm1::ctlBarDblClick()
{
    setFrequencyPanelVisible(false);
    m_sampling->seTimeChange();
    acquisition::ReadRequest request = readRequest();
    request.channels = m_sampling->ChannelMask();
    m_session->startReRead(request);
}

void TForm1::btExtrnClick()
{
    m_launchType = acquisition::toggledLaunchType(m_launchType);
    mirrorLaunchButton();
}

void TForm1::btStartClick()
{
    m_work->setRecordedByCycle(false);
    setFrequencyPanelVisible(false);
    m_session->startMeasurement(measurementRequest());
}

void TForm1::bt500Click()
{
    m_work->setRecordedByCycle(false);
    setFrequencyPanelVisible(false);
    m_session->startShortRead(readRequest());
}

void TForm1::statusClick()
{
    m_readout = !m_readout;
    ui->actReadout->setChecked(m_readout);
    // Panels 1 and 2 (the second and the third): the first keeps the session's state. The
    // hint stands in the second panel while the readout is off.
    if (!m_readout) {
        m_cursorReadout->switchedOff();
        ui->status->setPanelText(1, tr("Щелкните для отображения X,Y"));
        ui->status->setPanelText(2, QString());
    } else if (ui->status->panelText(1) == tr("Щелкните для отображения X,Y")) {
        ui->status->setPanelText(1, QString());
    }
}

chart::TChartSeries *TForm1::series(files::ChannelId channel) const
{
    return ui->Chart1->Series(int(channel));
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
        if (ui->channelBoxes.at(n - 1)->isChecked())
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
    m_sampling->setChannelChecked(i + 1, ui->channelBoxes.at(i)->isChecked());
    m_sampling->UpdateChannelMask();
}

void TForm1::applySeriesColor(int index)
{
    const QColor color = colorFromValue(ui->swatches.at(index)->colorValue());
    series(files::ChannelId(index))
        ->setSeriesColor(ui->swatches.at(index)->colorValue() & 0xFFFFFF);
    if (m_overlays)
        m_overlays->followColours();
    QCheckBox *box = ui->channelBoxes.at(index);
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
    ui->swatches.at(int(channel))->setColorValue(valueFromColor(*chosen));
    applySeriesColor(int(channel));
}

} // namespace app
