// The file dialogs' first use in a working folder without the store folder.
#include "filewindow.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QFileSystemModel>

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
    for (QFileDialog *dialog : { f.fileControl->saveDialog(), f.fileControl->openDialog() }) {
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

} // namespace
