// Nothing the check could not look at is passed over in silence: a drive
// whose broken shortcuts hide behind names and folders the walk cannot
// treat as usual, checked as an ordinary user.

#include "BufferConsole.h"

#include "cli/CheckRun.h"
#include "cli/CommandLineMain.h"
#include "lnk/LnkFile.h"
#include "shell/ShellLinkService.h"
#include "support/TempDrives.h"
#include "support/UnprivilegedFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Buffers = BufferConsole;

QByteArray brokenLink()
{
    LnkTargetInfo info;
    info.winPath = QStringLiteral("D:\\Gone\\missing.exe");
    info.attributes = 0x20;
    return std::get<LnkFile>(LnkFile::create(info, QStringLiteral("c:\\x.lnk"))).serialize();
}

void writeRaw(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path.constData();
    ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
    ::close(fd);
}

class PassedOverTest : public ::testing::Test
{
protected:
    PassedOverTest()
    {
        const QByteArray root = drives.posix(QString());
        // One broken shortcut a Windows path names, and four that none does
        // or that cannot be read.
        drives.writeFile(QStringLiteral("plain/Old.lnk"), brokenLink());
        ::chmod(drives.posix(QStringLiteral("plain")).constData(), 0777); // the test removes it as nobody
        ::mkdir((root + "/caf\xe9").constData(), 0755);
        writeRaw(root + "/caf\xe9/inner.lnk", brokenLink());
        writeRaw(root + "/Gr\xfc\xdf.lnk", brokenLink());
        writeRaw(root + "/tab\there.lnk", brokenLink());
        drives.writeFile(QStringLiteral("locked/inner.lnk"), brokenLink());
        ::chmod(drives.posix(QStringLiteral("locked")).constData(), 0);
        UnprivilegedFiles::letEveryoneThrough(drives.root());
    }
    ~PassedOverTest() override
    {
        const QByteArray root = drives.posix(QString());
        ::chmod(drives.posix(QStringLiteral("locked")).constData(), 0755);
        ::unlink((root + "/caf\xe9/inner.lnk").constData());
        ::rmdir((root + "/caf\xe9").constData());
        ::unlink((root + "/Gr\xfc\xdf.lnk").constData());
        ::unlink((root + "/tab\there.lnk").constData());
    }

    CheckReport check(const CheckRun::Options &options, Buffers &console)
    {
        ShellLinkService service(drives.context());
        CheckRun run(options, service, console, drives.context());
        return run.run({{drives.posix(QString()), QStringLiteral("c:\\")}});
    }

    TempDrives drives{QStringLiteral("cd")};
};

TEST_F(PassedOverTest, EveryShortcutIsCountedAndWhatCannotBeListedIsNamedWithItsReason)
{
    const UnprivilegedFiles unprivileged;
    if (!unprivileged.binding())
        GTEST_SKIP() << "permissions cannot be made to bind here";

    Buffers json;
    const CheckReport report = check({true, false, true, false}, json);
    const QJsonObject document = QJsonDocument::fromJson(json.output).object();
    ASSERT_FALSE(document.isEmpty()) << json.output.constData();
    EXPECT_EQ(document.value(QStringLiteral("broken")).toArray().size(), 1);

    // The folder that cannot be read, the folder named in another encoding,
    // and the two shortcuts whose names hold such bytes: named exactly,
    // each with why.
    QMap<QByteArray, QString> skipped;
    for (const QJsonValue &value : document.value(QStringLiteral("skipped")).toArray()) {
        const QJsonObject entry = value.toObject();
        const QByteArray bytes =
            entry.contains(QStringLiteral("pathBytes"))
                ? QByteArray::fromBase64(entry.value(QStringLiteral("pathBytes")).toString().toLatin1())
                : entry.value(QStringLiteral("path")).toString().toUtf8();
        skipped.insert(bytes, entry.value(QStringLiteral("reason")).toString());
    }
    const QByteArray root = drives.posix(QStringLiteral("plain")).chopped(6);
    EXPECT_EQ(skipped.keys(),
              (QList<QByteArray>{root + "/Gr\xfc\xdf.lnk", root + "/caf\xe9", root + "/caf\xe9/inner.lnk",
                                 root + "/locked", root + "/tab\there.lnk"}));
    EXPECT_TRUE(skipped.value(root + "/locked").contains(QLatin1String("cannot be read")));
    EXPECT_TRUE(skipped.value(root + "/tab\there.lnk").contains(QLatin1String("broken")));
    EXPECT_TRUE(skipped.value(root + "/caf\xe9/inner.lnk").contains(QLatin1String("broken")));
    // Four shortcuts judged (the one in the locked folder cannot be seen),
    // and the run says it could not look at everything.
    const QJsonObject counts = document.value(QStringLiteral("counts")).toObject();
    EXPECT_EQ(counts.value(QStringLiteral("shortcuts")).toInt(), 4);
    EXPECT_EQ(counts.value(QStringLiteral("skipped")).toInt(), 5);
    EXPECT_EQ(report.exitStatus(), CheckReport::ExitBroken);

    // In text, each is one line on standard error, its bytes escaped; with
    // --quiet, one line sums them up.
    Buffers text;
    check({true, false, false, false}, text);
    EXPECT_TRUE(text.errors.contains("caf\\xE9/inner.lnk")) << text.errors.constData();
    EXPECT_TRUE(text.errors.contains("tab\\x09here.lnk")) << text.errors.constData();
    EXPECT_EQ(text.errors.count('\n'), 5) << text.errors.constData();
    Buffers quiet;
    check({true, false, false, true}, quiet);
    EXPECT_EQ(quiet.errors, QByteArray("linkmend: 1 broken shortcut, 5 places could not be read\n"));
    EXPECT_TRUE(quiet.output.isEmpty());

    // With the listed one gone, nothing is listed, yet the run is no clean one.
    ::unlink(drives.posix(QStringLiteral("plain/Old.lnk")).constData());
    Buffers after;
    EXPECT_EQ(check({true, false, false, true}, after).exitStatus(), CheckReport::ExitIncomplete);
    EXPECT_TRUE(after.output.isEmpty());
}

