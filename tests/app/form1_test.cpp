#include "tests/app/formtest.h"

#include <QApplication>
#include <QTest>

using namespace formtest;

TEST_F(FormTest, FirstRunWithoutSettingsFile)
{
    TForm1 &f = open();
    EXPECT_EQ(f.windowTitle(), QStringLiteral("7 термопар, фотодиод"));
    EXPECT_EQ(f.windowWidth(), 794);
    EXPECT_EQ(f.windowHeight(), 515);
    EXPECT_EQ(f.pos(), QPoint(0, 0));
    EXPECT_EQ(chartOf(f)->size(), QSize(772, 346));
    for (int i = 0; i < 8; ++i) {
        EXPECT_TRUE(channelBox(f, i)->isChecked()) << i;
        EXPECT_TRUE(f.seriesActive(ChannelId(i))) << i;
        const quint32 colour = quint32(files::Settings {}.colors.at(size_t(i)));
        EXPECT_EQ(swatch(f, i)->colorValue(), colour);
        EXPECT_EQ(f.seriesColor(ChannelId(i)), app::colorFromValue(colour));
        // Every first-run colour shows on the light chart and on white paper, and no two are
        // alike.
        EXPECT_LT(app::colorFromValue(colour).lightness(), 190) << i;
        for (int j = 0; j < i; ++j) {
            const QColor a = app::colorFromValue(colour);
            const QColor b = app::colorFromValue(quint32(files::Settings {}.colors.at(size_t(j))));
            EXPECT_GT(std::abs(a.red() - b.red()) + std::abs(a.green() - b.green())
                    + std::abs(a.blue() - b.blue()),
                75)
                << i << " " << j;
        }
    }
    EXPECT_EQ(f.LaunchType(), 0);
    EXPECT_TRUE(f.launchPictureIsComputer());
    EXPECT_EQ(
        control<QToolButton>(f, "btExtrn")->toolTip(), QStringLiteral("Запуск от компьютера"));
    EXPECT_EQ(control<app::SpinEdit>(f, "seSamples")->value(), 240000);
    EXPECT_EQ(control<app::SpinEdit>(f, "seF")->value(), 2400);
    EXPECT_EQ(control<app::SpinEdit>(f, "seTime")->value(), 100000);
    EXPECT_EQ(f.sampling().Time4allSRAM(), 100000);
    EXPECT_EQ(f.sampling().SRAMblocks(), 8);
    EXPECT_EQ(f.sampling().ChannelCount(), 7);
    EXPECT_FALSE(control<QCheckBox>(f, "cbAvgMC")->isChecked());
    EXPECT_EQ(control<QComboBox>(f, "cbShowK")->currentIndex(), 0);
    EXPECT_EQ(control<app::SpinEdit>(f, "seInt")->value(), 8);
    EXPECT_EQ(control<app::SpinEdit>(f, "seYmax")->value(), 70);
    EXPECT_TRUE(control<QCheckBox>(f, "cbChartClear")->isChecked());
    EXPECT_FALSE(control<QCheckBox>(f, "cb1file")->isChecked());
    EXPECT_EQ(f.ChartHeightMargin, 169);
    EXPECT_EQ(f.ChartWidthMargin, 22);
    EXPECT_EQ(chart::DefaultListCapacity(), 700000);
    EXPECT_EQ(chartOf(f)->SeriesCount(), 8);
    EXPECT_EQ(chartOf(f)->Series(7)->Name(), QStringLiteral("FD"));
    EXPECT_EQ(chartOf(f)->LeftAxis()->Title().Caption(), QStringLiteral("единицы АЦП"));
    EXPECT_EQ(chartOf(f)->BottomAxis()->Title().Caption(), QStringLiteral("Выборки"));
    EXPECT_EQ(f.session().SessionBlocks(), 8);
    EXPECT_TRUE(f.recording().data.isEmpty());
    EXPECT_FALSE(f.cycleRunning());
    // The true values follow the frequency: 2400 Hz gives the pair (202, 10).
    EXPECT_EQ(f.sampling().d1(), 202);
    EXPECT_EQ(f.sampling().d2(), 10);
    EXPECT_EQ(
        control<QLabel>(f, "lbDly")->text(), QStringLiteral("Параметры для МК: d1=202,d2=10"));
    // Hidden panels, enabled and disabled buttons at start.
    for (const char *name : { "gbOptions", "gbFT", "gbAllCmnt", "Panel1" })
        EXPECT_TRUE(control<QWidget>(f, name)->isHidden()) << name;
    for (const char *name : { "btShowCmnt", "btPrevFile", "btNextFile" })
        EXPECT_FALSE(control<QWidget>(f, name)->isEnabled()) << name;
    for (const char *name : { "btSave", "btLoadFile", "btCopy", "btPrint", "btUSB", "btExtrn",
             "btChooseF", "btOptions" })
        EXPECT_TRUE(control<QWidget>(f, name)->isEnabled()) << name;
    EXPECT_EQ(messages, QStringList { NotFound }); // no instrument on this machine

    // The file is created at shutdown with every key.
    IniFile written = closeAndRead();
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_EQ(written.readInteger(K::chartSection, K::height, 0), 515);
    EXPECT_EQ(written.readInteger(K::ftSection, K::time4allSram, 0), 100000);
    EXPECT_EQ(written.readInteger(K::launchSection, K::launchType, -1), 0);
}

