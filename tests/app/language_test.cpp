// The window in each of its languages: texts of the window, of the core and of the toolkit's
// dialogs, the language menu and --lang, and recordings stored alike in either language.

#include "acquisition/samplingparameters.h"
#include "app/appoptions.h"
#include "app/language.h"
#include "app/statusbar.h"
#include "app/translation.h"
#include "files/inifile.h"
#include "files/settings.h"
#include "files/windows1251.h"
#include "tests/app/filewindow.h"

#include <QAction>
#include <QComboBox>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <functional>

using namespace filewindow;
namespace K = files::SettingsKeys;

namespace {

struct BoxTexts
{
    QString title;
    QString text;
    QStringList buttons; // sorted
};

// The message box that comes up while `action` runs, answered with its escape button.
BoxTexts answerBox(const std::function<void()> &action)
{
    BoxTexts seen;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !seen.title.isEmpty())
            return;
        seen.title = box->windowTitle();
        seen.text = box->text();
        for (QAbstractButton *button : box->buttons())
            seen.buttons << button->text();
        seen.buttons.sort();
        box->escapeButton()->click();
    });
    poll.start();
    action();
    return seen;
}

// The text of the toolkit's own OK button in a message box.
QString toolkitOkText()
{
    QMessageBox box(QMessageBox::Information, {}, {}, QMessageBox::Ok);
    return box.button(QMessageBox::Ok)->text();
}

class LanguageTest : public FileWindowTest
{
protected:
    // A file of T1 (degrees against time in ms by the fixture's settings), opened.
    app::TForm1 &openWithRecording()
    {
        app::TForm1 &f = open();
        const QString run = file(QStringLiteral("run.kdx"));
        writeDataFile(run, 0x01, words({ 100, 200, 300, 400 }), QStringLiteral("Печь 3"));
        load(run);
        EXPECT_EQ(f.series(files::ChannelId::T1)->Count(), 3);
        return f;
    }

    static void choose(QComboBox *box, int index)
    {
        box->setFocus();
        while (box->currentIndex() < index)
            QTest::keyClick(box, Qt::Key_Down);
    }

    // A window on the settings file as the last one left it.
    app::TForm1 &reopen()
    {
        form = std::make_unique<app::TForm1>(
            file(QStringLiteral("Ferrun.ini")), app::AppOptions {}, environment());
        form->show();
        // "АЦП не обнаружено" from the start-up's discovery comes once the window is up.
        EXPECT_TRUE(QTest::qWaitFor([this] { return !messages.isEmpty(); }));
        messages.clear();
        return *form;
    }

    // A lossy comment makes the save ask in a message box.
    BoxTexts saveAsksAboutTheComment(app::TForm1 &f)
    {
        control<QPlainTextEdit>(f, "mComment")->setPlainText(QStringLiteral("λ = 650"));
        return answerBox([&] { save(file(QStringLiteral("asked.kdx"))); });
    }
};

