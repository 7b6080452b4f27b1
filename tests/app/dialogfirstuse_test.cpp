// The file dialogs: their first use in a working folder without the store folder, and
// what they leave behind when they close.
#include "filewindow.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QTimer>
#include <QWindow>

namespace {

using filewindow::FileWindowTest;

class DialogFirstUseTest : public FileWindowTest
{
protected:
    void TearDown() override
    {
        if (!previous.isEmpty()) {
            EXPECT_TRUE(QDir::setCurrent(previous));
        }
    }
    // Runs in a working folder without "Mersklad" yet.
    QString enterFreshFolder()
    {
        previous = QDir::currentPath();
        EXPECT_TRUE(QDir::setCurrent(dir.path()));
        const QString store = file(QStringLiteral("Mersklad"));
        EXPECT_FALSE(QFileInfo::exists(store));
        return store;
    }
    // The folder whose entries the dialog's list shows.
    static QString listedFolder(QFileDialog *dialog)
    {
        auto *model = dialog->findChild<QFileSystemModel *>();
        auto *list = dialog->findChild<QAbstractItemView *>(QStringLiteral("listView"));
        auto *tree = dialog->findChild<QAbstractItemView *>(QStringLiteral("treeView"));
        if (!model || !list || !tree)
            return QStringLiteral("(no list)");
        EXPECT_EQ(list->rootIndex(), tree->rootIndex());
        return model->filePath(list->rootIndex());
    }
    QString previous;
};

TEST_F(DialogFirstUseTest, SaveAndOpenListTheNewStoreFolder)
{
    app::TForm1 &f = open();
    const QString store = enterFreshFolder();
    for (QFileDialog *dialog : { f.fileControl().saveDialog(), f.fileControl().openDialog() }) {
        dialog->open();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
        // The model reads folders on a thread of its own.
        (void)QTest::qWaitFor([&] { return QFileInfo(listedFolder(dialog)) == QFileInfo(store); });
        EXPECT_EQ(QFileInfo(listedFolder(dialog)), QFileInfo(store))
            << dialog->objectName().toStdString();
        EXPECT_EQ(QFileInfo(dialog->directory().absolutePath()), QFileInfo(store));
        dialog->reject();
    }
}

// Return while the name's completion list is up opens the file and closes the dialog and
// the list with it: the next click on the window reaches its control. Under X11 the focus
// leaves the name box only some time after the dialog has closed, and the toolkit keeps the
// list up while the box has the focus. On the offscreen platform the focus moves at once, so
// the box is made to report the focus until the dialog's run has ended.
TEST_F(DialogFirstUseTest, ReturnInTheCompletionListLeavesNoPopupBehind)
{
    app::TForm1 &f = open();
    const QString store = enterFreshFolder();
    ASSERT_TRUE(QDir().mkpath(store));
    filewindow::writeDataFile(store + QStringLiteral("/run-a.kdx"), 0x01,
        filewindow::words({ 100, 200, 300 }), QStringLiteral("первый"));
    QFileDialog *dialog = f.fileControl().openDialog();
    bool popupShown = false;
    QTimer::singleShot(0, dialog, [&] {
        auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        ASSERT_TRUE(edit && edit->completer());
        QWidget *popup = edit->completer()->popup();
        edit->setFocus();
        QTest::keyClicks(edit, QStringLiteral("run-a"));
        popupShown = QTest::qWaitFor([&] { return popup->isVisible(); });
        QObject::connect(dialog, &QDialog::finished, edit,
            [edit] { edit->setFocusProxy(QApplication::focusWidget()); });
        // Through the window system, as a key of the keyboard comes: with the list up, the
        // list's window takes it.
        QTest::keyClick(popup->windowHandle(), Qt::Key_Return);
        if (dialog->isVisible())
            dialog->reject();
    });
    const QString chosen = f.fileControl().execOpenDialog();
    auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    edit->setFocusProxy(nullptr);
    ASSERT_TRUE(popupShown);
    EXPECT_EQ(QFileInfo(chosen), QFileInfo(store + QStringLiteral("/run-a.kdx")));
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    QCoreApplication::processEvents();
    const bool optionsShown = control<QGroupBox>(f, "gbOptions")->isVisible();
    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);
    EXPECT_NE(control<QGroupBox>(f, "gbOptions")->isVisible(), optionsShown)
        << "the first click after the dialog";
}

} // namespace
