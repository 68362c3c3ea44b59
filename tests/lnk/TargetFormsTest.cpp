#include "LnkTestKit.h"

#include "lnk/AnsiCodec.h"
#include "lnk/WinVariables.h"

#include <QSet>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// The source of each form, in the order targetForms gives them.
std::vector<LnkFormSource> sources(const std::vector<LnkTargetForm> &forms)
{
    std::vector<LnkFormSource> out;
    for (const LnkTargetForm &form : forms)
        out.push_back(form.source);
    return out;
}

const LnkTargetForm *formFrom(const std::vector<LnkTargetForm> &forms, LnkFormSource source)
{
    const auto it = std::find_if(forms.begin(), forms.end(),
                                 [&](const LnkTargetForm &form) { return form.source == source; });
    return it == forms.end() ? nullptr : &*it;
}

TEST(TargetForms, NetworkPathKeepsItsShareWhenTheSuffixIsAnAnsiGuess)
{
    // Made through mapped drive Z:; the common path suffix is ANSI bytes with
    // Czech letters. The server and share come from LinkInfo, the names
    // after them from the IDList's UTF-16 names.
    const LnkFile link = load(sample(QStringLiteral("network_ansi_suffix.lnk")));
    const QString names = QString::fromUtf8(
        "A - LM METAL LIFT\\01.OBCHOD - BRO\u017dURY - Prodejn\u00ed a technick\u00e9 informace o "
        "produktech\\"
        "ETN\\ETN-Katalog-ENG\\Katalog ETN 10_2017\\Lift-programme\\ETN-lift programme 2017.pdf");
    EXPECT_EQ(link.targetPath(true), QStringLiteral("\\\\10.0.0.150\\LMmetal\\") + names);
    EXPECT_EQ(link.targetPath(false), QStringLiteral("Z:\\") + names);

    const std::vector<LnkTargetForm> forms = link.targetForms(true);
    EXPECT_EQ(sources(forms),
              (std::vector<LnkFormSource>{LnkFormSource::LinkInfoNetwork, LnkFormSource::LinkInfoLocal,
                                          LnkFormSource::IdList}));
    EXPECT_EQ(forms[0].path, QStringLiteral("\\\\10.0.0.150\\LMmetal\\") + names);
    EXPECT_EQ(sources(link.targetForms(false))[0], LnkFormSource::LinkInfoLocal);
}

TEST(TargetForms, AnsiPathsGetTheirReadingsInTheOtherCodePages)
{
    // The user's name is "Дима", written in code page 1251; the IDList names
    // no drive, so LinkInfo's ANSI bytes are all there is.
    const LnkFile link = load(sample(QStringLiteral("ansi_cp1251_path.lnk")));
    const std::vector<LnkTargetForm> forms = link.targetForms(false);
    const LnkTargetForm *local = formFrom(forms, LnkFormSource::LinkInfoLocal);
    ASSERT_TRUE(local);
    const QString wanted = QString::fromUtf8(
        "C:\\Users\\\u0414\u0438\u043c\u0430\\Desktop\\PixelMod\\Mod for Pixelmon\\Error Fix.bat");
    EXPECT_NE(local->path, wanted); // the Windows-1252 reading comes first
    EXPECT_TRUE(local->otherReadings.contains(wanted));
    EXPECT_FALSE(local->otherReadings.contains(local->path));

    // Every reading once; plain ASCII has none; undefined bytes give none.
    const QStringList readings = AnsiCodec::otherReadings("\xc4\xe8\xec\xe0", 4);
    EXPECT_EQ(readings.size(), QSet<QString>(readings.begin(), readings.end()).size());
    EXPECT_EQ(readings.value(1), QString::fromUtf8("\u0414\u0438\u043c\u0430")); // 1251, after 1250
    EXPECT_TRUE(AnsiCodec::otherReadings("plain", 5).isEmpty());
    for (const QString &reading : AnsiCodec::otherReadings("\x81\x8d", 2)) {
        EXPECT_TRUE(std::none_of(reading.begin(), reading.end(), [](QChar c) {
            return c.category() == QChar::Other_Control;
        })) << reading.toStdString();
    }
}

