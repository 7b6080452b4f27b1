#include "app/cataloguepanel.h"

#include "app/statusbar.h"
#include "app/filecontrol.h"
#include "app/language.h"
#include "files/catalogue.h"
#include "files/folderbrowser.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <algorithm>

namespace app {

namespace {

// The catalogue of the folder and extension of `dataFile`. A name without a folder part
// ("zu:") names no folder: nothing matches.
files::Catalogue catalogueOf(const QString &dataFile)
{
    const QString folder = files::folderPart(dataFile);
    if (folder.isEmpty()) {
        files::Catalogue none;
        none.noFiles = true;
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
    StatusBar &status, std::function<void()> hideFrequencyPanel, std::function<void()> layOut,
    std::function<void(const QString &)> showMessage, QObject *parent)
    : QObject(parent)
    , m_w(widgets)
    , m_files(files)
    , m_status(status)
    , m_hideFrequencyPanel(std::move(hideFrequencyPanel))
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

    // Esc anywhere in the panel closes it, as "Отменить" does (before the window's own Esc).
    m_w.gbAllCmnt->installEventFilter(this);
    for (QWidget *child : m_w.gbAllCmnt->findChildren<QWidget *>())
        child->installEventFilter(this);

    connect(m_w.btPath, &QPushButton::clicked, this, &CataloguePanel::btPathClick);
    connect(m_w.btCancel, &QPushButton::clicked, this, &CataloguePanel::btCancelClick);
    connect(m_w.btOpenFind, &QPushButton::clicked, this, &CataloguePanel::openEntry);
    connect(m_w.btFind, &QPushButton::clicked, this, &CataloguePanel::btFindClick);
    connect(m_w.eFind, &QLineEdit::returnPressed, this, &CataloguePanel::btFindClick);
}

void CataloguePanel::fill(const files::Catalogue &catalogue)
{
    m_catalogue = catalogue;
    m_lines = catalogue.lines();
    QPlainTextEdit *list = m_w.MAllCmnt;
    list->setPlainText(m_lines.join(u'\n'));
    // The caret at the end of the first line, the list scrolled to its top.
    QTextCursor caret(list->document()->firstBlock());
    caret.movePosition(QTextCursor::EndOfBlock);
    list->setTextCursor(caret);
    list->verticalScrollBar()->setValue(0);
}

QString CataloguePanel::skippedText(const QList<files::CatalogueSkip> &skipped)
{
    // A few names, so that the panel stays short.
    constexpr qsizetype Named = 3;
    QStringList names;
    for (qsizetype i = 0; i < std::min(skipped.size(), Named); ++i)
        names << skipped.at(i).name;
    if (skipped.size() > Named)
        names << QStringLiteral("…");
    return tr("Пропущено файлов: %1 (%2)").arg(skipped.size()).arg(names.join(", "));
}

QString CataloguePanel::foundBeyondText(const QString &name, qint64 commentLine)
{
    return tr("Найдено за показанной частью комментария: %1, строка %2").arg(name).arg(commentLine);
}

QString CataloguePanel::unreadableText(const QList<files::CatalogueSkip> &unreadable)
{
    QStringList names;
    for (const files::CatalogueSkip &skip : unreadable)
        names << skip.name;
    return tr("Не удалось дочитать комментарий: %1").arg(names.join(", "));
}

void CataloguePanel::showStatus(const QString &text)
{
    // Something else wrote the panel since: that is what it held before.
    if (!m_statusHeld || m_status.panelText(0) != m_statusShown) {
        m_statusBefore = m_status.panelText(0);
        m_statusHeld = true;
    }
    m_statusShown = text.isEmpty() ? m_statusBefore : text;
    m_status.setPanelText(0, m_statusShown);
}

void CataloguePanel::hidePanel()
{
    m_w.gbAllCmnt->hide();
    if (m_statusHeld && m_status.panelText(0) == m_statusShown)
        m_status.setPanelText(0, m_statusBefore);
    m_statusHeld = false;
}

void CataloguePanel::btShowCmntClick()
{
    m_hideFrequencyPanel();
    m_layOut();
    m_w.gbAllCmnt->show();
    m_w.gbAllCmnt->raise();
    fill({});

    files::Catalogue catalogue = catalogueOf(m_files.CurrentDataFile);
    if (catalogue.noFiles) {
        // Nothing here: ask for a file; its folder is listed (the file is not loaded).
        const QString picked = m_files.chooseOpenFile();
        if (!picked.isEmpty()) {
            m_files.CurrentDataFile = picked;
            catalogue = catalogueOf(picked);
        }
    }
    m_catalogueStatus = catalogue.skipped.isEmpty() ? QString() : skippedText(catalogue.skipped);
    showStatus(m_catalogueStatus);
    if (catalogue.noFiles) {
        m_showMessage(files::noFilesMessage(files::extensionPart(m_files.CurrentDataFile)));
        return;
    }
    fill(catalogue);
}

void CataloguePanel::btPathClick()
{
    // A name whose folder matches nothing: the catalogue asks for a file.
    m_files.CurrentDataFile = QStringLiteral("zu:");
    btShowCmntClick();
}

void CataloguePanel::btCancelClick()
{
    hidePanel();
}

void CataloguePanel::openEntry()
{
    const int line = m_w.MAllCmnt->textCursor().blockNumber();
    const QString name = files::catalogueEntryName(m_lines, line);
    if (name.isEmpty())
        return;
    // The folder the list was built from, also when a file of another folder has been opened
    // since.
    m_files.CurrentDataFile = m_catalogue.folder + name;
    hidePanel();
    m_files.loadCurrentDataFile();
}

void CataloguePanel::btFindClick()
{
    const QString text = m_w.eFind->text();
    if (text.isEmpty())
        return;
    // A cut comment's rest is read from its file, which may take a while for a long one.
    const bool readsFiles = std::any_of(m_catalogue.entries.cbegin(), m_catalogue.entries.cend(),
        [](const files::CatalogueEntry &entry) { return entry.cut(); });
    if (readsFiles)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const files::CatalogueFind found = files::findInCatalogue(
        m_catalogue, m_lines, text, m_w.chkCaps->isChecked(), &m_files.SearchLine);
    if (readsFiles)
        QGuiApplication::restoreOverrideCursor();
    if (found.beyondShown)
        showStatus(foundBeyondText(found.name, found.commentLine));
    else if (!found.unreadable.isEmpty())
        showStatus(unreadableText(found.unreadable));
    else
        showStatus(m_catalogueStatus);
    if (found.line < 0)
        return;
    QPlainTextEdit *list = m_w.MAllCmnt;
    QTextCursor selection(list->document()->findBlockByNumber(int(found.line)));
    selection.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    list->setFocus(Qt::OtherFocusReason);
    list->setTextCursor(selection);
    list->ensureCursorVisible();
}

QString CataloguePanel::dateEncodeMessage()
{
    return tr("Недопустимый аргумент при кодировании даты");
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
    if ((event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape
        && static_cast<QKeyEvent *>(event)->modifiers() == Qt::NoModifier
        && m_w.gbAllCmnt->isVisible()) {
        event->accept();
        if (event->type() == QEvent::KeyPress)
            btCancelClick();
        return true;
    }
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
