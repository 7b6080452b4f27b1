// The settings file as the window reads and writes it: stored values and their limits, the
// restore rules, encodings, and a file or folder that cannot be written.

#include "tests/app/formtest.h"

#include <QApplication>
#include <QTest>

using namespace formtest;

TEST_F(FormTest, StoredBlockCountOutsideOneToEightBecomesEight)
{
    for (const char *stored : { "0", "9" }) {
        writeIni(QStringLiteral("[Окно F/T]\r\nSRAMblocks=%1\r\n").arg(QLatin1String(stored)));
        TForm1 &f = open();
        EXPECT_EQ(control<app::SpinEdit>(f, "seSamples")->value(), 240000) << stored;
        EXPECT_EQ(f.sampling().SRAMblocks(), 8);
        EXPECT_EQ(closeAndRead().readInteger(K::ftSection, K::sramBlocks, 0), 8);
    }
}

TEST_F(FormTest, TwoBlocksFollowTheStoredFrequency)
{
    writeIni(QStringLiteral("[Окно F/T]\r\nSRAMblocks=2\r\nTime4allSRAM=20000\r\nF=2400\r\n"));
    TForm1 &f = open();
    EXPECT_EQ(control<app::SpinEdit>(f, "seSamples")->value(), 60000);
    EXPECT_EQ(control<app::SpinEdit>(f, "seTime")->value(), 25000);
    EXPECT_EQ(f.sampling().Time4allSRAM(), 100000);
    EXPECT_EQ(f.sampling().field(Field::seTime).minimum, 248);
    IniFile written = closeAndRead();
    EXPECT_EQ(written.readInteger(K::ftSection, K::time4allSram, 0), 100000);
    EXPECT_EQ(written.readInteger(K::ftSection, K::sramBlocks, 0), 2);
}

TEST_F(FormTest, LaunchTypeRestoreRule)
{
    struct Case
    {
        const char *stored;
        int launchType;
    };
    for (const Case &c : { Case { "0", 0 }, Case { "1", 1 }, Case { "2", 0 }, Case { "3", 1 },
             Case { nullptr, 0 } }) {
        if (c.stored)
            writeIni(QStringLiteral("[Запуск]\r\nТип=%1\r\n").arg(QLatin1String(c.stored)));
        else
            QFile::remove(path);
        TForm1 &f = open();
        const char *label = c.stored ? c.stored : "missing";
        EXPECT_EQ(f.LaunchType(), c.launchType) << label;
        EXPECT_EQ(f.launchPictureIsComputer(), c.launchType == 0) << label;
        EXPECT_EQ(control<QToolButton>(f, "btExtrn")->toolTip(),
            c.launchType == 0 ? QStringLiteral("Запуск от компьютера")
                              : QStringLiteral("Запуск по сигналу фотодиода"))
            << label;
        EXPECT_EQ(closeAndRead().readInteger(K::launchSection, K::launchType, -1), c.launchType);
    }
    // The button toggles by mouse, with picture and hint, and shutdown writes the new value.
    TForm1 &f = open();
    auto commands = spyCommands();
    QTest::mouseClick(control<QToolButton>(f, "btExtrn"), Qt::LeftButton);
    EXPECT_EQ(f.LaunchType(), 1);
    EXPECT_FALSE(f.launchPictureIsComputer());
    EXPECT_EQ(control<QToolButton>(f, "btExtrn")->toolTip(),
        QStringLiteral("Запуск по сигналу фотодиода"));
    // A short read on the photodiode signal.
    apptest::enableMeasuring(f);
    QTest::mouseClick(control<QPushButton>(f, "bt500"), Qt::LeftButton);
    ASSERT_EQ(commands->size(), 1);
    EXPECT_EQ(command(*commands, 0), QByteArray::fromHex("347f00"));
    EXPECT_EQ(closeAndRead().readInteger(K::launchSection, K::launchType, -1), 1);
    QTest::mouseClick(control<QToolButton>(f, "btExtrn"), Qt::LeftButton);
    EXPECT_EQ(f.LaunchType(), 0);
    EXPECT_TRUE(f.launchPictureIsComputer());
}

