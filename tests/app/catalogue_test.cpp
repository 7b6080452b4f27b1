// The comment catalogue panel, the comment copy and the toolkit's Russian dialogs on real
// widgets over real files in a temporary folder.
#include "app/cataloguepanel.h"
#include "app/statusbar.h"
#include "app/translation.h"
#include "filewindow.h"

#include <QClipboard>
#include <QColorDialog>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTimer>

using filewindow::writeDataFile;
using filewindow::writeForeignFile;

namespace {

class CatalogueTest : public filewindow::FileWindowTest
{
protected:
    // a.kdx with two lines, b.kdx without comment, c.kdx whose first line looks like a
    // marker line: the catalogue's seven lines.
    void writeThreeFiles()
    {
        writeDataFile(file(QStringLiteral("a.kdx")), 0x01, filewindow::words({ 1, 2, 3 }),
            QStringLiteral("первый опыт\r\nтемпература печи"));
        writeDataFile(file(QStringLiteral("b.kdx")), 0x01, filewindow::words({ 4, 5, 6 }), {});
        writeDataFile(file(QStringLiteral("c.kdx")), 0x01, filewindow::words({ 7, 8, 9 }),
            QStringLiteral("=v=a.kdx=v=\r\nтретий, ТЕМП"));
    }
    static QStringList threeFileLines()
    {
        return { QStringLiteral("=v=a.kdx=v="), QStringLiteral("первый опыт"),
            QStringLiteral("температура печи"), QStringLiteral("=v=b.kdx=v="),
            QStringLiteral("=v=c.kdx=v="), QStringLiteral("=v=a.kdx=v="),
            QStringLiteral("третий, ТЕМП") };
    }

    // The window with b.kdx loaded and the catalogue of its folder shown.
    app::TForm1 &openCatalogue()
    {
        writeThreeFiles();
        app::TForm1 &f = open();
        load(file(QStringLiteral("b.kdx")));
        QTest::mouseClick(control<QToolButton>(f, "btShowCmnt"), Qt::LeftButton);
        return f;
    }

    void caretToLine(int line)
    {
        QTextCursor caret(
            control<QPlainTextEdit>(*form, "MAllCmnt")->document()->findBlockByNumber(line));
        caret.movePosition(QTextCursor::Right);
        control<QPlainTextEdit>(*form, "MAllCmnt")->setTextCursor(caret);
    }

    QString selectedText() const
    {
        return control<QPlainTextEdit>(*form, "MAllCmnt")->textCursor().selectedText();
    }
};

} // namespace

TEST_F(CatalogueTest, ListsEveryFileWithItsComment)
{
    app::TForm1 &f = openCatalogue();
    EXPECT_TRUE(control<QGroupBox>(f, "gbAllCmnt")->isVisible());
    EXPECT_TRUE(control<QPlainTextEdit>(f, "MAllCmnt")->isVisible());
    EXPECT_EQ(f.cataloguePanel().lines(), threeFileLines());
    EXPECT_EQ(control<QPlainTextEdit>(f, "MAllCmnt")->toPlainText(), threeFileLines().join(u'\n'));
    // The caret at the end of the first line.
    EXPECT_EQ(control<QPlainTextEdit>(f, "MAllCmnt")->textCursor().blockNumber(), 0);
    EXPECT_TRUE(control<QPlainTextEdit>(f, "MAllCmnt")->textCursor().atBlockEnd());
    EXPECT_TRUE(messages.isEmpty());
    // The panel follows the chart's size.
    EXPECT_EQ(control<QGroupBox>(f, "gbAllCmnt")->height(), chartOf(f)->height());

    QTest::mouseClick(control<QPushButton>(f, "btCancel"), Qt::LeftButton);
    EXPECT_FALSE(control<QGroupBox>(f, "gbAllCmnt")->isVisible());
    EXPECT_EQ(
        control<QPlainTextEdit>(f, "mComment")->toPlainText(), QString()); // b.kdx still shown

    // A foreign file and a folder of the extension are skipped: the list stays and holds every
    // data file; the first status panel counts them while the panel is shown, and has its
    // own text back when the panel goes.
    statusBar(f)->setPanelText(0, QStringLiteral("до каталога"));
    writeForeignFile(file(QStringLiteral("b2.kdx")));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("b3.kdx")));
    QTest::mouseClick(control<QToolButton>(f, "btShowCmnt"), Qt::LeftButton);
    EXPECT_TRUE(control<QGroupBox>(f, "gbAllCmnt")->isVisible());
    EXPECT_TRUE(control<QPlainTextEdit>(f, "MAllCmnt")->isVisible());
    EXPECT_EQ(f.cataloguePanel().lines(), threeFileLines());
    EXPECT_EQ(statusBar(f)->panelText(0), QStringLiteral("Пропущено файлов: 2 (b2.kdx, b3.kdx)"));
    EXPECT_TRUE(messages.isEmpty());
    QTest::mouseClick(control<QPushButton>(f, "btCancel"), Qt::LeftButton);
    EXPECT_EQ(statusBar(f)->panelText(0), QStringLiteral("до каталога"));
}

