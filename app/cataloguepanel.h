#pragma once

#include "files/catalogue.h"

#include <QObject>
#include <QStringList>
#include <functional>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace app {

class FileControl;
class StatusBar;

// The window's parts the catalogue works with.
struct CatalogueWidgets
{
    QGroupBox *gbAllCmnt = nullptr;
    QPlainTextEdit *MAllCmnt = nullptr;
    QLineEdit *eFind = nullptr;
    QCheckBox *chkCaps = nullptr;
    QPushButton *btFind = nullptr;
    QPushButton *btOpenFind = nullptr;
    QPushButton *btPath = nullptr;
    QPushButton *btCancel = nullptr;
    // The comment copied with its file's name, and the hidden memo the copy goes through.
    QPlainTextEdit *mComment = nullptr;
    QPlainTextEdit *mClipBoard = nullptr;
};

// The comment catalogue laid over the chart (gbAllCmnt with the list MAllCmnt and the search
// bar pSearch), and the copy of the current comment with its file's name and date. The
// catalogue itself is the core's (files/catalogue.h); the panel shows it, searches it and
// opens the entry under the caret through the file control's load.
//
// The list holds one text line per catalogue line; a long line wraps on screen but is still
// one line for the search and for opening. It holds a bounded part of each comment (see
// files/catalogue.h); a comment cut short ends in a cut mark line, and the search reads the
// rest from the file. Entries that are not readable data files are skipped; the first status
// panel counts them while the panel is shown.
class CataloguePanel : public QObject
{
    Q_OBJECT

public:
    // `layOut`: the window's FormResize, which sizes the panel; messages go to `showMessage`.
    CataloguePanel(CatalogueWidgets widgets, FileControl &files,
        StatusBar &status, std::function<void()> hideFrequencyPanel, std::function<void()> layOut,
        std::function<void(const QString &)> showMessage, QObject *parent = nullptr);

    // ---- Handlers
    void btShowCmntClick();
    void btPathClick();
    void btCancelClick();
    // Double click, Enter in the list, "Открыть файл".
    void openEntry();
    void btFindClick();
    void btCopyClick();

    // The lines the list shows.
    const QStringList &lines() const { return m_lines; }

    // The first status panel's texts: the files skipped ("Пропущено файлов: 2 (b.kdx, c.kdx)"),
    // a find in the part of a comment not shown, a comment whose rest could not be read.
    static QString skippedText(const QList<files::CatalogueSkip> &skipped);
    static QString foundBeyondText(const QString &name, qint64 commentLine);
    static QString unreadableText(const QList<files::CatalogueSkip> &unreadable);

    // The text btCopy puts on the clipboard for `comment` and `fileName`; empty when the
    // file's date cannot be read.
    static QString copyText(const QString &comment, const QString &fileName);
    static QString dateEncodeMessage();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fill(const files::Catalogue &catalogue);
    void hidePanel();
    // Shows `text` in the first status panel while the panel is shown (empty: what it held
    // before); hidePanel() gives back what it held, unless something else has written it since.
    void showStatus(const QString &text);

    CatalogueWidgets m_w;
    FileControl &m_files;
    StatusBar &m_status;
    std::function<void()> m_hideFrequencyPanel;
    std::function<void()> m_layOut;
    std::function<void(const QString &)> m_showMessage;
    files::Catalogue m_catalogue;
    QStringList m_lines;
    // The catalogue's own text in the first status panel, and what that panel held before.
    QString m_catalogueStatus;
    bool m_statusHeld = false;
    QString m_statusShown;
    QString m_statusBefore;
    // The list's viewport, which receives its mouse events.
    QObject *m_viewport = nullptr;
};

} // namespace app
