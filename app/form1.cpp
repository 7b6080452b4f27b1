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
#include "app/inifile.h"
#include "app/spinedit.h"
#include "app/statusbar.h"
#include "app/windowplacement.h"
#include "chart/chart.h"
#include "serial/serialport.h"
#include "sim/boardsimulator.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QColorDialog>
#include <QComboBox>
#include <QDateTime>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <algorithm>
#include <climits>

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
const QString ChooseFCaption = QStringLiteral("Выбор F/T");
const QString OptionsCaption = QStringLiteral("Отображение");
const QString OptionsClosedCaption = QStringLiteral("ОПЦИИ");
const QString TuneCaption = QStringLiteral("Настройка ФД");
const QString MeasureHint = QStringLiteral("Считать данные из памяти платы АЦП");
const QColor CaptionRed(255, 0, 0); // colour value 255
const QColor CaptionBlack(0, 0, 0);
const QColor Olive(128, 128, 0);

template <class W> W *make(QWidget *parent, const char *name, int x, int y, int w, int h)
{
    auto *widget = new W(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

QLabel *label(QWidget *parent, const QString &text, int x, int y, int w = -1, int h = 16)
{
    auto *l = new QLabel(text, parent);
    if (w < 0)
        w = l->sizeHint().width();
    l->setGeometry(x, y, w, h);
    return l;
}

QToolButton *toolButton(QToolBar *bar, const char *name, const QString &caption,
    const QString &hint, std::optional<Picture> picture)
{
    auto *button = new QToolButton(bar);
    button->setObjectName(QString::fromLatin1(name));
    if (picture) {
        button->setIcon(pictureIcon(*picture));
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        button->setFixedSize(23, 21);
    } else {
        button->setText(caption);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setFixedHeight(21);
    }
    button->setAutoRaise(false);
    if (!hint.isEmpty())
        button->setToolTip(hint);
    bar->addWidget(button);
    return button;
}

QToolBar *toolBar(QWidget *parent, const char *name, int x, int width)
{
    auto *bar = new QToolBar(parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(16, 16));
    bar->setContentsMargins(0, 0, 0, 0);
    bar->layout()->setSpacing(1);
    bar->layout()->setContentsMargins(1, 1, 1, 1);
    bar->setGeometry(x, 9, width, 25);
    return bar;
}

SpinEdit *spin(
    QWidget *parent, const char *name, int x, int y, int w, int minimum, int maximum, int value)
{
    auto *s = make<SpinEdit>(parent, name, x, y, w, 22);
    s->setBounds(minimum, maximum);
    s->assign(value);
    return s;
}

} // namespace

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
    quint8 ChannelMask() const override { return m_form.sampling->ChannelMask() & 0x7F; }
    int ChannelCount() const override { return m_form.sampling->ChannelCount(); }
    quint8 checkedChannels() const override
    {
        quint8 bits = 0;
        for (int n = 1; n <= 7; ++n)
            if (m_form.channelBoxes.at(n - 1)->isChecked())
                bits |= quint8(1 << (n - 1));
        return bits;
    }
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
// Controls

void TForm1::createControls()
{
    createHeaderAndToolBars();
    createCommentAndChart();
    createChannelPanel();
    status = make<StatusBar>(this, "status", 0, 506, 761, StatusBar::Height);
    status->setToolTip(QStringLiteral("Щелкнуть для отображения/скрытия X,Y и цифровых сигналов"));
    connect(status, &StatusBar::clicked, this, &TForm1::statusClick);
    createOptionsPanel();
    createFrequencyPanel();
    mClipBoard = make<QPlainTextEdit>(this, "mClipBoard", 0, 0, 10, 10);
    mClipBoard->hide();
}

void TForm1::createHeaderAndToolBars()
{
    Header = make<QWidget>(this, "Header", 0, 0, 753, 17);
    int x = 0;
    const std::array<std::pair<QString, int>, 3> sections {
        std::pair { QStringLiteral("Файл"), 194 },
        std::pair { QStringLiteral("Управление контроллером"), 384 },
        std::pair { QStringLiteral("Опции"), 100 },
    };
    for (const auto &[text, width] : sections) {
        QLabel *l = label(Header, text, x, 0, width, 17);
        l->setAlignment(Qt::AlignCenter);
        l->setFrameStyle(QFrame::Panel | QFrame::Raised);
        x += width;
    }

    ctlBar = make<QWidget>(this, "ctlBar", 0, 16, 681, 41);
    ctlBar->installEventFilter(this);

    tbFile = toolBar(ctlBar, "tbFile", 2, 190);
    btSave = toolButton(
        tbFile, "btSave", {}, QStringLiteral("Сохранить данные в файл"), Picture::Save);
    btLoadFile = toolButton(
        tbFile, "btLoadFile", {}, QStringLiteral("Открыть файл данных"), Picture::Open);
    btCopy = toolButton(tbFile, "btCopy", {},
        QStringLiteral("Копировать комментарий в буфер обмена"), Picture::CopyText);
    btShowCmnt = toolButton(tbFile, "btShowCmnt", {},
        QStringLiteral("Просмотреть комментарии ко всем  файлам в папке"), Picture::Catalogue);
    btPrevFile = toolButton(
        tbFile, "btPrevFile", {}, QStringLiteral("Предыдущий файл в папке"), Picture::Previous);
    btNextFile = toolButton(
        tbFile, "btNextFile", {}, QStringLiteral("Следующий файл в папке"), Picture::Next);
    btPrint = toolButton(tbFile, "btPrint", {}, {}, Picture::Print);
    btShowCmnt->setEnabled(false);
    btPrevFile->setEnabled(false);
    btNextFile->setEnabled(false);

    ToolBar8 = toolBar(ctlBar, "ToolBar8", 194, 384);
    btUSB = toolButton(
        ToolBar8, "btUSB", {}, QStringLiteral("Подключить АЦП к компьютеру"), Picture::Usb);
    btExtrn = toolButton(
        ToolBar8, "btExtrn", {}, QStringLiteral("Внешний запуск по фронту"), Picture::RisingEdge);
    btChooseF = toolButton(ToolBar8, "btChooseF", ChooseFCaption,
        QStringLiteral("Выбрать частоту выборки / время измерения"), {});
    btStartPlus
        = toolButton(ToolBar8, "btStartPlus", QStringLiteral("ПУСК ИЗМЕРЕНИЯ"), MeasureHint, {});
    btCycle = toolButton(ToolBar8, "btCycle", QStringLiteral("ЦИКЛ"), MeasureHint, {});
    bt500plus = toolButton(ToolBar8, "bt500plus", QStringLiteral("500 байт"), MeasureHint, {});

    tbOptions = toolBar(ctlBar, "tbOptions", 580, 98);
    btOptions = toolButton(tbOptions, "btOptions", OptionsCaption,
        QStringLiteral("Режимы измерения, сохранения, сглаживания"), {});

    // The title bar's help button is not available on every desktop: "?" does its work.
    btHelp = make<QToolButton>(this, "btHelp", 684, 25, 23, 21);
    btHelp->setIcon(pictureIcon(Picture::Help));
    btHelp->setToolTip(QStringLiteral("Справка: щелкните затем по элементу окна"));

    connect(btSave, &QToolButton::clicked, this, &TForm1::saveRequested);
    connect(btLoadFile, &QToolButton::clicked, this, &TForm1::loadRequested);
    connect(btCopy, &QToolButton::clicked, this, &TForm1::copyCommentRequested);
    connect(btShowCmnt, &QToolButton::clicked, this, &TForm1::showCatalogueRequested);
    connect(btPrevFile, &QToolButton::clicked, this, &TForm1::previousFileRequested);
    connect(btNextFile, &QToolButton::clicked, this, &TForm1::nextFileRequested);
    connect(btPrint, &QToolButton::clicked, this, &TForm1::printRequested);
    connect(btUSB, &QToolButton::clicked, this, &TForm1::btUSBClick);
    connect(btExtrn, &QToolButton::clicked, this, &TForm1::btExtrnClick);
    connect(btChooseF, &QToolButton::clicked, this, &TForm1::btChooseFClick);
    connect(btStartPlus, &QToolButton::clicked, this, &TForm1::btStartClick);
    connect(btCycle, &QToolButton::clicked, this, &TForm1::cycleRequested);
    connect(bt500plus, &QToolButton::clicked, this, &TForm1::bt500Click);
    connect(btOptions, &QToolButton::clicked, this, &TForm1::btOptionsClick);
    connect(btHelp, &QToolButton::clicked, help, &ContextHelp::enterPickMode);
    for (QToolBar *bar : { tbFile, ToolBar8, tbOptions })
        bar->installEventFilter(this);
}

void TForm1::createCommentAndChart()
{
    gbFile = make<QGroupBox>(this, "gbFile", 0, 56, 569, 57);
    gbFile->setTitle(QStringLiteral("Комментарий"));
    mComment = make<QPlainTextEdit>(gbFile, "mComment", 8, 16, 553, 33);
    mComment->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    // The chart: eight channel series on a face-coloured panel without margins.
    Chart1 = make<chart::TChart>(this, "Chart1", 0, 112, 641, 353);
    Chart1->setToolTip(
        QStringLiteral("См. Flash-ролик GrafTour о масштабировании и прокрутке графика"));
    Chart1->setColor(palette().color(QPalette::Window));
    Chart1->setMargins(0, 0, 0, 0);
    Chart1->LeftAxis()->Title().setCaption(QStringLiteral("единицы АЦП"));
    Chart1->BottomAxis()->Title().setCaption(QStringLiteral("Выборки"));
    Chart1->createChannelSeries();
    pmChart = new QMenu(this);
    pmChart->setObjectName(QStringLiteral("pmChart"));
    QAction *copy = pmChart->addAction(QStringLiteral("Копировать"));
    connect(copy, &QAction::triggered, this, &TForm1::copyChartRequested);
    // The right button also scrolls the chart: the menu opens only on a click without a drag.
    Chart1->setContextMenuPolicy(Qt::PreventContextMenu);
    Chart1->installEventFilter(this);

    // Progress panel.
    auto *progress = make<QFrame>(Chart1, "Panel1", 0, 0, 625, 81);
    progress->setFrameStyle(QFrame::Panel | QFrame::Raised);
    progress->setAutoFillBackground(true);
    // The window's font, not the chart's label font it would otherwise inherit.
    progress->setFont(font());
    Panel1 = progress;
    QLabel *duration = label(Panel1, QStringLiteral("Продолжительность:"), 10, 8);
    // The values start right of the widest caption, whatever the font.
    const int valueX = std::max(130, duration->x() + duration->width() + 8);
    lAll = make<QLabel>(Panel1, "lAll", valueX, 8, 60, 16);
    label(Panel1, QStringLiteral("Прошло:"), 10, 24);
    lElapsed = make<QLabel>(Panel1, "lElapsed", valueX, 24, 60, 16);
    lbPercent = make<QLabel>(Panel1, "lbPercent", valueX + 70, 24, 50, 16);
    label(Panel1, QStringLiteral("Осталось:"), 10, 40);
    lRest = make<QLabel>(Panel1, "lRest", valueX, 40, 60, 16);
    lbRestPercent = make<QLabel>(Panel1, "lbRestPercent", valueX + 70, 40, 50, 16);
    progressBar = make<QProgressBar>(Panel1, "progressBar", 10, 57, 727, 16);
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    progressBar->setTextVisible(false);
    Panel1->hide();

    // Comment catalogue, laid over the chart.
    gbAllCmnt = make<QGroupBox>(Chart1, "gbAllCmnt", 0, 0, 569, 353);
    gbAllCmnt->setTitle(QStringLiteral("Для открытия файла выполните двойной щелчок по любому "
                                       "слову в комментарии, относящемся к выбираемому файлу:"));
    gbAllCmnt->setAutoFillBackground(true);
    MAllCmnt = make<QPlainTextEdit>(gbAllCmnt, "MAllCmnt", 8, 18, 553, 290);
    MAllCmnt->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MAllCmnt->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    pSearch = make<QFrame>(gbAllCmnt, "pSearch", 10, 319, 549, 29);
    static_cast<QFrame *>(pSearch)->setFrameStyle(QFrame::Panel | QFrame::Raised);
    label(pSearch, QStringLiteral("ИСКАТЬ "), 6, 6, -1, 17);
    eFind = make<QLineEdit>(pSearch, "eFind", 58, 4, 150, 21);
    eFind->setToolTip(QStringLiteral("Введите слово или его фрагмент, который необходимо "
                                     "разыскать в комментариях ко всем файлам папки"));
    chkCaps = make<QCheckBox>(pSearch, "chkCaps", 214, 6, 70, 17);
    chkCaps->setText(QStringLiteral("регистр"));
    chkCaps->setToolTip(
        QStringLiteral("Поставьте галочку, если при поиске надо учитывать регистр"));
    btFind = make<QPushButton>(pSearch, "btFind", 288, 3, 56, 23);
    btFind->setText(QStringLiteral("Поиск"));
    btFind->setToolTip(QStringLiteral("Старт поиска"));
    btOpenFind = make<QPushButton>(pSearch, "btOpenFind", 348, 3, 96, 23);
    btOpenFind->setText(QStringLiteral("Открыть файл"));
    btOpenFind->setToolTip(
        QStringLiteral("Открыть файл, на тексте комментария которого установлен курсор"));
    btPath = make<QPushButton>(pSearch, "btPath", 448, 3, 52, 23);
    btPath->setText(QStringLiteral("Папка"));
    btPath->setToolTip(QStringLiteral("Выбрать папку"));
    btCancel = make<QPushButton>(pSearch, "btCancel", 504, 3, 70, 23);
    btCancel->setText(QStringLiteral("Отменить"));
    btCancel->setToolTip(QStringLiteral("Вернуться к последнему графику"));
    gbAllCmnt->hide();

    btSaveChart = make<QToolButton>(Chart1, "btSaveChart", 11, 330, 25, 21);
    btSaveChart->setIcon(pictureIcon(Picture::CopyChart));
    btSaveChart->setToolTip(
        QStringLiteral("Копировать график в формате Windows MetaFile в буфер обмена"));
    connect(btSaveChart, &QToolButton::clicked, this, &TForm1::copyChartRequested);
}

void TForm1::createChannelPanel()
{
    pChannels = make<QFrame>(this, "pChannels", 0, 465, 641, 38);
    QLabel *caption = label(pChannels, QStringLiteral("Отобразить КАНАЛЫ"), 4, 11);
    static const std::array<const char *, 8> names { "cbT1", "cbT2", "cbT3", "cbT4", "cbT5", "cbT6",
        "cbT7", "cbFD" };
    int x = caption->x() + caption->width() + 8;
    for (int i = 0; i < 8; ++i) {
        const int w = i < 7 ? 40 : 80;
        QCheckBox *box = make<QCheckBox>(pChannels, names.at(i), x, 9, w, 20);
        box->setText(i < 7 ? QStringLiteral("T%1").arg(i + 1) : QStringLiteral("Фотодиод"));
        box->setChecked(true);
        box->setAutoFillBackground(true);
        channelBoxes.at(i) = box;
        connect(box, &QCheckBox::toggled, this, [this, i](bool) { channelClick(ChannelId(i)); });
        x += w + 4;
    }
}

void TForm1::createOptionsPanel()
{
    gbOptions = make<QGroupBox>(this, "gbOptions", 0, 48, 682, 113);
    gbOptions->setTitle(QStringLiteral("Опции"));
    gbOptions->setAutoFillBackground(true);
    QPalette pal = gbOptions->palette();
    pal.setColor(QPalette::Window, Olive);
    gbOptions->setPalette(pal);
    gbOptions->installEventFilter(this);

    auto group = [this](const char *name, const QString &title, int x, int y, int w) {
        QGroupBox *g = make<QGroupBox>(gbOptions, name, x, y, w, 46);
        g->setTitle(title);
        return g;
    };

    QGroupBox *axes = group("gbAxes", QStringLiteral("Оси графика"), 4, 16, 214);
    cbShowK = make<QComboBox>(axes, "cbShowK", 6, 18, 202, 22);
    cbShowK->addItems({ QStringLiteral("Ось Y:ЗНАЧЕНИЯ, ось X: ВРЕМЯ"),
        QStringLiteral("Ось Y: ед.АЦП,      ось X: ВЫБОРКИ"),
        QStringLiteral("Ось Y:ЗНАЧЕНИЯ, ось X: ВЫБОРКИ"),
        QStringLiteral("Ось Y: ед.АЦП,      ось X: ВРЕМЯ") });
    connect(cbShowK, &QComboBox::activated, this, &TForm1::chartRebuildRequested);
    // The box is as wide as its longest mode in the window's font; the extra width comes
    // from the colour group, whose swatches move closer (down to 16 pixels apart).
    const int extra
        = std::clamp(cbShowK->sizeHint().width() - cbShowK->width(), 0, 216 - (8 * 16 + 8));
    cbShowK->resize(cbShowK->width() + extra, cbShowK->height());
    axes->resize(axes->width() + extra, axes->height());

    QGroupBox *colours
        = group("gbColors", QStringLiteral("ЦВЕТ канала на графике"), 222 + extra, 16, 216 - extra);
    static const std::array<const char *, 8> names { "pT1", "pT2", "pT3", "pT4", "pT5", "pT6",
        "pT7", "pFD" };
    // Eight swatches 6 pixels in from either side, at most 22 wide and 26 apart.
    const int stride = std::min(26, (colours->width() - 12 + 4) / 8);
    const int swatch = std::min(22, stride - 4);
    for (int i = 0; i < 8; ++i) {
        ColorPanel *p = make<ColorPanel>(colours, names.at(i), 6 + i * stride, 18, swatch, 22);
        p->setToolTip(i < 7 ? QStringLiteral("T%1").arg(i + 1) : QStringLiteral("Фотодиод"));
        swatches.at(i) = p;
        connect(p, &ColorPanel::clicked, this, [this, i] { swatchClick(ChannelId(i)); });
    }

    QGroupBox *integrate = group("gbIntegrate", QStringLiteral("Интегрирование"), 442, 16, 110);
    cbInt = make<QCheckBox>(integrate, "cbInt", 6, 20, 36, 18);
    cbInt->setText(QStringLiteral("по"));
    cbInt->resize(std::max(cbInt->width(), cbInt->sizeHint().width()), cbInt->height());
    connect(cbInt, &QCheckBox::clicked, this, &TForm1::chartRebuildRequested);
    // The field follows the box and keeps 6 pixels from the group's right edge.
    const int intX = std::max(44, cbInt->x() + cbInt->width() + 2);
    seInt = spin(
        integrate, "seInt", intX, 18, std::min(60, integrate->width() - 6 - intX), 2, 2048, 8);

    QGroupBox *units = group("gbUnits", QStringLiteral("Время в    Диапазон"), 556, 16, 122);
    cbXscale = make<QComboBox>(units, "cbXscale", 6, 18, 52, 22);
    cbXscale->addItems({ QStringLiteral("мкс"), QStringLiteral("мс"), QStringLiteral("с") });
    connect(cbXscale, &QComboBox::activated, this, &TForm1::chartRebuildRequested);
    cbTrng = make<QComboBox>(units, "cbTrng", 62, 18, 56, 22);
    cbTrng->addItems({ QStringLiteral("250°"), QStringLiteral("500°") });

    QGroupBox *step
        = group("gbFstep", QStringLiteral("Дискретность изменения Fвыборки, Гц"), 4, 63, 254);
    seFstep = spin(step, "seFstep", 6, 18, 80, 1, 50000, 1);
    btTune = make<QPushButton>(step, "btTune", 110, 17, 120, 24);
    btTune->setText(TuneCaption);
    connect(btTune, &QPushButton::clicked, this, &TForm1::btTuneClick);

    QGroupBox *cycle = group("gbCycle", QStringLiteral("ЦИКЛ: показать"), 262, 63, 290);
    QLabel *every = label(cycle, QStringLiteral("каждую"), 6, 21);
    const int spinX = every->x() + every->width() + 3;
    sePointChart = spin(cycle, "sePointChart", spinX, 18, 50, 1, 30000, 1);
    QLabel *nth = label(cycle, QStringLiteral("-ю"), spinX + 52, 21);
    QLabel *point = label(cycle, QStringLiteral("точку"), nth->x() + nth->width() + 3, 21);
    // The two boxes take the rest of the group, so their captions are not cut.
    const int boxX = point->x() + point->width() + 4;
    const int boxWidth = cycle->width() - boxX - 2;
    cbChartClear = make<QCheckBox>(cycle, "cbChartClear", boxX, 12, boxWidth, 17);
    cbChartClear->setText(QStringLiteral("Очищать график"));
    cbChartClear->setChecked(true);
    cb1file = make<QCheckBox>(cycle, "cb1file", boxX, 28, boxWidth, 17);
    cb1file->setText(QStringLiteral("В один файл"));

    QGroupBox *yAxis = group("gbYAxis", QStringLiteral("Ось Т°"), 556, 63, 122);
    seYmax = spin(yAxis, "seYmax", 6, 18, 54, 0, 500, 70);
    seYmin = spin(yAxis, "seYmin", 62, 18, 54, 0, 500, 0);
    seYmax->setToolTip(QStringLiteral("Верхний предел оси температуры"));
    seYmin->setToolTip(QStringLiteral("Нижний предел оси температуры"));
    for (SpinEdit *s : { seYmax, seYmin })
        connect(s, &SpinEdit::userLeft, sampling, &acquisition::SamplingParameters::seFstepExit);

    gbOptions->hide();
}

void TForm1::createFrequencyPanel()
{
    gbFT = make<QGroupBox>(this, "gbFT", 88, 72, 217, 337);
    gbFT->setTitle(QStringLiteral("Частота выборки / Время измерения"));
    gbFT->setAutoFillBackground(true);

    label(gbFT, QStringLiteral("Fвыборки, Гц"), 8, 24, 104);
    seF = spin(gbFT, "seF", 112, 20, 97, 75, 546133, 2400);
    seF->setToolTip(QStringLiteral("Допустимый диапазон: 75Гц...546133Гц"));
    label(gbFT, QStringLiteral("Тизмерения, мс"), 8, 50, 104);
    seTime = spin(gbFT, "seTime", 112, 46, 97, 439, 3212842, 100000);
    seTime->setToolTip(QStringLiteral("Максимальное время 3212,842с."));
    label(gbFT, QStringLiteral("Число выборок в серии"), 8, 72, 200);
    seSamples = spin(gbFT, "seSamples", 112, 88, 97, 30000, 240000, 240000);
    seSamples->setIncrement(30000);
    seSamples->setDiscardTyping(true);
    seSamples->setToolTip(QStringLiteral("От 30000 до 240000, шаг изменения 30000"));
    cbAvgMC = make<QCheckBox>(gbFT, "cbAvgMC", 6, 118, 209, 22);
    cbAvgMC->setText(QStringLiteral("Усреднять по 16-ти выборкам в МК"));
    QFont narrow = font();
    narrow.setPointSizeF(7);
    cbAvgMC->setFont(narrow);

    lErrIn = make<QLabel>(gbFT, "lErrIn", 8, 146, 201, 16);
    {
        QPalette pal = lErrIn->palette();
        pal.setColor(QPalette::WindowText, colorFromValue(acquisition::ErrorRed));
        lErrIn->setPalette(pal);
        QFont bold = lErrIn->font();
        bold.setBold(true);
        lErrIn->setFont(bold);
    }
    lErrIn->hide();

    QLabel *trueValues = label(gbFT, QStringLiteral("ИСТИННЫЕ ЗНАЧЕНИЯ:"), 8, 166, 201);
    trueValues->setObjectName(QStringLiteral("lbTrue"));
    lbF = make<QLabel>(gbFT, "lbF", 6, 184, 209, 16);
    lbT = make<QLabel>(gbFT, "lbT", 6, 200, 209, 16);
    lbMinutes = make<QLabel>(gbFT, "lbMinutes", 6, 216, 209, 16);
    lbDly = make<QLabel>(gbFT, "lbDly", 6, 232, 209, 16);
    lbFchnl = make<QLabel>(gbFT, "lbFchnl", 6, 248, 209, 16);
    for (QLabel *value : { lbF, lbT, lbMinutes, lbDly, lbFchnl })
        value->setFont(narrow);

    btStart = make<QPushButton>(gbFT, "btStart", 8, 270, 201, 30);
    btStart->setText(QStringLiteral("ПУСК ИЗМЕРЕНИЯ"));
    btStart->setToolTip(MeasureHint);
    btStart->installEventFilter(this);
    bt500 = make<QPushButton>(gbFT, "bt500", 8, 304, 201, 25);
    bt500->setText(QStringLiteral("500 байт"));
    bt500->setToolTip(MeasureHint);
    connect(btStart, &QPushButton::clicked, this, &TForm1::btStartClick);
    connect(bt500, &QPushButton::clicked, this, &TForm1::bt500Click);

    gbFT->hide();
}

void TForm1::assignHelpTopics()
{
    auto set = [](std::initializer_list<QWidget *> widgets, int topic) {
        for (QWidget *w : widgets)
            ContextHelp::setTopic(w, topic);
    };
    set({ this, status }, 6);
    set({ gbFile, mComment }, 2);
    set({ gbAllCmnt, MAllCmnt, pSearch, eFind, chkCaps, btFind, btOpenFind, btPath, btCancel }, 3);
    set({ btUSB, btExtrn, btChooseF, btStartPlus, btCycle, bt500plus, btStart, bt500, btTune, gbFT,
            seF, seTime, seSamples, seFstep, sePointChart, seYmax, seYmin },
        4);
    set({ btOptions, gbOptions, cbShowK, cbXscale, cbTrng, cbInt, seInt }, 5);
    set({ Chart1, btSave, btLoadFile, btShowCmnt, btPrevFile, btNextFile, btPrint }, 7);
    set({ btSaveChart, btCopy }, 8);
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
    for (int n = 1; n <= 7; ++n)
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
// Start-up and shutdown

void TForm1::startUp()
{
    CycleRunning = false;
    session->setRecordedByCycle(false);
    btSaveChart->move(btSaveChart->x(), Chart1->height() - 26);
    btExtrn->setIcon(pictureIcon(Picture::RisingEdge));
    m_launchComputer = false;
    ChartHeightMargin = 169;
    ChartWidthMargin = 22;

    // The settings file is read once, here; missing keys give their defaults.
    const IniFile file(m_settingsPath);
    const Settings s = Settings::read(file);

    // Geometry, held within reach: at least the folded size and at most the desktop, and
    // moved so that its title area lies on a screen (settings from a desk with a second
    // monitor, or sizes of 0, would otherwise come back invisible at every start).
    QList<QRect> screens = m_environment.availableScreens;
    if (screens.isEmpty())
        for (const QScreen *each : QGuiApplication::screens())
            screens << each->availableGeometry();
    const QRect frame = placeWindow(QPoint(s.left, s.top), QSize(s.width, s.height), screens);
    setWindowHeight(frame.height());
    setWindowWidth(frame.width());
    setWindowLeft(frame.x());
    setWindowTop(frame.y());
    m_placedPosition = frame.topLeft();
    FormResize();

    // Display options. Selected indexes are set by program: no change handler runs.
    for (auto [box, index] : { std::pair { cbXscale, s.xScale }, std::pair { cbShowK, s.xyMode },
             std::pair { cbTrng, s.tRange } }) {
        const bool blocked = box->blockSignals(true);
        box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
        box->blockSignals(blocked);
    }
    sampling->setAveraging(s.smoothInController);
    seInt->assign(s.integrateSamples);

    CheckBoxByChannel = channelBoxes;
    PanelByChannel = swatches;
    // Channel colours and visibility; a check box whose state changes runs its click handler.
    for (int i = 0; i < 8; ++i) {
        PanelByChannel.at(i)->setColorValue(quint32(s.colors.at(i)));
        applySeriesColor(i);
        CheckBoxByChannel.at(i)->setChecked(s.shown.at(i));
    }
    // Cycle options and the temperature axis.
    cb1file->setChecked(s.writeToOneFile);
    cbChartClear->setChecked(s.clearChart);
    sampling->assign(Field::sePointChart, s.chartSkipPoints);
    seYmax->assign(s.yMax);
    seYmin->assign(s.yMin);
    // Launch type: pre-set one below the stored value (1 when that is negative), then let the
    // button's handler toggle it, so that picture and hint match. 0 and 1 come back unchanged.
    session->setLaunchType(s.launchType <= 0 ? 1 : s.launchType - 1);
    btExtrnClick();

    // Frequency/time panel: stored block count (seSamples runs its change handler), stored
    // Time4allSRAM, frequency and the time that follows from them.
    sampling->setSRAMblocksFromSettings(s.sramBlocks);
    sampling->setTime4allSRAM(s.time4allSram);
    sampling->assign(Field::seF, s.frequency);
    const qint64 time = qint64(sampling->Time4allSRAM()) * sampling->SRAMblocks() / 8;
    sampling->assign(Field::seTime, int(std::clamp<qint64>(time, INT_MIN, INT_MAX)));

    // A full recording (up to 240000 points a series) then goes into the chart without the
    // point lists growing step by step.
    chart::setDefaultListCapacity(700000);
    // The session's buffer is the recording: empty until the first transfer.
    session->acquisitionBuffer().clear();
    session->setSessionBlocks(8);
    ConnectInstrument();
    for (int n = 1; n <= 8; ++n)
        BlockCodeTable.at(n - 1) = quint8((8 - n) * 32);
    // Run-time bounds, stored without re-checking the values shown.
    sampling->setBounds(
        Field::seTime, acquisition::ShortestTime4allSRAM, acquisition::LongestTime4allSRAM);
    sampling->setBounds(
        Field::seF, acquisition::LowestFrequencyHz, acquisition::HighestFrequencyHz);
    // The time follows the stored frequency from here on.
    sampling->seSamplesChange();
    sampling->UpdateChannelMask();
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

void TForm1::shutDown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    // The recording is released and the session lets go of the port: nothing measures once
    // the window has shut down, and nothing can arrive into a released buffer. The port
    // itself closes when the window is destroyed.
    session->setPort(nullptr);
    session->acquisitionBuffer() = QByteArray();
    m_bufferReleased = true;
    setMeasurementButtonsEnabled(false);
    // Every key, even those equal to their defaults. A spin field yields its value within
    // its bounds, also while a typed value has not been taken by leaving the field yet.
    const auto boundedValue = [this](Field field) {
        const acquisition::SpinField &f = sampling->field(field);
        return std::clamp(f.value, f.minimum, std::max(f.minimum, f.maximum));
    };
    Settings s;
    s.height = windowHeight();
    s.width = windowWidth();
    s.left = m_framed ? x() : m_placedPosition.x();
    s.top = m_framed ? y() : m_placedPosition.y();
    s.frequency = boundedValue(Field::seF);
    s.time4allSram = sampling->Time4allSRAM();
    s.sramBlocks = sampling->SRAMblocks();
    s.launchType = session->LaunchType();
    s.xScale = cbXscale->currentIndex();
    s.xyMode = cbShowK->currentIndex();
    s.tRange = cbTrng->currentIndex();
    s.integrateSamples
        = std::clamp(seInt->currentValue(), seInt->minimumValue(), seInt->maximumValue());
    s.smoothInController = cbAvgMC->isChecked();
    for (int i = 0; i < 8; ++i) {
        s.colors.at(i) = int(PanelByChannel.at(i)->colorValue());
        s.shown.at(i) = CheckBoxByChannel.at(i)->isChecked();
    }
    s.writeToOneFile = cb1file->isChecked();
    s.clearChart = cbChartClear->isChecked();
    s.chartSkipPoints = boundedValue(Field::sePointChart);
    s.yMax = std::clamp(seYmax->currentValue(), seYmax->minimumValue(), seYmax->maximumValue());
    s.yMin = std::clamp(seYmin->currentValue(), seYmin->minimumValue(), seYmin->maximumValue());
    IniFile file(m_settingsPath);
    if (!s.write(file)) {
        const QString message = QStringLiteral("Unable to write to %1").arg(m_settingsPath);
        emit settingsWriteFailed(message);
        showMessage(message);
    }
}

void TForm1::closeEvent(QCloseEvent *event)
{
    // The buffer is gone after shutdown, so the window closes even when the settings could
    // not be written.
    shutDown();
    event->accept();
}

// ---------------------------------------------------------------------------------------
// Geometry, layout, fold and unfold

QSize TForm1::frameExtra() const
{
    if (!isVisible())
        return QSize(0, 0); // not QSize(), whose parts are -1
    const QSize extra = frameGeometry().size() - size();
    return QSize(std::max(0, extra.width()), std::max(0, extra.height()));
}

int TForm1::windowWidth() const
{
    return width() + frameExtra().width();
}

int TForm1::windowHeight() const
{
    return height() + frameExtra().height();
}

void TForm1::setWindowHeight(int height)
{
    resize(width(), std::max(1, height - frameExtra().height()));
    m_requestedOuter.setHeight(height);
}

void TForm1::setWindowWidth(int width)
{
    resize(std::max(1, width - frameExtra().width()), height());
    m_requestedOuter.setWidth(width);
}

void TForm1::setWindowLeft(int left)
{
    move(left, y());
}

void TForm1::setWindowTop(int top)
{
    move(x(), top);
}

void TForm1::applyRequestedOuterSize()
{
    const QSize extra = frameExtra();
    if (extra != QSize(0, 0) && m_requestedOuter.isValid()
        && QSize(windowWidth(), windowHeight()) != m_requestedOuter) {
        resize(std::max(1, m_requestedOuter.width() - extra.width()),
            std::max(1, m_requestedOuter.height() - extra.height()));
    }
}

void TForm1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Where the desktop adds a frame, the stored size is the outer size: once the frame is
    // known (at once, or when the window manager has framed the window), take it off the
    // client area.
    if (!m_framed) {
        m_framed = true;
        applyRequestedOuterSize();
        QTimer::singleShot(0, this, &TForm1::applyRequestedOuterSize);
    }
}

void TForm1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    FormResize();
}

