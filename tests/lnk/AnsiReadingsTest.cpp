// ANSI strings read in the other code pages: each reading depends on its
// bytes alone, whatever was read before it in the same thread.

#include "LnkTestKit.h"

#include "lnk/AnsiCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <thread>
#include <vector>

namespace {

// Runs f on a thread of its own, which has read nothing before.
template <typename T> T onFreshThread(const std::function<T()> &f)
{
    T out;
    std::thread([&] { out = f(); }).join();
    return out;
}

// Calls visit with every order of the indexes 0..count-1, up to the first
// failure.
void everyOrder(size_t count, const std::function<void(const std::vector<size_t> &)> &visit)
{
    std::vector<size_t> order(count);
    std::iota(order.begin(), order.end(), size_t{0});
    do {
        visit(order);
    } while (!::testing::Test::HasFailure() && std::next_permutation(order.begin(), order.end()));
}

// Readings as text, for failure messages.
std::string shown(const QStringList &readings)
{
    return readings.join(QStringLiteral(" | ")).toStdString();
}

std::string shown(const QList<QStringList> &forms)
{
    std::string out;
    // Appended piece by piece: GCC 12 at -O3 takes "[" + string for an
    // overlapping copy (-Wrestrict) and stops the Release build.
    for (const QStringList &readings : forms) {
        out += '[';
        out += shown(readings);
        out += "] ";
    }
    return out;
}

const QByteArray kJapanese = QByteArray("C:\\\x93\xfa\x96{\\\x83\x8c\x83|\x81[\x83g.txt"); // 日本\レポート
const QString kJapaneseText = QString::fromUtf8("C:\\日本\\レポート.txt");

TEST(AnsiReadings, EachReadingDependsOnItsBytesAlone)
{
    const std::vector<QByteArray> inputs = {
        QByteArray("R\xe9sum\xe9"),           // Windows-1252; a lead byte at the end in 932, 936, 949, 950
        kJapanese,                            // code page 932
        QByteArray("\\\\SERVER\\QUALIT\xc9"), // a lead byte at the end in 936 and 950
        QByteArray("\xa4\xa4\xa4\xe5\xa4"),   // 中文 in 950, then a lone lead byte
        QByteArray("\x81\x8d\xff"),           // undefined in most code pages
        QByteArray("caf\xc3\xa9"),            // UTF-8
    };
    std::vector<QStringList> alone;
    for (const QByteArray &bytes : inputs) {
        alone.push_back(onFreshThread<QStringList>(
            [&] { return AnsiCodec::otherReadings(bytes.constData(), bytes.size()); }));
    }
    EXPECT_TRUE(alone[1].contains(kJapaneseText));

    everyOrder(inputs.size(), [&](const std::vector<size_t> &order) {
        for (size_t i : order) {
            const QByteArray &bytes = inputs[i];
            const QStringList readings = AnsiCodec::otherReadings(bytes.constData(), bytes.size());
            EXPECT_EQ(readings, alone[i]) << "input " << i << " in order " << ::testing::PrintToString(order)
                                          << ": " << shown(readings) << " alone: " << shown(alone[i]);
        }
    });
}

TEST(AnsiReadings, LinksReadTheSameInAnyOrder)
{
    const std::vector<QByteArray> infos = {
        ansiLinkInfo("C:\\Users\\R\xe9sum\xe9", {}, {}),
        ansiLinkInfo(kJapanese, {}, {}),
        ansiLinkInfo({}, "\\\\SERVER\\QUALIT\xc9", "Pl\xe1n\\a.txt"),
        ansiLinkInfo("D:\\\xd6\xd0\xce\xc4", "\\\\srv\\\xb8\xea\xae\xc6", "x\xa4"),
    };
    std::vector<QByteArray> bytes;
    for (const QByteArray &info : infos)
        bytes.push_back(linkWithInfo(info).serialize());
    const auto readings = [&](size_t i) {
        QList<QStringList> out;
        for (const LnkTargetForm &form : load(bytes[i]).targetForms(false))
            out << form.readings();
        return out;
    };
    std::vector<QList<QStringList>> alone;
    for (size_t i = 0; i < bytes.size(); ++i)
        alone.push_back(onFreshThread<QList<QStringList>>([&] { return readings(i); }));
    ASSERT_EQ(alone[1].size(), 1);
    EXPECT_TRUE(alone[1][0].contains(kJapaneseText));

    everyOrder(bytes.size(), [&](const std::vector<size_t> &order) {
        for (size_t i : order) {
            const QList<QStringList> now = readings(i);
            EXPECT_EQ(now, alone[i]) << "link " << i << " in order " << ::testing::PrintToString(order)
                                     << ": " << shown(now) << " alone: " << shown(alone[i]);
        }
    });
}

// The other readings of a link's one LinkInfo form.
QStringList readingsOf(const QByteArray &info)
{
    const std::vector<LnkTargetForm> forms = linkWithInfo(info).targetForms(false);
    EXPECT_EQ(forms.size(), 1u);
    return forms.empty() ? QStringList() : forms[0].otherReadings;
}

TEST(AnsiReadings, PiecesOfAPathAreReadOnTheirOwnInOneCodePage)
{
    // A lead byte at the end of the share's name (É in Windows-1252) takes
    // no separator: every reading keeps the path's folders.
    const QStringList network = readingsOf(ansiLinkInfo({}, "\\\\SERVER\\QUALIT\xc9", "Pl\xe1n\\a.txt"));
    EXPECT_TRUE(network.contains(QString::fromUtf8("\\\\SERVER\\QUALITЙ\\Plбn\\a.txt"))); // 1251
    for (const QString &reading : network)
        EXPECT_EQ(reading.count(QLatin1Char('\\')), 5) << reading.toStdString();

    // 資料 in code page 950; the suffix ends in a lone lead byte there, so
    // that code page gives no reading at all, until the suffix is whole.
    const QByteArray share = "\\\\srv\\\xb8\xea\xae\xc6";
    for (const QString &reading : readingsOf(ansiLinkInfo({}, share, "x\xa4")))
        EXPECT_FALSE(reading.contains(QString::fromUtf8("資料"))) << reading.toStdString();
    EXPECT_TRUE(
        readingsOf(ansiLinkInfo({}, share, "x\xa4\xa4")).contains(QString::fromUtf8("\\\\srv\\資料\\x中")));

    // 表 in code page 932 ends in byte 5C, which is no separator there; the
    // base path and the suffix are joined as text.
    const QStringList local = readingsOf(ansiLinkInfo("C:\\\x95\x5c", {}, "a.txt"));
    EXPECT_TRUE(local.contains(QString::fromUtf8("C:\\表\\a.txt")));
    EXPECT_FALSE(local.contains(QString::fromUtf8("C:\\表a.txt")));

    // Bytes of a code page's user-defined area (F040 in 932) come out as
    // private-use characters: no reading.
    const QByteArray userDefined = "C:\\\xf0\x40\xf0\x41.txt";
    for (const QString &reading : readingsOf(ansiLinkInfo(userDefined, {}, {}))) {
        EXPECT_TRUE(std::none_of(reading.begin(), reading.end(), [](QChar c) {
            return c.category() == QChar::Other_PrivateUse;
        })) << reading.toStdString();
    }
    EXPECT_FALSE(AnsiCodec::readingsInEachCodePage(userDefined.constData(), userDefined.size())[9]); // 932
}

} // namespace
