#include "lnk/AnsiCodec.h"

#include <QByteArrayView>
#include <QStringDecoder>

#include <array>
#include <optional>

namespace {

// Windows-1252 bytes 0x80..0x9F. The five bytes the code page leaves
// undefined map to the C1 control of the same value, as Windows does.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::optional<char> toCp1252(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (int i = 0; i < 32; ++i) {
        if (kHigh[i] == c)
            return static_cast<char>(0x80 + i);
    }
    return std::nullopt;
}

// The code pages read by converters: after Windows-1252, the other
// single-byte Windows code pages, then the East Asian double-byte ones.
constexpr const char *kOtherCodePages[AnsiCodec::kCodePages - 1] = {
    "windows-1250", "windows-1251", "windows-1253", "windows-1254", "windows-1255", "windows-1256",
    "windows-1257", "windows-874",  "windows-932",  "windows-936",  "windows-949",  "windows-950",
};

// Whether a converter's reading may be a name: bytes a code page leaves
// undefined come out as replacement or control characters, which no name
// holds, or as private-use characters (the user-defined areas of the East
// Asian code pages), which no name written in that code page holds either.
bool couldBeName(const QString &reading)
{
    for (qsizetype i = 0; i < reading.size(); ++i) {
        char32_t code = reading.at(i).unicode();
        if (QChar::isHighSurrogate(code) && i + 1 < reading.size() && reading.at(i + 1).isLowSurrogate()) {
            code = QChar::surrogateToUcs4(reading.at(i), reading.at(i + 1));
            ++i;
        }
        const QChar::Category category = QChar::category(code);
        if (code == QChar::ReplacementCharacter || category == QChar::Other_Control ||
            category == QChar::Other_PrivateUse)
            return false;
    }
    return true;
}

// The bytes read in code page kOtherCodePages[page]; nothing when they are
// not valid text in it.
//
// Qt's converters keep state from one decode to the next: once one has met
// bytes it cannot read, every later decode reports an error too (resetState
// does not clear that for ICU's converters), and without Stateless a lead
// byte at the end is held over for the next decode. A reading must depend on
// its bytes alone, so a converter is used again only while it stands where a
// new one does: with Stateless an incomplete sequence at the end is dropped
// and reported as an error instead of held over, so one that met no error is
// at its initial state; one that met an error is dropped, and the next decode
// in that code page makes a new one. Making a converter takes several times
// as long as reading a path with it, so each thread keeps the unused ones
// (made in place and never moved: an ICU converter refers to its own state).
std::optional<QString> decodeIn(size_t page, QByteArrayView bytes)
{
    thread_local std::array<std::optional<QStringDecoder>, std::size(kOtherCodePages)> unused;
    std::optional<QStringDecoder> &decoder = unused[page];
    if (!decoder)
        decoder.emplace(kOtherCodePages[page], QStringDecoder::Flag::Stateless);
    if (!decoder->isValid())
        return std::nullopt; // this Qt has no converter for it
    QString reading = decoder->decode(bytes);
    if (decoder->hasError()) {
        decoder.reset();
        return std::nullopt;
    }
    if (!couldBeName(reading))
        return std::nullopt;
    return reading;
}

} // namespace

namespace AnsiCodec {

bool isAscii(const char *data, qint64 size)
{
    for (qint64 i = 0; i < size; ++i) {
        if (static_cast<quint8>(data[i]) >= 0x80)
            return false;
    }
    return true;
}

QString decodeCp1252(const char *data, qint64 size)
{
    QString out(static_cast<qsizetype>(size), Qt::Uninitialized);
    QChar *dst = out.data();
    for (qint64 i = 0; i < size; ++i) {
        const quint8 c = static_cast<quint8>(data[i]);
        dst[i] = (c >= 0x80 && c < 0xA0) ? QChar(kHigh[c - 0x80]) : QChar(c);
    }
    return out;
}

QString decodeAnsi(const char *data, qint64 size)
{
    if (isAscii(data, size))
        return QString::fromLatin1(data, static_cast<qsizetype>(size));
    if (QByteArrayView(data, static_cast<qsizetype>(size)).isValidUtf8())
        return QString::fromUtf8(data, static_cast<qsizetype>(size));
    return decodeCp1252(data, size);
}

PageReadings readingsInEachCodePage(const char *data, qint64 size)
{
    PageReadings readings;
    if (isAscii(data, size)) {
        readings.fill(QString::fromLatin1(data, static_cast<qsizetype>(size)));
        return readings;
    }
    readings[0] = decodeCp1252(data, size);
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));
    for (size_t page = 0; page < std::size(kOtherCodePages); ++page)
        readings[page + 1] = decodeIn(page, bytes);
    return readings;
}

QStringList otherReadings(const char *data, qint64 size)
{
    QStringList out;
    if (isAscii(data, size))
        return out;
    const QString primary = decodeAnsi(data, size);
    for (const std::optional<QString> &reading : readingsInEachCodePage(data, size)) {
        if (reading && *reading != primary && !out.contains(*reading))
            out << *reading;
    }
    return out;
}

std::optional<QByteArray> encodeCp1252(const QString &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (QChar c : text) {
        const auto b = toCp1252(c.unicode());
        if (!b)
            return std::nullopt;
        out.append(*b);
    }
    return out;
}

QByteArray encodeCp1252Lossy(const QString &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (QChar c : text)
        out.append(toCp1252(c.unicode()).value_or('?'));
    return out;
}

} // namespace AnsiCodec
