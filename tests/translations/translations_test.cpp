// The translation files of the repository are complete, and the check finds what a
// translator can leave behind.

#include "tests/translations/tscheck.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

namespace {

QByteArray ts(const char *messages)
{
    return QByteArray(R"(<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="ru_RU">
<context>
    <name>app::TForm1</name>
)") + messages
        + "</context>\n</TS>\n";
}

TEST(TranslationFiles, EveryTextTranslatedWithItsPlaceholders)
{
    const QDir folder(qEnvironmentVariable("FERRUN_SOURCE_DIR") + QStringLiteral("/translations"));
    const QStringList names = folder.entryList({ QStringLiteral("*.ts") }, QDir::Files);
    ASSERT_TRUE(names.contains(QStringLiteral("ferrun_en.ts"))) << qPrintable(folder.path());
    for (const QString &name : names) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(name);
        const QByteArray text = file.readAll();
        EXPECT_GT(text.count("<message"), 100) << qPrintable(name);
        const QStringList found = tscheck::faults(text);
        EXPECT_TRUE(found.isEmpty()) << qPrintable(name + u'\n' + found.join(u'\n'));
    }
}

TEST(TranslationFiles, CheckFindsWhatATranslatorLeavesBehind)
{
    EXPECT_TRUE(tscheck::faults(ts(R"(
    <message><source>Сохранено: %1</source><translation>Saved: %1</translation></message>
    <message numerus="yes"><source>%n файлов</source><translation>
        <numerusform>%n file</numerusform><numerusform>%n files</numerusform>
    </translation></message>)"))
                    .isEmpty());

    const QStringList found = tscheck::faults(ts(R"(
    <message><source>Папка</source><translation type="unfinished"></translation></message>
    <message><source>Поиск</source><translation type="unfinished">Search</translation></message>
    <message><source>Опции</source><translation> </translation></message>
    <message><source>Цикл №%1</source><translation>Cycle</translation></message>
    <message><source>Стоп</source><translation>Stop %1</translation></message>
    <message><source>Выход</source><translation type="vanished">Quit</translation></message>
    <message><source>ЦИКЛ</source></message>)"));
    ASSERT_EQ(found.size(), 7) << qPrintable(found.join(u'\n'));
    EXPECT_TRUE(found.at(0).contains(QStringLiteral("\"Папка\": translation unfinished")));
    EXPECT_TRUE(found.at(1).contains(QStringLiteral("unfinished")));
    EXPECT_TRUE(found.at(2).contains(QStringLiteral("empty translation")));
    EXPECT_TRUE(found.at(3).contains(QStringLiteral("placeholders differ")));
    EXPECT_TRUE(found.at(4).contains(QStringLiteral("placeholders differ")));
    EXPECT_TRUE(found.at(5).contains(QStringLiteral("vanished")));
    EXPECT_TRUE(found.at(6).startsWith(QStringLiteral("app::TForm1: \"ЦИКЛ\": no translation")));

    EXPECT_EQ(tscheck::faults("<TS><context><message>").size(), 1);
}

// Cyrillic literals of the sources that are not shown through a translation, by file: what
// files store (the settings file's sections and keys, the time axis's title as data files
// hold it), the toolkit's Russian "ОК", and the name of Russian in the language menu.
const QList<std::pair<QString, QString>> NotTranslated {
    { QStringLiteral("files/settings.h"), QStringLiteral("График сигнала") },
    { QStringLiteral("files/settings.h"), QStringLiteral("высота") },
    { QStringLiteral("files/settings.h"), QStringLiteral("ширина") },
    { QStringLiteral("files/settings.h"), QStringLiteral("слева") },
    { QStringLiteral("files/settings.h"), QStringLiteral("сверху") },
    { QStringLiteral("files/settings.h"), QStringLiteral("Запуск") },
    { QStringLiteral("files/settings.h"), QStringLiteral("Тип") },
    { QStringLiteral("files/settings.h"), QStringLiteral("Окно F/T") },
    { QStringLiteral("signal/chartdecoder.cpp"), QStringLiteral("Время, ") },
    { QStringLiteral("app/translation.cpp"), QStringLiteral("ОК") },
    { QStringLiteral("app/language.cpp"), QStringLiteral("Русский") },
};

TEST(TranslationFiles, WindowAndCoreTextsGoThroughTranslation)
{
    const QDir root(qEnvironmentVariable("FERRUN_SOURCE_DIR"));
    int scanned = 0;
    QStringList found;
    for (const char *folder :
        { "app", "chart", "channelchart", "files", "acquisition", "signal", "serial" }) {
        QDirIterator it(root.filePath(QLatin1String(folder)),
            { QStringLiteral("*.cpp"), QStringLiteral("*.h") }, QDir::Files);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(path);
            ++scanned;
            const QString name = root.relativeFilePath(path);
            for (const QString &text :
                tscheck::untranslatedCyrillic(QString::fromUtf8(file.readAll())))
                if (!NotTranslated.contains({ name, text }))
                    found << name + QStringLiteral(": \"") + text + u'"';
        }
    }
    EXPECT_GT(scanned, 100);
    EXPECT_TRUE(found.isEmpty()) << qPrintable(found.join(u'\n'));
}

TEST(TranslationFiles, ScanTellsTranslatedLiteralsFromOthers)
{
    const QString source = QStringLiteral(R"(
        // "Комментарий" in a comment, /* "и здесь" */
        label->setText(tr("Папка"));
        box->setTitle(QCoreApplication::translate("app::TForm1", "Длинный "
                                                                 "текст"));
        constexpr char Title[] = QT_TRANSLATE_NOOP("AxisTitle", "Выборки");
        const QString key = QStringLiteral("высота");
        const char c = '"';
        status->setText(QStringLiteral("Сохранено: ") + name + "ok");
        say(QStringLiteral("Нет " "файлов"));
    )");
    EXPECT_EQ(tscheck::untranslatedCyrillic(source),
        (QStringList { QStringLiteral("высота"), QStringLiteral("Сохранено: "),
            QStringLiteral("Нет файлов") }));
}

} // namespace

