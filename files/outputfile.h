#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <sys/stat.h>
#include <sys/types.h>

namespace files {

// An output written the way a Unix user expects of a path, the path taken as the system takes
// it ("x/../out.csv" needs a folder x):
// - a new name, or an existing regular file, is written into a temporary file of its own in
//   the target's folder, flushed to disk and renamed over the target, so that the target is
//   whole or as it was. Where the file system allows, the temporary file has no name while it
//   is written (it vanishes with the program, however that ends) and gets one only once every
//   byte is in, just before the rename; elsewhere it has one from the start, changed to one
//   that says it is whole at that point. That name
//   (temporaryName) is hidden, unique to the save and marked as this program's, so that no
//   user's file and no other save is ever touched: two saves of one target both end whole,
//   the later rename winning. A save under way holds a lock on its file. An existing file
//   keeps its permission bits, and its owner and group where the system allows; one its owner
//   may not write is refused. A symbolic link is followed: the file it names is replaced, the
//   link stays.
// - an existing character device, FIFO or socket is opened (a socket connected) and written
//   as a stream; it is never replaced. A FIFO's open waits for its reader, as a shell's
//   redirection does.
// - a file whose folder takes no temporary file is refused, naming the cause: a file is never
//   truncated and rewritten in place.
// - "-", where allowed, is standard output.
// - a folder, a block device, and the file being read (same device and inode, through any
//   links) are refused before anything is written.
struct OutputOptions
{
    // A file being read: an output that is the same file is refused.
    QString input;
    // "-" names standard output (otherwise it is a file named "-").
    bool allowStandardOutput = false;
    // A device or FIFO is refused too: what goes there is not kept, so a program that then
    // counts it as saved (the window) writes files only. A FIFO's open would also wait for
    // its reader.
    bool regularFileOnly = false;
    // More files being read (the overlays of a plot), refused as the output like `input`.
    QStringList moreInputs {};
    // A descriptor whose becoming readable ends every wait on a stream: the open of a FIFO
    // without a reader, a write to a pipe, FIFO, socket or device that takes no more. The open
    // or write then fails with EINTR. -1: such waits end only when the stream is ready (or
    // when a signal's default action ends the program).
    int interruptFd = -1;
};

class OutputFile
{
public:
    enum class Kind { Replace, Stream, StandardOutput };
    using Options = OutputOptions;

    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Opens `path` for writing. False with errorString() ("cannot write X: ..." in English)
    // when it cannot be written; nothing is touched then. Temporary files that killed saves of
    // the same target left are cleared first (clearLeftoverSaves).
    bool open(const QString &path, const Options &options = {});

    // Whether `path` could be opened, without opening it: a check before work whose result
    // would have nowhere to go. A temporary file is made in the target's folder and given up
    // again; a stream is not opened (a FIFO's reader would see an end), only its permission
    // is checked. False with `error` (and `errorNumber`: 0 for a refusal by rule) as open()
    // would say it.
    static bool probe(
        const QString &path, const Options &options, QString *error, int *errorNumber = nullptr);

    Kind kind() const { return m_kind; }
    // The file written: the link's target for a link; "-" for standard output.
    const QString &target() const { return m_target; }

    // Writes all of the bytes. False on the first failure; later writes then fail too.
    bool write(const char *data, qint64 size);
    bool write(const QByteArray &bytes) { return write(bytes.constData(), bytes.size()); }

    // Finishes the output: a temporary file is flushed to disk and renamed over the target, a
    // stream closed. False with errorString() when anything failed: the target is then as it
    // was (a replaced file), or holds what could be written (a stream).
    bool commit();
    // Gives the output up: the temporary file is removed.
    void cancel();

    QString errorString() const { return m_error; }
    // The system's error number of the failure: 0 for a refusal by rule (the input file, a
    // block device, not a regular file), EINTR for a wait ended through `interruptFd`.
    int errorNumber() const { return m_errno; }

    // For a program that keeps the default actions of SIGINT, SIGTERM, SIGHUP and SIGPIPE:
    // when one of them ends it, the named temporary files of its outputs under way are removed
    // first (an unnamed one vanishes by itself). Signals with a handler of their own are left
    // alone.
    static void removeTemporaryFilesOnSignals();

private:
    bool open(const QString &path, const Options &options, bool probeOnly);
    bool openStream(const QByteArray &target, mode_t type, bool probeOnly);
    bool createTemporary(const QByteArray &target, const struct stat *existing);
    bool fail(const QString &what, int error);
    bool failWrite(int error);
    void closeFd();
    void forgetTemporary();

    Kind m_kind = Kind::Replace;
    QString m_path;
    QString m_target;
    QByteArray m_targetBytes;
    QByteArray m_temporary; // the temporary file's name, once it has one
    bool m_unnamed = false; // the temporary file has no name yet (O_TMPFILE)
    int m_slot = -1; // its entry among the names removed on a signal
    int m_fd = -1;
    int m_interruptFd = -1;
    bool m_failed = false;
    bool m_done = false;
    QString m_error;
    int m_errno = 0;
};

// The name a save of `target` gives its temporary file, beside it:
// ".NAME.XXXXXXXX.ferrun-saving" while it is written, ".NAME.XXXXXXXX.ferrun-saved" (`whole`)
// once it holds every byte, until it is renamed over the target. NAME is the target's name
// (shortened by whole UTF-8 characters when the entry would exceed the 255 bytes a folder
// entry may have), XXXXXXXX random letters and digits. Names are the system's bytes.
QByteArray temporaryName(const QByteArray &target, bool whole = false);
// The target's name (shortened as temporaryName shortens it) whose temporary file
// `entryName` is, and whether it holds every byte; empty when the entry is no such file.
QByteArray temporaryTarget(const QByteArray &entryName, bool *whole = nullptr);
// `name` (a target's name without its folder) as temporaryName shortens it.
QByteArray temporaryTargetName(const QByteArray &name);

} // namespace files
