#pragma once

#include <QString>

// Progress of the commands that record on the board (measure, cycle) on standard error:
// redrawn in place on one line when standard error is a terminal, and nothing at all when it
// is not (a log, a pipe) or with --quiet. A message printed meanwhile (cli::message) begins
// on a line of its own.
namespace cli {

class Progress
{
public:
    explicit Progress(bool quiet);

    bool shown() const { return m_shown; }
    // "recording [#########---------------------]  30%  00:07 left", with `detail` after it.
    void bar(const QString &phase, double fraction, qint64 remainingMs, const QString &detail = {});
    // Any text, redrawn in place.
    void line(const QString &text);
    // Ends the line drawn, leaving it to be read.
    void finish();

private:
    bool m_shown;
};

// "mm:ss" of a number of milliseconds, rounded to the second.
QString minutesAndSeconds(qint64 ms);

} // namespace cli