void TForm1::FormResize()
{
    if (!Chart1)
        return;
    const int chartWidth = windowWidth() - ChartWidthMargin;
    const int chartHeight = windowHeight() - ChartHeightMargin;
    const int w = std::max(0, chartWidth);
    const int h = std::max(0, chartHeight);
    // The chart takes what the margins leave; the comment frame, the progress panel and the
    // catalogue follow its size.
    Chart1->resize(w, h);
    gbFile->resize(w, gbFile->height());
    Panel1->resize(w, Panel1->height());
    progressBar->resize(std::max(0, chartWidth - 20), progressBar->height());
    mComment->resize(std::max(0, gbFile->width() - 16), mComment->height());
    gbAllCmnt->resize(gbFile->width(), h);
    MAllCmnt->resize(mComment->width(),
        std::max(0, gbAllCmnt->height() - pSearch->height() - MAllCmnt->y() - 10));
    pSearch->setGeometry(pSearch->x(), gbAllCmnt->height() - pSearch->height() - 5,
        std::max(0, gbAllCmnt->width() - 20), pSearch->height());
    // The copy button stays at the chart's lower left corner.
    btSaveChart->move(btSaveChart->x(), chartHeight - 26);

    // The bands below the chart: the channel check boxes and the status bar at the bottom.
    const int statusTop = height() - StatusBar::Height;
    status->setGeometry(0, statusTop, width(), StatusBar::Height);
    const int channelsTop = std::min(Chart1->y() + h, statusTop - 30);
    pChannels->setGeometry(0, channelsTop, std::max(w, 520), statusTop - channelsTop);
    pChannels->raise();
    status->raise();
    gbOptions->raise();
    gbFT->raise();
}

