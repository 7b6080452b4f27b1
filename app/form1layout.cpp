#include "acquisition/samplingparameters.h"
#include "app/contexthelp.h"
#include "app/form1.h"
#include "app/form1ui.h"
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

// A tool bar's button: a picture or a caption, both its command's (form1actions.cpp).
enum class Face { Picture, Caption };

QToolButton *toolButton(QToolBar *bar, const char *name, Face face)
{
    auto *button = new QToolButton(bar);
    button->setObjectName(QString::fromLatin1(name));
    if (face == Face::Picture) {
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        button->setFixedSize(23, 21);
    } else {
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setFixedHeight(21);
    }
    button->setAutoRaise(false);
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
    ui->status = make<StatusBar>(this, "status", 0, 506, 761, StatusBar::Height);
    ui->status->setToolTip(tr("Щелкнуть для отображения/скрытия X,Y и цифровых сигналов"));
    createOptionsPanel();
    createFrequencyPanel();
    ui->mClipBoard = make<QPlainTextEdit>(this, "mClipBoard", 0, 0, 10, 10);
    ui->mClipBoard->hide();
}

void TForm1::createHeaderAndToolBars()
{
    ui->Header = make<QWidget>(this, "Header", 0, 0, 753, 17);
    int x = 0;
    const std::array<std::pair<QString, int>, 3> sections {
        std::pair { tr("Файл"), 194 },
        std::pair { tr("Управление контроллером"), 384 },
        std::pair { tr("Опции"), 100 },
    };
    for (const auto &[text, width] : sections) {
        QLabel *l = label(ui->Header, text, x, 0, width, 17);
        l->setAlignment(Qt::AlignCenter);
        l->setFrameStyle(QFrame::Panel | QFrame::Raised);
        if (x == 0)
            l->setObjectName(QStringLiteral("lbFileMenu"));
        else if (x == 194)
            l->setObjectName(QStringLiteral("lbControlMenu"));
        x += width;
    }

    ui->ctlBar = make<QWidget>(this, "ctlBar", 0, 16, 681, 41);

    Form1Ui &u = *ui;
    u.tbFile = toolBar(u.ctlBar, "tbFile", 2, 190);
    u.ToolBar8 = toolBar(u.ctlBar, "ToolBar8", 194, 384);
    u.tbOptions = toolBar(u.ctlBar, "tbOptions", 580, 98);
    const struct
    {
        QToolButton *&button;
        QToolBar *bar;
        const char *name;
        Face face;
    } buttons[] = {
        { u.btSave, u.tbFile, "btSave", Face::Picture },
        { u.btLoadFile, u.tbFile, "btLoadFile", Face::Picture },
        { u.btCopy, u.tbFile, "btCopy", Face::Picture },
        { u.btShowCmnt, u.tbFile, "btShowCmnt", Face::Picture },
        { u.btPrevFile, u.tbFile, "btPrevFile", Face::Picture },
        { u.btNextFile, u.tbFile, "btNextFile", Face::Picture },
        { u.btPrint, u.tbFile, "btPrint", Face::Picture },
        { u.btUSB, u.ToolBar8, "btUSB", Face::Picture },
        { u.btExtrn, u.ToolBar8, "btExtrn", Face::Picture },
        { u.btChooseF, u.ToolBar8, "btChooseF", Face::Caption },
        { u.btStartPlus, u.ToolBar8, "btStartPlus", Face::Caption },
        { u.btCycle, u.ToolBar8, "btCycle", Face::Caption },
        { u.bt500plus, u.ToolBar8, "bt500plus", Face::Caption },
        { u.btOptions, u.tbOptions, "btOptions", Face::Caption },
    };
    for (const auto &b : buttons)
        b.button = toolButton(b.bar, b.name, b.face);

    // The title bar's help button is not available on every desktop: "?" does its work.
    u.btHelp = make<QToolButton>(this, "btHelp", 684, 25, 23, 21);
}