// A comment longer than the list keeps is shown up to its cut mark; the search reads the rest
// from the file, selects the cut mark and says where it found the text; opening from the cut
// mark opens its file.
TEST_F(CatalogueTest, LongCommentCutAndSearchedWhole)
{
    QString comment;
    for (int i = 1; i <= 20000; ++i)
        comment += QStringLiteral("строка %1 ").arg(i).leftJustified(60, u'.') + "\r\n";
    comment += QStringLiteral("последнее слово");
    writeDataFile(file(QStringLiteral("a.kdx")), 0x01, filewindow::words({ 1, 2, 3 }), comment);
    writeDataFile(file(QStringLiteral("b.kdx")), 0x01, filewindow::words({ 4, 5, 6 }),
        QStringLiteral("слово"));
    app::TForm1 &f = open();
    load(file(QStringLiteral("b.kdx")));
    const QString status = statusBar(f)->panelText(0);
    QTest::mouseClick(control<QToolButton>(f, "btShowCmnt"), Qt::LeftButton);

    // 16912 whole lines of 62 bytes in the first MiB, and 32 bytes of the next.
    const QStringList lines = f.cataloguePanel().lines();
    const QString cutMark = QStringLiteral("… (комментарий длиннее, показано байт: 1048576 из %1)")
                                .arg(20000 * 62 + 15);
    ASSERT_EQ(lines.size(), 1 + 16913 + 1 + 2);
    EXPECT_EQ(lines.at(16913), QStringLiteral("строка 16913 ").leftJustified(32, u'.'));
    EXPECT_EQ(lines.at(16914), cutMark);
    EXPECT_EQ(control<QPlainTextEdit>(f, "MAllCmnt")->document()->findBlockByNumber(16914).text(),
        cutMark);
    EXPECT_EQ(control<QPlainTextEdit>(f, "MAllCmnt")->document()->blockCount(), lines.size());

    // Found beyond the shown part: the cut mark; then b.kdx's line, then the cut mark again.
    control<QLineEdit>(f, "eFind")->setText(QStringLiteral("СЛОВО"));
    QTest::mouseClick(control<QPushButton>(f, "btFind"), Qt::LeftButton);
    EXPECT_EQ(selectedText(), cutMark);
    EXPECT_EQ(statusBar(f)->panelText(0),
        QStringLiteral("Найдено за показанной частью комментария: a.kdx, строка 20001"));
    QTest::mouseClick(control<QPushButton>(f, "btFind"), Qt::LeftButton);
    EXPECT_EQ(selectedText(), QStringLiteral("слово"));
    EXPECT_EQ(statusBar(f)->panelText(0), status);
    control<QLineEdit>(f, "eFind")->setText(QStringLiteral("строка 19999"));
    QTest::mouseClick(control<QPushButton>(f, "btFind"), Qt::LeftButton);
    EXPECT_EQ(selectedText(), cutMark);
    EXPECT_EQ(statusBar(f)->panelText(0),
        QStringLiteral("Найдено за показанной частью комментария: a.kdx, строка 19999"));

    // Open from the cut mark: a.kdx, whole; the status panel has its own text back.
    QTest::mouseClick(control<QPushButton>(f, "btOpenFind"), Qt::LeftButton);
    EXPECT_FALSE(control<QGroupBox>(f, "gbAllCmnt")->isVisible());
    EXPECT_EQ(f.fileControl().CurrentDataFile, file(QStringLiteral("a.kdx")));
    EXPECT_TRUE(control<QPlainTextEdit>(f, "mComment")
                    ->toPlainText()
                    .endsWith(QStringLiteral("последнее слово")));
    EXPECT_EQ(statusBar(f)->panelText(0), status);
    EXPECT_TRUE(messages.isEmpty());

    // The file gone since the list was built: its rest cannot be searched, and the status
    // panel says so.
    QTest::mouseClick(control<QToolButton>(f, "btShowCmnt"), Qt::LeftButton);
    ASSERT_TRUE(QFile::remove(file(QStringLiteral("a.kdx"))));
    caretToLine(0);
    QTest::mouseClick(control<QPushButton>(f, "btFind"), Qt::LeftButton);
    EXPECT_EQ(selectedText(), QString());
    EXPECT_EQ(statusBar(f)->panelText(0), QStringLiteral("Не удалось дочитать комментарий: a.kdx"));
}

