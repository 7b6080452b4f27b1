// Writes of the window that fail: a save, a CSV export, a PDF export and a print into a file,
// each into a folder that is not there, a folder that takes no new file, a read-only file
// system and a full disk. Every message names the file and the system's reason, and the disk
// is as it was. The file systems are small ones of the test's own, mounted where the machine
// lets it (root); otherwise the full disk is a file size limit and the read-only one is left
// out.
#include "app/chartexport.h"
#include "app/writefailure.h"
#include "tests/app/filewindow.h"

#include <QAction>
#include <QDirIterator>
#include <QPrinter>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <map>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

using filewindow::readAll;
using filewindow::writeBytes;

namespace {

// What a folder holds, hidden files (a save's temporary file) included.
std::map<QString, QByteArray> contents(const QString &folder)
{
    std::map<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System);
    while (it.hasNext()) {
        const QString path = it.next();
        files[QFileInfo(path).fileName()] = readAll(path);
    }
    return files;
}

// A tmpfs of `kilobytes` on `folder` while it lives.
class SmallDisk
{
public:
    SmallDisk(const QString &folder, int kilobytes)
        : m_folder(QFile::encodeName(folder))
    {
        QDir().mkpath(folder);
        const QByteArray size = "size=" + QByteArray::number(kilobytes) + "k";
        m_mounted = ::mount("tmpfs", m_folder.constData(), "tmpfs", 0, size.constData()) == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(m_folder.constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    bool makeReadOnly()
    {
        return ::mount(nullptr, m_folder.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr)
            == 0;
    }
    // Fills the disk to its last byte.
    void fill() const
    {
        const int fd = ::open((m_folder + "/filler").constData(), O_WRONLY | O_CREAT, 0644);
        const QByteArray block(4096, 'f');
        while (::write(fd, block.constData(), size_t(block.size())) > 0) { }
        while (::write(fd, block.constData(), 1) > 0) { }
        ::close(fd);
    }

private:
    QByteArray m_folder;
    bool m_mounted = false;
};

// Files larger than `bytes` cannot be written while it lives: the full disk where no file
// system can be mounted (the write fails with EFBIG instead of ENOSPC).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit small = m_old;
        small.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_old {};
    void (*m_handler)(int) = nullptr;
};

// A folder that takes no new file, even for root (immutable), while it lives; for a user a
// folder without write permission.
class LockedFolder
{
public:
    explicit LockedFolder(const QString &path)
        : m_path(QFile::encodeName(path))
        , m_fd(::open(m_path.constData(), O_RDONLY | O_DIRECTORY))
    {
        if (::geteuid() != 0) {
            m_locked = ::chmod(m_path.constData(), 0555) == 0;
            return;
        }
        int flags = 0;
        m_locked = ::ioctl(m_fd, FS_IOC_GETFLAGS, &m_flags) == 0
            && ::ioctl(m_fd, FS_IOC_SETFLAGS, &(flags = m_flags | FS_IMMUTABLE_FL)) == 0;
    }
    ~LockedFolder()
    {
        if (::geteuid() == 0)
            ::ioctl(m_fd, FS_IOC_SETFLAGS, &m_flags);
        ::chmod(m_path.constData(), 0755);
        ::close(m_fd);
    }
    bool locked() const { return m_locked; }
    // What the system says to a new file there.
    static int refusal() { return ::geteuid() == 0 ? EPERM : EACCES; }

private:
    QByteArray m_path;
    int m_fd;
    int m_flags = 0;
    bool m_locked = false;
};

enum class Output { Save, Csv, Pdf, PrintToFile };

const char *outputName(Output output)
{
    switch (output) {
    case Output::Save:
        return "save";
    case Output::Csv:
        return "CSV export";
    case Output::Pdf:
        return "PDF export";
    case Output::PrintToFile:
        return "print into a file";
    }
    return "";
}

class WriteFailureTest : public filewindow::FileWindowTest
{
protected:
    // The window with a recording of 100 000 bytes, T1 alone, not saved.
    app::TForm1 &openWithRecording()
    {
        app::TForm1 &f = open();
        files::Recording r;
        r.data = QByteArray(100000, '\x10');
        r.header.ChartChannelBits = 0x01;
        r.header.ChannelIntervalUs = 100;
        r.origin = files::RecordingOrigin::Measurement;
        f.takeRecording(r);
        app::ChartExport &exporter = f.chartExport();
        exporter.choosePdfFile = [this] { return target; };
        exporter.dialogJob = [this] {
            auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
            printer->setOutputFormat(QPrinter::PdfFormat);
            printer->setOutputFileName(target);
            return std::make_unique<app::PrinterJob>(std::move(printer));
        };
        f.fileControl().chooseCsvFile = [this](const QString &) { return target; };
        return f;
    }

