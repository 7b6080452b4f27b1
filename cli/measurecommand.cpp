#include "cli/commands.h"

int cli::runMeasure(const QStringList &)
{
    return usageError("measure: not available yet");
}