TEST_F(FormTest, ControlsCarryTheirCaptionsAndHints)
{
    TForm1 &f = open();
    EXPECT_EQ(control<QToolButton>(f, "btChooseF")->text(), QStringLiteral("Выбор F/T"));
    EXPECT_EQ(control<QToolButton>(f, "btStartPlus")->text(), QStringLiteral("ПУСК ИЗМЕРЕНИЯ"));
    EXPECT_EQ(control<QToolButton>(f, "btCycle")->text(), QStringLiteral("ЦИКЛ"));
    EXPECT_EQ(control<QToolButton>(f, "bt500plus")->text(), QStringLiteral("500 байт"));
    EXPECT_EQ(control<QToolButton>(f, "btOptions")->text(), QStringLiteral("Отображение"));
    EXPECT_EQ(control<QPushButton>(f, "btTune")->text(), QStringLiteral("Настройка ФД"));
    EXPECT_TRUE(control<QPushButton>(f, "btTune")->toolTip().isEmpty());
    EXPECT_TRUE(control<QToolButton>(f, "btPrint")->toolTip().isEmpty());
    EXPECT_EQ(control<QToolButton>(f, "btShowCmnt")->toolTip(),
        QStringLiteral("Просмотреть комментарии ко всем  файлам в папке"));
    EXPECT_EQ(control<QToolButton>(f, "btCycle")->toolTip(),
        QStringLiteral("Считать данные из памяти платы АЦП"));
    EXPECT_EQ(control<QGroupBox>(f, "gbFT")->title(),
        QStringLiteral("Частота выборки / Время измерения"));
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("Комментарий"));
    EXPECT_EQ(channelBox(f, 7)->text(), QStringLiteral("Фотодиод"));
    EXPECT_EQ(channelBox(f, 7)->objectName(), QStringLiteral("cbFD"));
    EXPECT_EQ(control<QComboBox>(f, "cbShowK")->itemText(1),
        QStringLiteral("Ось Y: ед.АЦП,      ось X: ВЫБОРКИ"));
    EXPECT_EQ(chartOf(f)->toolTip(),
        QStringLiteral("См. Flash-ролик GrafTour о масштабировании и прокрутке графика"));
    EXPECT_EQ(statusBar(f)->panel(0)->width() + 2, 200);
    EXPECT_GE(statusBar(f)->panel(2)->width() + 2, 50); // and the rest of the bar once shown
    // Every fixed text of the window is shown exactly as it stands, blanks included.
    QStringList shown;
    for (QWidget *w : f.findChildren<QWidget *>()) {
        shown << w->toolTip();
        if (auto *l = qobject_cast<QLabel *>(w))
            shown << l->text();
        if (auto *b = qobject_cast<QAbstractButton *>(w))
            shown << b->text();
        if (auto *g = qobject_cast<QGroupBox *>(w))
            shown << g->title();
        if (auto *c = qobject_cast<QComboBox *>(w))
            for (int i = 0; i < c->count(); ++i)
                shown << c->itemText(i);
    }
    for (QAction *a : control<QMenu>(f, "pmChart")->actions())
        shown << a->text();
    for (const char *text : { "Файл", "Управление контроллером", "Опции", "Отобразить КАНАЛЫ",
             "Оси графика", "ЦВЕТ канала на графике", "Интегрирование", "Время в    Диапазон",
             "Дискретность изменения Fвыборки, Гц", "ЦИКЛ: показать", "Ось Т°", "Очищать график",
             "В один файл", "каждую", "-ю", "точку", "мкс", "мс", "с", "250°", "500°",
             "Продолжительность:", "Прошло:", "Осталось:", "ИСТИННЫЕ ЗНАЧЕНИЯ:", "Fвыборки, Гц",
             "Тизмерения, мс", "Число выборок в серии", "Усреднять по 16-ти выборкам в МК",
             "Допустимый диапазон: 75Гц...546133Гц", "Максимальное время 3212,842с.",
             "От 30000 до 240000, шаг изменения 30000", "Сохранить данные в файл",
             "Открыть файл данных", "Копировать комментарий в буфер обмена",
             "Предыдущий файл в папке", "Следующий файл в папке", "Подключить АЦП к компьютеру",
             "Выбрать частоту выборки / время измерения",
             "Режимы измерения, сохранения, сглаживания",
             "Копировать график в буфер обмена (рисунок SVG и PNG)", "Копировать",
             "Щелкнуть для отображения/скрытия X,Y и цифровых сигналов", "ИСКАТЬ ", "регистр",
             "Поиск", "Старт поиска", "Открыть файл", "Папка", "Выбрать папку", "Отменить",
             "Вернуться к последнему графику",
             "Поставьте галочку, если при поиске надо учитывать регистр",
             "Открыть файл, на тексте комментария которого установлен курсор" })
        EXPECT_TRUE(shown.contains(QString::fromUtf8(text))) << text;
    EXPECT_EQ(f.toolTip(),
        QStringLiteral("Щелкните по незанятой части окна для разворачивания/сворачивания окна"));

    // Design geometry of the fixed parts.
    EXPECT_EQ(control<QWidget>(f, "Header")->geometry(), QRect(0, 0, 753, 17));
    EXPECT_EQ(control<QWidget>(f, "ctlBar")->geometry(), QRect(0, 16, 681, 41));
    EXPECT_EQ(control<QGroupBox>(f, "gbOptions")->geometry(), QRect(0, 48, 682, 113));
    EXPECT_EQ(control<QGroupBox>(f, "gbFT")->geometry(), QRect(88, 72, 217, 337));
    EXPECT_EQ(chartOf(f)->pos(), QPoint(0, 112));
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->pos(), QPoint(0, 56));
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->geometry().topLeft(), QPoint(8, 16));
    EXPECT_EQ(control<QToolButton>(f, "btSaveChart")->size(), QSize(25, 21));
    // Every tool-bar button is 21 pixels high and every control has a name.
    for (QToolButton *b : f.findChildren<QToolButton *>()) {
        if (b->parentWidget() != chartOf(f) && b != control<QToolButton>(f, "btHelp")
            && b->isVisibleTo(&f)) {
            EXPECT_EQ(b->height(), 21) << b->objectName().toStdString();
        }
    }
}