TEST_F(FormTest, AveragingSurvivesOnlyWithOneBlock)
{
    writeIni(QStringLiteral("[Smooth in MC]\r\non 16 samples=1\r\n[Окно F/T]\r\nSRAMblocks=1\r\n"));
    {
        TForm1 &f = open();
        EXPECT_TRUE(control<QCheckBox>(f, "cbAvgMC")->isChecked());
        EXPECT_EQ(control<app::SpinEdit>(f, "seSamples")->value(), 30000);
        EXPECT_EQ(closeAndRead().readInteger(K::smoothSection, K::smooth, 0), 1);
    }
    writeIni(QStringLiteral("[Smooth in MC]\r\non 16 samples=1\r\n[Окно F/T]\r\nSRAMblocks=3\r\n"));
    TForm1 &f = open();
    EXPECT_FALSE(control<QCheckBox>(f, "cbAvgMC")->isChecked());
    EXPECT_EQ(control<app::SpinEdit>(f, "seSamples")->value(), 90000);
    EXPECT_EQ(closeAndRead().readInteger(K::smoothSection, K::smooth, 1), 0);
}

TEST_F(FormTest, ChannelSelectionAndBooleanValues)
{
    writeIni(QStringLiteral("[Series select]\r\nChannel 3=0\r\nChannel 8=0\r\nChannel 5=2\r\n"
                            "Channel 6=-1\r\nChannel 7=\r\n"
                            "[Cycle]\r\nWrite to 1 file=2\r\nClear Chart=\r\n"
                            "[Series Color]\r\nChannel 2=$FF00\r\n"));
    TForm1 &f = open();
    EXPECT_FALSE(channelBox(f, 2)->isChecked());
    EXPECT_FALSE(f.seriesActive(ChannelId::T3)); // its click handler ran once
    EXPECT_FALSE(channelBox(f, 7)->isChecked());
    EXPECT_FALSE(f.seriesActive(ChannelId::FD));
    for (int i : { 4, 5, 6 })
        EXPECT_TRUE(channelBox(f, i)->isChecked()) << i;
    EXPECT_EQ(f.sampling().ChannelCount(), 6); // the photodiode is not counted
    EXPECT_EQ(f.sampling().ChannelMask() & 0x7F, 0x7B);
    EXPECT_TRUE(control<QCheckBox>(f, "cb1file")->isChecked());
    EXPECT_TRUE(control<QCheckBox>(f, "cbChartClear")->isChecked());
    EXPECT_EQ(f.seriesColor(ChannelId::T2), QColor(0, 255, 0));
    EXPECT_EQ(channelBox(f, 1)->property("channelColor").value<QColor>(), QColor(0, 255, 0));

    // A click on a thermocouple box changes the count; one on the photodiode does not.
    QTest::mouseClick(channelBox(f, 2), Qt::LeftButton);
    EXPECT_TRUE(f.seriesActive(ChannelId::T3));
    EXPECT_EQ(f.sampling().ChannelCount(), 7);
    QTest::mouseClick(channelBox(f, 7), Qt::LeftButton);
    EXPECT_TRUE(f.seriesActive(ChannelId::FD));
    EXPECT_EQ(f.sampling().ChannelCount(), 7);
    QTest::mouseClick(channelBox(f, 0), Qt::LeftButton);
    EXPECT_FALSE(f.seriesActive(ChannelId::T1));
    EXPECT_EQ(f.sampling().ChannelCount(), 6);

    IniFile written = closeAndRead();
    EXPECT_EQ(written.readString(K::selectSection, K::channel(1)), QStringLiteral("0"));
    EXPECT_EQ(written.readString(K::selectSection, K::channel(3)), QStringLiteral("1"));
    EXPECT_EQ(written.readString(K::selectSection, K::channel(5)), QStringLiteral("1"));
    EXPECT_EQ(written.readString(K::cycleSection, K::oneFile), QStringLiteral("1"));
    EXPECT_EQ(written.readInteger(K::colorSection, K::channel(2), 0), 0xFF00);
}

