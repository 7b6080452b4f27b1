#include "cli/progress.h"

#include "cli/output.h"

#include <QByteArray>
#include <algorithm>
#include <unistd.h>

namespace cli {

Progress::Progress(bool quiet)
    : m_shown(!quiet && ::isatty(STDERR_FILENO))
{
}

void Progress::bar(const QString &phase, double fraction, qint64 remainingMs, const QString &detail)
{
    if (!m_shown)
        return;
    fraction = std::clamp(fraction, 0.0, 1.0);
    constexpr int Width = 30;
    const int filled = int(fraction * Width);
    QString text = QStringLiteral("%1 [%2%3] %4%  %5 left")
                       .arg(phase.leftJustified(9))
                       .arg(QString(filled, u'#'), QString(Width - filled, u'-'))
                       .arg(int(fraction * 100), 3)
                       .arg(minutesAndSeconds(remainingMs));
    if (!detail.isEmpty())
        text += QStringLiteral("  ") + detail;
    line(text);
}

void Progress::line(const QString &text)
{
    if (m_shown)
        drawProgressLine(text);
}

void Progress::finish()
{
    if (m_shown)
        endProgressLine();
}

QString minutesAndSeconds(qint64 ms)
{
    const qint64 seconds = std::max<qint64>(0, (ms + 500) / 1000);
    return QString::asprintf("%.2lld:%.2lld", seconds / 60, seconds % 60);
}

} // namespace cli