void TForm1::FormClick()
{
    QScreen *screen = this->screen();
    if (!screen)
        return;
    // The work area is the screen less the task bars.
    const QRect workArea = screen->availableGeometry();
    const int workBottom = workArea.y() + workArea.height();
    const int screenWidth = screen->geometry().width();
    if (windowHeight() >= workBottom && windowWidth() >= screenWidth) {
        // The window fills the screen: back to the saved geometry (620 x 480 at the top
        // left corner when none was saved yet).
        const QRect saved = m_foldState.value_or(QRect(0, 0, 620, 480));
        setWindowHeight(saved.height());
        setWindowWidth(saved.width());
        setWindowLeft(saved.x());
        setWindowTop(saved.y());
    } else {
        m_foldState = QRect(x(), y(), windowWidth(), windowHeight());
        setWindowHeight(workBottom);
        setWindowWidth(screenWidth);
        setWindowLeft(0);
        setWindowTop(0);
    }
}

void TForm1::mousePressEvent(QMouseEvent *event)
{
    // Only a click on the window itself, not one passed on by a control that ignored it.
    if (event->button() == Qt::LeftButton && !childAt(event->position().toPoint()))
        FormClick();
    QWidget::mousePressEvent(event);
}

void TForm1::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second press of a double click arrives as this event, not as a press: the first
    // press has already folded or unfolded the window, once.
    event->accept();
}

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