TEST(TargetForms, PerUserVariablesNeedTheProfileTheShortcutLiesIn)
{
    // Environment block C:\Users\%USERNAME%\AppData\Roaming\.minecraft.
    const LnkFile link = load(sample(QStringLiteral("user_variable_env.lnk")));
    const std::vector<LnkTargetForm> inProfile =
        link.targetForms(true, QStringLiteral("c:\\users\\bob\\Links\\a.lnk"));
    ASSERT_FALSE(inProfile.empty());
    EXPECT_EQ(inProfile[0].source, LnkFormSource::Environment);
    EXPECT_TRUE(inProfile[0].formed);
    EXPECT_EQ(inProfile[0].path, QStringLiteral("C:\\Users\\bob\\AppData\\Roaming\\.minecraft"));

    // Elsewhere the variable cannot be expanded and the other forms decide.
    const QString elsewhere = QStringLiteral("c:\\Shared\\Games\\a.lnk");
    const std::vector<LnkTargetForm> outside = link.targetForms(true, elsewhere);
    EXPECT_FALSE(outside[0].formed);
    EXPECT_EQ(link.targetPath(true, elsewhere),
              QStringLiteral("C:\\Users\\Jonathan\\AppData\\Roaming\\.minecraft"));

    struct Case
    {
        const char *path;
        const char *folder; // empty: no profile
    };
    const Case cases[] = {
        {"c:\\Users\\Anna\\Desktop\\x.lnk", "c:\\Users\\Anna"},
        {"d:\\users\\anna\\x.lnk", "d:\\users\\anna"}, // Wine's spelling, another drive
        {"c:\\Users\\Public\\Desktop\\x.lnk", ""},     // shared by every user
        {"c:\\Users\\Default\\x.lnk", ""},
        {"c:\\Users\\Anna", ""}, // the profile folder itself holds no shortcut
        {"c:\\Program Files\\x.lnk", ""},
    };
    for (const Case &c : cases) {
        const auto profile = WinVariables::profileOf(QString::fromLatin1(c.path));
        EXPECT_EQ(profile ? profile->folder : QString(), QString::fromLatin1(c.folder)) << c.path;
    }
    const WinVariables::Profile anna{QStringLiteral("c:\\Users\\Anna"), QStringLiteral("Anna")};
    EXPECT_EQ(WinVariables::expand(QStringLiteral("%LocalAppData%\\x;%APPDATA%;%username%"), &anna),
              QStringLiteral("c:\\Users\\Anna\\AppData\\Local\\x;c:\\Users\\Anna\\AppData\\Roaming;Anna"));
    EXPECT_EQ(WinVariables::expand(QStringLiteral("%USERPROFILE%")), std::nullopt);
}

TEST(TargetForms, RelativePathIsTakenFromTheShortcutsFolder)
{
    // desktop.lnk: C:\Users\heznik\Desktop, relative ..\Desktop.
    const LnkFile link = load(sample(QStringLiteral("desktop.lnk")));
    const std::vector<LnkTargetForm> forms =
        link.targetForms(false, QStringLiteral("e:\\Backup\\Links\\d.lnk"));
    const LnkTargetForm *relative = formFrom(forms, LnkFormSource::Relative);
    ASSERT_TRUE(relative);
    EXPECT_EQ(relative->path, QStringLiteral("e:\\Backup\\Desktop"));
    EXPECT_TRUE(relative->sameTarget);
    EXPECT_EQ(forms.back().source, LnkFormSource::Relative);
    // Without the shortcut's place there is no relative form.
    EXPECT_FALSE(formFrom(link.targetForms(false), LnkFormSource::Relative));

    // local_disk.lnk: C:\ with relative ..\..\..\..; only a root is that
    // same target.
    const LnkFile disk = load(sample(QStringLiteral("local_disk.lnk")));
    EXPECT_TRUE(
        formFrom(disk.targetForms(false, QStringLiteral("z:\\a\\b\\c\\x.lnk")), LnkFormSource::Relative)
            ->sameTarget);
    EXPECT_FALSE(
        formFrom(disk.targetForms(false, QStringLiteral("z:\\a\\b\\c\\d\\e\\x.lnk")), LnkFormSource::Relative)
            ->sameTarget);
}