TEST_F(CatalogueTest, SearchCyclesAndFoldsCaseUnlessAsked)
{
    app::TForm1 &f = openCatalogue();
    control<QLineEdit>(f, "eFind")->setText(QStringLiteral("ТЕМП"));
    QTest::mouseClick(control<QPushButton>(f, "btFind"), Qt::LeftButton);
    EXPECT_EQ(selectedText(), QStringLiteral("температура печи"));
    EXPECT_TRUE(control<QPlainTextEdit>(f, "MAllCmnt")->hasFocus());
    EXPECT_EQ(f.fileControl().SearchLine, 3);
    QTest::mouseClick(control<QPushButton>(f, "btFind"), Qt::LeftButton);
    EXPECT_EQ(selectedText(), QStringLiteral("третий, ТЕМП"));
    EXPECT_EQ(f.fileControl().SearchLine, 0); // the last line: from the top again
    QTest::mouseClick(control<QPushButton>(f, "btFind"), Qt::LeftButton);
    EXPECT_EQ(selectedText(), QStringLiteral("температура печи"));

    // With "регистр" checked the lower-case line no longer matches.
    QTest::mouseClick(control<QCheckBox>(f, "chkCaps"), Qt::LeftButton);
    ASSERT_TRUE(control<QCheckBox>(f, "chkCaps")->isChecked());
    QTest::mouseClick(control<QPushButton>(f, "btFind"), Qt::LeftButton);
    EXPECT_EQ(selectedText(), QStringLiteral("третий, ТЕМП"));
    QTest::mouseClick(control<QPushButton>(f, "btFind"), Qt::LeftButton);
    EXPECT_EQ(selectedText(), QStringLiteral("третий, ТЕМП"));

    // Found nowhere: nothing selected, SearchLine unchanged.
    caretToLine(1);
    const qsizetype searchLine = f.fileControl().SearchLine;
    control<QLineEdit>(f, "eFind")->setText(QStringLiteral("нигде"));
    QTest::mouseClick(control<QPushButton>(f, "btFind"), Qt::LeftButton);
    EXPECT_EQ(selectedText(), QString());
    EXPECT_EQ(f.fileControl().SearchLine, searchLine);
    // Enter in the search box searches too.
    control<QLineEdit>(f, "eFind")->setText(QStringLiteral("первый"));
    control<QLineEdit>(f, "eFind")->setFocus();
    QTest::keyClick(control<QLineEdit>(f, "eFind"), Qt::Key_Return);
    EXPECT_EQ(selectedText(), QStringLiteral("первый опыт"));
}