void TForm1::createCommentAndChart()
{
    ui->gbFile = make<QGroupBox>(this, "gbFile", 0, 56, 569, 57);
    ui->gbFile->setTitle(tr("Комментарий"));
    ui->mComment = make<QPlainTextEdit>(ui->gbFile, "mComment", 8, 16, 553, 33);
    ui->mComment->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    // The chart: eight channel series on a face-coloured panel without margins.
    ui->Chart1 = make<chart::TChart>(this, "Chart1", 0, 112, 641, 353);
    ui->Chart1->setToolTip(tr("См. Flash-ролик GrafTour о масштабировании и прокрутке графика"));
    ui->Chart1->setColor(palette().color(QPalette::Window));
    chart::setUpChannelChart(*ui->Chart1);
    ui->pmChart = new QMenu(this);
    ui->pmChart->setObjectName(QStringLiteral("pmChart"));
    // The right button also scrolls the chart: the menu opens only on a click without a drag
    // (form1actions.cpp).
    ui->Chart1->setContextMenuPolicy(Qt::PreventContextMenu);

    // Progress panel.
    auto *progress = make<QFrame>(ui->Chart1, "Panel1", 0, 0, 625, 81);
    progress->setFrameStyle(QFrame::Panel | QFrame::Raised);
    progress->setAutoFillBackground(true);
    // The window's font, not the chart's label font it would otherwise inherit.
    progress->setFont(font());
    ui->Panel1 = progress;
    QLabel *duration = label(ui->Panel1, tr("Продолжительность:"), 10, 8);
    // The values start right of the widest caption, whatever the font.
    const int valueX = std::max(130, duration->x() + duration->width() + 8);
    ui->lAll = make<QLabel>(ui->Panel1, "lAll", valueX, 8, 60, 16);
    label(ui->Panel1, tr("Прошло:"), 10, 24);
    ui->lElapsed = make<QLabel>(ui->Panel1, "lElapsed", valueX, 24, 60, 16);
    ui->lbPercent = make<QLabel>(ui->Panel1, "lbPercent", valueX + 70, 24, 50, 16);
    label(ui->Panel1, tr("Осталось:"), 10, 40);
    ui->lRest = make<QLabel>(ui->Panel1, "lRest", valueX, 40, 60, 16);
    ui->lbRestPercent = make<QLabel>(ui->Panel1, "lbRestPercent", valueX + 70, 40, 50, 16);
    ui->progressBar = make<QProgressBar>(ui->Panel1, "progressBar", 10, 57, 727, 16);
    ui->progressBar->setRange(0, 100);
    ui->progressBar->setValue(0);
    ui->progressBar->setTextVisible(false);
    ui->Panel1->hide();

    // Comment catalogue, laid over the chart.
    ui->gbAllCmnt = make<QGroupBox>(ui->Chart1, "gbAllCmnt", 0, 0, 569, 353);
    ui->gbAllCmnt->setTitle(tr("Для открытия файла выполните двойной щелчок по любому "
                               "слову в комментарии, относящемся к выбираемому файлу:"));
    ui->gbAllCmnt->setAutoFillBackground(true);
    ui->MAllCmnt = make<QPlainTextEdit>(ui->gbAllCmnt, "MAllCmnt", 8, 18, 553, 290);
    ui->MAllCmnt->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ui->MAllCmnt->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    ui->pSearch = make<QFrame>(ui->gbAllCmnt, "pSearch", 10, 319, 549, 29);
    static_cast<QFrame *>(ui->pSearch)->setFrameStyle(QFrame::Panel | QFrame::Raised);
    label(ui->pSearch, tr("ИСКАТЬ "), 6, 6, -1, 17);
    ui->eFind = make<QLineEdit>(ui->pSearch, "eFind", 58, 4, 150, 21);
    ui->eFind->setToolTip(tr("Введите слово или его фрагмент, который необходимо "
                             "разыскать в комментариях ко всем файлам папки"));
    ui->chkCaps = make<QCheckBox>(ui->pSearch, "chkCaps", 214, 6, 70, 17);
    ui->chkCaps->setText(tr("регистр"));
    ui->chkCaps->setToolTip(tr("Поставьте галочку, если при поиске надо учитывать регистр"));
    ui->btFind = make<QPushButton>(ui->pSearch, "btFind", 288, 3, 56, 23);
    ui->btFind->setText(tr("Поиск"));
    ui->btFind->setToolTip(tr("Старт поиска"));
    ui->btOpenFind = make<QPushButton>(ui->pSearch, "btOpenFind", 348, 3, 96, 23);
    ui->btOpenFind->setText(tr("Открыть файл"));
    ui->btOpenFind->setToolTip(
        tr("Открыть файл, на тексте комментария которого установлен курсор"));
    ui->btPath = make<QPushButton>(ui->pSearch, "btPath", 448, 3, 52, 23);
    ui->btPath->setText(tr("Папка"));
    ui->btPath->setToolTip(tr("Выбрать папку"));
    ui->btCancel = make<QPushButton>(ui->pSearch, "btCancel", 504, 3, 70, 23);
    ui->btCancel->setText(tr("Отменить"));
    ui->btCancel->setToolTip(tr("Вернуться к последнему графику"));
    // Each keeps its width unless its caption needs more, 4 pixels after the one before.
    int searchX = ui->chkCaps->x();
    for (QWidget *w : std::initializer_list<QWidget *> {
             ui->chkCaps, ui->btFind, ui->btOpenFind, ui->btPath, ui->btCancel }) {
        w->setGeometry(searchX, w->y(), std::max(w->width(), w->sizeHint().width()), w->height());
        searchX = w->x() + w->width() + 4;
    }
    ui->gbAllCmnt->hide();

    ui->btSaveChart = make<QToolButton>(ui->Chart1, "btSaveChart", 11, 330, 25, 21);
}

