// Inputs that once broke the codec (tests/data/lnk-malformed): shortcut files
// that must load cleanly or fail cleanly, and, in rewrite/, inputs of the
// rewrite fuzz target (a new target and a link) that must keep its property.

#include "fuzz/RewriteCheck.h"
#include "lnk/LnkFile.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <variant>

namespace {

const QString kFolder = QStringLiteral(LINKMEND_TEST_DATA "/lnk-malformed");

QByteArray contents(const QString &path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

LnkFile load(const QString &name)
{
    auto parsed = LnkFile::parse(contents(kFolder + QLatin1Char('/') + name));
    EXPECT_TRUE(std::holds_alternative<LnkFile>(parsed)) << name.toStdString();
    return std::get<LnkFile>(std::move(parsed));
}

TEST(LnkRegression, EveryFileLoadsOrFailsCleanlyAndWritesBackItsBytes)
{
    const QStringList names = QDir(kFolder).entryList(QDir::Files, QDir::Name);
    ASSERT_FALSE(names.isEmpty());
    for (const QString &name : names) {
        const QByteArray bytes = contents(kFolder + QLatin1Char('/') + name);
        auto parsed = LnkFile::parse(bytes);
        if (auto *link = std::get_if<LnkFile>(&parsed)) {
            EXPECT_EQ(link->serialize(), bytes) << name.toStdString();
            static_cast<void>(link->targetPath(true));
        }
    }
}

// A '%' in a name of the LinkInfo or IDList path is part of the name: only
// the environment block holds variables. These links were read as targets
// that cannot be judged (an unknown variable) or as another path
// ("C:\Docs\c:\Windows\notes.txt"), which the scan then listed as broken.
TEST(LnkRegression, PercentSignsInNamesAreNotVariables)
{
    EXPECT_EQ(load(QStringLiteral("percent_unknown_variable_in_name.lnk")).targetPath(true),
              QStringLiteral("C:\\Sales\\50%off%\\report.txt"));
    EXPECT_EQ(load(QStringLiteral("percent_known_variable_in_name.lnk")).targetPath(false),
              QStringLiteral("C:\\Docs\\%windir%\\notes.txt"));
}

// The writer stored a share name in Windows-1252 alone when it fitted, but
// readers take ANSI bytes that form UTF-8 for UTF-8: "\\files\Ã©quipe"
// (bytes C3 A9) came back as "\\files\équipe". It now adds the Unicode copy.
TEST(LnkRegression, AnsiBytesThatFormUtf8GetTheirUnicodeCopy)
{
    for (const QString &target : {QStringLiteral("\\\\files\\\u00c3\u00a9quipe\\plan.doc"),
                                  QStringLiteral("\\\\server\\share\\\u00df\u00a0.txt"),
                                  QStringLiteral("c:\\\u00c3\u00a9t\u00c3\u00a9\\x.txt")}) {
        LnkTargetInfo info;
        info.winPath = target;
        info.attributes = 0x20;
        auto made = LnkFile::create(info, QStringLiteral("c:\\Links\\x.lnk"));
        ASSERT_TRUE(std::holds_alternative<LnkFile>(made)) << target.toStdString();
        auto again = LnkFile::parse(std::get<LnkFile>(made).serialize());
        ASSERT_TRUE(std::holds_alternative<LnkFile>(again));
        QString expected = target;
        expected[0] = expected[0].toUpper();
        EXPECT_EQ(std::get<LnkFile>(again).targetPath(true), expected);
        EXPECT_EQ(std::get<LnkFile>(again).targetPath(false), expected);
    }
    // An ANSI link cannot hold such a string at all: no string is written
    // that would read back as another.
    LnkTargetInfo info;
    info.winPath = QStringLiteral("c:\\a.txt");
    LnkCreateOptions ansi;
    ansi.unicode = false;
    ansi.arguments = QStringLiteral("\u00c3\u00a9");
    EXPECT_TRUE(std::holds_alternative<LnkError>(LnkFile::create(info, QStringLiteral("c:\\x.lnk"), ansi)));
}

TEST(LnkRegression, RewriteInputsKeepTheRewriteProperty)
{
    const QDir folder(kFolder + QStringLiteral("/rewrite"));
    const QStringList names = folder.entryList(QDir::Files, QDir::Name);
    ASSERT_GE(names.size(), 4);
    for (const QString &name : names) {
        const QByteArray bytes = contents(folder.filePath(name));
        const char *fault = RewriteCheck::rewriteFault(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                                       size_t(bytes.size()));
        EXPECT_EQ(fault, nullptr) << name.toStdString() << ": " << fault;
    }
}

} // namespace
