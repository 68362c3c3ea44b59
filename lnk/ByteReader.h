#pragma once

// A bounds-checked little-endian cursor over a run of bytes. Every length is
// widened to 64 bits before it is compared with what is left, so no sum or
// product of file-supplied sizes can wrap around a check. A failed read
// leaves the cursor where it was and returns false; nothing is ever read
// outside the run the reader was given.

#include <QtGlobal>

#include <cstring>
#include <optional>

class ByteReader
{
public:
    // `base` is the file offset of data[0], so positions can be reported as
    // offsets in the whole file.
    ByteReader(const char *data, qint64 size, qint64 base = 0) : m_data(data), m_size(size), m_base(base)
    {
        if (m_size < 0)
            m_size = 0;
    }

    qint64 pos() const { return m_pos; }
    qint64 size() const { return m_size; }
    qint64 remaining() const { return m_size - m_pos; }
    bool atEnd() const { return m_pos >= m_size; }
    // The file offset of the cursor.
    qint64 fileOffset() const { return m_base + m_pos; }
    qint64 base() const { return m_base; }
    const char *data() const { return m_data; }

    bool has(quint64 count) const { return count <= static_cast<quint64>(m_size - m_pos); }

    bool u8(quint8 &out) { return readLe(out); }
    bool u16(quint16 &out) { return readLe(out); }
    bool u32(quint32 &out) { return readLe(out); }
    bool u64(quint64 &out) { return readLe(out); }

    bool skip(quint64 count)
    {
        if (!has(count))
            return false;
        m_pos += static_cast<qint64>(count);
        return true;
    }

    bool seek(quint64 position)
    {
        if (position > static_cast<quint64>(m_size))
            return false;
        m_pos = static_cast<qint64>(position);
        return true;
    }

    // A reader over the next `count` bytes; the cursor moves past them.
    std::optional<ByteReader> slice(quint64 count)
    {
        if (!has(count))
            return std::nullopt;
        ByteReader sub(m_data + m_pos, static_cast<qint64>(count), m_base + m_pos);
        m_pos += static_cast<qint64>(count);
        return sub;
    }

    // Reads without moving the cursor, at a position relative to the start.
    template <typename T> bool peekAt(quint64 position, T &out) const
    {
        if (position > static_cast<quint64>(m_size) || sizeof(T) > static_cast<quint64>(m_size) - position)
            return false;
        out = loadLe<T>(m_data + position);
        return true;
    }

    // Little-endian load from memory the caller has already bounds-checked.
    template <typename T> static T loadLe(const char *p)
    {
        T value = 0;
        for (size_t i = 0; i < sizeof(T); ++i)
            value |= static_cast<T>(static_cast<T>(static_cast<quint8>(p[i])) << (8 * i));
        return value;
    }

private:
    template <typename T> bool readLe(T &out)
    {
        if (!has(sizeof(T)))
            return false;
        out = loadLe<T>(m_data + m_pos);
        m_pos += static_cast<qint64>(sizeof(T));
        return true;
    }

    const char *m_data = nullptr;
    qint64 m_size = 0;
    qint64 m_pos = 0;
    qint64 m_base = 0;
};