void TForm1::createChannelPanel()
{
    ui->pChannels = make<QFrame>(this, "pChannels", 0, 465, 641, 38);
    QLabel *caption = label(ui->pChannels, tr("Отобразить КАНАЛЫ"), 4, 11);
    int x = caption->x() + caption->width() + 8;
    for (int i = 0; i < files::ChannelCount; ++i) {
        const auto channel = files::ChannelId(i);
        QCheckBox *box
            = make<QCheckBox>(ui->pChannels, channelControlName("cb", channel).constData(), x, 9,
                channel == files::ChannelId::FD ? 80 : 40, 20);
        box->setText(channelCaption(channel));
        // As designed for the Russian caption, wider where a translated one needs it.
        const int w = std::max(box->width(), box->sizeHint().width());
        box->resize(w, box->height());
        box->setChecked(true);
        box->setAutoFillBackground(true);
        ui->channelBoxes.at(i) = box;
        x += w + 4;
    }
}

void TForm1::createOptionsPanel()
{
    ui->gbOptions = make<QGroupBox>(this, "gbOptions", 0, 48, 682, 113);
    ui->gbOptions->setTitle(tr("Опции"));
    ui->gbOptions->setAutoFillBackground(true);
    QPalette pal = ui->gbOptions->palette();
    pal.setColor(QPalette::Window, Olive);
    ui->gbOptions->setPalette(pal);

    auto group = [this](const char *name, const QString &title, int x, int y, int w) {
        QGroupBox *g = make<QGroupBox>(ui->gbOptions, name, x, y, w, 46);
        g->setTitle(title);
        return g;
    };

    QGroupBox *axes = group("gbAxes", tr("Оси графика"), 4, 16, 214);
    ui->cbShowK = make<QComboBox>(axes, "cbShowK", 6, 18, 202, 22);
    ui->cbShowK->addItems(
        { tr("Ось Y:ЗНАЧЕНИЯ, ось X: ВРЕМЯ"), tr("Ось Y: ед.АЦП,      ось X: ВЫБОРКИ"),
            tr("Ось Y:ЗНАЧЕНИЯ, ось X: ВЫБОРКИ"), tr("Ось Y: ед.АЦП,      ось X: ВРЕМЯ") });
    // The box is as wide as its longest mode in the window's font; the extra width comes
    // from the colour group, whose swatches move closer (down to 16 pixels apart).
    const int extra = std::clamp(ui->cbShowK->sizeHint().width() - ui->cbShowK->width(), 0,
        216 - (files::ChannelCount * 16 + 8));
    ui->cbShowK->resize(ui->cbShowK->width() + extra, ui->cbShowK->height());
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
        ui->swatches.at(i) = p;
    }

    QGroupBox *integrate = group("gbIntegrate", tr("Интегрирование"), 442, 16, 110);
    ui->cbInt = make<QCheckBox>(integrate, "cbInt", 6, 20, 36, 18);
    ui->cbInt->setText(tr("по"));
    ui->cbInt->resize(
        std::max(ui->cbInt->width(), ui->cbInt->sizeHint().width()), ui->cbInt->height());
    // The field follows the box and keeps 6 pixels from the group's right edge.
    const int intX = std::max(44, ui->cbInt->x() + ui->cbInt->width() + 2);
    ui->seInt = spin(
        integrate, "seInt", intX, 18, std::min(60, integrate->width() - 6 - intX), 2, 2048, 8);

    QGroupBox *units = group("gbUnits", tr("Время в    Диапазон"), 556, 16, 122);
    ui->cbXscale = make<QComboBox>(units, "cbXscale", 6, 18, 52, 22);
    ui->cbXscale->addItems({ tr("мкс"), tr("мс"), tr("с") });
    ui->cbTrng = make<QComboBox>(units, "cbTrng", 62, 18, 56, 22);
    ui->cbTrng->addItems({ QStringLiteral("250°"), QStringLiteral("500°") });

    QGroupBox *step = group("gbFstep", tr("Дискретность изменения Fвыборки, Гц"), 4, 63, 254);
    ui->seFstep = spin(step, "seFstep", 6, 18, 80, 1, 50000, 1);
    ui->btTune = make<QPushButton>(step, "btTune", 110, 17, 120, 24);
    ui->btTune->setText(TuneCaption());
    ui->btTune->resize(
        std::max(ui->btTune->width(), ui->btTune->sizeHint().width()), ui->btTune->height());

    QGroupBox *cycle = group("gbCycle", tr("ЦИКЛ: показать"), 262, 63, 290);
    QLabel *every = label(cycle, tr("каждую"), 6, 21);
    const int spinX = every->x() + every->width() + 3;
    ui->sePointChart = spin(cycle, "sePointChart", spinX, 18, 50, 1, 30000, 1);
    QLabel *nth = label(cycle, tr("-ю"), spinX + 52, 21);
    QLabel *point = label(cycle, tr("точку"), nth->x() + nth->width() + 3, 21);
    // The two boxes take the rest of the group, so their captions are not cut.
    const int boxX = point->x() + point->width() + 4;
    const int boxWidth = cycle->width() - boxX - 2;
    ui->cbChartClear = make<QCheckBox>(cycle, "cbChartClear", boxX, 12, boxWidth, 17);
    ui->cbChartClear->setText(tr("Очищать график"));
    ui->cbChartClear->setChecked(true);
    ui->cb1file = make<QCheckBox>(cycle, "cb1file", boxX, 28, boxWidth, 17);
    ui->cb1file->setText(tr("В один файл"));

    QGroupBox *yAxis = group("gbYAxis", tr("Ось Т°"), 556, 63, 122);
    ui->seYmax = spin(yAxis, "seYmax", 6, 18, 54, 0, 500, 70);
    ui->seYmin = spin(yAxis, "seYmin", 62, 18, 54, 0, 500, 0);
    ui->seYmax->setToolTip(tr("Верхний предел оси температуры"));
    ui->seYmin->setToolTip(tr("Нижний предел оси температуры"));

    ui->gbOptions->hide();
}

