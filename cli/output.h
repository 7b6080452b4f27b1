#pragma once

#include "cli/exitstatus.h"

#include <QByteArray>
#include <QString>
#include <optional>

// What every ferrun-cli command shares about its messages, standard output and input: one
// style for every line on standard error, standard output written and checked, names made
// safe and unambiguous, and "-" as standard input.
namespace cli {

// The command under way ("measure"), named by every message: set once, at its start.
void setCommand(const QString &name);
QString command();

// "ferrun-cli COMMAND: TEXT" on standard error, in one line ("ferrun-cli: TEXT" before a
// command is known). Names in TEXT go through escaped(); control characters that reach here
// all the same are escaped too.
void message(const QString &text);

// A progress line on a terminal, redrawn in place (cli::Progress), and its end; a message
// ends it first.
void drawProgressLine(const QString &text);
void endProgressLine();

// A name from the file system or the user, made safe to print on a terminal and unambiguous:
// control characters become \t, \n, \r or \xNN, and a backslash \\.
QString escaped(const QString &name);

// Standard input, output and error closed by the caller would be taken by the first files the
// program opens (and written to as standard output). Called first thing: each closed one is
// held by a descriptor that fails every read and write, and remembered as closed.
void holdClosedStandardStreams();
bool standardStreamClosed(int fd);

// Standard output of a command, every write checked. The first failure is reported once, in
// one line naming the error ("ferrun-cli COMMAND: cannot write to standard output: No space
// left on device"), and the command then ends with ExitOutputFailed. A closed pipe ends the
// process quietly with 141 (SIGPIPE's default action), as for any command in a pipeline.
class StandardOutput
{
public:
    StandardOutput() = default;

    bool write(const QByteArray &bytes);
    bool write(const QString &text) { return write(text.toUtf8()); }
    // Flushes; true when every byte went out.
    bool finish();
    bool failed() const { return m_failed; }

private:
    bool fail(int error);

    bool m_failed = false;
};

// Prints a help or version text on standard output: 0, or ExitOutputFailed after a message
// when it could not be written.
int printText(const QString &text);

// A FILE argument to read: "-" is standard input. The commands read their file by name, some
// more than once; standard input that is no regular file (a pipe) is first copied whole into
// an unnamed temporary file, which its path then names. `shown` is how messages name it.
struct InputFile
{
    QString path;
    QString shown;
};
// Nothing, with a message naming the cause, when standard input cannot be taken (closed, a
// terminal, or not copied whole).
std::optional<InputFile> inputFile(const QString &name);

// An output's English error as files::OutputFile words it ("cannot write PATH: ..."), with the
// name escaped.
QString shownError(const QString &error, const QString &path);

// "1 cycle", "2 cycles".
QString count(qint64 n, const char *singular, const char *plural);

// How messages name an output: "standard output" for "-", else the escaped name.
QString outputShown(const QString &name);

} // namespace cli
