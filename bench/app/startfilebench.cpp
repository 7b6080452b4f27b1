// `ferrun FILE.kdx` until the recording is drawn: a full recording (480000 bytes, T1..T7 and
// the photodiode) opened by a fresh window process, offscreen.
//   window median_ms=M min_ms=N    from main() to the end of the chart's first paint that
//                                  shows the file (application object, window, settings, show,
//                                  load, decode, paint), in a fresh process each run
//   exec median_ms=M min_ms=N      `ferrun --version` from the spawn to its exit: loading the
//                                  program and its libraries, which the first figure lacks
//   total median_ms=M               the two medians added
// --runs N (default 10), --lang en|ru (default ru): the window's language, its translation
// installed before the window as the program does.
#include "app/translation.h"
#include "bench/app/benchwindow.h"
#include "chart/chart.h"
#include "files/datafile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using benchwindow::median;

// Ends the measuring process at the first paint of the chart once it holds the recording.
class PaintWatch : public QObject
{
public:
    PaintWatch(app::TForm1 &form, const QElapsedTimer &clock)
        : m_form(form)
        , m_clock(clock)
    {
    }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const bool painted = QObject::eventFilter(watched, event);
        if (event->type() == QEvent::Paint && !m_form.recording().data.isEmpty()) {
            std::printf("%.3f\n", double(m_clock.nsecsElapsed()) / 1e6);
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return painted;
    }

private:
    app::TForm1 &m_form;
    const QElapsedTimer &m_clock;
};

// One run, in this process: what `ferrun FILE` does up to the drawn chart.
int openOnce(
    int argc, char **argv, const QString &settings, const QString &file, app::UiLanguage language)
{
    QElapsedTimer clock;
    clock.start();
    QApplication application(argc, argv);
    const app::UiTranslation translation(language);
    app::ContextHelp::setHelpFile(QStringLiteral("Ferrun.HLP"));
    app::FormEnvironment environment;
    environment.showMessage
        = [](const QString &text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); };
    app::AppOptions options;
    options.simulator = true;
    app::TForm1 form(settings, options, environment);
    PaintWatch watch(form, clock);
    form.findChild<chart::TChart *>(QStringLiteral("Chart1"))->installEventFilter(&watch);
    form.show();
    QTimer::singleShot(0, &form, [&form, file] { form.openFile(file); });
    return application.exec();
}

// Thermocouple-like codes for seven channels.
QByteArray recording()
{
    QByteArray data(480000, '\0');
    const int frames = 480000 / 2 / 7;
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < 7; ++c) {
            int code = (800 + 300 * c + f / 64 + (f * 7 + c * 13) % 23) & 0x0FFF;
            if (c == 0 && (f / 4000) % 2)
                code |= 0x8000;
            data[2 * (f * 7 + c)] = char(code & 0xFF);
            data[2 * (f * 7 + c) + 1] = char(code >> 8);
        }
    return data;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 5 && qstrcmp(argv[1], "--once") == 0)
        return openOnce(1, argv, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
            qstrcmp(argv[4], "en") == 0 ? app::UiLanguage::English : app::UiLanguage::Russian);

    QCoreApplication application(argc, argv);
    int runs = 10;
    const QStringList args = QCoreApplication::arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--runs"));
    if (at >= 0 && at + 1 < args.size())
        runs = std::max(1, args.at(at + 1).toInt());
    const qsizetype langAt = args.indexOf(QStringLiteral("--lang"));
    const QString lang
        = langAt >= 0 && langAt + 1 < args.size() ? args.at(langAt + 1) : QStringLiteral("ru");

    QTemporaryDir dir;
    files::DataFileHeader header;
    header.ChartChannelBits = 0x7F;
    header.ChannelIntervalUs = 621.5413411458334 / 3 * 7;
    header.ValueScale = files::ValueScale250;
    header.XTitle = QStringLiteral("Время, мкс");
    header.YTitle = QStringLiteral("Температура");
    const QString file = dir.filePath(QStringLiteral("full.kdx"));
    const QString settings = dir.filePath(QStringLiteral("Ferrun.ini"));
    if (!dir.isValid() || !files::saveDataFile(file, header, recording(), QStringLiteral("bench")))
        return 1;

    const QString self = QCoreApplication::applicationFilePath();
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/ferrun");
    std::vector<double> window, exec;
    for (int i = 0; i < runs + 1; ++i) {
        QProcess run;
        run.start(self, { QStringLiteral("--once"), settings, file, lang });
        if (!run.waitForFinished(60000) || run.exitCode() != 0) {
            std::fprintf(stderr, "run failed: %s\n", run.readAllStandardError().constData());
            return 1;
        }
        bool ok = false;
        const double ms = QString::fromLatin1(run.readAllStandardOutput()).trimmed().toDouble(&ok);
        QElapsedTimer clock;
        clock.start();
        QProcess version;
        version.start(program, { QStringLiteral("--version") });
        version.waitForFinished(30000);
        const double execMs = double(clock.nsecsElapsed()) / 1e6;
        if (!ok || i == 0) // the first run warms the file cache
            continue;
        window.push_back(ms);
        exec.push_back(execMs);
    }
    std::printf("window median_ms=%.1f min_ms=%.1f\n", median(window),
        *std::min_element(window.begin(), window.end()));
    std::printf("exec median_ms=%.1f min_ms=%.1f\n", median(exec),
        *std::min_element(exec.begin(), exec.end()));
    std::printf("total median_ms=%.1f\n", median(window) + median(exec));
    return 0;
}