void TForm1::createFrequencyPanel()
{
    ui->gbFT = make<QGroupBox>(this, "gbFT", 88, 72, 217, 337);
    ui->gbFT->setTitle(tr("Частота выборки / Время измерения"));
    ui->gbFT->setAutoFillBackground(true);

    label(ui->gbFT, tr("Fвыборки, Гц"), 8, 24, 104);
    ui->seF = spin(ui->gbFT, "seF", 112, 20, 97, 75, 546133, 2400);
    ui->seF->setToolTip(tr("Допустимый диапазон: 75Гц...546133Гц"));
    label(ui->gbFT, tr("Тизмерения, мс"), 8, 50, 104);
    ui->seTime = spin(ui->gbFT, "seTime", 112, 46, 97, 439, 3212842, 100000);
    ui->seTime->setToolTip(tr("Максимальное время 3212,842с."));
    label(ui->gbFT, tr("Число выборок в серии"), 8, 72, 200);
    ui->seSamples = spin(ui->gbFT, "seSamples", 112, 88, 97, 30000, 240000, 240000);
    ui->seSamples->setIncrement(30000);
    ui->seSamples->setDiscardTyping(true);
    ui->seSamples->setToolTip(tr("От 30000 до 240000, шаг изменения 30000"));
    ui->cbAvgMC = make<QCheckBox>(ui->gbFT, "cbAvgMC", 6, 118, 209, 22);
    ui->cbAvgMC->setText(tr("Усреднять по 16-ти выборкам в МК"));
    QFont narrow = font();
    narrow.setPointSizeF(7);
    ui->cbAvgMC->setFont(narrow);

    ui->lErrIn = make<QLabel>(ui->gbFT, "lErrIn", 8, 146, 201, 16);
    {
        QPalette pal = ui->lErrIn->palette();
        pal.setColor(QPalette::WindowText, colorFromValue(0x000000FF));
        ui->lErrIn->setPalette(pal);
        QFont bold = ui->lErrIn->font();
        bold.setBold(true);
        ui->lErrIn->setFont(bold);
    }
    ui->lErrIn->hide();

    QLabel *trueValues = label(ui->gbFT, tr("ИСТИННЫЕ ЗНАЧЕНИЯ:"), 8, 166, 201);
    trueValues->setObjectName(QStringLiteral("lbTrue"));
    ui->lbF = make<QLabel>(ui->gbFT, "lbF", 6, 184, 209, 16);
    ui->lbT = make<QLabel>(ui->gbFT, "lbT", 6, 200, 209, 16);
    ui->lbMinutes = make<QLabel>(ui->gbFT, "lbMinutes", 6, 216, 209, 16);
    ui->lbDly = make<QLabel>(ui->gbFT, "lbDly", 6, 232, 209, 16);
    ui->lbFchnl = make<QLabel>(ui->gbFT, "lbFchnl", 6, 248, 209, 16);
    for (QLabel *value : { ui->lbF, ui->lbT, ui->lbMinutes, ui->lbDly, ui->lbFchnl })
        value->setFont(narrow);

    ui->btStart = make<QPushButton>(ui->gbFT, "btStart", 8, 270, 201, 30);
    ui->bt500 = make<QPushButton>(ui->gbFT, "bt500", 8, 304, 201, 25);

    ui->gbFT->hide();
}

