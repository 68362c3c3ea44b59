#include "app/WindowsLineMetrics.h"

#include <QHash>
#include <QList>

#include <cstdlib>

namespace {

constexpr quint32 tag(const char (&name)[5])
{
    return quint32(quint8(name[0])) << 24 | quint32(quint8(name[1])) << 16 | quint32(quint8(name[2])) << 8 |
           quint32(quint8(name[3]));
}

// Big-endian numbers inside the face's bytes. Every access checks that the
// bytes it touches exist before it touches them.
class FaceBytes
{
public:
    explicit FaceBytes(QByteArray &data) : m_data(data) {}

    qint64 size() const { return m_data.size(); }
    bool has(qint64 offset, qint64 length) const
    {
        return offset >= 0 && length >= 0 && offset <= size() && length <= size() - offset;
    }
    // An unsigned number of `width` bytes (1, 2 or 4).
    std::optional<quint32> read(qint64 offset, int width) const
    {
        if (!has(offset, width))
            return std::nullopt;
        quint32 value = 0;
        for (int i = 0; i < width; ++i)
            value = value << 8 | quint8(m_data[offset + i]);
        return value;
    }
    std::optional<qint32> readSigned16(qint64 offset) const
    {
        const std::optional<quint32> value = read(offset, 2);
        if (!value)
            return std::nullopt;
        return qint32(qint16(quint16(*value)));
    }
    bool write(qint64 offset, int width, quint32 value)
    {
        if (!has(offset, width))
            return false;
        for (int i = width - 1; i >= 0; --i, value >>= 8)
            m_data[offset + i] = char(value & 0xff);
        return true;
    }
    // The sum of the big-endian 32-bit words of a range, the range padded
    // with zeros to whole words (the checksum of a table).
    quint32 checksum(qint64 offset, qint64 length) const
    {
        quint32 sum = 0;
        for (qint64 word = 0; word < length; word += 4) {
            quint32 value = 0;
            for (qint64 i = word; i < word + 4; ++i)
                value = value << 8 | (i < length && has(offset + i, 1) ? quint8(m_data[offset + i]) : 0);
            sum += value;
        }
        return sum;
    }

private:
    QByteArray &m_data;
};

struct Table
{
    qint64 record = 0; // where its entry in the table directory starts
    qint64 offset = 0;
    qint64 length = 0;
};

// The face's tables by tag; nothing when the directory or any table it
// lists does not lie within the data.
std::optional<QHash<quint32, Table>> readDirectory(const FaceBytes &bytes)
{
    const std::optional<quint32> count = bytes.read(4, 2);
    if (!count)
        return std::nullopt;
    QHash<quint32, Table> tables;
    for (quint32 i = 0; i < *count; ++i) {
        const qint64 record = 12 + 16 * qint64(i);
        const std::optional<quint32> name = bytes.read(record, 4);
        const std::optional<quint32> offset = bytes.read(record + 8, 4);
        const std::optional<quint32> length = bytes.read(record + 12, 4);
        if (!name || !offset || !length || !bytes.has(*offset, *length))
            return std::nullopt;
        tables.insert(*name, Table{record, *offset, *length});
    }
    return tables;
}

// The cell of one pixel size: pixels above and below the baseline.
struct Cell
{
    int ascent = 0;
    int descent = 0;
};

// Windows scales usWinAscent and usWinDescent to the size and rounds each.
Cell windowsCell(int ppem, int winAscent, int winDescent, int unitsPerEm)
{
    auto scaled = [&](int value) {
        return int((2 * qint64(value) * ppem + unitsPerEm) / (2 * qint64(unitsPerEm)));
    };
    return {scaled(winAscent), scaled(winDescent)};
}

qint64 floorDiv(qint64 value, qint64 divisor)
{
    const qint64 quotient = value / divisor;
    return quotient * divisor > value ? quotient - 1 : quotient;
}

// FreeType's outline metrics at a bitmap size: the size's scale in 16.16
// fixed point, each value scaled to 1/64 pixel with halves rounded away
// from zero, then the ascender rounded up, the descender down and the line
// height to the nearest whole pixel.
class OutlineRounding
{
public:
    OutlineRounding(int ppem, int unitsPerEm)
        : m_scale(((qint64(ppem) * 64 << 16) + unitsPerEm / 2) / unitsPerEm)
    {}
    qint64 ascender(qint64 value) const { return floorDiv(scaled(value) + 63, 64); }
    qint64 descender(qint64 value) const { return floorDiv(scaled(value), 64); }
    qint64 height(qint64 value) const { return floorDiv(scaled(value) + 32, 64); }

private:
    qint64 scaled(qint64 value) const
    {
        const qint64 magnitude = (std::abs(value) * m_scale + 0x8000) >> 16;
        return value < 0 ? -magnitude : magnitude;
    }
    qint64 m_scale;
};

struct Strike
{
    qint64 offset = 0; // of its 48-byte record in EBLC
    int ppem = 0;
    Cell cell;
};

// The value nearest `target`, at most `reach` away and within 0..32767,
// that `fits`.
template <typename Fits> std::optional<int> nearestFitting(int target, int reach, Fits fits)
{
    for (int step = 0; step <= reach; ++step) {
        for (int candidate : {target - step, target + step}) {
            if (candidate >= 0 && candidate <= 32767 && fits(candidate))
                return candidate;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<QByteArray> withWindowsLineMetrics(const QByteArray &face)
{
    QByteArray data = face;
    FaceBytes bytes(data);
    const std::optional<quint32> version = bytes.read(0, 4);
    if (!version || (*version != 0x00010000 && *version != tag("true")))
        return std::nullopt;

    const std::optional<QHash<quint32, Table>> tables = readDirectory(bytes);
    if (!tables)
        return std::nullopt;
    const auto table = [&tables](quint32 name) {
        return tables->contains(name) ? std::optional(tables->value(name)) : std::nullopt;
    };
    const std::optional<Table> head = table(tag("head"));
    const std::optional<Table> hhea = table(tag("hhea"));
    const std::optional<Table> os2 = table(tag("OS/2"));
    const std::optional<Table> eblc = table(tag("EBLC"));
    if (!head || head->length < 54 || !hhea || hhea->length < 36 || !os2 || os2->length < 78)
        return std::nullopt;
    const std::optional<quint32> unitsPerEm = bytes.read(head->offset + 18, 2);
    const std::optional<quint32> winAscent = bytes.read(os2->offset + 74, 2);
    const std::optional<quint32> winDescent = bytes.read(os2->offset + 76, 2);
    if (!unitsPerEm || *unitsPerEm < 16 || *unitsPerEm > 16384 || !winAscent || !winDescent)
        return std::nullopt;
    const int em = int(*unitsPerEm);

    // The bitmap strikes, each with the cell Windows gives its size.
    QList<Strike> strikes;
    if (eblc) {
        const std::optional<quint32> eblcVersion = bytes.read(eblc->offset, 4);
        const std::optional<quint32> count = bytes.read(eblc->offset + 4, 4);
        if (eblc->length < 8 || !eblcVersion || *eblcVersion != 0x00020000 || !count ||
            *count > (eblc->length - 8) / 48)
            return std::nullopt;
        for (quint32 i = 0; i < *count; ++i) {
            const qint64 record = eblc->offset + 8 + 48 * qint64(i);
            const std::optional<quint32> ppem = bytes.read(record + 45, 1);
            if (!ppem || *ppem == 0)
                return std::nullopt;
            const Cell cell = windowsCell(int(*ppem), int(*winAscent), int(*winDescent), em);
            // The strike keeps its line metrics in signed bytes.
            if (cell.ascent > 127 || cell.descent > 128)
                return std::nullopt;
            strikes.append({record, int(*ppem), cell});
        }
    }

    const auto atEveryStrike = [&](auto matches) {
        return [&strikes, matches, em](int value) {
            for (const Strike &strike : strikes) {
                if (!matches(OutlineRounding(strike.ppem, em), strike.cell, value))
                    return false;
            }
            return true;
        };
    };
    const int reach = em / 4;
    const std::optional<int> ascender = nearestFitting(
        int(*winAscent), reach, atEveryStrike([](const OutlineRounding &at, Cell cell, int value) {
            return at.ascender(value) == cell.ascent;
        }));
    const std::optional<int> descender = nearestFitting(
        int(*winDescent), reach, atEveryStrike([](const OutlineRounding &at, Cell cell, int value) {
            return at.descender(-qint64(value)) == -cell.descent;
        }));
    const std::optional<int> height =
        nearestFitting(int(*winAscent + *winDescent), reach,
                       atEveryStrike([](const OutlineRounding &at, Cell cell, int value) {
                           return at.height(value) == cell.ascent + cell.descent;
                       }));
    if (!ascender || !descender || !height || *height < *ascender + *descender)
        return std::nullopt;
    const int lineGap = *height - *ascender - *descender;

    // hhea: ascender, descender, lineGap; OS/2: sTypoAscender,
    // sTypoDescender, sTypoLineGap. All were checked to lie in their tables.
    for (qint64 at : {hhea->offset + 4, os2->offset + 68}) {
        bytes.write(at, 2, quint16(*ascender));
        bytes.write(at + 2, 2, quint16(qint16(-*descender)));
        bytes.write(at + 4, 2, quint16(lineGap));
    }
    for (const Strike &strike : strikes) {
        bytes.write(strike.offset + 16, 1, quint8(strike.cell.ascent));
        bytes.write(strike.offset + 17, 1, quint8(qint8(-strike.cell.descent)));
    }

    // The changed tables' checksums, then the whole face's.
    const qint64 adjustment = head->offset + 8;
    bytes.write(adjustment, 4, 0);
    for (const std::optional<Table> &changed : {head, hhea, os2, eblc}) {
        if (changed)
            bytes.write(changed->record + 4, 4, bytes.checksum(changed->offset, changed->length));
    }
    bytes.write(adjustment, 4, 0xB1B0AFBA - bytes.checksum(0, bytes.size()));
    return data;
}
