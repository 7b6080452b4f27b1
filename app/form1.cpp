#include "app/form1.h"

#include "acquisition/instrumentlink.h"
#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "acquisition/sessionserialport.h"
#include "app/cataloguepanel.h"
#include "app/chartbuilder.h"
#include "app/chartexport.h"
#include "app/contexthelp.h"
#include "app/cursorreadout.h"
#include "app/cyclecontrol.h"
#include "app/filecontrol.h"
#include "app/hotplug.h"
#include "app/icons.h"
#include "app/spinedit.h"
#include "app/statusbar.h"
#include "chart/chart.h"
#include "serial/serialport.h"
#include "sim/boardsimulator.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDateTime>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
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

const QString Caption = QStringLiteral("7 термопар, фотодиод");
const QString CloseCaption = QStringLiteral("Закрыть");
const QString OptionsClosedCaption = QStringLiteral("ОПЦИИ");
const QColor CaptionRed(255, 0, 0); // colour value 255
const QColor CaptionBlack(0, 0, 0);

} // namespace

const QString TForm1::TuneCaption = QStringLiteral("Настройка ФД");

// The controls a session reads, taken from the window's widgets and the sampling model at the
// moment the session asks.
class WindowSessionControls : public acquisition::SessionControls
{
public:
    explicit WindowSessionControls(const TForm1 &form)
        : m_form(form)
    {
    }

    bool averaging() const override { return m_form.cbAvgMC->isChecked(); }
    int rangeIndex() const override { return m_form.cbTrng->currentIndex(); }
    int d1() const override { return m_form.sampling->d1(); }
    int d2() const override { return m_form.sampling->d2(); }
    int SRAMblocks() const override { return m_form.sampling->SRAMblocks(); }
    quint8 ChannelMask() const override
    {
        return m_form.sampling->ChannelMask() & files::ThermocoupleBits;
    }
    int ChannelCount() const override { return m_form.sampling->ChannelCount(); }
    quint8 checkedChannels() const override { return m_form.checkedThermocouples(); }
    // Written by the chart build: empty until the first one.
    QString timeUnitName() const override
    {
        return m_form.chartBuilder ? m_form.chartBuilder->TimeUnitName() : QString();
    }

private:
    const TForm1 &m_form;
};

TForm1::TForm1(const QString &settingsPath, const AppOptions &options, FormEnvironment environment,
    QWidget *parent)
    : QWidget(parent)
    , m_options(options)
    , m_environment(std::move(environment))
    , m_settingsPath(settingsPath)
{
    initAppResources();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(Caption);
    // System menu and help button only: no minimise or maximise buttons.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowCloseButtonHint | Qt::WindowContextHelpButtonHint | Qt::CustomizeWindowHint);
    setToolTip(
        QStringLiteral("Щелкните по незанятой части окна для разворачивания/сворачивания окна"));
    QFont small = font();
    small.setPointSize(8);
    setFont(small);
    resize(761, 525);

    if (m_environment.showMessage)
        showMessage = m_environment.showMessage;
    else
        showMessage
            = [this](const QString &text) { QMessageBox::information(this, Caption, text); };
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

    sampling = new acquisition::SamplingParameters(QLocale::system(), this);
    help = new ContextHelp(this);
    createControls();
    assignHelpTopics();
    bindSampling();
    createInstrument();
    bindSession();
    bindChartBuilder();
    cycleControl = std::make_unique<CycleControl>(*this);
    auto *chartExport = new ChartExport(
        Chart1, [this](const QString &text) { showMessage(text); }, this);
    connect(this, &TForm1::printRequested, chartExport, &ChartExport::btPrintClick);
    connect(this, &TForm1::copyChartRequested, chartExport, &ChartExport::btSaveChartClick);
    fileControl = new FileControl(*this);
    cataloguePanel = new CataloguePanel(*this, *fileControl);

    startUp();
    if (m_options.device.isEmpty() && !m_options.simulator)
        hotPlug = new HotPlug(*this, { m_environment.sysfsRoot, m_environment.devRoot });
}

TForm1::~TForm1() = default;

const QByteArray *TForm1::AcquisitionBuffer() const
{
    return m_bufferReleased || !session ? nullptr : &session->AcquisitionBuffer();
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
    session->TimErrBlinkTimer();
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

    acquisition::InstrumentLink::Options linkOptions;
    linkOptions.sysfsRoot = m_environment.sysfsRoot;
    linkOptions.devRoot = m_environment.devRoot;
    linkOptions.deviceOverride = m_options.device;
    if (m_options.simulator) {
        // The built-in board, on a pseudo-terminal, started before discovery runs. It records
        // in real time; its photodiode fires half a second after a launch on the signal.
        sim::BoardOptions board;
        board.seed = quint64(QDateTime::currentMSecsSinceEpoch());
        board.triggerAfterSeconds = 0.5;
        simulator = std::make_unique<sim::BoardSimulator>(board);
        simulator->setKeepHistory(false);
        std::string error;
        if (simulator->start(&error)) {
            linkOptions.deviceOverride = QString::fromStdString(simulator->devicePath());
        } else {
            simulator.reset();
            showMessage(
                QStringLiteral("Имитатор платы не запущен: %1").arg(QString::fromStdString(error)));
        }
    }

    SerialPort1 = std::make_unique<serial::TSerialPort>();
    SerialPort1->setObjectName(QStringLiteral("SerialPort1"));
    instrumentLink = std::make_unique<acquisition::InstrumentLink>(*SerialPort1);
    instrumentLink->setOptions(linkOptions);
    sessionPort = std::make_unique<acquisition::SerialSessionPort>(SerialPort1.get());
    sessionControls = std::make_unique<WindowSessionControls>(*this);
    session = std::make_unique<acquisition::MeasurementSession>(sessionControls.get());
    session->setPort(sessionPort.get());
}

