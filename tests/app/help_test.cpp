// The help in English: the pages F1 opens, the set of pages and the links between them.

#include "app/language.h"
#include "app/translation.h"
#include "tests/app/formtest.h"

#include <QDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <algorithm>
#include <optional>
#include <ostream>

using namespace formtest;

// Readable failure output for addresses and texts.
static void PrintTo(const QUrl &url, std::ostream *out)
{
    *out << url.toString().toStdString();
}
static void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}
static void PrintTo(const QStringList &texts, std::ostream *out)
{
    *out << '[' << texts.join(u'|').toStdString() << ']';
}

// The pages are bundled in the window's static library; a test that makes no window loads
// them itself.
static void loadHelpPages()
{
    Q_INIT_RESOURCE(app);
}

namespace {

// English for the span of a test; Russian again when it ends, however it ends.
// The English texts installed, as `ferrun --lang en` has them; Russian again when it goes.
using EnglishWindow = std::optional<app::UiTranslation>;

bool hasCyrillic(const QString &text)
{
    return std::any_of(text.begin(), text.end(),
        [](QChar c) { return c.unicode() >= 0x0400 && c.unicode() <= 0x04FF; });
}

QString readPage(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The targets of the page's links, as the viewer sees them.
QStringList linksOf(const QString &html)
{
    QTextDocument document;
    document.setHtml(html);
    QStringList links;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isAnchor())
                links << it.fragment().charFormat().anchorHref();
    return links;
}

QString plainText(const QString &html)
{
    QTextDocument document;
    document.setHtml(html);
    return document.toPlainText();
}

} // namespace

TEST_F(FormTest, HelpOpensInTheWindowsLanguage)
{
    TForm1 &f = open();
    showActive(f);
    EnglishWindow english;
    english.emplace(app::UiLanguage::English);

    // F1 on the focused control: its topic's English page.
    control<QToolButton>(f, "btChooseF")->click();
    control<app::SpinEdit>(f, "seF")->setFocus();
    QTest::keyClick(control<app::SpinEdit>(f, "seF"), Qt::Key_F1);
    QTextBrowser *viewer = f.help().viewer();
    ASSERT_TRUE(viewer);
    EXPECT_EQ(f.help().shownTopic(), 4);
    EXPECT_EQ(viewer->source(), QUrl(QStringLiteral("qrc:/help/en/topic4.html")));
    EXPECT_EQ(viewer->windowTitle(), QStringLiteral("Ferrun Help"));
    EXPECT_TRUE(viewer->toPlainText().contains(QStringLiteral("Fsampling, Hz")));
    EXPECT_FALSE(hasCyrillic(viewer->toPlainText())) << qPrintable(viewer->toPlainText());

    // Shift+F1 and a click: the same.
    control<QPlainTextEdit>(f, "mComment")->setFocus();
    QTest::keyClick(control<QPlainTextEdit>(f, "mComment"), Qt::Key_F1, Qt::ShiftModifier);
    QTest::mouseClick(control<QToolButton>(f, "btSaveChart"), Qt::LeftButton);
    EXPECT_EQ(f.help().shownTopic(), 8);
    EXPECT_EQ(viewer->source(), QUrl(QStringLiteral("qrc:/help/en/topic8.html")));
    EXPECT_FALSE(hasCyrillic(viewer->toPlainText()));

    // Links followed from the keyboard in the viewer stay among the English pages: the first
    // link of a page is "Contents", the third of the contents is the catalogue's topic.
    viewer->setFocus();
    QTest::keyClick(viewer, Qt::Key_Tab);
    QTest::keyClick(viewer, Qt::Key_Return);
    EXPECT_EQ(viewer->source(), QUrl(QStringLiteral("qrc:/help/en/contents.html")));
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(viewer, Qt::Key_Tab);
    QTest::keyClick(viewer, Qt::Key_Return);
    EXPECT_EQ(viewer->source(), QUrl(QStringLiteral("qrc:/help/en/topic3.html")));
    EXPECT_FALSE(hasCyrillic(viewer->toPlainText()));

    // Back in Russian, the same viewer shows the Russian page under a Russian title.
    english.reset();
    control<app::SpinEdit>(f, "seF")->setFocus();
    QTest::keyClick(control<app::SpinEdit>(f, "seF"), Qt::Key_F1);
    EXPECT_EQ(viewer->source(), QUrl(QStringLiteral("qrc:/help/topic4.html")));
    EXPECT_EQ(viewer->windowTitle(), QStringLiteral("Справка Ferrun"));
    EXPECT_TRUE(viewer->toPlainText().contains(QStringLiteral("Fвыборки, Гц")));
}

TEST(Help, EveryPageHasAnEnglishPageWithTheSameLinks)
{
    loadHelpPages();
    EnglishWindow english;
    english.emplace(app::UiLanguage::English);
    const QStringList russianPages
        = QDir(QStringLiteral(":/help")).entryList({ "*.html" }, QDir::Files);
    const QStringList englishPages
        = QDir(QStringLiteral(":/help/en")).entryList({ "*.html" }, QDir::Files);
    ASSERT_EQ(russianPages.size(), 8);
    EXPECT_EQ(englishPages, russianPages);

    for (const QString &name : russianPages) {
        SCOPED_TRACE(name.toStdString());
        const QString page = readPage(QStringLiteral(":/help/en/") + name);
        ASSERT_FALSE(page.isEmpty());
        EXPECT_TRUE(page.contains(QLatin1String("<html lang=\"en\">")));
        EXPECT_FALSE(hasCyrillic(plainText(page))) << qPrintable(plainText(page));
        // The same links as the Russian page, and each one lands on an English page.
        const QStringList links = linksOf(page);
        EXPECT_EQ(links, linksOf(readPage(QStringLiteral(":/help/") + name)));
        const QUrl base(QStringLiteral("qrc:/help/en/") + name);
        for (const QString &link : links) {
            const QString target = base.resolved(QUrl(link)).path();
            EXPECT_TRUE(target.startsWith(QLatin1String("/help/en/"))) << qPrintable(link);
            EXPECT_TRUE(QFile::exists(u':' + target)) << qPrintable(link);
        }
    }

    // The page of each topic in either language; a topic or a help file without pages has none.
    for (int topic = 2; topic <= 8; ++topic) {
        using app::ContextHelp;
        const QString help = QStringLiteral("Ferrun.HLP");
        EXPECT_EQ(
            ContextHelp::pageFor(help, topic), QStringLiteral(":/help/en/topic%1.html").arg(topic));
        EXPECT_EQ(ContextHelp::pageFor(help, topic, app::UiLanguage::Russian),
            QStringLiteral(":/help/topic%1.html").arg(topic));
    }
    EXPECT_TRUE(app::ContextHelp::pageFor(QStringLiteral("Ferrun.HLP"), 9).isEmpty());
    EXPECT_TRUE(app::ContextHelp::pageFor(QStringLiteral("Other.HLP"), 4).isEmpty());
}
