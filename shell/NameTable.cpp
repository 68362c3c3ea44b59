#include "shell/NameTable.h"

quint64 *NameTable::Table::find(quint32 key) const
{
    const size_t mask = capacity() - 1;
    for (size_t slot = home(key);; slot = (slot + 1) & mask) {
        quint64 *value = at(slot);
        if (*value == 0 || quint32(*value >> 32) == key)
            return value;
    }
}

quint32 NameTable::head(quint32 key) const
{
    for (const Table *table : {&m_table, &m_old}) {
        if (table->bits == 0)
            continue;
        const quint64 value = *table->find(key);
        if (value != 0)
            return quint32(value) - 1;
    }
    return kNone;
}

quint32 NameTable::push(quint32 key, quint32 entry)
{
    const quint64 value = quint64(key) << 32 | (quint64(entry) + 1);
    if (m_old.bits != 0)
        migrate(32);
    // A key not moved yet is changed where it is; it moves with its new value.
    quint64 *free = nullptr; // where a new key goes in the current table
    for (Table *table : {&m_table, &m_old}) {
        if (table->bits == 0)
            continue;
        quint64 *slot = table->find(key);
        if (*slot != 0) {
            const quint32 previous = quint32(*slot) - 1;
            *slot = value;
            return previous;
        }
        if (table == &m_table)
            free = slot;
    }
    // A new key goes where the look in the current table ended, unless that
    // table is full to three quarters: then the next table takes over. (A
    // table that is still being moved into is never that full: it is twice
    // the size of the one being moved out.)
    if (!free || (m_size + 1) * 4 > m_table.capacity() * 3) {
        if (m_old.bits != 0)
            migrate(m_old.capacity());
        Table next;
        next.bits = m_table.bits == 0 ? 12 : m_table.bits + 1;
        next.memory = MappedBlock(next.capacity() * sizeof(quint64));
        m_old = std::move(m_table);
        m_table = std::move(next);
        m_moved = 0;
        if (m_old.bits == 0)
            m_old = Table{};
        free = m_table.find(key);
    }
    *free = value;
    ++m_size;
    return kNone;
}

void NameTable::migrate(size_t slots)
{
    const size_t capacity = m_old.capacity();
    for (; slots > 0 && m_moved < capacity; --slots, ++m_moved) {
        const quint64 value = *m_old.at(m_moved);
        if (value != 0)
            *m_table.find(quint32(value >> 32)) = value;
    }
    if (m_moved == capacity) {
        m_old = Table{};
        m_moved = 0;
    }
}

void NameTable::clear()
{
    m_table = Table{};
    m_old = Table{};
    m_moved = 0;
    m_size = 0;
}