TEST_F(FormTest, OutOfRangeValuesAreHeldByTheControls)
{
    writeIni(QStringLiteral("[Options]\r\nX scale=5\r\nXYmode=-3\r\nTrange=1\r\n"
                            "Integrate on Samples Num=1\r\n"
                            "[YScale]\r\nY max=900\r\nY min=-5\r\n"
                            "[Cycle]\r\nChart skip Points=99999\r\n"
                            "[Окно F/T]\r\nF=1000000\r\n"));
    TForm1 &f = open();
    EXPECT_EQ(control<QComboBox>(f, "cbXscale")->currentIndex(), -1);
    EXPECT_EQ(control<QComboBox>(f, "cbShowK")->currentIndex(), -1);
    EXPECT_EQ(control<QComboBox>(f, "cbTrng")->currentIndex(), 1);
    EXPECT_EQ(control<app::SpinEdit>(f, "seInt")->value(), 2);
    EXPECT_EQ(control<app::SpinEdit>(f, "seYmax")->value(), 500);
    EXPECT_EQ(control<app::SpinEdit>(f, "seYmin")->value(), 0);
    EXPECT_EQ(control<app::SpinEdit>(f, "seF")->value(), 546133); // design bounds at step 14
    IniFile written = closeAndRead();
    EXPECT_EQ(written.readInteger(K::optionsSection, K::xScale, 0), -1);
    EXPECT_EQ(written.readInteger(K::optionsSection, K::xyMode, 0), -1);
    EXPECT_EQ(written.readInteger(K::optionsSection, K::integrate, 0), 2);
    EXPECT_EQ(written.readInteger(K::yScaleSection, K::yMax, 0), 500);
}

// Closing the window while a typed value is still in a field writes what the field holds
// within its bounds, as for every other spin field: a frequency typed above the limit is
// stored as the limit.
TEST_F(FormTest, TypedValuesStillInTheirFieldsAreWrittenWithinTheirBounds)
{
    TForm1 &f = open();
    showActive(f);
    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);
    control<app::SpinEdit>(f, "sePointChart")->setFocus();
    QTest::keyClick(control<app::SpinEdit>(f, "sePointChart"), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(control<app::SpinEdit>(f, "sePointChart"), QStringLiteral("99999"));
    QTest::mouseClick(control<QToolButton>(f, "btChooseF"), Qt::LeftButton);
    control<app::SpinEdit>(f, "seF")->setFocus();
    QTest::keyClick(control<app::SpinEdit>(f, "seF"), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(control<app::SpinEdit>(f, "seF"), QStringLiteral("300000"));
    ASSERT_EQ(f.sampling().focusField(), Field::seF);
    IniFile written = closeAndRead();
    EXPECT_EQ(written.readInteger(K::ftSection, K::frequency, 0), 241731);
    EXPECT_EQ(written.readInteger(K::cycleSection, K::skipPoints, 0), 267); // 7 channels
}

TEST_F(FormTest, Windows1251FileIsReadAndWrittenBackInWindows1251)
{
    // [График сигнала] высота=600 ширина=760 слева=10 сверху=20, [Запуск] Тип=1.
    writeIni(QByteArray("[\xC3\xF0\xE0\xF4\xE8\xEA \xF1\xE8\xE3\xED\xE0\xEB\xE0]\r\n"
                        "\xE2\xFB\xF1\xEE\xF2\xE0=600\r\n"
                        "\xF8\xE8\xF0\xE8\xED\xE0=760\r\n"
                        "\xF1\xEB\xE5\xE2\xE0=10\r\n"
                        "\xF1\xE2\xE5\xF0\xF5\xF3=20\r\n"
                        "[\xC7\xE0\xEF\xF3\xF1\xEA]\r\n\xD2\xE8\xEF=1\r\n"));
    TForm1 &f = open();
    EXPECT_EQ(f.windowHeight(), 600);
    EXPECT_EQ(f.windowWidth(), 760);
    EXPECT_EQ(f.pos(), QPoint(10, 20));
    EXPECT_EQ(f.LaunchType(), 1);
    f.close();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.startsWith("[\xC3\xF0\xE0\xF4\xE8\xEA \xF1\xE8\xE3\xED\xE0\xEB\xE0]\r\n"
                                 "\xE2\xFB\xF1\xEE\xF2\xE0=600\r\n"));
    EXPECT_TRUE(bytes.contains("[\xC7\xE0\xEF\xF3\xF1\xEA]\r\n\xD2\xE8\xEF=1\r\n"));
    EXPECT_FALSE(bytes.contains(QStringLiteral("Тип").toUtf8()));
}