    // Writes `target` by `output`; the one message it gave, and nothing else.
    QString write(Output output)
    {
        messages.clear();
        switch (output) {
        case Output::Save:
            save(target);
            break;
        case Output::Csv:
            control<QAction>(*form, "actExportCsv")->trigger();
            break;
        case Output::Pdf:
            control<QAction>(*form, "actExportPdf")->trigger();
            break;
        case Output::PrintToFile:
            control<QAction>(*form, "actPrint")->trigger();
            break;
        }
        EXPECT_EQ(messages.size(), 1) << qPrintable(messages.join(u'|'));
        return messages.value(0);
    }

    // Each output into `target` fails at `failure` with the system's `error`, and leaves the
    // folder as it was.
    void expectEveryOutputRefused(files::SaveFailure failure, int error)
    {
        const QString folder = QFileInfo(target).absolutePath();
        for (Output output : { Output::Save, Output::Csv, Output::Pdf, Output::PrintToFile }) {
            SCOPED_TRACE(outputName(output));
            const auto before = contents(folder);
            const QString message = write(output);
            const QString step = failure == files::SaveFailure::CannotCreate
                ? QStringLiteral("Не удаётся создать файл %1: %2")
                : QStringLiteral("Ошибка записи в файл %1: %2");
            EXPECT_EQ(message, step.arg(target, app::systemErrorText(error)));
            EXPECT_TRUE(contents(folder) == before);
        }
        EXPECT_TRUE(form->hasUnsavedRecording());
    }

    QString target;
};

} // namespace

TEST_F(WriteFailureTest, MissingFolder)
{
    openWithRecording();
    target = file(QStringLiteral("no/such/rec.kdx"));
    expectEveryOutputRefused(files::SaveFailure::CannotCreate, ENOENT);
    EXPECT_FALSE(QFileInfo::exists(file(QStringLiteral("no"))));
}

TEST_F(WriteFailureTest, FolderThatTakesNoNewFile)
{
    openWithRecording();
    const QString folder = file(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkpath(folder));
    writeBytes(folder + QStringLiteral("/other.kdx"), "other");
    target = folder + QStringLiteral("/rec.kdx");
    const LockedFolder lock(folder);
    if (!lock.locked())
        GTEST_SKIP() << "no folder here can be made to refuse new files";
    expectEveryOutputRefused(files::SaveFailure::CannotCreate, LockedFolder::refusal());
}

TEST_F(WriteFailureTest, ReadOnlyFileSystem)
{
    openWithRecording();
    SmallDisk disk(file(QStringLiteral("ro")), 64);
    if (!disk.mounted())
        GTEST_SKIP() << "no file system can be mounted here";
    target = file(QStringLiteral("ro/rec.kdx"));
    writeBytes(target, "the recording saved before");
    ASSERT_TRUE(disk.makeReadOnly());
    expectEveryOutputRefused(files::SaveFailure::CannotCreate, EROFS);
    EXPECT_EQ(readAll(target), QByteArray("the recording saved before"));
}

TEST_F(WriteFailureTest, FullDisk)
{
    openWithRecording();
    SmallDisk disk(file(QStringLiteral("full")), 64);
    target = file(QStringLiteral("full/rec.kdx"));
    writeBytes(target, "the recording saved before");
    if (disk.mounted()) {
        disk.fill();
        expectEveryOutputRefused(files::SaveFailure::CannotWrite, ENOSPC);
    } else {
        const FileSizeLimit limit(4096);
        expectEveryOutputRefused(files::SaveFailure::CannotWrite, EFBIG);
    }
    EXPECT_EQ(readAll(target), QByteArray("the recording saved before"));
}
