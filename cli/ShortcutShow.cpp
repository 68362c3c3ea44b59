#include "cli/ShortcutShow.h"

#include <QJsonArray>

#include "cli/Console.h"
#include "lnk/FileTime.h"
#include "lnk/LnkFile.h"
#include "platform/PosixPath.h"
#include "shell/LinkJudge.h"
#include "shell/ShellLinkService.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <optional>

namespace {

QString sourceName(LnkFormSource source)
{
    switch (source) {
    case LnkFormSource::Environment:
        return QStringLiteral("environment block");
    case LnkFormSource::LinkInfoLocal:
        return QStringLiteral("LinkInfo local");
    case LnkFormSource::LinkInfoNetwork:
        return QStringLiteral("LinkInfo network");
    case LnkFormSource::IdList:
        return QStringLiteral("IDList");
    case LnkFormSource::Relative:
        break;
    }
    return QStringLiteral("relative path");
}

QString seenText(FormLook::Seen seen)
{
    switch (seen) {
    case FormLook::Seen::File:
        return QStringLiteral("exists (file)");
    case FormLook::Seen::Folder:
        return QStringLiteral("exists (folder)");
    case FormLook::Seen::Missing:
        return QStringLiteral("missing");
    case FormLook::Seen::Unreadable:
        return QStringLiteral("cannot be looked at (access denied or an I/O error)");
    case FormLook::Seen::TooLong:
        return QStringLiteral("too long to look at");
    case FormLook::Seen::NoAnswer:
        return QStringLiteral("did not answer in time");
    case FormLook::Seen::NotFormed:
        return QStringLiteral("cannot be expanded");
    case FormLook::Seen::OtherEntry:
        return QStringLiteral("names another entry, not this target");
    case FormLook::Seen::NotLooked:
        break;
    }
    return QStringLiteral("not looked at");
}

// The names of the set bits, from a table of (bit, name).
template <std::size_t N> QString bitNames(quint32 bits, const std::pair<quint32, const char *> (&names)[N])
{
    QStringList set;
    quint32 unnamed = bits;
    for (const auto &[bit, name] : names) {
        if (bits & bit) {
            set << QLatin1String(name);
            unnamed &= ~bit;
        }
    }
    if (unnamed)
        set << QStringLiteral("0x%1").arg(unnamed, 0, 16);
    return QStringLiteral("0x%1 %2")
        .arg(bits, 8, 16, QLatin1Char('0'))
        .arg(set.join(QLatin1Char(' ')))
        .trimmed();
}

QString linkFlagNames(quint32 flags)
{
    static const std::pair<quint32, const char *> names[] = {
        {0x1, "HasLinkTargetIDList"},
        {0x2, "HasLinkInfo"},
        {0x4, "HasName"},
        {0x8, "HasRelativePath"},
        {0x10, "HasWorkingDir"},
        {0x20, "HasArguments"},
        {0x40, "HasIconLocation"},
        {0x80, "IsUnicode"},
        {0x100, "ForceNoLinkInfo"},
        {0x200, "HasExpString"},
        {0x400, "RunInSeparateProcess"},
        {0x1000, "HasDarwinID"},
        {0x2000, "RunAsUser"},
        {0x4000, "HasExpIcon"},
        {0x8000, "NoPidlAlias"},
        {0x20000, "RunWithShimLayer"},
        {0x40000, "ForceNoLinkTrack"},
        {0x80000, "EnableTargetMetadata"},
        {0x100000, "DisableLinkPathTracking"},
        {0x200000, "DisableKnownFolderTracking"},
        {0x400000, "DisableKnownFolderAlias"},
        {0x800000, "AllowLinkToLink"},
        {0x1000000, "UnaliasOnSave"},
        {0x2000000, "PreferEnvironmentPath"},
        {0x4000000, "KeepLocalIDListForUNCTarget"},
    };
    return bitNames(flags, names);
}

QString attributeNames(quint32 attributes)
{
    static const std::pair<quint32, const char *> names[] = {
        {0x1, "READONLY"},     {0x2, "HIDDEN"},        {0x4, "SYSTEM"},
        {0x10, "DIRECTORY"},   {0x20, "ARCHIVE"},      {0x80, "NORMAL"},
        {0x100, "TEMPORARY"},  {0x200, "SPARSE_FILE"}, {0x400, "REPARSE_POINT"},
        {0x800, "COMPRESSED"}, {0x1000, "OFFLINE"},    {0x2000, "NOT_CONTENT_INDEXED"},
        {0x4000, "ENCRYPTED"},
    };
    return bitNames(attributes, names);
}

QString timeText(quint64 fileTime)
{
    const std::optional<qint64> seconds = FileTime::toUnixSeconds(fileTime);
    if (!seconds)
        return QStringLiteral("not recorded");
    return QDateTime::fromSecsSinceEpoch(*seconds, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
           QStringLiteral(" UTC");
}

// Lines of "label: value", the values in one column.
class Writer
{
public:
    static constexpr int ValueColumn = 24;

    void line(const QString &label, const QString &value) { labelled(2, label, value); }
    // A line of the list of target forms, one step further in.
    void formLine(const QString &label, const QString &value) { labelled(4, label, value); }
    void raw(const QString &line) { text += printable(line) + '\n'; }

    QByteArray text;

private:
    void labelled(int indent, const QString &label, const QString &value)
    {
        text += QByteArray(indent, ' ') +
                printable(label + QLatin1Char(':')).leftJustified(ValueColumn - indent - 1) + ' ' +
                printable(value) + '\n';
    }
};

} // namespace

ShortcutShow ShortcutShow::describe(const RunDrives::Place &place, LinkJudge &links)
{
    ShortcutShow shown;
    const QString path = place.shown ? QFile::decodeName(place.posix) : place.win;
    // The check itself, as a scan runs it, but without writing: a moved
    // target is found and reported, and the file stays as it is. Every form
    // is looked at, to be shown.
    const LinkJudge::Options options{true, false, 0, true};
    const LinkVerdict judged =
        place.shown ? links.judge(place.win, options) : links.judgeFile(place.posix, place.win, options);
    if (judged.status == LinkVerdict::Status::NotShortcut || judged.status == LinkVerdict::Status::Skipped) {
        shown.text = printable(QStringLiteral("%1: %2").arg(path, judged.reason));
        return shown;
    }
    // The header as the codec reads it; the file was a shortcut a moment ago.
    std::optional<LnkFile> link;
    if (const std::optional<QByteArray> bytes =
            posix::readSmallFile(place.posix, ShellLinkService::kMaxLinkFileSize)) {
        auto parsed = LnkFile::parse(*bytes);
        if (LnkFile *read = std::get_if<LnkFile>(&parsed))
            link = std::move(*read);
    }
    if (!link) {
        shown.text = printable(QStringLiteral("%1: changed while it was being shown").arg(path));
        return shown;
    }

    Writer out;
    out.raw(path);
    QJsonObject &json = shown.json;
    const QString shownPath = posix::shownPath(place.posix);
    json.insert(QStringLiteral("path"), shownPath);
    insertExactBytes(json, QStringLiteral("path"), shownPath, place.posix);
    json.insert(QStringLiteral("windowsPath"), place.shown ? QJsonValue(place.win) : QJsonValue());
    json.insert(QStringLiteral("linkFlags"), qint64(link->linkFlags()));
    json.insert(QStringLiteral("targetAttributes"), qint64(link->fileAttributes()));
    json.insert(QStringLiteral("targetSize"), qint64(link->fileSize()));
    json.insert(QStringLiteral("targetCreated"), timeText(link->creationTime()));
    json.insert(QStringLiteral("targetAccessed"), timeText(link->accessTime()));
    json.insert(QStringLiteral("targetWritten"), timeText(link->writeTime()));
    out.line(QStringLiteral("Windows path"),
             place.shown ? place.win
                         : QStringLiteral("none (a name on its path cannot be shown in Windows form)"));
    out.line(QStringLiteral("link flags"), linkFlagNames(link->linkFlags()));
    out.line(QStringLiteral("target attributes"), attributeNames(link->fileAttributes()));
    out.line(QStringLiteral("target size"), QStringLiteral("%1 bytes").arg(link->fileSize()));
    out.line(QStringLiteral("target created"), timeText(link->creationTime()));
    out.line(QStringLiteral("target accessed"), timeText(link->accessTime()));
    out.line(QStringLiteral("target written"), timeText(link->writeTime()));
    struct Text
    {
        QString label, key;
        std::optional<QString> value;
    };
    const Text strings[] = {
        {QStringLiteral("name"), QStringLiteral("name"), link->name()},
        {QStringLiteral("working folder"), QStringLiteral("workingFolder"), link->workingDirectory()},
        {QStringLiteral("arguments"), QStringLiteral("arguments"), link->arguments()},
        {QStringLiteral("icon"), QStringLiteral("icon"), link->iconLocation()},
    };
    for (const Text &text : strings) {
        if (text.value) {
            out.line(text.label, *text.value);
            json.insert(text.key, *text.value);
        }
    }

    if (judged.looks.isEmpty()) {
        out.line(QStringLiteral("target forms"), QStringLiteral("none (no file-system target)"));
    } else {
        out.raw(QStringLiteral("  target forms, in the order the check tries them:"));
        for (const FormLook &look : judged.looks) {
            const QString place =
                look.stored.isEmpty() ? look.reading : look.stored + QStringLiteral(" -> ") + look.reading;
            out.formLine(look.otherCodePage ? QStringLiteral("(other code page)") : sourceName(look.source),
                         place + QStringLiteral("   ") + seenText(look.seen));
        }
    }
    QJsonArray forms;
    for (const FormLook &look : judged.looks) {
        QJsonObject form{{QStringLiteral("source"), sourceName(look.source)},
                         {QStringLiteral("place"), look.reading},
                         {QStringLiteral("seen"), seenText(look.seen)}};
        if (!look.stored.isEmpty())
            form.insert(QStringLiteral("stored"), look.stored);
        if (look.otherCodePage)
            form.insert(QStringLiteral("otherCodePage"), true);
        forms.append(form);
    }
    json.insert(QStringLiteral("forms"), forms);

    // Which form the check went by.
    if (!judged.target.isEmpty()) {
        QString used;
        if (judged.repair)
            used = QStringLiteral("found again");
        else if (judged.decidingLook >= 0)
            used = sourceName(judged.looks.at(judged.decidingLook).source);
        else
            used = QStringLiteral("the path Windows would show");
        const bool exists =
            judged.repair || (judged.decidingLook >= 0 && judged.looks.at(judged.decidingLook).exists());
        json.insert(QStringLiteral("uses"), QJsonObject{{QStringLiteral("target"), judged.target},
                                                        {QStringLiteral("form"), used},
                                                        {QStringLiteral("exists"), exists}});
        out.line(
            QStringLiteral("the check uses"),
            QStringLiteral("%1 (%2)   %3")
                .arg(judged.target, used, exists ? QStringLiteral("exists") : QStringLiteral("missing")));
    }

    QString verdict;
    switch (judged.status) {
    case LinkVerdict::Status::Healthy:
        shown.verdict = Verdict::NotBroken;
        verdict =
            judged.target.isEmpty()
                ? QStringLiteral("not broken: it has no file-system target (a shell item such as a control "
                                 "panel entry, an address or an installer's advertised link)")
                : QStringLiteral("not broken: its target exists");
        break;
    case LinkVerdict::Status::Repaired:
        shown.verdict = Verdict::NotBroken;
        verdict = QStringLiteral("not broken: its target moved to %1; repair rewrites the shortcut to "
                                 "point there (check only reports it)")
                      .arg(judged.repair->newTarget);
        break;
    case LinkVerdict::Status::RepairNotWritten:
        shown.verdict = Verdict::Broken;
        verdict = QStringLiteral("broken: its target moved to %1, but the shortcut cannot be rewritten: %2")
                      .arg(judged.repair->newTarget, judged.reason);
        break;
    case LinkVerdict::Status::Broken:
        shown.verdict = Verdict::Broken;
        verdict = QStringLiteral("broken: ") + judged.reason;
        if (judged.remote)
            verdict += QStringLiteral("; the target is not on the shortcut's drive, so check --ignore-remote "
                                      "leaves it out");
        break;
    case LinkVerdict::Status::Unjudged:
    case LinkVerdict::Status::NotShortcut:
    case LinkVerdict::Status::Skipped:
        shown.verdict = Verdict::NotJudged;
        verdict = QStringLiteral("not judged: ") + judged.reason;
        break;
    }
    out.line(QStringLiteral("verdict"), verdict);
    shown.text = out.text;
    QJsonObject verdictObject{{QStringLiteral("status"), LinkVerdict::statusName(judged.status)},
                              {QStringLiteral("text"), verdict}};
    if (judged.repair)
        verdictObject.insert(QStringLiteral("newTarget"), judged.repair->newTarget);
    json.insert(QStringLiteral("verdict"), verdictObject);
    return shown;
}