void TForm1::assignHelpTopics()
{
    auto set = [](std::initializer_list<QWidget *> widgets, int topic) {
        for (QWidget *w : widgets)
            ContextHelp::setTopic(w, topic);
    };
    set({ this, ui->status }, 6);
    set({ ui->gbFile, ui->mComment }, 2);
    set({ ui->gbAllCmnt, ui->MAllCmnt, ui->pSearch, ui->eFind, ui->chkCaps, ui->btFind,
            ui->btOpenFind, ui->btPath, ui->btCancel },
        3);
    set({ ui->btUSB, ui->btExtrn, ui->btChooseF, ui->btStartPlus, ui->btCycle, ui->bt500plus,
            ui->btStart, ui->bt500, ui->btTune, ui->gbFT, ui->seF, ui->seTime, ui->seSamples,
            ui->seFstep, ui->sePointChart, ui->seYmax, ui->seYmin },
        4);
    set({ ui->btOptions, ui->gbOptions, ui->cbShowK, ui->cbXscale, ui->cbTrng, ui->cbInt,
            ui->seInt },
        5);
    set({ ui->Chart1, ui->btSave, ui->btLoadFile, ui->btShowCmnt, ui->btPrevFile, ui->btNextFile,
            ui->btPrint },
        7);
    set({ ui->btSaveChart, ui->btCopy }, 8);
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
            windowHeight() - (m_regionPanel ? m_regionPanel->windowGrowth() : 0));
}

void TForm1::FormResize()
{
    if (!ui->Chart1)
        return;
    const int chartWidth = windowWidth() - ChartWidthMargin;
    // The margins count the frame of the window; the desktop's frame may be taller than the
    // one they were made for. The channel row and the status bar below the chart are never
    // covered: the chart ends where they begin.
    const int statusTop = height() - StatusBar::Height;
    const int room
        = std::min(windowHeight() - ChartHeightMargin, statusTop - ChannelsBand - ui->Chart1->y());
    // The cursors' panel, while shown, takes its height from the bottom of the chart's.
    const int panelHeight = m_regionPanel ? m_regionPanel->heightIn(std::max(0, room)) : 0;
    const int chartHeight = room - panelHeight;
    const int w = std::max(0, chartWidth);
    const int h = std::max(0, chartHeight);
    // The chart takes what the margins leave; the comment frame, the progress panel and the
    // catalogue follow its size.
    ui->Chart1->resize(w, h);
    ui->gbFile->resize(w, ui->gbFile->height());
    ui->Panel1->resize(w, ui->Panel1->height());
    ui->progressBar->resize(std::max(0, chartWidth - 20), ui->progressBar->height());
    ui->mComment->resize(std::max(0, ui->gbFile->width() - 16), ui->mComment->height());
    ui->gbAllCmnt->resize(ui->gbFile->width(), h);
    ui->MAllCmnt->resize(ui->mComment->width(),
        std::max(0, ui->gbAllCmnt->height() - ui->pSearch->height() - ui->MAllCmnt->y() - 10));
    ui->pSearch->setGeometry(ui->pSearch->x(), ui->gbAllCmnt->height() - ui->pSearch->height() - 5,
        std::max(0, ui->gbAllCmnt->width() - 20), ui->pSearch->height());
    // The copy button stays at the chart's lower left corner.
    ui->btSaveChart->move(ui->btSaveChart->x(), chartHeight - 26);

    // The bands below the chart: the channel check boxes and the status bar at the bottom.
    ui->status->setGeometry(0, statusTop, width(), StatusBar::Height);
    if (m_regionPanel)
        m_regionPanel->setGeometry(0, ui->Chart1->y() + h, w, panelHeight);
    const int channelsTop = std::min(ui->Chart1->y() + h + panelHeight, statusTop - ChannelsBand);
    ui->pChannels->setGeometry(0, channelsTop, std::max(w, 520), statusTop - channelsTop);
    ui->pChannels->raise();
    ui->status->raise();
    ui->gbOptions->raise();
    ui->gbFT->raise();
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
