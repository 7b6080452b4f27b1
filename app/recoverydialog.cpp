#include "app/recoverydialog.h"

#include "app/language.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace app {

RecoveryDialog::RecoveryDialog(const QList<files::RecoveryEntry> &entries, QWidget *parent)
    : QDialog(parent)
    , m_list(new QTreeWidget(this))
{
    setObjectName(QStringLiteral("RecoveryDlg"));
    setWindowTitle(tr("Несохранённые записи"));
    m_list->setObjectName(QStringLiteral("recoveryList"));
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels({ tr("Время"), tr("Что"), tr("Длина, байт"), tr("Комментарий") });
    // The dates in the window's language.
    const QLocale locale = uiLocale();
    for (const files::RecoveryEntry &entry : entries) {
        auto *item = new QTreeWidgetItem(m_list,
            { locale.toString(entry.time, QLocale::ShortFormat), kindText(entry),
                locale.toString(entry.dataLength), entry.firstCommentLine });
        item->setData(0, Qt::UserRole, entry.path);
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    }
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_list->header()->setStretchLastSection(true);
    if (m_list->topLevelItemCount() > 0)
        m_list->setCurrentItem(m_list->topLevelItem(0));

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *open = buttons->addButton(tr("Открыть"), QDialogButtonBox::AcceptRole);
    buttons->addButton(tr("Закрыть"), QDialogButtonBox::RejectRole);
    open->setEnabled(m_list->topLevelItemCount() > 0);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QTreeWidget::itemActivated, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    resize(560, 320);
}

QString RecoveryDialog::kindText(const files::RecoveryEntry &entry)
{
    QString text;
    switch (entry.kind) {
    case files::RecoveryKind::Replaced:
        text = tr("заменена до сохранения");
        break;
    case files::RecoveryKind::NotSaved:
        text = tr("не сохранена");
        break;
    case files::RecoveryKind::FailedTransfer:
        text = tr("сбой передачи");
        break;
    case files::RecoveryKind::Cycles:
        text = tr("циклы");
        break;
    case files::RecoveryKind::CyclesUnderWay:
        text = tr("циклы, идёт измерение");
        break;
    }
    switch (entry.keptBy) {
    case files::RecoveryKeeper::Window:
        return text;
    case files::RecoveryKeeper::Measure:
        return text + QStringLiteral(" (ferrun-cli measure)");
    case files::RecoveryKeeper::Cycle:
        return text + QStringLiteral(" (ferrun-cli cycle)");
    }
    return text;
}

QString RecoveryDialog::chosen() const
{
    const QTreeWidgetItem *item = m_list->currentItem();
    return item ? item->data(0, Qt::UserRole).toString() : QString();
}

QString RecoveryDialog::choose(const QList<files::RecoveryEntry> &entries, QWidget *parent)
{
    RecoveryDialog dialog(entries, parent);
    return dialog.exec() == QDialog::Accepted ? dialog.chosen() : QString();
}

QString RecoveryDialog::emptyMessage()
{
    return tr("Несохранённых записей нет");
}

} // namespace app