TEST_F(FormTest, Utf8FileIsRead)
{
    writeIni(
        QStringLiteral("\xFEFF[график сигнала]\nВЫСОТА=540\nширина=$320\n[Окно F/T]\nF=24000\n"));
    TForm1 &f = open();
    EXPECT_EQ(f.windowHeight(), 540);
    EXPECT_EQ(f.windowWidth(), 800);
    EXPECT_EQ(control<app::SpinEdit>(f, "seF")->value(), 24000);
    EXPECT_EQ(control<app::SpinEdit>(f, "seTime")->value(), 10000);
}

TEST_F(FormTest, EveryKeyIsWrittenFromTheControls)
{
    TForm1 &f = open();
    f.setWindowWidth(760);
    f.setWindowHeight(500);
    control<QComboBox>(f, "cbTrng")->setCurrentIndex(1);
    QTest::mouseClick(control<QCheckBox>(f, "cb1file"), Qt::LeftButton);
    QTest::mouseClick(channelBox(f, 3), Qt::LeftButton);
    f.chooseColor = [](const QColor &) { return std::optional<QColor>(QColor(1, 2, 3)); };
    control<QToolButton>(f, "btOptions")->click();
    QTest::mouseClick(swatch(f, ChannelId::FD), Qt::LeftButton);
    IniFile written = closeAndRead();
    int entries = 0;
    for (const QString &line : written.text().split(QStringLiteral("\r\n")))
        entries += line.contains(u'=') ? 1 : 0;
    EXPECT_EQ(entries, 34);
    EXPECT_EQ(written.readInteger(K::chartSection, K::width, 0), 760);
    EXPECT_EQ(written.readInteger(K::chartSection, K::height, 0), 500);
    EXPECT_EQ(written.readInteger(K::optionsSection, K::tRange, 0), 1);
    EXPECT_EQ(written.readInteger(K::cycleSection, K::oneFile, 0), 1);
    EXPECT_EQ(written.readInteger(K::selectSection, K::channel(4), 1), 0);
    EXPECT_EQ(written.readInteger(K::colorSection, K::channel(8), 0), 0x030201);
    EXPECT_EQ(written.readInteger(K::ftSection, K::frequency, 0), 2400);
    EXPECT_EQ(written.readInteger(K::cycleSection, K::skipPoints, 0), 1);
    EXPECT_EQ(f.session().port(), nullptr); // let go of at shutdown
}

TEST_F(FormTest, UnwritableSettingsAreReportedAndTheWindowStillCloses)
{
    // A folder where the settings file should be cannot be replaced, even by root.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Ferrun.ini")));
    TForm1 &f = open();
    f.show();
    EXPECT_EQ(f.windowWidth(), 794);
    messages.clear();
    QSignalSpy failed(&f, &TForm1::settingsWriteFailed);
    EXPECT_TRUE(f.close());
    EXPECT_FALSE(f.isVisible());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages.first(), QStringLiteral("Не удаётся записать в ") + path);
    EXPECT_EQ(failed.size(), 1);
    EXPECT_TRUE(QFileInfo(path).isDir());
}

TEST_F(FormTest, ReadOnlyFolderIsReported)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permission bits do not stop root";
    const QString folder = dir.filePath(QStringLiteral("ro"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("ro")));
    path = folder + QStringLiteral("/Ferrun.ini");
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    open();
    messages.clear();
    form->close();
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages.first(), QStringLiteral("Не удаётся записать в ") + path);
    EXPECT_FALSE(QFile::exists(path));
}
