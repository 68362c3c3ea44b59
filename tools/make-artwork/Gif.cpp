#include "Gif.h"

#include <QHash>

#include <algorithm>
#include <vector>

namespace {

void putU16(QByteArray &out, int value)
{
    out.append(char(value & 0xFF));
    out.append(char((value >> 8) & 0xFF));
}

// Collects codes least significant bit first, as GIF packs them.
class BitWriter
{
public:
    void put(int code, int size)
    {
        m_buffer |= quint32(code) << m_bits;
        m_bits += size;
        while (m_bits >= 8) {
            m_bytes.append(char(m_buffer & 0xFF));
            m_buffer >>= 8;
            m_bits -= 8;
        }
    }
    QByteArray finish()
    {
        if (m_bits > 0)
            m_bytes.append(char(m_buffer & 0xFF));
        m_buffer = 0;
        m_bits = 0;
        return m_bytes;
    }

private:
    QByteArray m_bytes;
    quint32 m_buffer = 0;
    int m_bits = 0;
};

} // namespace

QByteArray gifImageData(const QList<quint8> &indices, int minCodeSize)
{
    const int clearCode = 1 << minCodeSize;
    const int endCode = clearCode + 1;
    constexpr int MaxCode = 4096;
    // Table of string codes: (prefix code, next index) -> code, -1 when none.
    std::vector<qint16> table(std::size_t(MaxCode) * 256, -1);
    int codeSize = minCodeSize + 1;
    int nextCode = clearCode + 2;
    BitWriter bits;
    bits.put(clearCode, codeSize);

    if (!indices.isEmpty()) {
        int prefix = indices[0];
        for (qsizetype i = 1; i < indices.size(); ++i) {
            const int c = indices[i];
            const std::size_t key = std::size_t(prefix) * 256 + std::size_t(c);
            if (table[key] >= 0) {
                prefix = table[key];
                continue;
            }
            bits.put(prefix, codeSize);
            if (nextCode < MaxCode) {
                table[key] = qint16(nextCode++);
                // The decoder learns each code one step later, so it widens
                // its codes once the code after the newest one no longer fits.
                if (nextCode > (1 << codeSize) && codeSize < 12)
                    ++codeSize;
            } else {
                bits.put(clearCode, codeSize);
                std::fill(table.begin(), table.end(), qint16(-1));
                codeSize = minCodeSize + 1;
                nextCode = clearCode + 2;
            }
            prefix = c;
        }
        bits.put(prefix, codeSize);
    }
    bits.put(endCode, codeSize);
    const QByteArray packed = bits.finish();

    QByteArray out;
    out.append(char(minCodeSize));
    for (qsizetype at = 0; at < packed.size(); at += 255) {
        const qsizetype length = std::min<qsizetype>(255, packed.size() - at);
        out.append(char(length));
        out.append(packed.mid(at, length));
    }
    out.append('\0');
    return out;
}

QByteArray encodeGif(const GifAnimation &a)
{
    QByteArray out("GIF89a");
    putU16(out, a.width);
    putU16(out, a.height);
    // Global colour table present, 8 bits of colour resolution, sort flag,
    // 2^(7+1) = 256 entries.
    out.append(char(0x80 | (7 << 4) | (a.sortedPalette ? 0x08 : 0) | 7));
    out.append(char(a.backgroundIndex));
    out.append('\0'); // pixel aspect ratio: none given
    for (QRgb colour : a.palette) {
        out.append(char(qRed(colour)));
        out.append(char(qGreen(colour)));
        out.append(char(qBlue(colour)));
    }
    // NETSCAPE2.0 application extension: the loop count.
    out.append("\x21\xFF\x0B", 3);
    out.append("NETSCAPE2.0");
    out.append("\x03\x01", 2);
    putU16(out, a.loopCount);
    out.append('\0');

    for (const GifFrame &frame : a.frames) {
        // Graphic control extension: disposal, transparency on, delay.
        out.append("\x21\xF9\x04", 3);
        out.append(char((frame.disposal & 7) << 2 | 0x01));
        putU16(out, frame.delay);
        out.append(char(a.transparentIndex));
        out.append('\0');
        // Image descriptor: the whole screen, no local table, not interlaced.
        out.append(char(0x2C));
        putU16(out, 0);
        putU16(out, 0);
        putU16(out, a.width);
        putU16(out, a.height);
        out.append('\0');
        out.append(gifImageData(frame.indices));
    }
    out.append(char(0x3B));
    return out;
}

