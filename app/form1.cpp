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
#include "app/spinedit.h"
#include "app/statusbar.h"
#include "chart/chart.h"
#include "serial/serialport.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
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

} // namespace

QString TForm1::TuneCaption()
{
    return tr("Настройка ФД");
}

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

    m_document = std::make_unique<files::RecordingDocument>(files::RecoveryStore(
        m_environment.recoveryFolder.isEmpty() ? files::RecoveryStore::defaultFolder()
                                               : m_environment.recoveryFolder));
    sampling = new acquisition::SamplingParameters(QLocale::system(), this);
    help = new ContextHelp(this);
    createControls();
    assignHelpTopics();
    bindSampling();
    createInstrument();
    bindSession();
    bindChartBuilder();
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
        *fileControl, *session, [this] { FormResize(); },
        [this](const QString &text) { showMessage(text); }, this);
    connect(
        this, &TForm1::showCatalogueRequested, cataloguePanel, &CataloguePanel::btShowCmntClick);
    connect(this, &TForm1::copyCommentRequested, cataloguePanel, &CataloguePanel::btCopyClick);

    startUp();
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
    }
}

TForm1::~TForm1()
{
    // The helpers that hold the session let go of it before the instrument goes.
    cycleControl.reset();
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
            session->btStartClick();
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

    acquisition::Instrument::Options where;
    where.device = m_options.device;
    where.simulator = m_options.simulator;
    where.roots = { m_environment.sysfsRoot, m_environment.devRoot };
    sessionControls = std::make_unique<WindowSessionControls>(*this);
    instrument = std::make_unique<acquisition::Instrument>(sessionControls.get(), where);
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
            session->setStatusText(0, InstrumentLink::noLinkStatus());
        else
            showMessage(text);
    });
    connect(link, &InstrumentLink::statusText, session,
        [this](const QString &text) { session->setStatusText(0, text); });
    connect(link, &InstrumentLink::measurementButtonsEnabled, this,
        &TForm1::setMeasurementButtonsEnabled);

    MeasurementSession *m = session;
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
    // A recording the session completed becomes the current one; the session draws it right
    // after. The cycles of a run are kept by the run's stores.
    connect(m, &MeasurementSession::transferComplete, this, [this](const files::Recording &r) {
        files::Recording next = r;
        if (CycleRunning)
            next.origin = files::RecordingOrigin::Cycle;
        holdRecording(std::move(next));
    });
    connect(m, &MeasurementSession::shortReadComplete, this, [this](const files::Recording &r) {
        holdRecording(r);
        // A new read, not the file the frame named.
        session->setFileCaption(tr("Комментарий"));
    });
    // A failed transfer (out of step, board gone) has put its text in the first status panel;
    // the message follows once the port's handler has returned. What was received is drawn
    // for the user to look at, under the failure's text, as a faulty recording that no save
    // writes. A cycle run does not draw it: it is no cycle of the run.
    connect(m, &MeasurementSession::transferFailed, this,
        [this](acquisition::SessionFailure, const QString &text, const files::Recording &received) {
            if (!received.data.isEmpty() && !CycleRunning) {
                holdRecording(received);
                BuildChart();
                session->setStatusText(0, text);
            }
            showMessageLater(text);
        });
    // The board went away (the session has heard of it first); the port is closed.
    connect(
        instrument.get(), &acquisition::Instrument::disconnected, this, &TForm1::instrumentLost);

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
    session->setStatusText(0, acquisition::InstrumentLink::noLinkStatus());
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
        s.checkedChannels = checkedThermocouples();
        s.photodiode = channelBoxes.at(int(files::ChannelId::FD))->isChecked();
        s.averaging = cbAvgMC->isChecked();
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
    chartBuilder
        = std::make_unique<ChartBuilder>(*Chart1, *session, *m_document, std::move(controls));
    chartBuilder->reportError = [this](const QString &text) { showMessageLater(text); };
    session->setChartBuilder([this] { BuildChart(); });
    cursorReadout = new CursorReadout(
        *Chart1, *chartBuilder, *session, [this] { return m_readout; }, this);
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
        btOptions->setText(tr("Закрыть"));
        setCaptionColor(btOptions, CaptionRed);
        return;
    }
    gbOptions->hide();
    btOptions->setText(tr("ОПЦИИ"));
    setCaptionColor(btOptions, CaptionBlack);
    if (session->tuning())
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
    // While a measurement waits for its recording, the start buttons read "Отменить".
    if (measurementWaiting())
        cancelMeasurement();
    else
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
    if (auto *readout = pmChart->findChild<QAction *>(QStringLiteral("actReadout")))
        readout->setChecked(m_readout);
    // Panels 1 and 2 (the second and the third): the first keeps the session's state. The
    // hint stands in the second panel while the readout is off.
    if (!m_readout) {
        cursorReadout->switchedOff();
        session->setStatusText(1, tr("Щелкните для отображения X,Y"));
        session->setStatusText(2, QString());
    } else if (session->statusText(1) == tr("Щелкните для отображения X,Y")) {
        session->setStatusText(1, QString());
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
