#include "acquisition/terminationsignals.h"
#include "app/appoptions.h"
#include "app/closeontermination.h"
#include "app/contexthelp.h"
#include "app/form1.h"
#include "app/translation.h"
#include "files/settings.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QImageWriter>
#include <QScreen>
#include <QTimer>
#include <cstdio>

int main(int argc, char **argv)
{
    // The options are read before the application object exists: --help, --version and a
    // wrong option need no display, and the toolkit would abort without one.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QString error;
    const std::optional<app::AppOptions> options = app::parseArguments(arguments, &error);
    if (!options) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return app::ExitUsage;
    }
    if (options->help || options->version) {
        const QString text = options->help ? app::usageText() : app::versionText();
        std::fputs(text.toUtf8().constData(), stdout);
        return 0;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ferrun"));
    // The installed menu entry and icon (ferrun.desktop, the hicolor "ferrun" icon): a
    // Wayland desktop matches the window to the entry by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("ferrun"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("ferrun")));
    // The language, before any text is made: --lang, else the one chosen in the window's
    // menu, else Russian.
    const QString settingsPath = files::defaultSettingsPath();
    const app::UiTranslation translation(
        app::startupLanguage(options->language, app::storedLanguage(settingsPath)));
    app::ContextHelp::setHelpFile(QStringLiteral("Ferrun.HLP"));

    // SIGTERM, SIGINT and SIGHUP close the window the normal way, so the settings are
    // written, also while a message box is up (start-up may show "АЦП не обнаружено" before
    // the window). Nobody can answer then: what is not saved goes to the recovery folder.
    acquisition::TerminationSignals termination;
    app::CloseOnTermination closer(&termination);
    app::TForm1 form(settingsPath, *options);
    QObject::connect(&closer, &app::CloseOnTermination::terminationRequested, &form,
        &app::TForm1::expectUnattendedClose);
    // When a signal ends the program, its message box is closed at once; the failure to keep
    // the settings still reaches standard error (and the journal).
    QObject::connect(&form, &app::TForm1::settingsWriteFailed,
        [](const QString &message) { std::fprintf(stderr, "ferrun: %s\n", qPrintable(message)); });
    if (!closer.setWindow(&form))
        return 0;
    form.show();
    // A data file named on the command line (a file manager's "Open with"), once the window
    // is up: a message about it then has its window.
    if (!options->file.isEmpty())
        QTimer::singleShot(0, &form, [&form, file = options->file] { form.openFile(file); });

    if (!options->screenshot.isEmpty()) {
        // Open the frequency/time panel, grab the window once it has been laid out and
        // painted, then end without the shutdown sequence (no settings are written).
        QTimer::singleShot(300, &form, [&form] {
            if (!form.frequencyPanelVisible())
                form.findChild<QAction *>(QStringLiteral("actChooseF"))->trigger();
        });
        QTimer::singleShot(800, &form, [&form, &options] {
            // Few colours and the strongest compression keep the picture small.
            const QImage image = form.grab().toImage().convertToFormat(
                QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
            QImageWriter writer(options->screenshot);
            writer.setQuality(0);
            const bool ok = writer.write(image);
            QApplication::exit(ok ? 0 : 1);
        });
    }
    return application.exec();
}
