#include "app/cataloguepanel.h"

#include "acquisition/measurementsession.h"
#include "app/filecontrol.h"
#include "files/catalogue.h"
#include "files/folderbrowser.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>

namespace app {

namespace {

// The catalogue of the folder and extension of `dataFile`. A name without a folder part
// ("zu:") names no folder: nothing matches.
files::Catalogue catalogueOf(const QString &dataFile)
{
    const QString folder = files::folderPart(dataFile);
    if (folder.isEmpty()) {
        files::Catalogue none;
        none.stop = files::CatalogueStop::NoFiles;
        return none;
    }
    return files::buildCatalogue(folder, files::extensionPart(dataFile));
}

// The desktop's long time format without the time zone, which the desktop's clock does
// not show either.
QString longTimeFormat(const QLocale &locale)
{
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b"));
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(zone);
    return format.trimmed();
}

} // namespace

CataloguePanel::CataloguePanel(CatalogueWidgets widgets, FileControl &files,
    acquisition::MeasurementSession &session, std::function<void()> layOut,
    std::function<void(const QString &)> showMessage, QObject *parent)
    : QObject(parent)
    , m_w(widgets)
    , m_files(files)
    , m_session(session)
    , m_layOut(std::move(layOut))
    , m_showMessage(std::move(showMessage))
{
    // The list is built from the folder; it is read, searched and opened, not edited. The
    // caret stays, since opening takes the entry it is in.
    QPlainTextEdit *list = m_w.MAllCmnt;
    list->setReadOnly(true);
    list->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    list->installEventFilter(this);
    m_viewport = list->viewport();
    m_viewport->installEventFilter(this);

    connect(m_w.btPath, &QPushButton::clicked, this, &CataloguePanel::btPathClick);
    connect(m_w.btCancel, &QPushButton::clicked, this, &CataloguePanel::btCancelClick);
    connect(m_w.btOpenFind, &QPushButton::clicked, this, &CataloguePanel::openEntry);
    connect(m_w.btFind, &QPushButton::clicked, this, &CataloguePanel::btFindClick);
    connect(m_w.eFind, &QLineEdit::returnPressed, this, &CataloguePanel::btFindClick);
}

void CataloguePanel::fill(const QStringList &lines, const QString &folder)
{
    m_lines = lines;
    m_folder = folder;
    QPlainTextEdit *list = m_w.MAllCmnt;
    list->setPlainText(lines.join(u'\n'));
    // The caret at the end of the first line, the list scrolled to its top.
    QTextCursor caret(list->document()->firstBlock());
    caret.movePosition(QTextCursor::EndOfBlock);
    list->setTextCursor(caret);
    list->verticalScrollBar()->setValue(0);
}

void CataloguePanel::btShowCmntClick()
{
    m_session.setFrequencyPanelVisible(false);
    m_layOut();
    m_w.gbAllCmnt->show();
    m_w.gbAllCmnt->raise();
    // A list that a foreign file hid is shown again with the new catalogue.
    m_w.MAllCmnt->show();
    fill({}, {});

    files::Catalogue catalogue = catalogueOf(m_files.CurrentDataFile);
    if (catalogue.stop == files::CatalogueStop::NoFiles) {
        // Nothing here: ask for a file; its folder is listed (the file is not loaded).
        const QString picked = m_files.chooseOpenFile();
        if (!picked.isEmpty()) {
            m_files.CurrentDataFile = picked;
            catalogue = catalogueOf(picked);
        }
    }
    if (catalogue.stop == files::CatalogueStop::NoFiles) {
        m_showMessage(files::noFilesMessage(files::extensionPart(m_files.CurrentDataFile)));
        return;
    }
    fill(catalogue.lines(), files::folderPart(m_files.CurrentDataFile));
    if (catalogue.stop == files::CatalogueStop::ForeignFile)
        m_w.MAllCmnt->hide(); // the entries before the foreign file stay in it
    else if (catalogue.stop == files::CatalogueStop::CannotOpen)
        m_showMessage(catalogue.message);
}

void CataloguePanel::btPathClick()
{
    // A name whose folder matches nothing: the catalogue asks for a file.
    m_files.CurrentDataFile = QStringLiteral("zu:");
    btShowCmntClick();
}

void CataloguePanel::btCancelClick()
{
    m_w.gbAllCmnt->hide();
}

void CataloguePanel::openEntry()
{
    const int line = m_w.MAllCmnt->textCursor().blockNumber();
    const QString name = files::catalogueEntryName(m_lines, line);
    if (name.isEmpty())
        return;
    // The folder the list was built from, also when a file of another folder has been opened
    // since.
    m_files.CurrentDataFile = m_folder + name;
    m_w.gbAllCmnt->hide();
    m_files.loadCurrentDataFile();
}

void CataloguePanel::btFindClick()
{
    const qsizetype k = files::findInCatalogue(
        m_lines, m_w.eFind->text(), m_w.chkCaps->isChecked(), &m_files.SearchLine);
    if (k < 0)
        return;
    QPlainTextEdit *list = m_w.MAllCmnt;
    QTextCursor selection(list->document()->findBlockByNumber(int(k)));
    selection.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    list->setFocus(Qt::OtherFocusReason);
    list->setTextCursor(selection);
    list->ensureCursorVisible();
}

QString CataloguePanel::dateEncodeMessage()
{
    return QStringLiteral("Invalid argument to date encode");
}

QString CataloguePanel::copyText(const QString &comment, const QString &fileName)
{
    if (fileName.isEmpty())
        return {};
    const QFileInfo info(fileName);
    if (!info.exists())
        return {};
    QDateTime when = info.lastModified().toLocalTime();
    when.setTime(QTime(when.time().hour(), when.time().minute(), when.time().second()));
    const QLocale locale = QLocale::system();
    QString stamp = locale.toString(when.date(), QLocale::ShortFormat);
    // The time is left out at exactly midnight.
    if (when.time() != QTime(0, 0))
        stamp += u' ' + locale.toString(when.time(), longTimeFormat(locale));
    QString text = comment;
    if (!text.isEmpty() && !text.endsWith(u'\n'))
        text += u'\n';
    return text + fileName + QStringLiteral("  ") + stamp;
}

void CataloguePanel::btCopyClick()
{
    const QString text = copyText(m_w.mComment->toPlainText(), m_files.CurrentDataFile);
    if (text.isEmpty()) {
        m_showMessage(dateEncodeMessage());
        return;
    }
    m_w.mClipBoard->setPlainText(text);
    m_w.mClipBoard->selectAll();
    m_w.mClipBoard->copy();
}

bool CataloguePanel::eventFilter(QObject *watched, QEvent *event)
{
    QPlainTextEdit *list = m_w.MAllCmnt;
    if (watched == list && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            openEntry();
            return true;
        }
    }
    if (watched == m_viewport && event->type() == QEvent::MouseButtonDblClick) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton) {
            list->setTextCursor(list->cursorForPosition(mouse->position().toPoint()));
            openEntry();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace app