TEST_F(LanguageTest, EnglishWindowCoreTextsAndDialogs)
{
    const app::UiTranslation english(app::UiLanguage::English);
    ASSERT_TRUE(english.complete());
    EXPECT_EQ(app::uiLanguage(), app::UiLanguage::English);
    app::TForm1 &f = openWithRecording();

    EXPECT_TRUE(f.windowTitle().endsWith(QStringLiteral("7 thermocouples, photodiode")));
    EXPECT_EQ(control<QToolButton>(f, "btStartPlus")->text(), QStringLiteral("START"));
    EXPECT_EQ(f.findChild<QAction *>(QStringLiteral("actQuit"))->text(), QStringLiteral("Quit"));
    EXPECT_EQ(control<QMenu>(f, "pmLanguage")->title(), QStringLiteral("Language / Язык"));
    EXPECT_EQ(control<QGroupBox>(f, "gbFT")->title(),
        QStringLiteral("Sampling frequency / Measuring time"));
    // The status of the chart build (the presenter's) and the frequency panel's values.
    EXPECT_EQ(statusBar(f)->panelText(0), QStringLiteral("DRAWING THE CHART"));
    EXPECT_TRUE(f.sampling().lbF().startsWith(QStringLiteral("Fsampling,Hz=")))
        << f.sampling().lbF().toStdString();
    EXPECT_EQ(chartOf(f)->LeftAxis()->Title().Caption(), QStringLiteral("Temperature"));
    EXPECT_EQ(chartOf(f)->BottomAxis()->Title().Caption(), QStringLiteral("Time, ms"));

    const BoxTexts box = saveAsksAboutTheComment(f);
    EXPECT_TRUE(box.title.endsWith(QStringLiteral("7 thermocouples, photodiode")));
    EXPECT_TRUE(box.text.startsWith(QStringLiteral("The comment holds characters")))
        << box.text.toStdString();
    EXPECT_EQ(box.buttons,
        (QStringList { QStringLiteral("Back to the comment"), QStringLiteral("Save as it is") }));
    EXPECT_EQ(toolkitOkText(), QStringLiteral("OK"));
}

TEST_F(LanguageTest, RussianWindowIsAsBefore)
{
    const app::UiTranslation russian(app::UiLanguage::Russian);
    ASSERT_TRUE(russian.complete()) << "qt6-translations-l10n is not installed";
    app::TForm1 &f = openWithRecording();

    EXPECT_TRUE(f.windowTitle().endsWith(QStringLiteral("7 термопар, фотодиод")));
    EXPECT_EQ(control<QToolButton>(f, "btStartPlus")->text(), QStringLiteral("ПУСК ИЗМЕРЕНИЯ"));
    EXPECT_EQ(control<QMenu>(f, "pmLanguage")->title(), QStringLiteral("Язык / Language"));
    EXPECT_EQ(statusBar(f)->panelText(0), QStringLiteral("ПОСТРОЕНИЕ ГРАФИКА"));
    EXPECT_EQ(chartOf(f)->LeftAxis()->Title().Caption(), QStringLiteral("Температура"));

    const BoxTexts box = saveAsksAboutTheComment(f);
    EXPECT_EQ(box.buttons,
        (QStringList {
            QStringLiteral("Вернуться к комментарию"), QStringLiteral("Сохранить так") }));
    EXPECT_EQ(toolkitOkText(), QStringLiteral("ОК"));
}

// A recording saved from the English window is byte for byte the one the Russian window
// saves: the axis titles are the recording's own, in Russian, whatever the chart shows.
TEST_F(LanguageTest, SavedRecordingIsTheSameInEitherLanguage)
{
    QByteArray saved[2];
    for (const app::UiLanguage language : { app::UiLanguage::Russian, app::UiLanguage::English }) {
        const app::UiTranslation translation(language);
        app::TForm1 &f = openWithRecording();
        choose(control<QComboBox>(f, "cbShowK"), 1); // ADC units against samples
        EXPECT_EQ(chartOf(f)->LeftAxis()->Title().Caption(),
            language == app::UiLanguage::English ? QStringLiteral("ADC units")
                                                 : QStringLiteral("единицы АЦП"));
        const QString path = file(QStringLiteral("saved-%1.kdx").arg(app::languageCode(language)));
        save(path);
        saved[int(language)] = readAll(path);
        // A save that fails is reported in the window's language; nothing is written.
        messages.clear();
        const QString nowhere = file(QStringLiteral("no/such/folder.kdx"));
        save(nowhere);
        const QString failed = (language == app::UiLanguage::English
                ? QStringLiteral("Cannot create file %1: ")
                : QStringLiteral("Не удаётся создать файл %1: "))
                                   .arg(nowhere);
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages.at(0).startsWith(failed)) << qPrintable(messages.at(0));
        // The system's reason, in the window's language where the system has it in that
        // language (the toolkit's Russian has this one).
        const QString reason = messages.at(0).mid(failed.size());
        if (language == app::UiLanguage::English)
            EXPECT_EQ(reason, QStringLiteral("No such file or directory"));
        else
            EXPECT_TRUE(!reason.isEmpty() && reason != QStringLiteral("No such file or directory"))
                << qPrintable(reason);
        EXPECT_FALSE(QFileInfo::exists(file(QStringLiteral("no"))));
        form.reset();
    }
    ASSERT_FALSE(saved[0].isEmpty());
    EXPECT_EQ(saved[0], saved[1]);
    EXPECT_TRUE(saved[1].contains(files::toWindows1251(QStringLiteral("Температура"))));
    EXPECT_TRUE(saved[1].contains(files::toWindows1251(QStringLiteral("Время, мкс"))));
    EXPECT_EQ(saved[1], readAll(file(QStringLiteral("run.kdx"))));
}

