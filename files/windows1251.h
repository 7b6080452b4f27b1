#pragma once

#include <QByteArray>
#include <QString>

// Conversion between Unicode text and the single-byte Windows-1251 code page, in which the
// instrument's data files and the settings file of the Windows program hold their texts.
// Conversion goes through iconv.
namespace files {

// Characters that Windows-1251 cannot represent become '?'.
QByteArray toWindows1251(const QString &text);

// The characters of `text` that Windows-1251 cannot represent, each once, in the order they
// first appear (empty when it can hold the whole text).
QString notInWindows1251(const QString &text);
QString fromWindows1251(const QByteArray &bytes);

// True when the bytes are well-formed UTF-8 (plain ASCII included).
bool isValidUtf8(const QByteArray &bytes);

// Decodes a text file of unknown origin: UTF-8 when the bytes are well-formed UTF-8
// (a byte-order mark is dropped), Windows-1251 otherwise.
QString decodeUtf8OrWindows1251(const QByteArray &bytes);

} // namespace files
