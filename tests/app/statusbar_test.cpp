// The status bar shows its texts whole: the first two panels widen for a longer text, the
// last takes the rest of the bar.
#include "acquisition/measurementsession.h"
#include "app/contexthelp.h"
#include "app/form1.h"
#include "app/statusbar.h"
#include "tests/app/controls.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// The whole text fits the panel when the label needs no more than it has.
bool shownWhole(const QLabel *panel)
{
    return panel->sizeHint().width() <= panel->width();
}

void expectSideBySide(const app::StatusBar &bar)
{
    for (int i = 0; i < 2; ++i)
        EXPECT_LT(bar.panel(i)->geometry().right(), bar.panel(i + 1)->x()) << i;
}

} // namespace

TEST(StatusBar, FirstTwoPanelsKeep200PixelsAndTheLastTakesTheRest)
{
    // A hidden widget hears of its size when it is shown.
    app::StatusBar bar;
    bar.resize(761, app::StatusBar::Height);
    bar.show();
    EXPECT_EQ(bar.panel(0)->geometry(), QRect(0, 2, 198, 17));
    EXPECT_EQ(bar.panel(1)->geometry(), QRect(200, 2, 198, 17));
    EXPECT_EQ(bar.panel(2)->geometry(), QRect(400, 2, 359, 17));

    bar.resize(1200, app::StatusBar::Height);
    EXPECT_EQ(bar.panel(2)->geometry(), QRect(400, 2, 798, 17));
    // A bar narrower than the panels: the last keeps its least width of 50.
    bar.resize(300, app::StatusBar::Height);
    EXPECT_EQ(bar.panel(2)->width() + 2, 50);
}

TEST(StatusBar, LongerTextsAreShownWhole)
{
    app::StatusBar bar;
    bar.resize(900, app::StatusBar::Height);
    bar.show();
    bar.setPanelText(0, QStringLiteral("Подстройка усилителя фототока"));
    bar.setPanelText(1, QStringLiteral("Щелкните для отображения X,Y"));
    bar.setPanelText(2, QStringLiteral("Цикл №123456"));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(shownWhole(bar.panel(i))) << i;
    expectSideBySide(bar);
    EXPECT_EQ(bar.panel(2)->geometry().right() + 3, bar.width());

    // A text too long for 200 pixels widens its panel, and a shorter one gives it back.
    const QString longText = QStringLiteral("ПЕРЕДАЧА МАССИВА, 7с — блок 240 из 480, подождите");
    bar.setPanelText(0, longText);
    EXPECT_GT(bar.panel(0)->width() + 2, 200);
    EXPECT_TRUE(shownWhole(bar.panel(0)));
    expectSideBySide(bar);
    bar.setPanelText(0, QStringLiteral("USB: нет связи"));
    EXPECT_EQ(bar.panel(0)->width() + 2, 200);
    EXPECT_EQ(bar.panel(1)->x(), 200);
}

TEST(StatusBar, WindowsBarFollowsTheWindowAndTheSessionsTexts)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    app::ContextHelp::setHelpFile(QStringLiteral("Ferrun.HLP"));
    app::FormEnvironment environment;
    environment.showMessage = [](const QString &) {};
    environment.sysfsRoot = dir.filePath(QStringLiteral("no-sys"));
    environment.devRoot = dir.filePath(QStringLiteral("no-dev"));
    app::TForm1 f(dir.filePath(QStringLiteral("Ferrun.ini")), {}, environment);
    f.show();
    f.setWindowWidth(700);
    statusBar(f)->setPanelText(0, QStringLiteral("Подстройка усилителя фототока"));
    statusBar(f)->setPanelText(2, QStringLiteral("Цикл №1234"));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(shownWhole(statusBar(f)->panel(i))) << i;
    EXPECT_EQ(statusBar(f)->panel(2)->geometry().right() + 3, statusBar(f)->width());
    f.setWindowWidth(900);
    EXPECT_EQ(statusBar(f)->panel(2)->geometry().right() + 3, statusBar(f)->width());
    f.close();
}