// The menu keeps the choice in a section of its own, says it applies at the next start, and
// the file is otherwise what the window writes without it. --lang overrides it for one run.
TEST_F(LanguageTest, MenuKeepsTheChoiceAndLangOverridesIt)
{
    const QString settings = file(QStringLiteral("Ferrun.ini"));
    open();
    form->close(); // every setting written
    const QByteArray without = readAll(settings);
    EXPECT_EQ(app::storedLanguage(settings), std::nullopt);

    app::TForm1 &f = reopen();
    QAction *english
        = control<QMenu>(f, "pmLanguage")->findChild<QAction *>(QStringLiteral("actLanguage_en"));
    ASSERT_TRUE(english);
    EXPECT_FALSE(english->isChecked());
    english->trigger();
    // The language in use stays ticked; the one chosen says when it applies.
    EXPECT_FALSE(english->isChecked());
    EXPECT_EQ(english->text(), QStringLiteral("English — при следующем запуске"));
    EXPECT_EQ(messages,
        QStringList { QStringLiteral("Язык окна сменится при следующем запуске программы.") });
    EXPECT_EQ(app::storedLanguage(settings), app::UiLanguage::English);
    form->close();
    EXPECT_EQ(readAll(settings), without + "\r\n[Language]\r\nLanguage=en\r\n");
    EXPECT_EQ(app::storedLanguage(settings), app::UiLanguage::English);

    // The next window shows the stored choice; choosing the language already shown says
    // nothing more.
    app::TForm1 &g = reopen();
    EXPECT_TRUE(control<QMenu>(g, "pmLanguage")
                    ->findChild<QAction *>(QStringLiteral("actLanguage_ru"))
                    ->isChecked());
    EXPECT_EQ(control<QMenu>(g, "pmLanguage")
                  ->findChild<QAction *>(QStringLiteral("actLanguage_en"))
                  ->text(),
        QStringLiteral("English — при следующем запуске"));
    control<QMenu>(g, "pmLanguage")
        ->findChild<QAction *>(QStringLiteral("actLanguage_ru"))
        ->trigger();
    EXPECT_TRUE(messages.isEmpty());
    form->close();
    EXPECT_EQ(app::storedLanguage(settings), app::UiLanguage::Russian);

    QString error;
    const auto en = app::parseArguments({ QStringLiteral("--lang"), QStringLiteral("EN") }, &error);
    ASSERT_TRUE(en);
    EXPECT_EQ(
        app::startupLanguage(en->language, app::UiLanguage::Russian), app::UiLanguage::English);
    EXPECT_EQ(
        app::startupLanguage(std::nullopt, app::UiLanguage::English), app::UiLanguage::English);
    EXPECT_EQ(app::startupLanguage(std::nullopt, std::nullopt), app::UiLanguage::Russian);
    EXPECT_FALSE(app::parseArguments({ QStringLiteral("--lang=de") }, &error));
    EXPECT_EQ(error, QStringLiteral("ferrun: option --lang takes en or ru, not 'de'"));
}

} // namespace
