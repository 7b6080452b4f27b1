#include "chart/pngwriter.h"

#include <QHash>
#include <QImage>
#include <QPainter>
#include <QVector>
#include <algorithm>
#include <zlib.h>

namespace chart {

namespace {

// The rows of a band. FERRUN_PLOT_BAND_ROWS sets them outright: the tests put the seams
// between bands where they like in a small picture, and compare it with the one piece.
int bandRows(const QSize &size)
{
    const int asked = qEnvironmentVariableIntValue("FERRUN_PLOT_BAND_ROWS");
    if (asked > 0)
        return std::min(asked, size.height());
    const qint64 rowBytes = qint64(size.width()) * 4;
    if (rowBytes * size.height() <= OnePieceBytes)
        return size.height();
    return int(std::clamp<qint64>(BandBytes / rowBytes, 1, size.height()));
}

void appendBigEndian(QByteArray &out, quint32 value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(char((value >> shift) & 0xFF));
}

QByteArray chunk(const char *type, const QByteArray &data)
{
    QByteArray out;
    appendBigEndian(out, quint32(data.size()));
    out.append(type, 4);
    out.append(data);
    uLong crc = crc32(0, reinterpret_cast<const Bytef *>(type), 4);
    crc = crc32(crc, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size()));
    appendBigEndian(out, quint32(crc));
    return out;
}

QByteArray header(const QSize &size, bool palette)
{
    QByteArray ihdr;
    appendBigEndian(ihdr, quint32(size.width()));
    appendBigEndian(ihdr, quint32(size.height()));
    ihdr.append(char(8)); // bits per sample (or palette index)
    ihdr.append(char(palette ? 3 : 2)); // indexed colour, or RGB
    ihdr.append(QByteArray(3, '\0')); // deflate, adaptive filtering, no interlace
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr);
}

// The image data's zlib stream, handed on in pieces as it is compressed.
class Deflater
{
public:
    explicit Deflater(std::function<bool(const QByteArray &)> out)
        : m_out(std::move(out))
    {
        m_ok = deflateInit(&m_stream, Z_DEFAULT_COMPRESSION) == Z_OK;
    }
    ~Deflater() { deflateEnd(&m_stream); }
    Deflater(const Deflater &) = delete;
    Deflater &operator=(const Deflater &) = delete;

    bool add(const QByteArray &bytes) { return run(bytes, Z_NO_FLUSH); }
    bool finish() { return run({}, Z_FINISH); }

private:
    bool run(const QByteArray &bytes, int flush)
    {
        m_stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.constData()));
        m_stream.avail_in = uInt(bytes.size());
        char buffer[1 << 16];
        while (m_ok) {
            m_stream.next_out = reinterpret_cast<Bytef *>(buffer);
            m_stream.avail_out = sizeof buffer;
            const int result = deflate(&m_stream, flush);
            const qsizetype produced = qsizetype(sizeof buffer - m_stream.avail_out);
            if (result == Z_STREAM_ERROR || (produced > 0 && !m_out(QByteArray(buffer, produced))))
                m_ok = false;
            if (flush == Z_FINISH ? result == Z_STREAM_END : m_stream.avail_in == 0)
                break;
        }
        return m_ok;
    }

    z_stream m_stream {};
    std::function<bool(const QByteArray &)> m_out;
    bool m_ok = false;
};

// Draws the rows from `top` on, `rows` of them, on white.
QImage band(const QSize &size, int top, int rows, const std::function<void(QPainter &)> &paint)
{
    QImage image(size.width(), rows, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.translate(0, -top);
    paint(painter);
    painter.end();
    return image;
}

// Each row of the picture in turn, drawn band by band: false as soon as `row` refuses one.
bool forEachRow(const QSize &size, const std::function<void(QPainter &)> &paint,
    const std::function<bool(const QRgb *pixels)> &row)
{
    const int rows = bandRows(size);
    for (int top = 0; top < size.height(); top += rows) {
        const QImage image = band(size, top, std::min(rows, size.height() - top), paint);
        for (int y = 0; y < image.height(); ++y)
            if (!row(reinterpret_cast<const QRgb *>(image.constScanLine(y))))
                return false;
    }
    return true;
}

} // namespace

bool writeBandedPng(const QSize &size, const std::function<void(QPainter &)> &paint,
    const std::function<bool(const QByteArray &)> &sink)
{
    const int width = size.width();
    // With a palette: the compressed rows wait in memory (a chart's compress to little),
    // since the palette goes before them and is complete only after the last row.
    QHash<QRgb, uchar> index;
    QVector<QRgb> colours;
    QByteArray compressed;
    bool indexed = true;
    {
        Deflater deflater([&](const QByteArray &bytes) {
            compressed += bytes;
            return true;
        });
        QByteArray line(width + 1, '\0'); // filter type 0, then one index per pixel
        const bool drawn = forEachRow(size, paint, [&](const QRgb *pixels) {
            QRgb last = 0;
            uchar lastIndex = 0;
            bool known = false;
            for (int x = 0; x < width; ++x) {
                const QRgb colour = pixels[x] | 0xFF000000u;
                if (!known || colour != last) {
                    auto found = index.constFind(colour);
                    if (found == index.constEnd()) {
                        if (colours.size() == 256)
                            return indexed = false;
                        found = index.insert(colour, uchar(colours.size()));
                        colours.append(colour);
                    }
                    last = colour;
                    lastIndex = *found;
                    known = true;
                }
                line[x + 1] = char(lastIndex);
            }
            return deflater.add(line);
        });
        if (indexed && !(drawn && deflater.finish()))
            return false;
    }
    if (indexed) {
        QByteArray plte;
        for (const QRgb colour : colours) {
            plte.append(char(qRed(colour)));
            plte.append(char(qGreen(colour)));
            plte.append(char(qBlue(colour)));
        }
        if (!sink(header(size, true) + chunk("PLTE", plte)))
            return false;
        constexpr qsizetype Piece = 1 << 20;
        for (qsizetype at = 0; at < compressed.size(); at += Piece)
            if (!sink(chunk("IDAT", compressed.mid(at, Piece))))
                return false;
        return sink(chunk("IEND", {}));
    }

    // Full colour, drawn again: the rows go out as they are compressed.
    compressed = QByteArray();
    if (!sink(header(size, false)))
        return false;
    Deflater deflater([&](const QByteArray &bytes) { return sink(chunk("IDAT", bytes)); });
    QByteArray line(1 + 3 * qsizetype(width), '\0');
    const bool drawn = forEachRow(size, paint, [&](const QRgb *pixels) {
        for (int x = 0; x < width; ++x) {
            line[1 + 3 * x] = char(qRed(pixels[x]));
            line[2 + 3 * x] = char(qGreen(pixels[x]));
            line[3 + 3 * x] = char(qBlue(pixels[x]));
        }
        return deflater.add(line);
    });
    return drawn && deflater.finish() && sink(chunk("IEND", {}));
}

} // namespace chart
