#include "acquisition/cyclerun.h"
#include "files/cyclesave.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// The names of the per-cycle files, and the memory a run looks at before it stores a cycle.
TEST(CycleSave, FileNames)
{
    EXPECT_EQ(files::cycleFileName("/x/run.kdx", 7), "/x/run0007.kdx");
    EXPECT_EQ(files::cycleFileName("/x/run.txt", 0), "/x/run0000.kdx");
    EXPECT_EQ(files::cycleFileName("/x.d/run", 12), "/x.d/run0012.kdx");
    EXPECT_EQ(files::cycleFileName("/x/run.old.kdx", 3), "/x/run.old0003.kdx");
    EXPECT_EQ(files::cycleFileName("run.kdx", 12345), "run12345.kdx");
}

TEST(CycleSave, AvailableMemoryFromMeminfo)
{
    QTemporaryDir dir;
    const auto write = [&](const QByteArray &text) {
        QFile f(dir.filePath("meminfo"));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
        return dir.filePath("meminfo");
    };
    EXPECT_EQ(acquisition::availableMemoryBytes(
                  write("MemTotal: 100 kB\nMemFree:  50 kB\nMemAvailable:     512 kB\n")),
        524288);
    EXPECT_EQ(
        acquisition::availableMemoryBytes(write("MemAvailable: 8123456 kB")), 8123456LL * 1024);
    // An old kernel without the line, garbage, or no file: unknown.
    EXPECT_FALSE(acquisition::availableMemoryBytes(write("MemTotal: 100 kB\nMemFree: 50 kB\n")));
    EXPECT_FALSE(acquisition::availableMemoryBytes(write("MemAvailable: lots kB\n")));
    EXPECT_FALSE(acquisition::availableMemoryBytes(dir.filePath("missing")));
    EXPECT_TRUE(acquisition::availableMemoryBytes("/proc/meminfo").has_value());
}
