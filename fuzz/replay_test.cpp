// Replays every input of a fuzz target's corpus through the target's own entry point, so
// that the normal and the sanitizer builds check what the fuzzer once found.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <cstddef>
#include <cstdint>
#include <gtest/gtest.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

TEST(FuzzReplay, EveryCorpusInput)
{
    const QDir corpus(QStringLiteral(FUZZ_CORPUS));
    const QStringList names = corpus.entryList(QDir::Files, QDir::Name);
    ASSERT_FALSE(names.isEmpty()) << FUZZ_CORPUS;
    for (const QString &name : names) {
        QFile file(corpus.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(name);
        const QByteArray bytes = file.readAll();
        SCOPED_TRACE(qPrintable(name));
        EXPECT_EQ(LLVMFuzzerTestOneInput(
                      reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size())),
            0);
    }
    // The empty input is always part of it.
    EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(""), 0), 0);
}
