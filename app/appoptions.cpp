#include "app/appoptions.h"

namespace app {

std::optional<AppOptions> parseArguments(const QStringList &arguments, QString *error)
{
    AppOptions options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        auto valueOf = [&](const QString &name, QString *value) {
            if (arg.startsWith(name + u'=')) {
                *value = arg.mid(name.size() + 1);
                return !value->isEmpty();
            }
            if (i + 1 >= arguments.size())
                return false;
            *value = arguments.at(++i);
            return true;
        };
        if (arg == QLatin1String("--simulator")) {
            options.simulator = true;
        } else if (arg == QLatin1String("--device") || arg.startsWith(QLatin1String("--device="))) {
            if (!valueOf(QStringLiteral("--device"), &options.device)) {
                *error = QStringLiteral("ferrun: option --device needs a device path");
                return std::nullopt;
            }
        } else if (arg == QLatin1String("--screenshot")
            || arg.startsWith(QLatin1String("--screenshot="))) {
            if (!valueOf(QStringLiteral("--screenshot"), &options.screenshot)) {
                *error = QStringLiteral("ferrun: option --screenshot needs a file name");
                return std::nullopt;
            }
        } else {
            *error = QStringLiteral("ferrun: unknown option %1 (use --device PATH or --simulator)")
                         .arg(arg);
            return std::nullopt;
        }
    }
    if (options.simulator && !options.device.isEmpty()) {
        *error = QStringLiteral("ferrun: --device and --simulator exclude each other");
        return std::nullopt;
    }
    return options;
}

} // namespace app