TEST_F(FormTest, LayoutFollowsTheWindowSize)
{
    TForm1 &f = open();
    f.show();
    f.setWindowWidth(800);
    f.setWindowHeight(600);
    EXPECT_EQ(chartOf(f)->size(), QSize(778, 431));
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->width(), 778);
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->width(), 762);
    EXPECT_EQ(control<QWidget>(f, "Panel1")->width(), 778);
    EXPECT_EQ(control<QProgressBar>(f, "progressBar")->width(), 758);
    EXPECT_EQ(control<QGroupBox>(f, "gbAllCmnt")->size(), QSize(778, 431));
    EXPECT_EQ(control<QPlainTextEdit>(f, "MAllCmnt")->width(), 762);
    EXPECT_EQ(control<QPlainTextEdit>(f, "MAllCmnt")->height(),
        431 - control<QWidget>(f, "pSearch")->height() - control<QPlainTextEdit>(f, "MAllCmnt")->y()
            - 10);
    EXPECT_EQ(control<QWidget>(f, "pSearch")->width(), 758);
    EXPECT_EQ(
        control<QWidget>(f, "pSearch")->y(), 431 - control<QWidget>(f, "pSearch")->height() - 5);
    EXPECT_EQ(control<QToolButton>(f, "btSaveChart")->pos(), QPoint(11, 405));
    // The bands below the chart stay inside the window.
    EXPECT_EQ(statusBar(f)->geometry().bottom(), f.height() - 1);
    EXPECT_LE(control<QWidget>(f, "pChannels")->geometry().bottom(), statusBar(f)->y() - 1);
    EXPECT_GE(control<QWidget>(f, "pChannels")->y(), chartOf(f)->geometry().bottom() + 1);
}

