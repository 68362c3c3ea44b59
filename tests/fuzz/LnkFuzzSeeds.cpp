// Writes the seed corpus of the shortcut loader's fuzz target: links made by
// our own writer, one structure combination each. Usage: lnk_fuzz_seeds <dir>
// (the folder is emptied first, so every run starts from the same corpus).

#include "lnk/LnkBuilder.h"
#include "lnk/LnkFile.h"

#include <QDir>
#include <QFile>

#include <cstdio>

namespace {

struct Seed
{
    const char *file;
    const char16_t *target;
    bool unicode;
    bool strings;
    bool folder;
    const char16_t *environment;
};

const Seed kSeeds[] = {
    {"local_unicode.lnk", u"c:\\Users\\Public\\Documents\\report.txt", true, true, false, nullptr},
    {"local_ansi.lnk", u"c:\\Program Files\\App\\app.exe", false, true, false, nullptr},
    {"accents.lnk", u"c:\\Caf\u00e9\\r\u00e9sum\u00e9, final.txt", true, false, false, nullptr},
    {"cjk_emoji.lnk", u"d:\\\u6570\u636e\\test\u2764\ufe0f\U0001F370.txt", true, true, false, nullptr},
    {"folder.lnk", u"c:\\Users\\Public\\Music", true, false, true, nullptr},
    {"drive.lnk", u"e:\\", false, false, true, nullptr},
    {"unc.lnk", u"\\\\server\\share\\dir\\file.doc", true, true, false, nullptr},
    {"unc_unicode.lnk", u"\\\\\u30b5\u30fc\u30d0\\\u5171\u6709\\a.txt", true, false, false, nullptr},
    {"environment.lnk", u"c:\\Windows\\notepad.exe", true, true, false, u"%windir%\\notepad.exe"},
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    dir.removeRecursively();
    if (!QDir().mkpath(dir.path()))
        return 1;
    for (const Seed &s : kSeeds) {
        LnkTargetInfo target;
        target.winPath = QString::fromUtf16(s.target);
        target.attributes = s.folder ? 0x10 : 0x20;
        target.size = 4096;
        target.creationTime = 0x01D6A67D48C6A08Cull;
        target.writeTime = 0x01D6A67D48D482B1ull;
        target.driveSerial = 0x1234ABCD;
        target.volumeLabel = QStringLiteral("Data");
        LnkCreateOptions options;
        options.unicode = s.unicode;
        if (s.strings) {
            options.name = QStringLiteral("A shortcut");
            options.workingDirectory = QStringLiteral("c:\\Work");
            options.arguments = QStringLiteral("/x \"y\"");
            options.iconLocation = QStringLiteral("%SystemRoot%\\system32\\shell32.dll");
        }
        if (s.environment)
            options.environmentTarget = QString::fromUtf16(s.environment);
        QByteArray tracker(0x60, '\0');
        LnkBuilder::putU32(tracker, 0, 0x60);
        LnkBuilder::putU32(tracker, 4, LnkBlock::Tracker);
        LnkBuilder::putU32(tracker, 8, 0x58);
        tracker.replace(16, 4, "host");
        options.extraBlocks << tracker;
        auto created =
            LnkFile::create(target, QStringLiteral("c:\\Users\\Public\\Desktop\\seed.lnk"), options);
        if (!std::holds_alternative<LnkFile>(created)) {
            std::fprintf(stderr, "cannot make %s\n", s.file);
            return 1;
        }
        QFile out(dir.filePath(QString::fromLatin1(s.file)));
        if (!out.open(QIODevice::WriteOnly) || out.write(std::get<LnkFile>(created).serialize()) < 0)
            return 1;
    }
    return 0;
}
