// Window start-up with hostile stored geometry, and the shutdown sequence on SIGTERM while a
// message box is open.
#include "acquisition/measurementsession.h"
#include "acquisition/terminationsignals.h"
#include "app/closeontermination.h"
#include "app/contexthelp.h"
#include "app/form1.h"
#include "app/windowplacement.h"
#include "chart/chart.h"
#include "files/inifile.h"
#include "files/settings.h"
#include "tests/app/controls.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>

using app::TForm1;
using files::IniFile;
namespace K = files::SettingsKeys;

namespace {

// A desk with two monitors side by side, the left one with a task bar at its bottom.
const QRect LeftScreen(0, 0, 1280, 1000);
const QRect RightScreen(1280, 0, 1920, 1080);

class StartUpTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("Ferrun.ini"));
        app::ContextHelp::setHelpFile(QStringLiteral("Ferrun.HLP"));
    }

    void writeGeometry(int width, int height, int left, int top)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("[График сигнала]\r\nвысота=%1\r\nширина=%2\r\nслева=%3\r\n"
                                  "сверху=%4\r\n")
                       .arg(height)
                       .arg(width)
                       .arg(left)
                       .arg(top)
                       .toUtf8());
    }

    // The window with the given screens (none: the platform's), on a machine without the
    // instrument. Without a message collector the real message box is shown.
    TForm1 &open(const QList<QRect> &screens, bool collectMessages = true)
    {
        app::FormEnvironment environment;
        if (collectMessages)
            environment.showMessage = [this](const QString &text) { messages << text; };
        environment.sysfsRoot = dir.filePath(QStringLiteral("no-sys"));
        environment.devRoot = dir.filePath(QStringLiteral("no-dev"));
        environment.availableScreens = screens;
        form = std::make_unique<TForm1>(path, app::AppOptions {}, environment);
        return *form;
    }

    QRect writtenGeometry()
    {
        const IniFile written(path);
        return QRect(written.readInteger(K::chartSection, K::left, -1),
            written.readInteger(K::chartSection, K::top, -1),
            written.readInteger(K::chartSection, K::width, -1),
            written.readInteger(K::chartSection, K::height, -1));
    }

    QTemporaryDir dir;
    QString path;
    std::unique_ptr<TForm1> form;
    QStringList messages;
};

} // namespace