namespace {

struct Entry
{
    QRgb colour;
    qint64 count;
};

int channel(QRgb c, int which)
{
    return which == 0 ? qRed(c) : which == 1 ? qGreen(c) : qBlue(c);
}

struct Box
{
    std::vector<Entry> entries;
    qint64 weight() const
    {
        qint64 total = 0;
        for (const Entry &e : entries)
            total += e.count;
        return total;
    }
    // The channel with the widest range and that range.
    std::pair<int, int> widest() const
    {
        int best = 0, bestRange = -1;
        for (int ch = 0; ch < 3; ++ch) {
            int lo = 255, hi = 0;
            for (const Entry &e : entries) {
                lo = std::min(lo, channel(e.colour, ch));
                hi = std::max(hi, channel(e.colour, ch));
            }
            if (hi - lo > bestRange) {
                bestRange = hi - lo;
                best = ch;
            }
        }
        return {best, bestRange};
    }
    QRgb mean() const
    {
        double r = 0, g = 0, b = 0, w = 0;
        for (const Entry &e : entries) {
            r += double(qRed(e.colour)) * double(e.count);
            g += double(qGreen(e.colour)) * double(e.count);
            b += double(qBlue(e.colour)) * double(e.count);
            w += double(e.count);
        }
        return qRgb(int(r / w + 0.5), int(g / w + 0.5), int(b / w + 0.5));
    }
};

int distance(QRgb a, QRgb b)
{
    const int dr = qRed(a) - qRed(b), dg = qGreen(a) - qGreen(b), db = qBlue(a) - qBlue(b);
    return 3 * dr * dr + 4 * dg * dg + 2 * db * db;
}

} // namespace

Quantized quantize(const QList<QImage> &frames, int maxColours)
{
    QHash<QRgb, qint64> histogram;
    for (const QImage &frame : frames)
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x) {
                const QRgb pixel = frame.pixel(x, y);
                if (qAlpha(pixel) == 255)
                    ++histogram[pixel | 0xFF000000u];
            }

    std::vector<Box> boxes(1);
    for (auto it = histogram.cbegin(); it != histogram.cend(); ++it)
        boxes[0].entries.push_back({it.key(), it.value()});
    std::sort(boxes[0].entries.begin(), boxes[0].entries.end(),
              [](const Entry &a, const Entry &b) { return a.colour < b.colour; });
    while (int(boxes.size()) < maxColours) {
        // Split the box with the most weight times spread.
        int pick = -1;
        double bestScore = 0;
        for (int i = 0; i < int(boxes.size()); ++i) {
            if (boxes[i].entries.size() < 2)
                continue;
            const double score = double(boxes[i].weight()) * double(boxes[i].widest().second + 1);
            if (score > bestScore) {
                bestScore = score;
                pick = i;
            }
        }
        if (pick < 0)
            break;
        Box &box = boxes[pick];
        const int ch = box.widest().first;
        std::sort(box.entries.begin(), box.entries.end(), [ch](const Entry &a, const Entry &b) {
            return channel(a.colour, ch) < channel(b.colour, ch);
        });
        const qint64 half = box.weight() / 2;
        qint64 running = 0;
        std::size_t cut = 1;
        for (std::size_t i = 0; i + 1 < box.entries.size(); ++i) {
            running += box.entries[i].count;
            cut = i + 1;
            if (running >= half)
                break;
        }
        Box upper;
        upper.entries.assign(box.entries.begin() + qsizetype(cut), box.entries.end());
        box.entries.resize(cut);
        boxes.push_back(std::move(upper));
    }

    QList<QRgb> colours;
    for (const Box &box : boxes)
        if (!box.entries.empty())
            colours.append(box.mean());

    // Nearest palette colour of every distinct colour, and how much each
    // palette colour is used.
    QHash<QRgb, int> nearest;
    QList<qint64> use(colours.size(), 0);
    for (auto it = histogram.cbegin(); it != histogram.cend(); ++it) {
        int best = 0;
        for (int i = 1; i < colours.size(); ++i)
            if (distance(it.key(), colours[i]) < distance(it.key(), colours[best]))
                best = i;
        nearest.insert(it.key(), best);
        use[best] += it.value();
    }
    // Most used first, as the sort flag of a GIF colour table promises.
    QList<int> order(colours.size());
    for (int i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&use](int a, int b) { return use[a] > use[b]; });
    QList<int> rank(colours.size());
    Quantized result;
    for (int i = 0; i < order.size(); ++i) {
        rank[order[i]] = i;
        result.colours.append(colours[order[i]]);
    }
    for (const QImage &frame : frames) {
        QList<int> indices;
        indices.reserve(qsizetype(frame.width()) * frame.height());
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x) {
                const QRgb pixel = frame.pixel(x, y);
                indices.append(qAlpha(pixel) == 255 ? rank[nearest.value(pixel | 0xFF000000u)] : -1);
            }
        result.indices.append(indices);
    }
    return result;
}
