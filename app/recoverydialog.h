#pragma once

#include "files/recoverystore.h"

#include <QDialog>
#include <QList>

class QTreeWidget;

namespace app {

// "Несохранённые записи": the recordings of the recovery folder, newest first, each with the
// time it was received, its length and the first line of its comment; the one chosen is
// opened (double click, Enter or "Открыть").
class RecoveryDialog : public QDialog
{
    Q_OBJECT

public:
    RecoveryDialog(const QList<files::RecoveryEntry> &entries, QWidget *parent = nullptr);

    // The file of the entry chosen; empty when none was.
    QString chosen() const;

    // Shows the dialog modally; the file chosen, or empty.
    static QString choose(const QList<files::RecoveryEntry> &entries, QWidget *parent);

    static QString emptyMessage();
    // What an entry is and which program kept it, in the window's language.
    static QString kindText(const files::RecoveryEntry &entry);

private:
    QTreeWidget *m_list;
};

} // namespace app
