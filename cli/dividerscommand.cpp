#include "cli/commands.h"

int cli::runDividers(const QStringList &)
{
    return usageError("dividers: not available yet");
}
