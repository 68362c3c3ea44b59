// The index's name table checked against a plain map: heads of chains, the
// entry each push displaces, and every key still found while the table grows
// into its next size a few slots at a time.

#include "shell/NameTable.h"
#include "shell/IndexStore.h"

#include <gtest/gtest.h>

#include <random>
#include <unordered_map>

namespace {

// Pushes into the table and the model alike and checks what push returns.
struct Checked
{
    NameTable table;
    std::unordered_map<quint32, quint32> model;

    void push(quint32 key, quint32 entry)
    {
        const auto it = model.find(key);
        const quint32 expected = it == model.end() ? NameTable::kNone : it->second;
        ASSERT_EQ(table.push(key, entry), expected) << "key " << key;
        model[key] = entry;
    }
    void expectAllFound() const
    {
        for (const auto &[key, entry] : model)
            ASSERT_EQ(table.head(key), entry) << "key " << key;
        EXPECT_EQ(table.keys(), model.size());
    }
};

} // namespace

TEST(NameTableTest, AnEmptyTableKnowsNoKey)
{
    const NameTable table;
    EXPECT_EQ(table.head(0), NameTable::kNone);
    EXPECT_EQ(table.head(0xFFFFFFFFu), NameTable::kNone);
    EXPECT_EQ(table.keys(), 0u);
}

TEST(NameTableTest, ChainsKeepTheirHeadsAcrossEveryGrowth)
{
    // Far more keys than the first table holds, so it grows several times;
    // every key is pushed again now and then (a chain of entries of one
    // name), also while its slot may not have moved to the new table yet.
    // The extreme keys take part: a slot stores key and entry together.
    Checked checked;
    std::mt19937 random(7);
    std::vector<quint32> keys = {0, 1, 0xFFFFFFFFu, 0x80000000u};
    quint32 entry = 0;
    for (const quint32 key : keys)
        ASSERT_NO_FATAL_FAILURE(checked.push(key, entry++));
    size_t lastKeys = 0;
    while (checked.model.size() < 60000) {
        quint32 key = 0;
        if (random() % 4 == 0) {
            key = keys[random() % keys.size()]; // one more entry of a known name
        } else {
            key = quint32(random());
            keys.push_back(key);
        }
        ASSERT_NO_FATAL_FAILURE(checked.push(key, entry++));
        // Look at everything just after each doubling begins and while it
        // is half done: the keys then live in two tables.
        const size_t size = checked.model.size();
        if (size != lastKeys && (size == 3073 || size == 3100 || size == 6145 || size == 6200 ||
                                 size == 12289 || size == 24577 || size == 49153)) {
            ASSERT_NO_FATAL_FAILURE(checked.expectAllFound());
        }
        lastKeys = size;
    }
    ASSERT_NO_FATAL_FAILURE(checked.expectAllFound());
    EXPECT_EQ(checked.table.head(0x12345678u) == NameTable::kNone,
              checked.model.find(0x12345678u) == checked.model.end());
}

TEST(NameTableTest, KeysThatShareAHomeSlotAreKeptApart)
{
    // Keys that differ only in their low bits multiply into the same high
    // bits often enough to pile up in one probing run; a run of 20,000 such
    // keys must still give each its own head, and a repeated push must
    // change that key alone.
    Checked checked;
    quint32 entry = 0;
    for (quint32 i = 0; i < 20000; ++i)
        ASSERT_NO_FATAL_FAILURE(checked.push(i << 20, entry++));
    for (quint32 i = 0; i < 20000; i += 997)
        ASSERT_NO_FATAL_FAILURE(checked.push(i << 20, entry++));
    ASSERT_NO_FATAL_FAILURE(checked.expectAllFound());
    EXPECT_EQ(checked.table.head(1), NameTable::kNone);
}

TEST(NameTableTest, ClearForgetsEveryKeyAndTheTableIsUsableAgain)
{
    Checked checked;
    for (quint32 i = 0; i < 5000; ++i)
        ASSERT_NO_FATAL_FAILURE(checked.push(i * 7919u, i));
    checked.table.clear();
    checked.model.clear();
    EXPECT_EQ(checked.table.head(7919u), NameTable::kNone);
    EXPECT_EQ(checked.table.bytes(), 0u);
    for (quint32 i = 0; i < 5000; ++i)
        ASSERT_NO_FATAL_FAILURE(checked.push(i * 7919u, i + 1));
    ASSERT_NO_FATAL_FAILURE(checked.expectAllFound());
}

TEST(NameTableTest, NameBytesKeepEveryStringWholeAcrossChunks)
{
    // A string that does not fit the rest of a chunk starts the next one,
    // and earlier strings stay where they were.
    NameBytes bytes;
    const std::string big((size_t(1) << NameBytes::kChunkBits) - 10, 'a');
    const quint32 first = bytes.append(big.data(), big.size());
    const quint32 second = bytes.append("0123456789abcdef", 16);
    EXPECT_EQ(std::string(bytes.at(first), big.size()), big);
    EXPECT_EQ(std::string(bytes.at(second), 16), "0123456789abcdef");
    EXPECT_EQ(second >> NameBytes::kChunkBits, 1u);
}
