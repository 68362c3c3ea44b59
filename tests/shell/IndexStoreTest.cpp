#include "shell/IndexStore.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

// The name table keeps one chain head per key through every growth, also
// while a grown table is still being filled from the old one a few slots at
// a time: what push hands back (the previous head) and what head() finds
// always agree with a plain map, for keys that collide in their home slot
// and for keys pushed again while they wait to be moved.
TEST(NameTable, ChainHeadsSurviveGrowth)
{
    NameTable table;
    std::map<quint32, quint32> heads;
    quint32 entry = 0;
    const auto push = [&](quint32 key) {
        const auto known = heads.find(key);
        const quint32 expected = known == heads.end() ? NameTable::kNone : known->second;
        ASSERT_EQ(table.push(key, entry), expected) << "key " << key << " entry " << entry;
        heads[key] = entry;
        ++entry;
    };
    // Keys that share their low bits land near one another; every fifth key
    // is pushed again at once and every third of the earlier ones later, so
    // keys are met again in both tables while one is being moved.
    for (quint32 i = 0; i < 40000; ++i) {
        const quint32 key = (i % 7 == 0) ? i << 20 : i * 2654435761u;
        push(key);
        if (i % 5 == 0)
            push(key);
        if (i % 3 == 0 && i > 100)
            push((i / 2 % 7 == 0) ? (i / 2) << 20 : (i / 2) * 2654435761u);
    }
    EXPECT_EQ(table.keys(), heads.size());
    for (const auto &[key, head] : heads)
        ASSERT_EQ(table.head(key), head) << "key " << key;
    EXPECT_EQ(table.head(12345u), NameTable::kNone);

    table.clear();
    EXPECT_EQ(table.keys(), 0u);
    EXPECT_EQ(table.head(heads.begin()->first), NameTable::kNone);
    EXPECT_EQ(table.push(7, 1), NameTable::kNone);
    EXPECT_EQ(table.push(7, 2), 1u);
}