TEST_F(StartUpTest, StoredPositionOffTheDesktopIsBroughtBackOntoAScreen)
{
    const struct
    {
        QPoint stored;
        QList<QRect> screens;
        QPoint expected;
    } cases[] = {
        // On the right monitor, and the right monitor is there: kept.
        { { 2000, 300 }, { LeftScreen, RightScreen }, { 2000, 300 } },
        // The right monitor has gone: onto the left one, its title area at the right edge.
        { { 2000, 300 }, { LeftScreen }, { 1280 - 794, 300 } },
        // Above and left of everything.
        { { -5000, -3000 }, { LeftScreen, RightScreen }, { 0, 0 } },
        // Below the task bar of the left screen: the title area must lie above it.
        { { 100, 990 }, { LeftScreen, RightScreen }, { 100, 1000 - app::TitleAreaHeight } },
        // Half the title area on each monitor: neither holds it, the nearer one takes it.
        { { 1000, 100 }, { LeftScreen, RightScreen }, { 1280 - 794, 100 } },
        // Far beyond any integer a desktop has.
        { { 2147483647, -2147483647 - 1 }, { LeftScreen }, { 1280 - 794, 0 } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(QStringLiteral("stored %1,%2 on %3 screen(s)")
                         .arg(c.stored.x())
                         .arg(c.stored.y())
                         .arg(c.screens.size())
                         .toStdString());
        writeGeometry(794, 515, c.stored.x(), c.stored.y());
        TForm1 &f = open(c.screens);
        EXPECT_EQ(f.pos(), c.expected);
        EXPECT_EQ(f.size(), QSize(794, 515));
        // What is written back is where the window is, so the next start is fine too.
        f.close();
        EXPECT_EQ(writtenGeometry(), QRect(c.expected, QSize(794, 515)));
    }
}

TEST_F(StartUpTest, StoredSizeBelowTheLeastSizeIsTakenAsIt)
{
    // The least size: the folded 620 x 480, and no less than the window's minimum, at which
    // every control can be reached.
    const QSize least = app::FoldedSize.expandedTo(TForm1::MinimumClientSize);
    const struct
    {
        QSize stored;
        QSize expected;
    } cases[] = {
        { { 0, 0 }, least },
        { { -1, -2147483647 - 1 }, least },
        { { 1, 1 }, least },
        { { 619, 900 }, { least.width(), 900 } },
        { { 1000, 479 }, { 1000, least.height() } },
        { { 780, 480 }, { 780, 480 } },
        // Larger than the whole desk: as large as the desk.
        { { 2147483647, 2147483647 }, { 1280 + 1920, 1080 } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(QStringLiteral("stored %1 x %2")
                         .arg(c.stored.width())
                         .arg(c.stored.height())
                         .toStdString());
        writeGeometry(c.stored.width(), c.stored.height(), 10, 20);
        TForm1 &f = open({ LeftScreen, RightScreen });
        EXPECT_EQ(f.size(), c.expected); // not shown yet: no frame
        EXPECT_EQ(chartOf(f)->size(), c.expected - QSize(22, 169));
        f.show();
        QTest::qWait(10);
        // Shown, the minimum holds the client area: its frame comes on top.
        const QSize frame(f.windowWidth() - f.width(), f.windowHeight() - f.height());
        const QSize outer = c.expected.expandedTo(TForm1::MinimumClientSize + frame);
        EXPECT_EQ(QSize(f.windowWidth(), f.windowHeight()), outer);
        f.close();
        EXPECT_EQ(writtenGeometry().size(), outer);
    }
}

TEST_F(StartUpTest, PlatformScreensAreUsedWhenNoneAreGiven)
{
    writeGeometry(0, 0, -100000, 100000);
    TForm1 &f = open({});
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(available.contains(QRect(f.pos(), QSize(f.width(), app::TitleAreaHeight))))
        << f.x() << "," << f.y();
    EXPECT_EQ(f.size(), app::FoldedSize.expandedTo(TForm1::MinimumClientSize));
}

// SIGTERM while "АЦП не обнаружено" is up during start-up, before the window is shown: the
// box closes, start-up finishes, and the window closes with its shutdown sequence.
TEST_F(StartUpTest, TerminationDuringTheStartUpMessageWritesTheSettings)
{
    writeGeometry(760, 530, 12, 34);
    acquisition::TerminationSignals termination;
    ASSERT_TRUE(termination.isActive());
    app::CloseOnTermination closer(&termination);
    bool boxWasUp = false;
    // Fires inside the message box's own event loop.
    QTimer::singleShot(50, [&boxWasUp] {
        boxWasUp = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()) != nullptr;
        ::raise(SIGTERM);
    });
    TForm1 &f = open({ LeftScreen }, false);
    EXPECT_TRUE(boxWasUp);
    EXPECT_TRUE(closer.requested());
    EXPECT_FALSE(QApplication::activeModalWidget());
    EXPECT_FALSE(closer.setWindow(&f)); // closed at once: no event loop to start
    EXPECT_EQ(f.session().port(), nullptr); // the shutdown sequence has run
    EXPECT_EQ(writtenGeometry(), QRect(12, 34, 760, 530));
    EXPECT_EQ(IniFile(path).readInteger(K::ftSection, K::frequency, 0), 2400);
}

// SIGTERM while a message box is up over the shown window: the box closes, then the window.
TEST_F(StartUpTest, TerminationWithAMessageBoxOverTheWindowWritesTheSettings)
{
    writeGeometry(760, 530, 12, 34);
    acquisition::TerminationSignals termination;
    app::CloseOnTermination closer(&termination);
    TForm1 &f = open({ LeftScreen });
    ASSERT_TRUE(closer.setWindow(&f));
    f.show();
    ASSERT_TRUE(QFile::remove(path)); // what is found after the signal is written anew

    bool boxClosed = false;
    QTimer::singleShot(0, &f, [&] {
        QTimer::singleShot(50, [] { ::raise(SIGTERM); });
        QMessageBox::information(&f, f.windowTitle(), QStringLiteral("АЦП не обнаружено"));
        boxClosed = true;
        // The window is still open here: it closes once the box's loop has returned.
        EXPECT_TRUE(f.isVisible());
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !f.isVisible(); }, 5000));
    EXPECT_TRUE(boxClosed);
    EXPECT_EQ(f.session().port(), nullptr);
    EXPECT_EQ(writtenGeometry(), QRect(12, 34, 760, 530));
}

// A window maximised when it closed comes back maximised, and its geometry from before it was
// maximised is kept for when it is no longer; a window never maximised writes no key of it.
TEST_F(StartUpTest, MaximisedWindowComesBackMaximisedOverItsOwnGeometry)
{
    writeGeometry(794, 515, 100, 50);
    TForm1 &f = open({ LeftScreen });
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    f.showMaximized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.isMaximized(); }));
    f.close();
    EXPECT_EQ(writtenGeometry(), QRect(100, 50, 794, 515));
    EXPECT_TRUE(
        IniFile(path).readBool(QStringLiteral("Window"), QStringLiteral("Maximized"), false));

    TForm1 &again = open({ LeftScreen });
    again.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&again));
    EXPECT_TRUE(QTest::qWaitFor([&] { return again.isMaximized(); }));
    again.showNormal();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !again.isMaximized(); }));
    // The size it returns to is the window system's to restore; the offscreen platform
    // restores none.
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return QSize(again.windowWidth(), again.windowHeight()) == QSize(794, 515);
        })) << again.windowWidth()
            << " x " << again.windowHeight();
    }
    again.close();
    EXPECT_FALSE(
        IniFile(path).readBool(QStringLiteral("Window"), QStringLiteral("Maximized"), true));

    writeGeometry(794, 515, 100, 50);
    open({ LeftScreen }).close();
    EXPECT_FALSE(IniFile(path).readString(QStringLiteral("Window"), QStringLiteral("Maximized")));
}
