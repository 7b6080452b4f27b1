// Time from the board's device node appearing to the window's measurement buttons being
// enabled, on the offscreen platform: fake sysfs and device trees, the node a link to the
// board simulator's pseudo-terminal. The window is the real one; each round plugs a new
// board in and pulls it out again.
//
//     ferrun-bench-hotplug [ROUNDS]      (default 21)
#include "acquisition/instrument.h"
#include "app/contexthelp.h"
#include "app/form1.h"
#include "serial/serialport.h"
#include "sim/boardsimulator.h"
#include "tests/acquisition/discoveryfakesysfs.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Notes the moment btStart becomes enabled.
class EnabledClock : public QObject
{
public:
    EnabledClock(QWidget *button, const QElapsedTimer &clock)
        : m_button(button)
        , m_clock(clock)
    {
        button->installEventFilter(this);
    }

    qint64 enabledAtNs = -1;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_button && event->type() == QEvent::EnabledChange && m_button->isEnabled()
            && enabledAtNs < 0)
            enabledAtNs = m_clock.nsecsElapsed();
        return false;
    }

private:
    QWidget *m_button;
    const QElapsedTimer &m_clock;
};

template <typename Predicate> bool spinUntil(Predicate done, int ms = 10000)
{
    QElapsedTimer limit;
    limit.start();
    while (!done()) {
        if (limit.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 21;

    QTemporaryDir dir;
    const QString devRoot = dir.filePath(QStringLiteral("dev"));
    QDir().mkpath(devRoot);
    testsupport::FakeSysfs sysfs(dir.filePath(QStringLiteral("sys")));
    app::ContextHelp::setHelpFile(QStringLiteral("Ferrun.HLP"));
    app::FormEnvironment environment;
    environment.showMessage = [](const QString &) {};
    environment.sysfsRoot = sysfs.root();
    environment.devRoot = devRoot;
    app::TForm1 form(dir.filePath(QStringLiteral("Ferrun.ini")), {}, environment);
    form.show();

    std::vector<double> ms;
    for (int round = 0; round < rounds; ++round) {
        sim::BoardOptions options;
        auto board = std::make_unique<sim::BoardSimulator>(options);
        std::string error;
        if (!board->start(&error)) {
            std::fprintf(stderr, "board: %s\n", error.c_str());
            return 1;
        }
        const QString usbPort = QStringLiteral("1-%1").arg(round + 1);
        const QString name = QStringLiteral("ttyUSB%1").arg(round);
        sysfs.addInstrument(usbPort, name);

        QElapsedTimer clock;
        EnabledClock enabled(form.findChild<QPushButton *>(QStringLiteral("btStart")), clock);
        clock.start();
        QFile::link(QString::fromStdString(board->devicePath()), devRoot + u'/' + name);
        if (!spinUntil([&] { return enabled.enabledAtNs >= 0; })) {
            std::fprintf(stderr, "round %d: the buttons were not enabled\n", round);
            return 1;
        }
        ms.push_back(double(enabled.enabledAtNs) / 1e6);

        QFile::remove(devRoot + u'/' + name);
        QFile::remove(sysfs.root() + QStringLiteral("/class/tty/") + name);
        board->stop();
        if (!spinUntil([&] { return !form.instrument().port().IsOpen(); })) {
            std::fprintf(stderr, "round %d: the window did not notice the board going\n", round);
            return 1;
        }
    }
    form.close();

    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    std::printf("node appeared -> measurement buttons enabled, %d rounds: median %.2f ms, "
                "min %.2f ms, max %.2f ms\n",
        rounds, sorted[sorted.size() / 2], sorted.front(), sorted.back());
    return 0;
}
