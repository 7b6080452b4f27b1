#include "files/windows1251.h"

#include <QList>
#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <iconv.h>

namespace {

// Runs iconv over the whole input; an unconvertible input character is replaced by
// `replacement` and skipped (its length in the input is `inputStep` bytes).
QByteArray convert(const char *to, const char *from, const QByteArray &input,
    const QByteArray &replacement, int inputStep)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    QByteArray out;
    out.reserve(input.size() * 2 + 16);
    char *in = const_cast<char *>(input.constData());
    size_t inLeft = size_t(input.size());
    char buffer[4096];
    while (inLeft > 0) {
        char *dst = buffer;
        size_t dstLeft = sizeof buffer;
        const size_t rc = iconv(cd, &in, &inLeft, &dst, &dstLeft);
        out.append(buffer, int(sizeof buffer - dstLeft));
        if (rc != size_t(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // EILSEQ or EINVAL: an input character that has no place in the target code page,
        // or a truncated sequence at the end.
        out.append(replacement);
        const size_t step = std::min(inLeft, size_t(inputStep));
        in += step;
        inLeft -= step;
    }
    iconv_close(cd);
    return out;
}

} // namespace

QByteArray files::toWindows1251(const QString &text)
{
    // UTF-32 input lets a rejected character be skipped as exactly one code point.
    const QList<uint> codePoints = text.toUcs4();
    QByteArray utf32;
    utf32.reserve(codePoints.size() * 4);
    for (uint c : codePoints) {
        const char le[4]
            = { char(c & 0xFF), char((c >> 8) & 0xFF), char((c >> 16) & 0xFF), char(c >> 24) };
        utf32.append(le, 4);
    }
    return convert("WINDOWS-1251", "UTF-32LE", utf32, "?", 4);
}

QString files::notInWindows1251(const QString &text)
{
    QString missing;
    const QList<uint> codePoints = text.toUcs4();
    QList<uint> seen;
    for (uint c : codePoints) {
        if (c < 0x80 || seen.contains(c))
            continue;
        seen.append(c);
        const QString one = QString::fromUcs4(reinterpret_cast<const char32_t *>(&c), 1);
        // '?' is the replacement: a character that comes back as anything else was held.
        if (toWindows1251(one) == "?")
            missing += one;
    }
    return missing;
}

QString files::fromWindows1251(const QByteArray &bytes)
{
    // Byte 0x98 is the one unassigned position; it becomes U+FFFD.
    return QString::fromUtf8(convert("UTF-8", "WINDOWS-1251", bytes, "\xEF\xBF\xBD", 1));
}

bool files::isValidUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    Q_UNUSED(text);
    return !decoder.hasError();
}

QString files::decodeUtf8OrWindows1251(const QByteArray &bytes)
{
    if (isValidUtf8(bytes)) {
        QByteArray body = bytes;
        if (body.startsWith("\xEF\xBB\xBF"))
            body.remove(0, 3);
        return QString::fromUtf8(body);
    }
    return fromWindows1251(bytes);
}