TEST(TargetForms, RelativePathToAnotherNameIsNoFormOfTheTarget)
{
    LnkTargetInfo info;
    info.winPath = QStringLiteral("C:\\Old\\tool.exe");
    LnkCreateOptions options;
    options.relativePathText = QStringLiteral("..\\Other\\notes.txt");
    const LnkFile link =
        std::get<LnkFile>(LnkFile::create(info, QStringLiteral("c:\\Links\\t.lnk"), options));
    const QString at = QStringLiteral("c:\\Links\\t.lnk");
    const std::vector<LnkTargetForm> forms = link.targetForms(false, at);
    const LnkTargetForm *relative = formFrom(forms, LnkFormSource::Relative);
    ASSERT_TRUE(relative);
    EXPECT_EQ(relative->path, QStringLiteral("c:\\Other\\notes.txt"));
    EXPECT_FALSE(relative->sameTarget);

    // A link with nothing but a relative path: that is its target.
    options = {};
    options.idList = options.linkInfo = false;
    const LnkFile only = std::get<LnkFile>(LnkFile::create(info, at, options));
    EXPECT_EQ(only.targetPath(true), QString());
    EXPECT_EQ(only.targetPath(true, at), QStringLiteral("c:\\Old\\tool.exe"));
    ASSERT_EQ(only.targetForms(true, at).size(), 1u);
    EXPECT_TRUE(only.targetForms(true, at)[0].sameTarget);
}

TEST(TargetForms, RelativePathIsAlsoTakenFromTheWorkingFolder)
{
    const QString at = QStringLiteral("c:\\Users\\Public\\Desktop\\t.lnk");
    LnkTargetInfo info;
    info.winPath = QStringLiteral("C:\\Old\\tool.exe");
    const auto make = [&](const char *relative, const char *workingDir, bool onlyRelative) {
        LnkCreateOptions options;
        options.relativePathText = QString::fromLatin1(relative);
        options.workingDirectory = QString::fromLatin1(workingDir);
        options.idList = options.linkInfo = !onlyRelative;
        return std::get<LnkFile>(LnkFile::create(info, at, options));
    };
    const auto relativeForms = [](const std::vector<LnkTargetForm> &forms) {
        std::vector<std::pair<QString, bool>> out;
        for (const LnkTargetForm &form : forms) {
            if (form.source == LnkFormSource::Relative)
                out.emplace_back(form.path, form.sameTarget);
        }
        return out;
    };
    using Places = std::vector<std::pair<QString, bool>>;

    // A link that holds nothing but a relative path and a working folder, as
    // Wine opens it: under the working folder, after the shortcut's folder.
    const LnkFile only = make("app\\tool.exe", "C:\\Program Files\\Suite", true);
    EXPECT_EQ(relativeForms(only.targetForms(false, at)),
              (Places{{QStringLiteral("c:\\Users\\Public\\Desktop\\app\\tool.exe"), true},
                      {QStringLiteral("C:\\Program Files\\Suite\\app\\tool.exe"), true}}));
    EXPECT_EQ(only.targetPath(false, at), QStringLiteral("c:\\Users\\Public\\Desktop\\app\\tool.exe"));
    // Without the shortcut's place, the working folder is all there is.
    EXPECT_EQ(relativeForms(only.targetForms(false)),
              (Places{{QStringLiteral("C:\\Program Files\\Suite\\app\\tool.exe"), true}}));
    EXPECT_EQ(only.targetPath(false), QStringLiteral("C:\\Program Files\\Suite\\app\\tool.exe"));

    // Beside the other forms it must lead to an entry of their name.
    EXPECT_EQ(relativeForms(make("..\\bin\\tool.exe", "\\\\srv\\apps\\x", false).targetForms(false, at)),
              (Places{{QStringLiteral("c:\\Users\\Public\\bin\\tool.exe"), true},
                      {QStringLiteral("\\\\srv\\apps\\bin\\tool.exe"), true}}));
    EXPECT_EQ(relativeForms(make("..\\..", "D:\\Apps\\Suite", false).targetForms(false, at)),
              (Places{{QStringLiteral("c:\\Users"), false}, {QStringLiteral("D:\\"), false}}));

    // No second form where it would name the same place, or where the
    // working folder or the relative path cannot be taken so.
    const char *const noSecond[][2] = {
        {"tool.exe", "C:\\USERS\\Public\\Desktop\\"}, // the shortcut's own folder
        {"tool.exe", "%USERPROFILE%\\Apps"},
        {"tool.exe", "Apps"},
        {"tool.exe", "C:"},
        {"E:\\abs\\tool.exe", "D:\\Apps"}, // already absolute
    };
    for (const auto &[relative, workingDir] : noSecond)
        EXPECT_EQ(relativeForms(make(relative, workingDir, false).targetForms(false, at)).size(), 1u)
            << relative << " in " << workingDir;
}

} // namespace