TEST_F(CatalogueTest, OpensTheEntryUnderTheCaret)
{
    app::TForm1 &f = openCatalogue();
    const QString folder = dir.path() + u'/';

    // "Открыть файл" on the line of c.kdx that looks like a marker: it names a.kdx.
    caretToLine(6);
    QTest::mouseClick(control<QPushButton>(f, "btOpenFind"), Qt::LeftButton);
    EXPECT_FALSE(control<QGroupBox>(f, "gbAllCmnt")->isVisible());
    EXPECT_EQ(f.fileControl().CurrentDataFile, folder + QStringLiteral("a.kdx"));
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(),
        QStringLiteral("первый опыт\nтемпература печи"));
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("ФАЙЛ a.kdx"));

    // A double click on a word of c.kdx's marker line.
    QTest::mouseClick(control<QToolButton>(f, "btShowCmnt"), Qt::LeftButton);
    caretToLine(4);
    const QRect at = control<QPlainTextEdit>(f, "MAllCmnt")->cursorRect();
    QTest::mouseDClick(
        control<QPlainTextEdit>(f, "MAllCmnt")->viewport(), Qt::LeftButton, {}, at.center());
    EXPECT_FALSE(control<QGroupBox>(f, "gbAllCmnt")->isVisible());
    EXPECT_EQ(f.fileControl().CurrentDataFile, folder + QStringLiteral("c.kdx"));
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(),
        QStringLiteral("=v=a.kdx=v=\nтретий, ТЕМП"));

    // Enter on the comment of a.kdx, after a file of another folder was opened while the
    // list was shown: the entry is taken from the listed folder.
    QTest::mouseClick(control<QToolButton>(f, "btShowCmnt"), Qt::LeftButton);
    QDir(dir.path()).mkdir(QStringLiteral("other"));
    const QString elsewhere = file(QStringLiteral("other/a.kdx"));
    writeDataFile(elsewhere, 0x01, filewindow::words({ 1, 2, 3 }), QStringLiteral("чужой"));
    load(elsewhere);
    caretToLine(2);
    control<QPlainTextEdit>(f, "MAllCmnt")->setFocus();
    QTest::keyClick(control<QPlainTextEdit>(f, "MAllCmnt"), Qt::Key_Return);
    EXPECT_EQ(f.fileControl().CurrentDataFile, folder + QStringLiteral("a.kdx"));
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(),
        QStringLiteral("первый опыт\nтемпература печи"));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(CatalogueTest, ChooseFolderListsThePickedFilesFolder)
{
    app::TForm1 &f = openCatalogue();
    QDir(dir.path()).mkdir(QStringLiteral("other"));
    const QString x = file(QStringLiteral("other/x.kdx"));
    const QString y = file(QStringLiteral("other/y.kdx"));
    writeDataFile(x, 0x01, filewindow::words({ 1, 2, 3 }), QStringLiteral("икс"));
    writeDataFile(y, 0x01, filewindow::words({ 1, 2, 3 }), QStringLiteral("игрек"));

    openAnswers.push_back(x);
    QTest::mouseClick(control<QPushButton>(f, "btPath"), Qt::LeftButton);
    EXPECT_EQ(openDialogs, 2); // the load of b.kdx, then the folder
    EXPECT_EQ(f.cataloguePanel().lines(),
        (QStringList { QStringLiteral("=v=x.kdx=v="), QStringLiteral("икс"),
            QStringLiteral("=v=y.kdx=v="), QStringLiteral("игрек") }));
    EXPECT_EQ(f.fileControl().CurrentDataFile, x);
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(), QString()); // not loaded
    // Browsing now works in that folder.
    QTest::mouseClick(control<QToolButton>(f, "btNextFile"), Qt::LeftButton);
    EXPECT_EQ(f.fileControl().CurrentDataFile, y);
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(), QStringLiteral("игрек"));

    // Cancelled: the message without an extension, an empty list, the panel stays.
    QTest::mouseClick(control<QToolButton>(f, "btShowCmnt"), Qt::LeftButton);
    QTest::mouseClick(control<QPushButton>(f, "btPath"), Qt::LeftButton);
    EXPECT_EQ(messages, QStringList { QStringLiteral("Выберите путь, содержащий файлы ") });
    EXPECT_EQ(f.fileControl().CurrentDataFile, QStringLiteral("zu:"));
    EXPECT_TRUE(f.cataloguePanel().lines().isEmpty());
    EXPECT_TRUE(control<QGroupBox>(f, "gbAllCmnt")->isVisible());
}

