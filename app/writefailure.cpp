#include "app/writefailure.h"

#include "app/language.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <locale.h>
#include <utility>

namespace app {

namespace {

// strerror_l under the first of `locales` that is installed; empty when none is.
QString libraryText(int error, std::initializer_list<const char *> locales)
{
    for (const char *name : locales) {
        const locale_t locale = ::newlocale(LC_MESSAGES_MASK | LC_CTYPE_MASK, name, locale_t(0));
        if (locale == locale_t(0))
            continue;
        const QString text = QString::fromUtf8(::strerror_l(error, locale));
        ::freelocale(locale);
        return text;
    }
    return {};
}

// The reasons the toolkit translates itself, with its own words (its "QIODevice" texts).
QString toolkitText(int error)
{
    static const char *const context = "QIODevice";
    static const std::pair<int, const char *> texts[] = {
        { EACCES, "Permission denied" },
        { EMFILE, "Too many open files" },
        { ENOENT, "No such file or directory" },
        { ENOSPC, "No space left on device" },
    };
    for (const auto &[number, text] : texts)
        if (number == error)
            return QCoreApplication::translate(context, text);
    return {};
}

} // namespace

QString systemErrorText(int systemError)
{
    if (uiLanguage() == UiLanguage::Russian) {
        // The messages are taken in UTF-8: the locale's name says the encoding.
        QString text = libraryText(
            systemError, { "ru_RU.UTF-8", "ru_UA.UTF-8", "ru_BY.UTF-8", "ru_KZ.UTF-8" });
        if (text.isEmpty())
            text = toolkitText(systemError);
        if (!text.isEmpty())
            return text;
    }
    // English whatever the desktop's language: the C locale's messages.
    const QString english = libraryText(systemError, { "C" });
    return english.isEmpty() ? QString::fromLocal8Bit(std::strerror(systemError)) : english;
}

QString writeFailureText(files::SaveFailure failure, const QString &fileName, int systemError)
{
    const QString name = QDir::toNativeSeparators(fileName);
    QString reason;
    if (systemError != 0)
        reason = systemErrorText(systemError);
    else if (QFileInfo info(fileName); info.exists() && !info.isFile() && !info.isDir())
        // The window writes regular files only: a device or a FIFO is refused before anything
        // is written.
        reason = QCoreApplication::translate(
            "app::WriteFailure", "это не обычный файл, а устройство или канал");
    QString text;
    switch (failure) {
    case files::SaveFailure::None:
        return {};
    case files::SaveFailure::CannotCreate:
        text = reason.isEmpty()
            ? QCoreApplication::translate("app::WriteFailure", "Не удаётся создать файл %1")
            : QCoreApplication::translate("app::WriteFailure", "Не удаётся создать файл %1: %2");
        break;
    case files::SaveFailure::CannotWrite:
        text = reason.isEmpty()
            ? QCoreApplication::translate("app::WriteFailure", "Ошибка записи в файл %1")
            : QCoreApplication::translate("app::WriteFailure", "Ошибка записи в файл %1: %2");
        break;
    case files::SaveFailure::CannotRead:
        // The cycles of a run are read back from the recovery folder as they are saved.
        text = reason.isEmpty() ? QCoreApplication::translate(
                   "app::WriteFailure", "Не удаётся прочитать сохранённые циклы для файла %1")
                                : QCoreApplication::translate("app::WriteFailure",
                                    "Не удаётся прочитать сохранённые циклы для файла %1: %2");
        break;
    }
    return reason.isEmpty() ? text.arg(name) : text.arg(name, reason);
}

} // namespace app