chart::TChartSeries *TForm1::series(ChannelId channel) const
{
    return Chart1->Series(int(channel));
}

bool TForm1::seriesActive(ChannelId channel) const
{
    return series(channel)->Active();
}

QColor TForm1::seriesColor(ChannelId channel) const
{
    return series(channel)->SeriesColor();
}

void TForm1::channelClick(ChannelId channel)
{
    const int i = int(channel);
    // The series' own state decides.
    chart::TChartSeries *line = series(channel);
    line->setActive(!line->Active());
    if (channel == ChannelId::FD)
        return;
    sampling->setChannelChecked(i + 1, channelBoxes.at(i)->isChecked());
    sampling->UpdateChannelMask();
}

void TForm1::applySeriesColor(int index)
{
    const QColor color = colorFromValue(swatches.at(index)->colorValue());
    series(ChannelId(index))->setSeriesColor(swatches.at(index)->colorValue() & 0xFFFFFF);
    QCheckBox *box = channelBoxes.at(index);
    // Text stays readable on dark channel colours.
    const QColor text = color.lightness() < 110 ? Qt::white : Qt::black;
    box->setStyleSheet(QStringLiteral("QCheckBox { background-color: %1; color: %2; }")
                           .arg(color.name(), text.name()));
    box->setProperty("channelColor", color);
}

void TForm1::swatchClick(ChannelId channel)
{
    const std::optional<QColor> chosen = chooseColor(m_lastChosenColor);
    if (!chosen || !chosen->isValid())
        return;
    m_lastChosenColor = *chosen;
    swatches.at(int(channel))->setColorValue(valueFromColor(*chosen));
    applySeriesColor(int(channel));
}

} // namespace app
