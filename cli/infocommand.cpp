#include "cli/commands.h"

int cli::runInfo(const QStringList &)
{
    return usageError("info: not available yet");
}
