#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace files {

// An output written the way a Unix user expects of a path:
// - a new name, or an existing regular file, is written into a temporary file beside it
//   (temporarySaveName), flushed to disk and renamed over it, so that it is whole or as it
//   was; an existing file keeps its permission bits, and one its owner may not write is
//   refused. A symbolic link is followed: the file it names is replaced, the link stays.
// - an existing character device, FIFO or socket is opened and written as a stream; it is
//   never replaced (a FIFO's open waits for its reader, as a shell's redirection does).
// - a writable file in a folder that cannot take the temporary file is written in place,
//   after a note, as cp does.
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
};

class OutputFile
{
public:
    enum class Kind { Replace, Stream, InPlace, StandardOutput };
    using Options = OutputOptions;

    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Opens `path` for writing. False with errorString() ("cannot write X: ..." in English)
    // when it cannot be written; nothing is touched then.
    bool open(const QString &path, const Options &options = {});

    // Whether `path` could be opened, without opening it: a check before work whose result
    // would have nowhere to go. A file of a unique name is created in the target's folder and
    // removed again; a stream is not opened (a FIFO's reader would see an end), only its
    // permission is checked. False with `error` as open() would say it.
    static bool probe(const QString &path, const Options &options, QString *error);

    Kind kind() const { return m_kind; }
    // The file written: the link's target for a link; "-" for standard output.
    const QString &target() const { return m_target; }
    // Why an in-place write: say it before writing (empty for the other kinds).
    const QString &note() const { return m_note; }

    // Writes all of the bytes. False on the first failure; later writes then fail too.
    bool write(const char *data, qint64 size);
    bool write(const QByteArray &bytes) { return write(bytes.constData(), bytes.size()); }

    // Finishes the output: a temporary file is flushed to disk and renamed over the target, a
    // stream flushed. False with errorString() when anything failed: the target is then as it
    // was (a replaced file), or holds what could be written (a stream or an in-place file).
    bool commit();
    // Gives the output up: the temporary file is removed.
    void cancel();

    QString errorString() const { return m_error; }
    // The system's error number of the failure (0 when none applies).
    int errorNumber() const { return m_errno; }

private:
    bool open(const QString &path, const Options &options, bool probeOnly);
    bool fail(const QString &what, int error);
    void closeFd();

    Kind m_kind = Kind::Replace;
    QString m_path;
    QString m_target;
    QString m_temporary;
    QString m_note;
    int m_fd = -1;
    bool m_failed = false;
    bool m_done = false;
    QString m_error;
    int m_errno = 0;
};

} // namespace files
