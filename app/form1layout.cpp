#include "acquisition/samplingparameters.h"
#include "app/contexthelp.h"
#include "app/form1.h"
#include "app/icons.h"
#include "app/regionpanel.h"
#include "app/spinedit.h"
#include "app/statusbar.h"
#include "channelchart/channelchart.h"
#include "chart/chart.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <array>

namespace app {

namespace {

QString ChooseFCaption()
{
    return QCoreApplication::translate("app::TForm1", "Выбор F/T");
}

QString OptionsCaption()
{
    return QCoreApplication::translate("app::TForm1", "Отображение");
}

QString MeasureHint()
{
    return QCoreApplication::translate("app::TForm1", "Считать данные из памяти платы АЦП");
}

const QColor Olive(128, 128, 0);

template <class W> W *make(QWidget *parent, const char *name, int x, int y, int w, int h)
{
    auto *widget = new W(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

// The object name of a channel's control: the prefix, then the channel's name (cbT1, pFD).
QByteArray channelControlName(const char *prefix, files::ChannelId channel)
{
    return QByteArray(prefix) + files::channelName(channel);
}

// The text of a channel's check box and the hint of its swatch.
QString channelCaption(files::ChannelId channel)
{
    return channel == files::ChannelId::FD ? QCoreApplication::translate("app::TForm1", "Фотодиод")
                                           : QString::fromLatin1(files::channelName(channel));
}

QLabel *label(QWidget *parent, const QString &text, int x, int y, int w = -1, int h = 16)
{
    auto *l = new QLabel(text, parent);
    // The designed width, or the text's in the window's font where that is wider (a
    // translated caption).
    w = std::max(w, l->sizeHint().width());
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

// ---------------------------------------------------------------------------------------
// Controls

void TForm1::createControls()
{
    createHeaderAndToolBars();
    createCommentAndChart();
    createChannelPanel();
    status = make<StatusBar>(this, "status", 0, 506, 761, StatusBar::Height);
    status->setToolTip(tr("Щелкнуть для отображения/скрытия X,Y и цифровых сигналов"));
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
        std::pair { tr("Файл"), 194 },
        std::pair { tr("Управление контроллером"), 384 },
        std::pair { tr("Опции"), 100 },
    };
    for (const auto &[text, width] : sections) {
        QLabel *l = label(Header, text, x, 0, width, 17);
        l->setAlignment(Qt::AlignCenter);
        l->setFrameStyle(QFrame::Panel | QFrame::Raised);
        if (x == 0)
            l->setObjectName(QStringLiteral("lbFileMenu"));
        else if (x == 194)
            l->setObjectName(QStringLiteral("lbControlMenu"));
        x += width;
    }

    ctlBar = make<QWidget>(this, "ctlBar", 0, 16, 681, 41);
    ctlBar->installEventFilter(this);

    tbFile = toolBar(ctlBar, "tbFile", 2, 190);
    btSave = toolButton(tbFile, "btSave", {}, tr("Сохранить данные в файл"), Picture::Save);
    btLoadFile = toolButton(tbFile, "btLoadFile", {}, tr("Открыть файл данных"), Picture::Open);
    btCopy = toolButton(
        tbFile, "btCopy", {}, tr("Копировать комментарий в буфер обмена"), Picture::CopyText);
    btShowCmnt = toolButton(tbFile, "btShowCmnt", {},
        tr("Просмотреть комментарии ко всем  файлам в папке"), Picture::Catalogue);
    btPrevFile
        = toolButton(tbFile, "btPrevFile", {}, tr("Предыдущий файл в папке"), Picture::Previous);
    btNextFile = toolButton(tbFile, "btNextFile", {}, tr("Следующий файл в папке"), Picture::Next);
    btPrint = toolButton(tbFile, "btPrint", {}, {}, Picture::Print);
    btShowCmnt->setEnabled(false);
    btPrevFile->setEnabled(false);
    btNextFile->setEnabled(false);

    ToolBar8 = toolBar(ctlBar, "ToolBar8", 194, 384);
    btUSB = toolButton(ToolBar8, "btUSB", {}, tr("Подключить АЦП к компьютеру"), Picture::Usb);
    btExtrn
        = toolButton(ToolBar8, "btExtrn", {}, tr("Внешний запуск по фронту"), Picture::RisingEdge);
    btChooseF = toolButton(ToolBar8, "btChooseF", ChooseFCaption(),
        tr("Выбрать частоту выборки / время измерения"), {});
    btStartPlus = toolButton(ToolBar8, "btStartPlus", tr("ПУСК ИЗМЕРЕНИЯ"), MeasureHint(), {});
    btCycle = toolButton(ToolBar8, "btCycle", tr("ЦИКЛ"), MeasureHint(), {});
    bt500plus = toolButton(ToolBar8, "bt500plus", tr("500 байт"), MeasureHint(), {});

    tbOptions = toolBar(ctlBar, "tbOptions", 580, 98);
    btOptions = toolButton(tbOptions, "btOptions", OptionsCaption(),
        tr("Режимы измерения, сохранения, сглаживания"), {});

    // The title bar's help button is not available on every desktop: "?" does its work.
    btHelp = make<QToolButton>(this, "btHelp", 684, 25, 23, 21);
    btHelp->setIcon(pictureIcon(Picture::Help));
    btHelp->setToolTip(tr("Справка: щелкните затем по элементу окна"));

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
    gbFile->setTitle(tr("Комментарий"));
    mComment = make<QPlainTextEdit>(gbFile, "mComment", 8, 16, 553, 33);
    mComment->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    // The chart: eight channel series on a face-coloured panel without margins.
    Chart1 = make<chart::TChart>(this, "Chart1", 0, 112, 641, 353);
    Chart1->setToolTip(tr("См. Flash-ролик GrafTour о масштабировании и прокрутке графика"));
    Chart1->setColor(palette().color(QPalette::Window));
    chart::setUpChannelChart(*Chart1);
    pmChart = new QMenu(this);
    pmChart->setObjectName(QStringLiteral("pmChart"));
    QAction *copy = pmChart->addAction(tr("Копировать"));
    connect(copy, &QAction::triggered, this, &TForm1::copyChartRequested);
    // The readout's switch, also where the chart is (a click on the status bar is the other).
    QAction *readout = pmChart->addAction(tr("Показывать X, Y под курсором"));
    readout->setObjectName(QStringLiteral("actReadout"));
    readout->setCheckable(true);
    connect(readout, &QAction::triggered, this, &TForm1::statusClick);
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
    QLabel *duration = label(Panel1, tr("Продолжительность:"), 10, 8);
    // The values start right of the widest caption, whatever the font.
    const int valueX = std::max(130, duration->x() + duration->width() + 8);
    lAll = make<QLabel>(Panel1, "lAll", valueX, 8, 60, 16);
    label(Panel1, tr("Прошло:"), 10, 24);
    lElapsed = make<QLabel>(Panel1, "lElapsed", valueX, 24, 60, 16);
    lbPercent = make<QLabel>(Panel1, "lbPercent", valueX + 70, 24, 50, 16);
    label(Panel1, tr("Осталось:"), 10, 40);
    lRest = make<QLabel>(Panel1, "lRest", valueX, 40, 60, 16);
    lbRestPercent = make<QLabel>(Panel1, "lbRestPercent", valueX + 70, 40, 50, 16);
    progressBar = make<QProgressBar>(Panel1, "progressBar", 10, 57, 727, 16);
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    progressBar->setTextVisible(false);
    Panel1->hide();

    // Comment catalogue, laid over the chart.
    gbAllCmnt = make<QGroupBox>(Chart1, "gbAllCmnt", 0, 0, 569, 353);
    gbAllCmnt->setTitle(tr("Для открытия файла выполните двойной щелчок по любому "
                           "слову в комментарии, относящемся к выбираемому файлу:"));
    gbAllCmnt->setAutoFillBackground(true);
    MAllCmnt = make<QPlainTextEdit>(gbAllCmnt, "MAllCmnt", 8, 18, 553, 290);
    MAllCmnt->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MAllCmnt->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    pSearch = make<QFrame>(gbAllCmnt, "pSearch", 10, 319, 549, 29);
    static_cast<QFrame *>(pSearch)->setFrameStyle(QFrame::Panel | QFrame::Raised);
    label(pSearch, tr("ИСКАТЬ "), 6, 6, -1, 17);
    eFind = make<QLineEdit>(pSearch, "eFind", 58, 4, 150, 21);
    eFind->setToolTip(tr("Введите слово или его фрагмент, который необходимо "
                         "разыскать в комментариях ко всем файлам папки"));
    chkCaps = make<QCheckBox>(pSearch, "chkCaps", 214, 6, 70, 17);
    chkCaps->setText(tr("регистр"));
    chkCaps->setToolTip(tr("Поставьте галочку, если при поиске надо учитывать регистр"));
    btFind = make<QPushButton>(pSearch, "btFind", 288, 3, 56, 23);
    btFind->setText(tr("Поиск"));
    btFind->setToolTip(tr("Старт поиска"));
    btOpenFind = make<QPushButton>(pSearch, "btOpenFind", 348, 3, 96, 23);
    btOpenFind->setText(tr("Открыть файл"));
    btOpenFind->setToolTip(tr("Открыть файл, на тексте комментария которого установлен курсор"));
    btPath = make<QPushButton>(pSearch, "btPath", 448, 3, 52, 23);
    btPath->setText(tr("Папка"));
    btPath->setToolTip(tr("Выбрать папку"));
    btCancel = make<QPushButton>(pSearch, "btCancel", 504, 3, 70, 23);
    btCancel->setText(tr("Отменить"));
    btCancel->setToolTip(tr("Вернуться к последнему графику"));
    // Each keeps its width unless its caption needs more, 4 pixels after the one before.
    int searchX = chkCaps->x();
    for (QWidget *w :
        std::initializer_list<QWidget *> { chkCaps, btFind, btOpenFind, btPath, btCancel }) {
        w->setGeometry(searchX, w->y(), std::max(w->width(), w->sizeHint().width()), w->height());
        searchX = w->x() + w->width() + 4;
    }
    gbAllCmnt->hide();

    btSaveChart = make<QToolButton>(Chart1, "btSaveChart", 11, 330, 25, 21);
    btSaveChart->setIcon(pictureIcon(Picture::CopyChart));
    btSaveChart->setToolTip(tr("Копировать график в буфер обмена (рисунок SVG и PNG)"));
    connect(btSaveChart, &QToolButton::clicked, this, &TForm1::copyChartRequested);
}

void TForm1::createChannelPanel()
{
    pChannels = make<QFrame>(this, "pChannels", 0, 465, 641, 38);
    QLabel *caption = label(pChannels, tr("Отобразить КАНАЛЫ"), 4, 11);
    int x = caption->x() + caption->width() + 8;
    for (int i = 0; i < files::ChannelCount; ++i) {
        const auto channel = files::ChannelId(i);
        QCheckBox *box = make<QCheckBox>(pChannels, channelControlName("cb", channel).constData(),
            x, 9, channel == files::ChannelId::FD ? 80 : 40, 20);
        box->setText(channelCaption(channel));
        // As designed for the Russian caption, wider where a translated one needs it.
        const int w = std::max(box->width(), box->sizeHint().width());
        box->resize(w, box->height());
        box->setChecked(true);
        box->setAutoFillBackground(true);
        channelBoxes.at(i) = box;
        connect(box, &QCheckBox::toggled, this, [this, channel](bool) { channelClick(channel); });
        x += w + 4;
    }
}

void TForm1::createOptionsPanel()
{
    gbOptions = make<QGroupBox>(this, "gbOptions", 0, 48, 682, 113);
    gbOptions->setTitle(tr("Опции"));
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

    QGroupBox *axes = group("gbAxes", tr("Оси графика"), 4, 16, 214);
    cbShowK = make<QComboBox>(axes, "cbShowK", 6, 18, 202, 22);
    cbShowK->addItems(
        { tr("Ось Y:ЗНАЧЕНИЯ, ось X: ВРЕМЯ"), tr("Ось Y: ед.АЦП,      ось X: ВЫБОРКИ"),
            tr("Ось Y:ЗНАЧЕНИЯ, ось X: ВЫБОРКИ"), tr("Ось Y: ед.АЦП,      ось X: ВРЕМЯ") });
    connect(cbShowK, &QComboBox::activated, this, &TForm1::chartRebuildRequested);
    // The box is as wide as its longest mode in the window's font; the extra width comes
    // from the colour group, whose swatches move closer (down to 16 pixels apart).
    const int extra = std::clamp(
        cbShowK->sizeHint().width() - cbShowK->width(), 0, 216 - (files::ChannelCount * 16 + 8));
    cbShowK->resize(cbShowK->width() + extra, cbShowK->height());
    axes->resize(axes->width() + extra, axes->height());

    QGroupBox *colours
        = group("gbColors", tr("ЦВЕТ канала на графике"), 222 + extra, 16, 216 - extra);
    // A swatch per channel, 6 pixels in from either side, at most 22 wide and 26 apart.
    const int stride = std::min(26, (colours->width() - 12 + 4) / files::ChannelCount);
    const int swatch = std::min(22, stride - 4);
    for (int i = 0; i < files::ChannelCount; ++i) {
        const auto channel = files::ChannelId(i);
        ColorPanel *p = make<ColorPanel>(
            colours, channelControlName("p", channel).constData(), 6 + i * stride, 18, swatch, 22);
        p->setToolTip(channelCaption(channel));
        swatches.at(i) = p;
        connect(p, &ColorPanel::clicked, this, [this, channel] { swatchClick(channel); });
    }

    QGroupBox *integrate = group("gbIntegrate", tr("Интегрирование"), 442, 16, 110);
    cbInt = make<QCheckBox>(integrate, "cbInt", 6, 20, 36, 18);
    cbInt->setText(tr("по"));
    cbInt->resize(std::max(cbInt->width(), cbInt->sizeHint().width()), cbInt->height());
    connect(cbInt, &QCheckBox::clicked, this, &TForm1::chartRebuildRequested);
    // The field follows the box and keeps 6 pixels from the group's right edge.
    const int intX = std::max(44, cbInt->x() + cbInt->width() + 2);
    seInt = spin(
        integrate, "seInt", intX, 18, std::min(60, integrate->width() - 6 - intX), 2, 2048, 8);

    QGroupBox *units = group("gbUnits", tr("Время в    Диапазон"), 556, 16, 122);
    cbXscale = make<QComboBox>(units, "cbXscale", 6, 18, 52, 22);
    cbXscale->addItems({ tr("мкс"), tr("мс"), tr("с") });
    connect(cbXscale, &QComboBox::activated, this, &TForm1::chartRebuildRequested);
    cbTrng = make<QComboBox>(units, "cbTrng", 62, 18, 56, 22);
    cbTrng->addItems({ QStringLiteral("250°"), QStringLiteral("500°") });

    QGroupBox *step = group("gbFstep", tr("Дискретность изменения Fвыборки, Гц"), 4, 63, 254);
    seFstep = spin(step, "seFstep", 6, 18, 80, 1, 50000, 1);
    btTune = make<QPushButton>(step, "btTune", 110, 17, 120, 24);
    btTune->setText(TuneCaption());
    btTune->resize(std::max(btTune->width(), btTune->sizeHint().width()), btTune->height());
    connect(btTune, &QPushButton::clicked, this, &TForm1::btTuneClick);

    QGroupBox *cycle = group("gbCycle", tr("ЦИКЛ: показать"), 262, 63, 290);
    QLabel *every = label(cycle, tr("каждую"), 6, 21);
    const int spinX = every->x() + every->width() + 3;
    sePointChart = spin(cycle, "sePointChart", spinX, 18, 50, 1, 30000, 1);
    QLabel *nth = label(cycle, tr("-ю"), spinX + 52, 21);
    QLabel *point = label(cycle, tr("точку"), nth->x() + nth->width() + 3, 21);
    // The two boxes take the rest of the group, so their captions are not cut.
    const int boxX = point->x() + point->width() + 4;
    const int boxWidth = cycle->width() - boxX - 2;
    cbChartClear = make<QCheckBox>(cycle, "cbChartClear", boxX, 12, boxWidth, 17);
    cbChartClear->setText(tr("Очищать график"));
    cbChartClear->setChecked(true);
    cb1file = make<QCheckBox>(cycle, "cb1file", boxX, 28, boxWidth, 17);
    cb1file->setText(tr("В один файл"));

    QGroupBox *yAxis = group("gbYAxis", tr("Ось Т°"), 556, 63, 122);
    seYmax = spin(yAxis, "seYmax", 6, 18, 54, 0, 500, 70);
    seYmin = spin(yAxis, "seYmin", 62, 18, 54, 0, 500, 0);
    seYmax->setToolTip(tr("Верхний предел оси температуры"));
    seYmin->setToolTip(tr("Нижний предел оси температуры"));
    for (SpinEdit *s : { seYmax, seYmin })
        connect(s, &SpinEdit::userLeft, sampling, &acquisition::SamplingParameters::seFstepExit);

    gbOptions->hide();
}

void TForm1::createFrequencyPanel()
{
    gbFT = make<QGroupBox>(this, "gbFT", 88, 72, 217, 337);
    gbFT->setTitle(tr("Частота выборки / Время измерения"));
    gbFT->setAutoFillBackground(true);

    label(gbFT, tr("Fвыборки, Гц"), 8, 24, 104);
    seF = spin(gbFT, "seF", 112, 20, 97, 75, 546133, 2400);
    seF->setToolTip(tr("Допустимый диапазон: 75Гц...546133Гц"));
    label(gbFT, tr("Тизмерения, мс"), 8, 50, 104);
    seTime = spin(gbFT, "seTime", 112, 46, 97, 439, 3212842, 100000);
    seTime->setToolTip(tr("Максимальное время 3212,842с."));
    label(gbFT, tr("Число выборок в серии"), 8, 72, 200);
    seSamples = spin(gbFT, "seSamples", 112, 88, 97, 30000, 240000, 240000);
    seSamples->setIncrement(30000);
    seSamples->setDiscardTyping(true);
    seSamples->setToolTip(tr("От 30000 до 240000, шаг изменения 30000"));
    cbAvgMC = make<QCheckBox>(gbFT, "cbAvgMC", 6, 118, 209, 22);
    cbAvgMC->setText(tr("Усреднять по 16-ти выборкам в МК"));
    QFont narrow = font();
    narrow.setPointSizeF(7);
    cbAvgMC->setFont(narrow);

    lErrIn = make<QLabel>(gbFT, "lErrIn", 8, 146, 201, 16);
    {
        QPalette pal = lErrIn->palette();
        pal.setColor(QPalette::WindowText, colorFromValue(0x000000FF));
        lErrIn->setPalette(pal);
        QFont bold = lErrIn->font();
        bold.setBold(true);
        lErrIn->setFont(bold);
    }
    lErrIn->hide();

    QLabel *trueValues = label(gbFT, tr("ИСТИННЫЕ ЗНАЧЕНИЯ:"), 8, 166, 201);
    trueValues->setObjectName(QStringLiteral("lbTrue"));
    lbF = make<QLabel>(gbFT, "lbF", 6, 184, 209, 16);
    lbT = make<QLabel>(gbFT, "lbT", 6, 200, 209, 16);
    lbMinutes = make<QLabel>(gbFT, "lbMinutes", 6, 216, 209, 16);
    lbDly = make<QLabel>(gbFT, "lbDly", 6, 232, 209, 16);
    lbFchnl = make<QLabel>(gbFT, "lbFchnl", 6, 248, 209, 16);
    for (QLabel *value : { lbF, lbT, lbMinutes, lbDly, lbFchnl })
        value->setFont(narrow);

    btStart = make<QPushButton>(gbFT, "btStart", 8, 270, 201, 30);
    btStart->setText(tr("ПУСК ИЗМЕРЕНИЯ"));
    btStart->setToolTip(MeasureHint());
    btStart->installEventFilter(this);
    bt500 = make<QPushButton>(gbFT, "bt500", 8, 304, 201, 25);
    bt500->setText(tr("500 байт"));
    bt500->setToolTip(MeasureHint());
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
    if (extra == QSize(0, 0) || m_frameSeen)
        return;
    // A maximised window has the screen's size: the stored size is taken once it is not.
    if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    // Once: the frame is known now, and a later size is the user's.
    m_frameSeen = true;
    if (m_requestedOuter.isValid() && QSize(windowWidth(), windowHeight()) != m_requestedOuter) {
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
    }

}

void TForm1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // A window manager that frames the window late (after it was shown) tells of its frame
    // with a move or a resize: the stored outer size is taken then.
    applyRequestedOuterSize();
    FormResize();
    noteNormalGeometry();
}

void TForm1::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    applyRequestedOuterSize();
    noteNormalGeometry();
}

void TForm1::noteNormalGeometry()
{
    if (isVisible() && m_framed && !(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        m_normalOuter = QRect(x(), y(), windowWidth(),
            windowHeight() - (regionPanel ? regionPanel->windowGrowth() : 0));
}

void TForm1::FormResize()
{
    if (!Chart1)
        return;
    const int chartWidth = windowWidth() - ChartWidthMargin;
    // The margins count the frame of the window; the desktop's frame may be taller than the
    // one they were made for. The channel row and the status bar below the chart are never
    // covered: the chart ends where they begin.
    const int statusTop = height() - StatusBar::Height;
    const int room
        = std::min(windowHeight() - ChartHeightMargin, statusTop - ChannelsBand - Chart1->y());
    // The cursors' panel, while shown, takes its height from the bottom of the chart's.
    const int panelHeight = regionPanel ? regionPanel->heightIn(std::max(0, room)) : 0;
    const int chartHeight = room - panelHeight;
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
    status->setGeometry(0, statusTop, width(), StatusBar::Height);
    if (regionPanel)
        regionPanel->setGeometry(0, Chart1->y() + h, w, panelHeight);
    const int channelsTop = std::min(Chart1->y() + h + panelHeight, statusTop - ChannelsBand);
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

} // namespace app