void TForm1::bindSession()
{
    using acquisition::InstrumentLink;
    using acquisition::MeasurementSession;
    connect(instrumentLink.get(), &InstrumentLink::informationMessage, this,
        [this](const QString &text) { showMessage(text); });
    connect(instrumentLink.get(), &InstrumentLink::statusText, session.get(),
        [this](const QString &text) { session->setStatusText(0, text); });
    connect(instrumentLink.get(), &InstrumentLink::measurementButtonsEnabled, this,
        &TForm1::setMeasurementButtonsEnabled);

    MeasurementSession *m = session.get();
    connect(m, &MeasurementSession::statusTextChanged, status, &StatusBar::setPanelText);
    connect(m, &MeasurementSession::progressChanged, this, &TForm1::mirrorProgress);
    connect(m, &MeasurementSession::fileCaptionChanged, gbFile, &QGroupBox::setTitle);
    connect(m, &MeasurementSession::chooseFButtonChanged, this, &TForm1::mirrorButtons);
    connect(m, &MeasurementSession::tuneButtonChanged, this, &TForm1::mirrorButtons);
    connect(m, &MeasurementSession::frequencyPanelVisibleChanged, this, [this](bool visible) {
        gbFT->setVisible(visible);
        if (visible)
            gbFT->raise();
    });
    // Opening the panel moves the focus to the time field and runs its change handler, which
    // then acts because the field has the focus.
    connect(m, &MeasurementSession::frequencyPanelOpened, this, [this] {
        seTime->setFocus(Qt::OtherFocusReason);
        sampling->setFocusField(Field::seTime);
        sampling->seTimeChange();
    });
    connect(m, &MeasurementSession::seTimeChangeRequested, sampling,
        &acquisition::SamplingParameters::seTimeChange);
    connect(m, &MeasurementSession::launchTypeChanged, this, &TForm1::mirrorLaunchButton);
    connect(m, &MeasurementSession::errorLabelColourChanged, this, &TForm1::mirrorErrorColour);
    connect(m, &MeasurementSession::portFailure, this, &TForm1::showMessageLater);
    // A failed transfer (out of step, board gone) has put its text in the first status panel;
    // the message follows once the port's handler has returned. What was received stays in
    // the buffer as a recording the session flags as faulty (recordingFaulty()).
    connect(m, &MeasurementSession::transferFailed, this,
        [this](acquisition::SessionFailure, const QString &text) {
            // What arrived is drawn for the user to look at, under the failure's text. A cycle
            // run does not draw it: it is no cycle of the run.
            if (session->recordingFaulty() && !session->AcquisitionBuffer().isEmpty()
                && !CycleRunning) {
                BuildChart();
                session->setStatusText(0, text);
            }
            showMessageLater(text);
        });
    // The port reports a board that went away once, as a line error (the session hears of it
    // first); the rest is done after the handler has returned, since it closes the port.
    sessionPort->onLineError = [this](int errors) {
        if (errors & serial::IoError)
            QMetaObject::invokeMethod(this, &TForm1::instrumentLost, Qt::QueuedConnection);
    };

    for (int panel = 0; panel < 3; ++panel)
        status->setPanelText(panel, m->statusText(panel));
    gbFile->setTitle(m->fileCaption());
    gbFT->setVisible(m->frequencyPanelVisible());
    mirrorProgress();
    mirrorButtons();
    mirrorLaunchButton();
    mirrorErrorColour();
}

void TForm1::mirrorProgress()
{
    const acquisition::ProgressView &p = session->progress();
    progressBar->setRange(0, std::max(1, p.maximum));
    progressBar->setValue(std::clamp(p.position, 0, std::max(1, p.maximum)));
    lAll->setText(p.lAll);
    lElapsed->setText(p.lElapsed);
    lRest->setText(p.lRest);
    lbPercent->setText(p.lbPercent);
    lbRestPercent->setText(p.lbRestPercent);
    if (p.visible != Panel1->isVisibleTo(Chart1)) {
        Panel1->setVisible(p.visible);
        if (p.visible)
            Panel1->raise();
    }
}

void TForm1::mirrorButtons()
{
    const acquisition::ButtonLook &chooseF = session->chooseFButton();
    btChooseF->setText(chooseF.caption);
    setCaptionColor(btChooseF, colorFromValue(chooseF.colour));
    const acquisition::ButtonLook &tune = session->tuneButton();
    btTune->setText(tune.caption);
    setCaptionColor(btTune, colorFromValue(tune.colour));
}

