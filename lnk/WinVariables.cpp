#include "lnk/WinVariables.h"

#include <QStringList>

namespace {

struct Known
{
    const char16_t *name;
    const char16_t *value;
};

constexpr Known kKnown[] = {
    {u"SystemRoot", u"c:\\Windows"},
    {u"windir", u"c:\\Windows"},
    {u"SystemDrive", u"c:"},
    {u"ProgramFiles", u"c:\\Program Files"},
    {u"ProgramW6432", u"c:\\Program Files"},
    {u"ProgramFiles(x86)", u"c:\\Program Files (x86)"},
    {u"CommonProgramFiles", u"c:\\Program Files\\Common Files"},
    {u"CommonProgramW6432", u"c:\\Program Files\\Common Files"},
    {u"CommonProgramFiles(x86)", u"c:\\Program Files (x86)\\Common Files"},
    {u"ProgramData", u"c:\\ProgramData"},
    {u"ALLUSERSPROFILE", u"c:\\ProgramData"},
    {u"PUBLIC", u"c:\\Users\\Public"},
    {u"ComSpec", u"c:\\Windows\\system32\\cmd.exe"},
};

struct Folder
{
    const char *id; // KNOWNFOLDERID as stored in a file (little-endian fields)
    quint32 csidl;
    const char16_t *path;
};

constexpr Folder kFolders[] = {
    {"04F48BF3431DF242930567DE0B28FC23", 0x24, u"c:\\Windows"},                     // Windows
    {"774EC11AE7025D4EB7442EB1AE5198B7", 0x25, u"c:\\Windows\\system32"},           // System
    {"B03152D6F1B25748A4CEA8E7C6EA7D27", 0x29, u"c:\\Windows\\SysWOW64"},           // SystemX86
    {"B6635E90BFC14E49B29C65B732D3D21A", 0x26, u"c:\\Program Files"},               // ProgramFiles
    {"7793806DF06A4B448957A3773F02200E", 0, u"c:\\Program Files"},                  // ProgramFilesX64
    {"EF405A7CFBA0FC4B874AC0F2E0B9FA8E", 0x2A, u"c:\\Program Files (x86)"},         // ProgramFilesX86
    {"05EDF1F76D9FA247AAAE29D317C6F066", 0x2B, u"c:\\Program Files\\Common Files"}, // ProgramFilesCommon
    {"825DAB62C1FDC34DA9DD070D1D495D97", 0x23, u"c:\\ProgramData"},                 // ProgramData
    {"A276DFDF2AC8634D906A5644AC457385", 0, u"c:\\Users\\Public"},                  // Public
};

} // namespace

namespace WinVariables {

std::optional<QString> knownFolder(const QByteArray &folderId)
{
    const QByteArray hex = folderId.toHex().toUpper();
    for (const Folder &f : kFolders) {
        if (hex == f.id)
            return QString::fromUtf16(f.path);
    }
    return std::nullopt;
}

std::optional<QString> specialFolder(quint32 csidl)
{
    for (const Folder &f : kFolders) {
        if (f.csidl != 0 && f.csidl == csidl)
            return QString::fromUtf16(f.path);
    }
    return std::nullopt;
}

std::optional<Profile> profileOf(const QString &winPath)
{
    // "x:", "Users", the user's name, and at least one name below it.
    const QStringList parts = winPath.split(QLatin1Char('\\'));
    if (parts.size() < 4 || parts[0].size() != 2 || parts[0].at(1) != QLatin1Char(':') ||
        parts[1].compare(QLatin1String("Users"), Qt::CaseInsensitive) != 0 || parts[2].isEmpty() ||
        parts[3].isEmpty())
        return std::nullopt;
    for (const char *shared : {"Public", "Default", "All Users", "Default User"}) {
        if (parts[2].compare(QLatin1String(shared), Qt::CaseInsensitive) == 0)
            return std::nullopt;
    }
    return Profile{parts.mid(0, 3).join(QLatin1Char('\\')), parts[2]};
}

std::optional<QString> value(QStringView name, const Profile *profile)
{
    for (const Known &k : kKnown) {
        if (name.compare(QStringView(k.name), Qt::CaseInsensitive) == 0)
            return QString::fromUtf16(k.value);
    }
    if (!profile)
        return std::nullopt;
    const auto is = [&](const char *known) {
        return name.compare(QLatin1String(known), Qt::CaseInsensitive) == 0;
    };
    if (is("USERNAME"))
        return profile->userName;
    if (is("USERPROFILE"))
        return profile->folder;
    if (is("APPDATA"))
        return profile->folder + QStringLiteral("\\AppData\\Roaming");
    if (is("LOCALAPPDATA"))
        return profile->folder + QStringLiteral("\\AppData\\Local");
    return std::nullopt;
}

std::optional<QString> expand(const QString &text, const Profile *profile)
{
    if (!text.contains(QLatin1Char('%')))
        return text;
    QString out;
    out.reserve(text.size() + 32);
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype open = text.indexOf(QLatin1Char('%'), i);
        if (open < 0) {
            out.append(QStringView(text).mid(i));
            break;
        }
        out.append(QStringView(text).mid(i, open - i));
        const qsizetype close = text.indexOf(QLatin1Char('%'), open + 1);
        const QStringView name =
            close < 0 ? QStringView() : QStringView(text).mid(open + 1, close - open - 1);
        if (close < 0 || name.isEmpty() || name.contains(QLatin1Char('\\'))) {
            // Not a variable reference: a plain percent sign in a name.
            out.append(QLatin1Char('%'));
            i = open + 1;
            continue;
        }
        const auto v = value(name, profile);
        if (!v)
            return std::nullopt;
        out.append(*v);
        i = close + 1;
    }
    return out;
}

} // namespace WinVariables