TEST_F(FormTest, FoldAndUnfoldFromTheWorkArea)
{
    TForm1 &f = open();
    f.show();
    QScreen *screen = f.screen();
    ASSERT_TRUE(screen);
    const QRect work = screen->availableGeometry();
    const int screenWidth = screen->geometry().width();
    const QPoint empty(f.width() - 5, chartOf(f)->y() + 20); // right of the chart

    // A smaller window: two clicks give back exactly its size and place.
    f.setWindowWidth(740);
    f.setWindowHeight(500);
    f.move(30, 40);
    QTest::mouseClick(&f, Qt::LeftButton, {}, QPoint(f.width() - 5, chartOf(f)->y() + 20));
    EXPECT_EQ(f.windowWidth(), screenWidth);
    EXPECT_EQ(f.windowHeight(), work.y() + work.height());
    EXPECT_EQ(f.pos(), QPoint(0, 0));
    EXPECT_EQ(chartOf(f)->size(), QSize(screenWidth - 22, work.y() + work.height() - 169));
    QTest::mouseClick(&f, Qt::LeftButton, {}, QPoint(f.width() - 5, chartOf(f)->y() + 20));
    EXPECT_EQ(f.windowWidth(), 740);
    EXPECT_EQ(f.windowHeight(), 500);
    EXPECT_EQ(f.pos(), QPoint(30, 40));

    // A click on a control is not a click on the window.
    QTest::mouseClick(chartOf(f), Qt::LeftButton, {}, QPoint(50, 50));
    QTest::mouseClick(control<QGroupBox>(f, "gbFile"), Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ(f.windowWidth(), 740);
    Q_UNUSED(empty);

    // A double click, as the desktop delivers it, unfolds once; its second press does not
    // fold the window back. The place right of the help button is empty at both sizes.
    f.setWindowWidth(760);
    const QPoint besideHelp(control<QToolButton>(f, "btHelp")->geometry().right() + 10,
        control<QToolButton>(f, "btHelp")->y() + 5);
    ASSERT_FALSE(f.childAt(besideHelp));
    QTest::mouseDClick(f.windowHandle(), Qt::LeftButton, {}, besideHelp);
    EXPECT_EQ(f.windowWidth(), screenWidth);
    EXPECT_EQ(f.windowHeight(), work.y() + work.height());
    QTest::mouseClick(f.windowHandle(), Qt::LeftButton, {}, besideHelp);
    EXPECT_EQ(f.windowWidth(), 760);
    EXPECT_EQ(f.windowHeight(), 500);
}

TEST_F(FormTest, FirstClickOnAFullScreenWindowGivesTheDefaultSize)
{
    TForm1 &f = open();
    f.show();
    QScreen *screen = f.screen();
    const QRect work = screen->availableGeometry();
    f.setWindowWidth(screen->geometry().width());
    f.setWindowHeight(work.y() + work.height());
    QTest::mouseClick(&f, Qt::LeftButton, {}, QPoint(f.width() - 5, chartOf(f)->y() + 20));
    // 620 x 480, or the least size at which every control is reached if that is larger.
    const QSize frame(f.windowWidth() - f.width(), f.windowHeight() - f.height());
    EXPECT_EQ(QSize(f.windowWidth(), f.windowHeight()),
        QSize(620, 480).expandedTo(TForm1::MinimumClientSize + frame));
    EXPECT_EQ(f.pos(), QPoint(0, 0));
}

TEST_F(FormTest, OptionsPanelToggleAndTuning)
{
    TForm1 &f = open();
    f.show();
    auto tune = spyCommands();
    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);
    EXPECT_TRUE(control<QGroupBox>(f, "gbOptions")->isVisible());
    EXPECT_EQ(
        control<QGroupBox>(f, "gbOptions")->palette().color(QPalette::Window), QColor(128, 128, 0));
    EXPECT_EQ(control<QToolButton>(f, "btOptions")->text(), QStringLiteral("Закрыть"));
    EXPECT_EQ(app::captionColor(control<QToolButton>(f, "btOptions")), Red);
    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);
    EXPECT_FALSE(control<QGroupBox>(f, "gbOptions")->isVisible());
    EXPECT_EQ(control<QToolButton>(f, "btOptions")->text(), QStringLiteral("ОПЦИИ"));
    EXPECT_EQ(app::captionColor(control<QToolButton>(f, "btOptions")), Black);
    EXPECT_EQ(tune->size(), 0);

    // A tuning in progress is stopped by the button, not by the panel's background.
    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);
    QTest::mouseClick(control<QPushButton>(f, "btTune"), Qt::LeftButton);
    EXPECT_EQ(control<QPushButton>(f, "btTune")->text(), QStringLiteral("Завершить (ФД)"));
    EXPECT_EQ(app::captionColor(control<QPushButton>(f, "btTune")), Red);
    ASSERT_EQ(tune->size(), 1);
    EXPECT_EQ(command(*tune, 0), QByteArray("\x10"));
    QTest::mouseClick(control<QGroupBox>(f, "gbOptions"), Qt::LeftButton, {},
        QPoint(control<QGroupBox>(f, "gbOptions")->width() - 3, 5));
    EXPECT_FALSE(control<QGroupBox>(f, "gbOptions")->isVisible());
    EXPECT_EQ(control<QToolButton>(f, "btOptions")->text(), QStringLiteral("ОПЦИИ"));
    EXPECT_EQ(control<QPushButton>(f, "btTune")->text(), QStringLiteral("Завершить (ФД)"));
    EXPECT_EQ(tune->size(), 1);
    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);
    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);
    EXPECT_EQ(control<QPushButton>(f, "btTune")->text(), QStringLiteral("Настройка ФД"));
    EXPECT_EQ(app::captionColor(control<QPushButton>(f, "btTune")), Black);
    ASSERT_EQ(tune->size(), 2);
    EXPECT_EQ(command(*tune, 1), QByteArray("\x11"));
    // A click on a control inside the panel does not close it.
    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);
    QTest::mouseClick(control<QCheckBox>(f, "cb1file"), Qt::LeftButton);
    EXPECT_TRUE(control<QGroupBox>(f, "gbOptions")->isVisible());
}