TEST_F(CatalogueTest, CopyPutsCommentNameAndDateOnTheClipboard)
{
    app::TForm1 &f = open();
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QTest::mouseClick(control<QToolButton>(f, "btCopy"), Qt::LeftButton); // no file yet
    EXPECT_EQ(
        messages, QStringList { QStringLiteral("Недопустимый аргумент при кодировании даты") });
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));

    const QString run = file(QStringLiteral("run.kdx"));
    writeDataFile(run, 0x01, filewindow::words({ 1, 2, 3 }), QStringLiteral("abc"));
    load(run);
    const QDateTime when(QDate(2024, 3, 5), QTime(14, 7, 9));
    {
        QFile touched(run);
        ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
        ASSERT_TRUE(touched.setFileTime(when, QFileDevice::FileModificationTime));
    }
    const QLocale locale = QLocale::system();
    QString time = locale.timeFormat(QLocale::LongFormat);
    time.remove(QRegularExpression(QStringLiteral("\\s*\\bt+\\b")));
    const QString stamp = locale.toString(when.date(), QLocale::ShortFormat) + u' '
        + locale.toString(when.time(), time.trimmed());
    messages.clear();
    QTest::mouseClick(control<QToolButton>(f, "btCopy"), Qt::LeftButton);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
        QStringLiteral("abc\n") + run + QStringLiteral("  ") + stamp);

    // At midnight the time is left out; the file gone, the clipboard stays.
    {
        QFile touched(run);
        ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
        ASSERT_TRUE(touched.setFileTime(
            QDateTime(QDate(2024, 3, 6), QTime(0, 0)), QFileDevice::FileModificationTime));
    }
    EXPECT_EQ(app::CataloguePanel::copyText({}, run),
        run + QStringLiteral("  ") + locale.toString(QDate(2024, 3, 6), QLocale::ShortFormat));
    ASSERT_TRUE(QFile::remove(run));
    QTest::mouseClick(control<QToolButton>(f, "btCopy"), Qt::LeftButton);
    EXPECT_EQ(
        messages, QStringList { QStringLiteral("Недопустимый аргумент при кодировании даты") });
    EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith(QStringLiteral("abc\n")));
}

// The toolkit's own dialogs speak Russian once its translation is loaded: no Latin letter in
// any button or label of a message box, the save dialog and the colour dialog (but the
// colour dialog's "HTML:").
TEST_F(CatalogueTest, DialogsSpeakRussian)
{
    const app::UiTranslation russian(app::UiLanguage::Russian);
    ASSERT_TRUE(russian.complete()) << "qt6-translations-l10n is not installed";
    app::TForm1 &f = open();
    static const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
    const auto englishTexts = [](QWidget *dialog) {
        QStringList found;
        for (QAbstractButton *b : dialog->findChildren<QAbstractButton *>())
            if (b->isVisibleTo(dialog) && b->text().contains(latin))
                found << b->text();
        for (QLabel *l : dialog->findChildren<QLabel *>())
            if (l->isVisibleTo(dialog) && l->text().contains(latin))
                found << l->text();
        return found;
    };

    QMessageBox box(QMessageBox::Information, QStringLiteral("7 термопар, фотодиод"),
        QStringLiteral("Больше нет файлов"), QMessageBox::Ok, &f);
    box.show();
    EXPECT_EQ(englishTexts(&box), QStringList());
    EXPECT_EQ(box.button(QMessageBox::Ok)->text().remove(u'&'), QStringLiteral("ОК"));
    box.close();

    QFileDialog *save = f.fileControl().saveDialog();
    save->show();
    EXPECT_EQ(englishTexts(save), QStringList());
    save->close();

    QColorDialog colours(&f);
    colours.show();
    EXPECT_EQ(englishTexts(&colours), QStringList { QStringLiteral("&HTML:") });
    colours.close();
}