namespace {

// The translations of every source text of a .ts file.
QMultiHash<QString, QString> translationsOf(const QByteArray &tsText)
{
    QMultiHash<QString, QString> result;
    QXmlStreamReader xml(tsText);
    QString source;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("source"))
            source = xml.readElementText();
        else if (xml.name() == QLatin1String("translation"))
            result.insert(source, xml.readElementText());
    }
    return result;
}

// The texts a help page sets in bold (the captions of controls it names), in page order,
// without their quotes and with their white space collapsed.
QStringList boldCaptions(const QString &page)
{
    static const QRegularExpression bold(
        QStringLiteral("<b>(.*?)</b>"), QRegularExpression::DotMatchesEverythingOption);
    QStringList captions;
    for (auto it = bold.globalMatch(page); it.hasNext();) {
        QString text = it.next().captured(1);
        for (const char *entity : { "&ldquo;", "&rdquo;", "&laquo;", "&raquo;", "&quot;" })
            text.remove(QLatin1String(entity));
        text.replace(QLatin1String("&amp;"), QLatin1String("&"));
        text.remove(QRegularExpression(QStringLiteral("[«»“”\"]")));
        captions << text.simplified();
    }
    return captions;
}

} // namespace

// The English help names the controls as the English window captions them: a caption the
// Russian page sets in bold that is a text of the window has, at the same place of the
// English page, its English translation.
TEST(TranslationFiles, EnglishHelpUsesTheWindowsEnglishCaptions)
{
    const QDir root(qEnvironmentVariable("FERRUN_SOURCE_DIR"));
    QFile tsFile(root.filePath(QStringLiteral("translations/ferrun_en.ts")));
    ASSERT_TRUE(tsFile.open(QIODevice::ReadOnly));
    const QMultiHash<QString, QString> english = translationsOf(tsFile.readAll());
    const QDir help(root.filePath(QStringLiteral("app/resources/help")));
    int compared = 0;
    for (const QString &name : help.entryList({ QStringLiteral("*.html") }, QDir::Files)) {
        QFile russianFile(help.filePath(name)), englishFile(help.filePath(u"en/"_qs + name));
        ASSERT_TRUE(russianFile.open(QIODevice::ReadOnly) && englishFile.open(QIODevice::ReadOnly))
            << qPrintable(name);
        const QStringList russian = boldCaptions(QString::fromUtf8(russianFile.readAll()));
        const QStringList translated = boldCaptions(QString::fromUtf8(englishFile.readAll()));
        ASSERT_EQ(russian.size(), translated.size()) << qPrintable(name);
        for (qsizetype i = 0; i < russian.size(); ++i) {
            if (!english.contains(russian[i]))
                continue;
            ++compared;
            EXPECT_TRUE(english.values(russian[i]).contains(translated[i])) << qPrintable(name
                + u": "_qs + russian[i] + u" is "_qs + english.values(russian[i]).join(u" or "_qs)
                + u" in the window, "_qs + translated[i] + u" in the help"_qs);
        }
    }
    EXPECT_GT(compared, 20);
}