TEST_F(FormTest, FrequencyPanelToggleAndTyping)
{
    TForm1 &f = open();
    showActive(f);
    auto commands = spyCommands();
    QTest::mouseClick(control<QToolButton>(f, "btChooseF"), Qt::LeftButton);
    EXPECT_TRUE(control<QGroupBox>(f, "gbFT")->isVisible());
    EXPECT_EQ(control<QToolButton>(f, "btChooseF")->text(), QStringLiteral("Закрыть"));
    EXPECT_EQ(app::captionColor(control<QToolButton>(f, "btChooseF")), Red);
    EXPECT_EQ(f.sampling().focusField(), Field::seTime);

    // Typing a frequency above the limit: warning, limit pair; leaving pulls it back.
    control<app::SpinEdit>(f, "seF")->setFocus();
    QTest::keyClick(control<app::SpinEdit>(f, "seF"), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(control<app::SpinEdit>(f, "seF"), QStringLiteral("300000"));
    EXPECT_EQ(f.sampling().focusField(), Field::seF);
    EXPECT_TRUE(control<QLabel>(f, "lErrIn")->isVisibleTo(control<QGroupBox>(f, "gbFT")));
    EXPECT_EQ(control<QLabel>(f, "lErrIn")->text(), QStringLiteral("Fвыборки, Гц>241731"));
    EXPECT_EQ(f.sampling().d1(), 1);
    EXPECT_EQ(control<app::SpinEdit>(f, "seTime")->value(),
        992); // assigned within its bounds, no change handler ran
    EXPECT_EQ(f.sampling().Time4allSRAM(), 800);
    QTest::keyClick(control<app::SpinEdit>(f, "seF"), Qt::Key_Tab);
    EXPECT_EQ(control<app::SpinEdit>(f, "seF")->text(), QStringLiteral("241731"));
    EXPECT_FALSE(control<QLabel>(f, "lErrIn")->isVisibleTo(control<QGroupBox>(f, "gbFT")));

    // The samples field takes no typing, only spinning.
    control<app::SpinEdit>(f, "seSamples")->setFocus();
    QTest::keyClicks(control<app::SpinEdit>(f, "seSamples"), QStringLiteral("5"));
    EXPECT_EQ(control<app::SpinEdit>(f, "seSamples")->value(), 240000);
    QTest::keyClick(control<app::SpinEdit>(f, "seSamples"), Qt::Key_Down);
    EXPECT_EQ(control<app::SpinEdit>(f, "seSamples")->value(), 210000);
    EXPECT_EQ(f.sampling().SRAMblocks(), 7);

    // Escape in the frequency field closes the panel like its toggle; so does the toggle.
    control<app::SpinEdit>(f, "seF")->setFocus();
    QTest::keyClick(control<app::SpinEdit>(f, "seF"), Qt::Key_Escape);
    EXPECT_FALSE(control<QGroupBox>(f, "gbFT")->isVisible());
    EXPECT_EQ(control<QToolButton>(f, "btChooseF")->text(), QStringLiteral("Выбор F/T"));
    EXPECT_EQ(app::captionColor(control<QToolButton>(f, "btChooseF")), Black);
    EXPECT_EQ(commands->size(), 0);
    QTest::mouseClick(control<QToolButton>(f, "btChooseF"), Qt::LeftButton);
    EXPECT_TRUE(control<QGroupBox>(f, "gbFT")->isVisible());
    QTest::mouseClick(control<QToolButton>(f, "btChooseF"), Qt::LeftButton);
    EXPECT_FALSE(control<QGroupBox>(f, "gbFT")->isVisible());
    EXPECT_EQ(control<QToolButton>(f, "btChooseF")->text(), QStringLiteral("Выбор F/T"));

    // Enter in the frequency field does nothing while the instrument is missing (start
    // button disabled); with the button enabled it starts a measurement of the panel's
    // values and closes the panel.
    QTest::mouseClick(control<QToolButton>(f, "btChooseF"), Qt::LeftButton);
    control<app::SpinEdit>(f, "seF")->setFocus();
    QTest::keyClick(control<app::SpinEdit>(f, "seF"), Qt::Key_Return);
    EXPECT_EQ(commands->size(), 0);
    EXPECT_TRUE(control<QGroupBox>(f, "gbFT")->isVisible());
    apptest::enableMeasuring(f);
    QTest::keyClick(control<app::SpinEdit>(f, "seF"), Qt::Key_Return);
    ASSERT_EQ(commands->size(), 1);
    const QByteArray frame = command(*commands, 0);
    ASSERT_EQ(frame.size(), 6);
    EXPECT_EQ(quint8(frame.at(0)), 0x13);
    EXPECT_EQ(quint8(frame.at(1)), 0x7F);
    EXPECT_EQ(quint8(frame.at(2)), f.sampling().d1() % 256);
    EXPECT_EQ(quint8(frame.at(3)), f.sampling().d2() % 256);
    EXPECT_EQ(quint8(frame.at(4)), 0x20); // 7 blocks
    EXPECT_FALSE(control<QGroupBox>(f, "gbFT")->isVisible());
    EXPECT_EQ(control<QToolButton>(f, "btChooseF")->text(), QStringLiteral("Выбор F/T"));
    EXPECT_EQ(statusBar(f)->panelText(0), QStringLiteral("ИЗМЕРЕНИЕ"));

    // The error label blinks red and yellow.
    const QColor first = control<QLabel>(f, "lErrIn")->palette().color(QPalette::WindowText);
    f.TimErrBlinkTimer();
    const QColor second = control<QLabel>(f, "lErrIn")->palette().color(QPalette::WindowText);
    f.TimErrBlinkTimer();
    EXPECT_NE(first, second);
    EXPECT_EQ(control<QLabel>(f, "lErrIn")->palette().color(QPalette::WindowText), first);
    EXPECT_TRUE(first == Red || first == QColor(255, 255, 0));
}

TEST_F(FormTest, StartButtonKeysAndReRead)
{
    TForm1 &f = open();
    showActive(f);
    auto commands = spyCommands();
    QTest::mouseClick(control<QToolButton>(f, "btChooseF"), Qt::LeftButton);
    apptest::enableMeasuring(f);
    control<QPushButton>(f, "btStart")->setFocus();
    QTest::keyClick(control<QPushButton>(f, "btStart"), Qt::Key_Escape);
    EXPECT_FALSE(control<QGroupBox>(f, "gbFT")->isVisible());
    EXPECT_EQ(commands->size(), 0);

    QTest::mouseClick(control<QToolButton>(f, "btChooseF"), Qt::LeftButton);
    ASSERT_TRUE(control<QGroupBox>(f, "gbFT")->isVisible());
    control<QPushButton>(f, "btStart")->setFocus();
    QTest::keyClick(control<QPushButton>(f, "btStart"), Qt::Key_Return);
    ASSERT_EQ(commands->size(), 1);
    EXPECT_EQ(quint8(command(*commands, 0).at(0)), 0x13);
    EXPECT_FALSE(control<QGroupBox>(f, "gbFT")->isVisible());

    // A double click on the tool-bar band: the re-read, panel closed, 8 blocks.
    QTest::mouseClick(control<QToolButton>(f, "btChooseF"), Qt::LeftButton);
    ASSERT_TRUE(control<QGroupBox>(f, "gbFT")->isVisible());
    QTest::mouseDClick(control<QWidget>(f, "ctlBar"), Qt::LeftButton, {},
        QPoint(control<QWidget>(f, "ctlBar")->width() - 3, 3));
    ASSERT_EQ(commands->size(), 2);
    EXPECT_EQ(command(*commands, 1), QByteArray::fromHex("1600"));
    EXPECT_FALSE(control<QGroupBox>(f, "gbFT")->isVisible());
    EXPECT_EQ(f.session().SessionBlocks(), 8);
    EXPECT_EQ(statusBar(f)->panelText(0), QStringLiteral("ИЗМЕРЕНИЕ"));
}

TEST_F(FormTest, StatusBarClickAndColourSwatches)
{
    TForm1 &f = open();
    f.show();
    statusBar(f)->setPanelText(0, QStringLiteral("USB: нет связи"));
    QTest::mouseClick(statusBar(f), Qt::LeftButton, {}, QPoint(300, 5));
    EXPECT_TRUE(f.readoutOn());
    EXPECT_TRUE(statusBar(f)->panelText(1).isEmpty());
    statusBar(f)->setPanelText(2, QStringLiteral("x"));
    QTest::mouseClick(statusBar(f), Qt::LeftButton, {}, QPoint(300, 5));
    EXPECT_FALSE(f.readoutOn());
    EXPECT_EQ(statusBar(f)->panelText(1), QStringLiteral("Щелкните для отображения X,Y"));
    EXPECT_TRUE(statusBar(f)->panelText(2).isEmpty());
    EXPECT_EQ(statusBar(f)->panelText(0), QStringLiteral("USB: нет связи")); // the session's own
    // A double click, as the desktop delivers it, is one click.
    const QPoint onStatus = statusBar(f)->mapTo(&f, QPoint(300, 5));
    QTest::mouseDClick(f.windowHandle(), Qt::LeftButton, {}, onStatus);
    EXPECT_TRUE(f.readoutOn());
    QTest::mouseClick(f.windowHandle(), Qt::LeftButton, {}, onStatus);
    EXPECT_FALSE(f.readoutOn());

    // The colour dialog opens at the colour last chosen in it; cancelling changes nothing.
    QList<QColor> offered;
    std::optional<QColor> answer;
    f.chooseColor = [&](const QColor &initial) {
        offered << initial;
        return answer;
    };
    control<QToolButton>(f, "btOptions")->click();
    QTest::mouseClick(swatch(f, 7), Qt::LeftButton);
    EXPECT_EQ(swatch(f, 7)->colorValue(), 0u);
    EXPECT_EQ(f.seriesColor(ChannelId::FD), app::colorFromValue(0));
    answer = QColor(10, 20, 30);
    QTest::mouseClick(swatch(f, 7), Qt::LeftButton);
    EXPECT_EQ(swatch(f, 7)->colorValue(), 0x1E140Au);
    EXPECT_EQ(f.seriesColor(ChannelId::FD), QColor(10, 20, 30));
    EXPECT_EQ(channelBox(f, 7)->property("channelColor").value<QColor>(), QColor(10, 20, 30));
    QTest::mouseClick(swatch(f, 0), Qt::LeftButton);
    ASSERT_EQ(offered.size(), 3);
    EXPECT_EQ(offered.at(2), QColor(10, 20, 30));
    EXPECT_EQ(f.seriesColor(ChannelId::T1), QColor(10, 20, 30));
}

TEST_F(FormTest, ContextHelpTopics)
{
    TForm1 &f = open();
    using app::ContextHelp;
    struct Case
    {
        QWidget *widget;
        int topic;
    };
    const QLabel *trueValuesLabel
        = control<QGroupBox>(f, "gbFT")->findChild<QLabel *>(QStringLiteral("lbTrue"));
    for (const Case &c :
        { Case { control<QPlainTextEdit>(f, "mComment"), 2 },
            Case { control<QGroupBox>(f, "gbFile"), 2 }, Case { control<QLineEdit>(f, "eFind"), 3 },
            Case { control<QPushButton>(f, "btCancel"), 3 },
            Case { control<QPlainTextEdit>(f, "MAllCmnt"), 3 },
            Case { control<app::SpinEdit>(f, "seF"), 4 },
            Case { control<QToolButton>(f, "btExtrn"), 4 }, Case { control<QLabel>(f, "lbDly"), 4 },
            Case { const_cast<QLabel *>(trueValuesLabel), 4 },
            Case { control<app::SpinEdit>(f, "sePointChart"), 4 },
            Case { control<QPushButton>(f, "btTune"), 4 },
            Case { control<app::SpinEdit>(f, "seYmin"), 4 },
            Case { control<QComboBox>(f, "cbShowK"), 5 },
            Case { control<app::SpinEdit>(f, "seInt"), 5 }, Case { swatch(f, 2), 5 },
            Case { control<QToolButton>(f, "btOptions"), 5 }, Case { statusBar(f), 6 },
            Case { channelBox(f, 0), 6 }, Case { control<QWidget>(f, "Header"), 6 },
            Case { control<QLabel>(f, "lAll"), 7 }, Case { control<QToolButton>(f, "btPrint"), 7 },
            Case { chartOf(f), 7 }, Case { control<QToolButton>(f, "btSaveChart"), 8 },
            Case { control<QToolButton>(f, "btCopy"), 8 } })
        EXPECT_EQ(ContextHelp::topicFor(c.widget), c.topic) << c.widget->objectName().toStdString();
    for (int topic = 2; topic <= 8; ++topic) {
        const QString page = ContextHelp::pageFor(QStringLiteral("Ferrun.HLP"), topic);
        ASSERT_FALSE(page.isEmpty()) << topic;
        QFile file(page);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_GT(file.size(), 400) << topic;
    }
    EXPECT_TRUE(ContextHelp::pageFor(QStringLiteral("Other.HLP"), 4).isEmpty());
    EXPECT_TRUE(ContextHelp::pageFor(QStringLiteral("Ferrun.HLP"), 9).isEmpty());

    // F1 on the focused control.
    showActive(f);
    control<QToolButton>(f, "btChooseF")->click();
    control<app::SpinEdit>(f, "seF")->setFocus();
    QTest::keyClick(control<app::SpinEdit>(f, "seF"), Qt::Key_F1);
    ASSERT_TRUE(f.help().viewer());
    EXPECT_EQ(f.help().shownTopic(), 4);
    EXPECT_TRUE(f.help().viewer()->isVisible());
    EXPECT_FALSE(f.help().viewer()->testAttribute(Qt::WA_QuitOnClose)); // ends with the window
    EXPECT_TRUE(f.help().viewer()->toPlainText().contains(QStringLiteral("Fвыборки, Гц")));

    // Shift+F1, then a click: the clicked control's topic, and the control does not act.
    QSignalSpy copy(control<QAction>(f, "actCopyChart"), &QAction::triggered);
    control<QPlainTextEdit>(f, "mComment")->setFocus();
    QTest::keyClick(control<QPlainTextEdit>(f, "mComment"), Qt::Key_F1, Qt::ShiftModifier);
    EXPECT_TRUE(f.help().pickMode());
    QTest::mouseClick(control<QToolButton>(f, "btSaveChart"), Qt::LeftButton);
    EXPECT_FALSE(f.help().pickMode());
    EXPECT_EQ(f.help().shownTopic(), 8);
    EXPECT_EQ(copy.size(), 0);
    // The "?" button arms the same mode.
    QTest::mouseClick(control<QToolButton>(f, "btHelp"), Qt::LeftButton);
    EXPECT_TRUE(f.help().pickMode());
    QTest::mouseClick(statusBar(f), Qt::LeftButton, {}, QPoint(10, 5));
    EXPECT_EQ(f.help().shownTopic(), 6);
    EXPECT_FALSE(f.readoutOn());
}

// SIGTERM, SIGINT or SIGHUP: nobody can answer "Сохранить запись?", so a recording not saved
// goes to the recovery folder with its comment and the window closes, writing its settings.
TEST_F(FormTest, TerminationSignalKeepsTheRecordingAndClosesTheWindow)
{
    for (const int signal : { SIGTERM, SIGHUP }) {
        SCOPED_TRACE(signal);
        QFile::remove(path);
        TForm1 &f = open();
        f.show();
        files::Recording measured;
        measured.data = QByteArray(600, '\x11');
        measured.origin = files::RecordingOrigin::Measurement;
        f.takeRecording(measured);
        control<QPlainTextEdit>(f, "mComment")
            ->setPlainText(QStringLiteral("нагрев %1").arg(signal));
        bool asked = false;
        f.askSaveRecording = [&] {
            asked = true;
            return app::SaveAnswer::Cancel;
        };
        EXPECT_TRUE(apptest::closeBySignal(f, signal));
        EXPECT_FALSE(asked);
        EXPECT_TRUE(QFile::exists(path));
        const QList<files::RecoveryEntry> kept = f.work().recovery().entries();
        ASSERT_FALSE(kept.isEmpty());
        EXPECT_EQ(kept.first().dataLength, 600);
        EXPECT_EQ(kept.first().firstCommentLine, QStringLiteral("нагрев %1").arg(signal));
    }
}

TEST(AppOptions, CommandLine)
{
    QString error;
    auto o = app::parseArguments({}, &error);
    ASSERT_TRUE(o);
    EXPECT_FALSE(o->simulator);
    o = app::parseArguments({ QStringLiteral("--device"), QStringLiteral("/dev/ttyUSB3") }, &error);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->device, QStringLiteral("/dev/ttyUSB3"));
    o = app::parseArguments({ QStringLiteral("--simulator") }, &error);
    ASSERT_TRUE(o && o->simulator);
    o = app::parseArguments({ QStringLiteral("--screenshot=/tmp/x.png") }, &error);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->screenshot, QStringLiteral("/tmp/x.png"));
    for (const QStringList &bad : { QStringList { QStringLiteral("--bogus") },
             QStringList { QStringLiteral("--device") }, QStringList { QStringLiteral("-x") } }) {
        error.clear();
        EXPECT_FALSE(app::parseArguments(bad, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_FALSE(error.contains(u'\n'));
    }
}

TEST_F(FormTest, GeometrySurvivesRestartsUnchanged)
{
    writeIni(QStringLiteral("[График сигнала]\r\nвысота=530\r\nширина=760\r\nслева=12\r\n"
                            "сверху=34\r\n"));
    for (int run = 0; run < 3; ++run) {
        TForm1 &f = open();
        EXPECT_EQ(f.size(), QSize(760, 530)); // no frame before the window is shown
        f.show();
        QTest::qWait(20);
        EXPECT_EQ(f.windowWidth(), 760) << run;
        EXPECT_EQ(f.windowHeight(), 530) << run;
        EXPECT_EQ(f.pos(), QPoint(12, 34)) << run;
        IniFile written = closeAndRead();
        EXPECT_EQ(written.readInteger(K::chartSection, K::width, 0), 760) << run;
        EXPECT_EQ(written.readInteger(K::chartSection, K::height, 0), 530) << run;
        EXPECT_EQ(written.readInteger(K::chartSection, K::left, 0), 12) << run;
        EXPECT_EQ(written.readInteger(K::chartSection, K::top, 0), 34) << run;
    }
}

TEST_F(FormTest, ExtremeStoredNumbersStayHarmless)
{
    writeIni(QStringLiteral("[График сигнала]\r\nвысота=2147483647\r\nширина=-5\r\n"
                            "[Запуск]\r\nТип=-2147483648\r\n"
                            "[Окно F/T]\r\nTime4allSRAM=2147483647\r\nF=0\r\n"));
    TForm1 &f = open();
    QRect desktop;
    for (const QScreen *screen : QGuiApplication::screens())
        desktop = desktop.united(screen->availableGeometry());
    EXPECT_EQ(f.windowHeight(), desktop.height());
    EXPECT_EQ(f.width(), TForm1::MinimumClientSize.width()); // the least width
    EXPECT_EQ(f.LaunchType(), 0);
    EXPECT_EQ(control<app::SpinEdit>(f, "seF")->value(), 75);
    EXPECT_EQ(f.sampling().Time4allSRAM(), 3200000);
    EXPECT_EQ(control<app::SpinEdit>(f, "seTime")->value(), 3200000);
}

TEST_F(FormTest, ChartCopyButtonAndMenu)
{
    TForm1 &f = open();
    showActive(f);
    QSignalSpy copy(control<QAction>(f, "actCopyChart"), &QAction::triggered);
    QTest::mouseClick(control<QToolButton>(f, "btSaveChart"), Qt::LeftButton);
    EXPECT_EQ(copy.size(), 1);
    // A right click without a drag opens the menu; its one item copies too.
    const QPoint at(chartOf(f)->width() / 2, chartOf(f)->height() / 2);
    QTest::mousePress(chartOf(f), Qt::RightButton, {}, at);
    QTest::mouseRelease(chartOf(f), Qt::RightButton, {}, at);
    ASSERT_TRUE(QTest::qWaitFor([&] { return control<QMenu>(f, "pmChart")->isVisible(); }, 2000));
    // "Копировать", the readout's switch, and after a separator the four cursor entries.
    ASSERT_EQ(control<QMenu>(f, "pmChart")->actions().size(), 7);
    EXPECT_EQ(control<QMenu>(f, "pmChart")->actions().at(0)->text(), QStringLiteral("Копировать"));
    control<QMenu>(f, "pmChart")->actions().at(0)->trigger();
    EXPECT_EQ(copy.size(), 2);
    control<QMenu>(f, "pmChart")->hide();
    // A right-button drag scrolls the chart and opens no menu.
    QTest::mousePress(chartOf(f), Qt::RightButton, {}, at);
    QTest::mouseMove(chartOf(f), at + QPoint(40, 0));
    QTest::mouseRelease(chartOf(f), Qt::RightButton, {}, at + QPoint(40, 0));
    QTest::qWait(50);
    EXPECT_FALSE(control<QMenu>(f, "pmChart")->isVisible());
}
