#include "cli/ShortcutShow.h"

#include "cli/Console.h"
#include "cli/QuietScanHost.h"
#include "lnk/FileTime.h"
#include "lnk/LnkFile.h"
#include "scan/ShortcutScan.h"
#include "scan/TargetRules.h"
#include "shell/SearchBudget.h"
#include "shell/ShellLink.h"
#include "shell/ShellLinkService.h"
#include "shell/TargetLook.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <optional>

namespace {

// The check's verdict on one shortcut, as the scan's host hears it.
class VerdictHost : public QuietScanHost
{
public:
    void shortcutChecked(const QString &, Verdict checked, const QString &targetPath) override
    {
        verdict = checked;
        target = targetPath;
    }

    std::optional<Verdict> verdict;
    QString target;
};

struct Look
{
    QString reading;
    std::optional<FactsStatus> status; // nothing: the place did not answer
    bool isFolder = false;
};

struct FormLooks
{
    LnkTargetForm form;
    QList<Look> looks;
};

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

QString statusText(const Look &look)
{
    if (!look.status)
        return QStringLiteral("did not answer in time");
    switch (*look.status) {
    case FactsStatus::Found:
        return look.isFolder ? QStringLiteral("exists (folder)") : QStringLiteral("exists (file)");
    case FactsStatus::Missing:
        return QStringLiteral("missing");
    case FactsStatus::Unreadable:
        return QStringLiteral("cannot be looked at (counts as there)");
    case FactsStatus::TooLong:
        break;
    }
    return QStringLiteral("too long to look at");
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

// A form as the link stores it, and the place that is, when they differ
// (a variable expanded, a relative path taken from the shortcut's folder).
QString storedAndMeant(const LnkFile &link, const LnkTargetForm &form, const QString &reading)
{
    std::optional<QString> stored;
    if (form.source == LnkFormSource::Environment)
        stored = link.environmentTarget();
    else if (form.source == LnkFormSource::Relative)
        stored = link.relativePath();
    if (!stored || *stored == reading)
        return reading;
    return *stored + QStringLiteral(" -> ") + reading;
}

// Why a Resolve could not judge the target, from what the looks saw.
QString unjudgedReason(const QList<FormLooks> &forms)
{
    bool anyFormed = false;
    for (const FormLooks &entry : forms) {
        anyFormed = anyFormed || entry.form.formed;
        for (const Look &look : entry.looks) {
            if (!look.status)
                return QStringLiteral("the place of %1 does not answer").arg(look.reading);
            if (*look.status == FactsStatus::TooLong)
                return QStringLiteral("%1 is too long to look at").arg(look.reading);
        }
    }
    if (!anyFormed)
        return QStringLiteral("its target holds a variable that cannot be expanded");
    return QStringLiteral("the link service could not judge its target");
}

} // namespace

ShortcutShow ShortcutShow::describe(const RunDrives::Place &place, ShellLinkService &service,
                                    std::shared_ptr<const DriveContext> drives)
{
    ShortcutShow shown;
    const QString path = QFile::decodeName(place.posix);
    const QFileInfo info(path);
    if (!info.isFile()) {
        shown.text = printable(QStringLiteral("%1: not a shortcut (not a regular file)").arg(path));
        return shown;
    }
    if (info.size() > ShellLinkService::kMaxLinkFileSize) {
        shown.text = printable(QStringLiteral("%1: not a shortcut (%2 bytes, more than any shortcut holds)")
                                   .arg(path)
                                   .arg(info.size()));
        return shown;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        shown.text = printable(QStringLiteral("%1: cannot be read (%2)").arg(path, file.errorString()));
        return shown;
    }
    auto parsed = LnkFile::parse(file.read(ShellLinkService::kMaxLinkFileSize + 1));
    file.close();
    if (const LnkError *error = std::get_if<LnkError>(&parsed)) {
        shown.text = printable(
            QStringLiteral("%1: not a shortcut (%2 at byte %3)").arg(path, error->what).arg(error->offset));
        return shown;
    }
    const LnkFile &link = std::get<LnkFile>(parsed);

    // Every form of the target, in the order the check tries them, and what
    // is at each of its readings.
    QList<FormLooks> forms;
    {
        SearchBudget budget(ShellLinkService::kDefaultTimeLimitMs);
        for (const LnkTargetForm &form : link.targetForms(true, place.win)) {
            FormLooks entry{form, {}};
            if (form.formed && form.sameTarget) {
                for (const QString &reading : form.readings()) {
                    FileFacts facts;
                    Look look{reading, service.targetLook().look(reading, facts, budget), false};
                    look.isFolder = look.status == FactsStatus::Found && facts.isDirectory;
                    entry.looks << look;
                }
            }
            forms << entry;
        }
    }

    // The check itself, as a scan runs it, but without the update flag: a
    // moved target is found and reported, and the file stays as it is.
    VerdictHost host;
    ScanResults results;
    ShortcutScan scan(host, results, service, drives);
    scan.setResolveFlags(win::SLR_NO_UI);
    std::optional<ShellLinkService::Repair> repair;
    service.setRepairHook([&repair](const ShellLinkService::Repair &found) { repair = found; });
    QString target;
    scan.CheckShortcut(place.win, target);
    service.setRepairHook({});

    Writer out;
    out.raw(path);
    out.line(QStringLiteral("Windows path"), place.win);
    out.line(QStringLiteral("link flags"), linkFlagNames(link.linkFlags()));
    out.line(QStringLiteral("target attributes"), attributeNames(link.fileAttributes()));
    out.line(QStringLiteral("target size"), QStringLiteral("%1 bytes").arg(link.fileSize()));
    out.line(QStringLiteral("target created"), timeText(link.creationTime()));
    out.line(QStringLiteral("target accessed"), timeText(link.accessTime()));
    out.line(QStringLiteral("target written"), timeText(link.writeTime()));
    const std::pair<QString, std::optional<QString>> strings[] = {
        {QStringLiteral("name"), link.name()},
        {QStringLiteral("working folder"), link.workingDirectory()},
        {QStringLiteral("arguments"), link.arguments()},
        {QStringLiteral("icon"), link.iconLocation()},
    };
    for (const auto &[label, value] : strings) {
        if (value)
            out.line(label, *value);
    }

    if (forms.isEmpty()) {
        out.line(QStringLiteral("target forms"), QStringLiteral("none (no file-system target)"));
    } else {
        out.raw(QStringLiteral("  target forms, in the order the check tries them:"));
        for (const FormLooks &entry : std::as_const(forms)) {
            const QString name = sourceName(entry.form.source);
            if (!entry.form.formed) {
                out.formLine(name, entry.form.path + QStringLiteral("   cannot be expanded"));
            } else if (!entry.form.sameTarget) {
                out.formLine(name, storedAndMeant(link, entry.form, entry.form.path) +
                                       QStringLiteral("   names another entry, not this target"));
            } else {
                for (qsizetype i = 0; i < entry.looks.size(); ++i) {
                    const Look &look = entry.looks.at(i);
                    out.formLine(i == 0 ? name : QStringLiteral("(other code page)"),
                                 storedAndMeant(link, entry.form, look.reading) + QStringLiteral("   ") +
                                     statusText(look));
                }
            }
        }
    }

    // Which form the check went by.
    if (!target.isEmpty()) {
        QString used;
        for (const FormLooks &entry : std::as_const(forms)) {
            if (entry.form.formed && entry.form.sameTarget && entry.form.readings().contains(target)) {
                used = sourceName(entry.form.source);
                break;
            }
        }
        if (repair && repair->newTarget.compare(target, Qt::CaseInsensitive) == 0)
            used = QStringLiteral("found again");
        else if (used.isEmpty())
            used = QStringLiteral("the path Windows would show");
        out.line(QStringLiteral("the check uses"),
                 QStringLiteral("%1 (%2)   %3")
                     .arg(target, used,
                          TargetRules::targetExists(*drives, target) ? QStringLiteral("exists")
                                                                     : QStringLiteral("missing")));
    }

    QString verdict;
    switch (host.verdict.value_or(ScanHost::Verdict::NotLoaded)) {
    case ScanHost::Verdict::TargetExists:
        shown.verdict = Verdict::NotBroken;
        verdict = repair ? QStringLiteral("not broken: its target moved to %1; check repairs the shortcut to "
                                          "point there (--dry-run only reports it)")
                               .arg(repair->newTarget)
                         : QStringLiteral("not broken: its target exists");
        break;
    case ScanHost::Verdict::NoTarget:
        shown.verdict = Verdict::NotBroken;
        verdict = QStringLiteral("not broken: it has no file-system target (a shell item such as a control "
                                 "panel entry, an address or an installer's advertised link)");
        break;
    case ScanHost::Verdict::Broken:
    case ScanHost::Verdict::BrokenRemote:
        shown.verdict = Verdict::Broken;
        verdict = QStringLiteral("broken: no form of its target exists, and it was not found elsewhere");
        if (TargetRules::drivePart(place.win) != TargetRules::asciiLower(TargetRules::drivePart(target)))
            verdict += QStringLiteral("; the target is not on the shortcut's drive, so check --ignore-remote "
                                      "leaves it out");
        break;
    case ScanHost::Verdict::NotLoaded:
        shown.verdict = Verdict::NotJudged;
        verdict = QStringLiteral("not judged: the link service cannot load it");
        break;
    case ScanHost::Verdict::NotResolved:
        shown.verdict = Verdict::NotJudged;
        verdict = QStringLiteral("not judged: ") + unjudgedReason(forms);
        break;
    case ScanHost::Verdict::NoPath:
        shown.verdict = Verdict::NotJudged;
        verdict = QStringLiteral("not judged: its target path is longer than 260 characters");
        break;
    }
    out.line(QStringLiteral("verdict"), verdict);
    shown.text = out.text;
    return shown;
}