TEST_F(PassedOverTest, AStoppedCheckSaysSoAndEndsWith130)
{
    ShellLinkService service(drives.context());
    Buffers json;
    int asked = 0;
    CheckRun run({true, false, true, false}, service, json, drives.context(),
                 [&asked] { return ++asked > 2; });
    const CheckReport &report = run.run({{drives.posix(QString()), QStringLiteral("c:\\")}});
    EXPECT_EQ(report.exitStatus(), CheckReport::ExitStopped);
    EXPECT_FALSE(
        QJsonDocument::fromJson(json.output).object().value(QStringLiteral("complete")).toBool(true));
}

TEST_F(PassedOverTest, ArgumentsThatAreNotUtf8AreFoundByTheirBytes)
{
    const QByteArray root = drives.posix(QStringLiteral("plain")).chopped(6);
    const auto runWith = [&](const char *command, const QByteArray &operand, BufferConsole &console) {
        const QList<QByteArray> raw = {command, "--prefix", drives.prefix(), operand};
        QStringList arguments;
        for (const QByteArray &argument : raw)
            arguments << QString::fromLocal8Bit(argument);
        return runCommand(arguments, console, raw);
    };

    // The shortcut whose name holds a byte that is not UTF-8 is shown...
    BufferConsole show;
    EXPECT_EQ(runWith("show", root + "/Gr\xfc\xdf.lnk", show), 1) << show.errors.constData();
    EXPECT_TRUE(show.output.contains("verdict:") && show.output.contains("broken"))
        << show.output.constData();
    // ...the folder of such a name is checked, what it holds named...
    BufferConsole check;
    EXPECT_EQ(runWith("check", root + "/caf\xe9", check), CheckReport::ExitIncomplete)
        << check.errors.constData();
    EXPECT_TRUE(check.errors.contains("caf\\xE9/inner.lnk")) << check.errors.constData();
    // ...and the trash, which only takes what a Windows path names, says why not.
    BufferConsole trash;
    EXPECT_EQ(runWith("trash", root + "/Gr\xfc\xdf.lnk", trash), 2);
    EXPECT_TRUE(trash.errors.contains("cannot be shown in Windows form")) << trash.errors.constData();
}

TEST(OtherPrefixes, AreNamedAndPassedOverNotJudgedByTheseDrives)
{
    // Two Wine prefixes kept on drive c:, one known by its dosdevices/
    // folder, one by its registry; their shortcuts' C:\ means their own c:.
    TempDrives drives(QStringLiteral("c"));
    drives.makeFolder(QStringLiteral("Games/Steam Prefix/dosdevices"));
    drives.writeFile(QStringLiteral("Games/Steam Prefix/drive_c/users/Public/Desktop/Game.lnk"),
                     brokenLink());
    drives.writeFile(QStringLiteral("Games/Old Prefix/system.reg"), "WINE REGISTRY Version 2");
    drives.writeFile(QStringLiteral("Games/Old Prefix/drive_c/Tool.lnk"), brokenLink());
    drives.writeFile(QStringLiteral("Desktop/Mine.lnk"), brokenLink());

    BufferConsole console;
    ShellLinkService service(drives.context());
    CheckRun run({true, false, false, false}, service, console, drives.context());
    const CheckReport &report = run.run({{drives.posix(QString()), QStringLiteral("c:\\")}});
    ASSERT_EQ(report.broken.size(), 1);
    EXPECT_TRUE(report.broken.first().shortcut.winPath.endsWith(QLatin1String("Mine.lnk")));
    EXPECT_EQ(report.shortcuts, 1);
    EXPECT_EQ(console.errors.count("passed over "), 2) << console.errors.constData();
    EXPECT_TRUE(console.errors.contains("Steam Prefix")) << console.errors.constData();
    // No failure: the run found what it could look at.
    EXPECT_EQ(report.exitStatus(), CheckReport::ExitBroken);
    EXPECT_EQ(report.summary(), QStringLiteral("1 broken shortcut, 2 other Wine prefixes passed over"));
}

} // namespace
