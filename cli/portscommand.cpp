#include "cli/commands.h"

int cli::runPorts(const QStringList &)
{
    return usageError("ports: not available yet");
}