void TForm1::mirrorLaunchButton()
{
    m_launchComputer = session->launchButtonPicture() == acquisition::LaunchPicture::Computer;
    btExtrn->setIcon(pictureIcon(m_launchComputer ? Picture::Computer : Picture::RisingEdge));
    btExtrn->setToolTip(session->launchButtonHint());
}

void TForm1::mirrorErrorColour()
{
    QPalette pal = lErrIn->palette();
    pal.setColor(QPalette::WindowText, colorFromValue(session->errorLabelColour()));
    lErrIn->setPalette(pal);
}

void TForm1::setMeasurementButtonsEnabled(bool enabled)
{
    for (QWidget *button :
        std::initializer_list<QWidget *> { btStart, btStartPlus, btCycle, bt500, bt500plus })
        button->setEnabled(enabled);
}

void TForm1::ConnectInstrument()
{
    instrumentLink->ConnectInstrument();
    // The information box names no reason; the terminal gets it (a wrong --device path).
    if (instrumentLink->connectedDevice().isEmpty() && !instrumentLink->lastError().isEmpty())
        qWarning("ferrun: %s", qPrintable(instrumentLink->lastError()));
    // Whatever was half received belongs to the closed link; the session starts afresh on
    // the reopened port.
    session->setPort(sessionPort.get());
}

void TForm1::instrumentLost()
{
    if (!SerialPort1 || !SerialPort1->IsOpen())
        return;
    // Nothing more can come from the board: close the port so that btUSB can find it again,
    // and keep the measurement buttons off until it does. The recording held so far stays.
    SerialPort1->Close();
    setMeasurementButtonsEnabled(false);
    // An exchange the board broke off has been reported as such already.
    if (session->lastFailure() == acquisition::SessionFailure::Disconnected)
        return;
    session->setStatusText(0, QStringLiteral("USB: нет связи"));
    showMessageLater(QStringLiteral("АЦП не обнаружено"));
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
    chartBuilder = std::make_unique<ChartBuilder>(*this);
    chartBuilder->reportError = [this](const QString &text) { showMessageLater(text); };
    session->setChartBuilder([this] { BuildChart(); });
    cursorReadout = new CursorReadout(*this);
    connect(this, &TForm1::chartRebuildRequested, this, &TForm1::displayChanged);
}

void TForm1::BuildChart()
{
    chartBuilder->BuildChart();
    cursorReadout->recordingChanged();
}

void TForm1::displayChanged()
{
    // Redrawn at once only between exchanges: a build during a transfer would clear the
    // command the blocks answer, and one during a cycle run would store the cycle twice. The
    // new setting takes effect at the build that ends the exchange.
    if (session->state() == acquisition::SessionState::Idle && !CycleRunning)
        BuildChart();
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
    if (event->type() == QEvent::MouseButtonDblClick
        && (watched == ctlBar || watched == tbFile || watched == ToolBar8
            || watched == tbOptions)) {
        ctlBarDblClick();
        return true;
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
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            session->btStartKeyPress(13);
            return true;
        }
        if (key == Qt::Key_Escape) {
            session->btStartKeyPress(27);
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
        btOptions->setText(CloseCaption);
        setCaptionColor(btOptions, CaptionRed);
        return;
    }
    gbOptions->hide();
    btOptions->setText(OptionsClosedCaption);
    setCaptionColor(btOptions, CaptionBlack);
    if (btTune->text() != TuneCaption)
        btTune->click(); // a tuning is running: stop it
}

void TForm1::gbOptionsClick()
{
    gbOptions->hide();
    btOptions->setText(OptionsClosedCaption);
    setCaptionColor(btOptions, CaptionBlack);
}

void TForm1::btTuneClick()
{
    session->btTuneClick();
}

void TForm1::btChooseFClick()
{
    session->btChooseFClick();
}

void TForm1::closeFrequencyPanel()
{
    if (session->frequencyPanelVisible())
        session->btChooseFClick();
}

void TForm1::ctlBarDblClick()
{
    // The re-read asks the instrument: without one (measurement buttons disabled) nothing
    // would answer while the status bar claimed a measurement.
    if (btStart->isEnabled())
        session->ctlBarDblClick();
}

void TForm1::btExtrnClick()
{
    session->btExtrnClick();
}

void TForm1::btStartClick()
{
    session->btStartClick();
}

void TForm1::bt500Click()
{
    session->bt500Click();
}

void TForm1::btUSBClick()
{
    ConnectInstrument();
}

void TForm1::statusClick()
{
    m_readout = !m_readout;
    // Panels 1 and 2 (the second and the third): the first keeps the session's state.
    if (!m_readout) {
        cursorReadout->switchedOff();
        session->setStatusText(1, QStringLiteral("Щелкните для отображения X,Y"));
        session->setStatusText(2, QString());
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
    QCheckBox *box = channelBoxes.at(index);
    // Text stays readable on dark channel colours.
    const QColor text = color.lightness() < 110 ? Qt::white : Qt::black;
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
