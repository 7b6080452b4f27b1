#pragma once

#include <QByteArray>
#include <QString>

// What every ferrun-cli command shares about its output: standard output written and checked,
// names made safe for standard error, and the exit status of a bad input file.
namespace cli {

// Exit status of info, export, plot and catalog for an input file that cannot be read, is not
// a data file or ends too early (2 stays "bad arguments").
inline constexpr int ExitBadInput = 3;

// Standard output of a command, every write checked. The first failure is reported once, in
// one line naming the error ("ferrun-cli COMMAND: cannot write to standard output: No space
// left on device"), and the command then ends with ExitOutputFailed. A closed pipe ends the
// process quietly with 141 (SIGPIPE's default action), as for any command in a pipeline.
class StandardOutput
{
public:
    static constexpr int ExitOutputFailed = 1;

    explicit StandardOutput(const QString &command);

    bool write(const QByteArray &bytes);
    bool write(const QString &text) { return write(text.toUtf8()); }
    // Flushes; true when every byte went out.
    bool finish();
    bool failed() const { return m_failed; }

private:
    bool fail(int error);

    QString m_command;
    bool m_failed = false;
};

// A name from the file system or the user, made safe to print on a terminal (control
// characters escaped, as on standard output).
QString escaped(const QString &name);

} // namespace cli
