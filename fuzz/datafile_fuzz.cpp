// Fuzz target: the data file loader, from memory and from a descriptor, and the bounded
// summary reader of the catalogue and `ferrun-cli info`.

#include "files/datafile.h"
#include "fuzz/fuzzcheck.h"

#include <cstddef>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// One in-memory regular file for all inputs.
int scratchFile()
{
    static const int fd = ::memfd_create("ferrun-fuzz-datafile", MFD_CLOEXEC);
    return fd;
}

bool putInScratch(const uint8_t *data, size_t size)
{
    const int fd = scratchFile();
    if (fd < 0 || ::ftruncate(fd, 0) != 0)
        return false;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, off_t(done));
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    files::DataFile file;
    const files::DataFileStatus status = files::decodeDataFile(bytes, &file);
    if (status == files::DataFileStatus::Ok) {
        FUZZ_CHECK(file.data.size() == qsizetype(file.header.DataLength));
        FUZZ_CHECK(file.data.size() + file.commentBytes.size() < bytes.size());
        FUZZ_CHECK(bytes.endsWith(file.commentBytes));
        (void)file.comment();
    } else {
        FUZZ_CHECK(file.data.isEmpty() && file.commentBytes.isEmpty());
    }

    if (!putInScratch(data, size))
        return 0;
    files::DataFile fromDisk;
    FUZZ_CHECK(files::readDataFile(scratchFile(), &fromDisk) == status);
    FUZZ_CHECK(fromDisk.data == file.data && fromDisk.commentBytes == file.commentBytes);

    // The summary agrees with the loader; its comment is the first bytes of the loader's.
    for (const qint64 limit : { files::UnlimitedComment, qint64(0), qint64(7) }) {
        files::DataFileSummary summary;
        const files::DataFileStatus summaryStatus
            = files::readDataFileSummary(scratchFile(), &summary, limit);
        FUZZ_CHECK(summaryStatus == status);
        if (status != files::DataFileStatus::Ok)
            continue;
        FUZZ_CHECK(summary.commentSize == file.commentBytes.size());
        FUZZ_CHECK(file.commentBytes.startsWith(summary.commentBytes));
        FUZZ_CHECK(limit < 0 ? !summary.commentCut() : summary.commentBytes.size() <= limit);
        FUZZ_CHECK(summary.header.XTitle == file.header.XTitle);
        (void)summary.commentLines();
    }
    return 0;
}
