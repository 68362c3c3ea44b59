#include "bench/TreeGenerator.h"

#include "lnk/LnkFile.h"
#include "shell/FileFacts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <variant>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr char kManifestMagic[] = "linkmend-bench-tree 1";

// splitmix64: the same numbers for the same seed on every platform and
// compiler (the standard distributions are not specified that tightly).
class Rng
{
public:
    explicit Rng(quint64 seed) : m_state(seed) {}
    quint64 next()
    {
        quint64 z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Uniform in [0, n).
    qint64 below(qint64 n)
    {
        return n <= 0 ? 0 : qint64((static_cast<unsigned __int128>(next()) * quint64(n)) >> 64);
    }
    bool percent(int p) { return below(100) < p; }
    template <typename T, std::size_t N> const T &pick(const T (&items)[N])
    {
        return items[below(qint64(N))];
    }

private:
    quint64 m_state;
};

const char *const kFolderWords[] = {
    "Documents",
    "Music",
    "Pictures",
    "Videos",
    "Downloads",
    "Source",
    "Build",
    "Assets",
    "Archive",
    "Config",
    "Data",
    "Drivers",
    "Fonts",
    "Help",
    "Images",
    "Include",
    "Lib",
    "Logs",
    "Media",
    "Plugins",
    "Reports",
    "Samples",
    "Scripts",
    "Settings",
    "Shared",
    "Tools",
    "Templates",
    "Themes",
    "Updates",
    "Work",
    "Cache",
    "Old",
    "New folder",
    "Invoices",
    "Letters",
    "Holiday",
    "Kunden",
    "Caf\xC3\xA9",
    "R\xC3\xA9sum\xC3\xA9s",
    "\xC3\x9C"
    "bersicht",
    "\xD0\x94\xD0\xBE\xD0\xBA\xD1\x83\xD0\xBC\xD0\xB5\xD0\xBD\xD1\x82\xD1\x8B",
    "\xE5\x86\x99\xE7\x9C\x9F",
    "M\xC3\xBAsica",
    "Ann\xC3\xA9"
    "e"};
const char *const kFileWords[] = {"readme",
                                  "setup",
                                  "install",
                                  "report",
                                  "invoice",
                                  "photo",
                                  "IMG_",
                                  "track",
                                  "notes",
                                  "budget",
                                  "letter",
                                  "chapter",
                                  "draft",
                                  "license",
                                  "changelog",
                                  "config",
                                  "index",
                                  "main",
                                  "utils",
                                  "data",
                                  "backup",
                                  "r\xC3\xA9sum\xC3\xA9",
                                  "\xC3\xBC"
                                  "bung",
                                  "\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82",
                                  "\xE5\x9B\xB3"};
const char *const kExtensions[] = {".txt", ".docx", ".xlsx", ".pdf", ".jpg", ".png", ".mp3", ".exe", ".dll",
                                   ".ini", ".xml",  ".html", ".js",  ".cpp", ".h",   ".dat", ".log", ".zip"};
const char *const kAppWords[] = {"Editor", "Browser", "Player",  "Terminal", "Calculator", "Paint", "Notes",
                                 "Mail",   "Chat",    "Viewer",  "Manager",  "Uninstall",  "Setup", "Help",
                                 "Backup", "Scanner", "Console", "Studio",   "Photos",     "Maps"};
const char *const kHiddenWords[] = {".cache", ".config", ".git", ".thumbnails", ".local", ".Trash-1000"};
const char *const kHeads[] = {"Users",
                              "Users/Public",
                              "Users/Public/Desktop",
                              "ProgramData",
                              "ProgramData/Start Menu",
                              "ProgramData/Start Menu/Programs",
                              "Program Files",
                              "Program Files (x86)",
                              "Windows",
                              "Games",
                              "Projects",
                              "Photos",
                              "Backup",
                              "Temp"};
constexpr int kDesktopHead = 3, kProgramsHead = 6; // folder indices of the two shortcut clusters

// Folder paths are kept short enough that every path below them, in Windows
// form, stays well inside MAX_PATH.
constexpr qsizetype kMaxFolderPathBytes = 150;

struct Folder
{
    qint32 parent = -1;
    qint32 top = 0; // the top-level folder it lies in (0 for the root)
    int depth = 0;
    QByteArray rel;                        // empty for the root
    std::unordered_set<std::string> names; // folded names already used in it
};

std::string folded(const QByteArray &name)
{
    return QString::fromUtf8(name).toCaseFolded().toUtf8().toStdString();
}

// Waits until file times move on. File systems stamp files with a coarse
// clock (a few milliseconds a tick), and the link service takes the one
// entry of a target's old folder whose creation time equals the link's as
// the target, renamed: a planted target must be the only file of its tick,
// or a broken shortcut could be "repaired" to an unrelated neighbour.
void nextClockTick()
{
    struct timespec resolution;
    if (::clock_getres(CLOCK_REALTIME_COARSE, &resolution) != 0)
        resolution = {0, 10000000};
    struct timespec pause = resolution;
    pause.tv_nsec += 1000000;
    ::nanosleep(&pause, nullptr);
}

QByteArray join(const QByteArray &folder, const QByteArray &name)
{
    return folder.isEmpty() ? name : folder + '/' + name;
}

class Builder
{
public:
    Builder(const TreeSpec &layout, const QByteArray &treeFolder,
            std::function<void(const QString &)> progress)
        : m_layout(layout), m_tree(treeFolder), m_drive(TreeGenerator::driveFolder(treeFolder)),
          m_rng(layout.seed), m_progress(std::move(progress))
    {}

    std::optional<TreeManifest> run(QString *error);

private:
    QByteArray abs(const QByteArray &rel) const { return rel.isEmpty() ? m_drive : m_drive + '/' + rel; }
    void fail(const QString &what)
    {
        if (m_error.isEmpty())
            m_error = what;
    }
    void say(const QString &line)
    {
        if (m_progress)
            m_progress(line);
    }

    // A name not yet used in the folder (without regard to case).
    QByteArray claim(qint32 folder, QByteArray name);
    qint32 addFolder(qint32 parent, const QByteArray &name);
    qint32 randomFolder() { return qint32(m_rng.below(qint64(m_visible))); }
    qint32 folderBelow(qint32 start);
    qint32 parentForNewFolder();
    bool isBelow(qint32 folder, qint32 ancestor) const;
    QByteArray fileName();
    QByteArray shortcutName();
    QByteArray plantedName(char tag, qint64 index);

    void makeFolder(const QByteArray &rel);
    void makeFile(const QByteArray &rel, qint64 size);
    // Writes a shortcut to what `targetRel` names now (its facts recorded
    // as Windows would), or, with an empty targetRel, to `winTarget`, which
    // never existed. Returns the bytes written.
    QByteArray makeShortcut(const QByteArray &rel, const QByteArray &targetRel,
                            const QString &winTarget = {});

    TreeSpec m_layout;
    QByteArray m_tree, m_drive;
    Rng m_rng;
    std::function<void(const QString &)> m_progress;
    QString m_error;
    std::vector<Folder> m_folders;
    std::vector<std::vector<qint32>> m_byDepth; // visible folders by depth
    qint32 m_visible = 0;                       // folders [0, m_visible) are the root and the visible ones
    std::vector<QByteArray> m_files;            // plain files, drive-relative
    std::unordered_map<std::string, std::vector<qint32>> m_fileFolders; // folded name -> folders holding it
};

QByteArray Builder::claim(qint32 folder, QByteArray name)
{
    auto &names = m_folders[size_t(folder)].names;
    const qsizetype dot = name.lastIndexOf('.');
    const QByteArray stem = dot > 0 ? name.left(dot) : name;
    const QByteArray extension = dot > 0 ? name.mid(dot) : QByteArray();
    for (int n = 2; !names.insert(folded(name)).second; ++n)
        name = stem + " (" + QByteArray::number(n) + ')' + extension;
    return name;
}

qint32 Builder::addFolder(qint32 parent, const QByteArray &name)
{
    Folder folder;
    folder.parent = parent;
    folder.depth = m_folders[size_t(parent)].depth + 1;
    folder.rel = join(m_folders[size_t(parent)].rel, claim(parent, name));
    m_folders.push_back(std::move(folder));
    const qint32 id = qint32(m_folders.size() - 1);
    m_folders.back().top = parent == 0 ? id : m_folders[size_t(parent)].top;
    const size_t depth = size_t(m_folders.back().depth);
    if (m_byDepth.size() <= depth)
        m_byDepth.resize(depth + 1);
    m_byDepth[depth].push_back(id);
    return id;
}

qint32 Builder::folderBelow(qint32 start)
{
    // A folder that may take a sub-folder: not at the deepest level, and
    // with a path short enough.
    qint32 id = start;
    while (id != 0 && (m_folders[size_t(id)].depth >= m_layout.maxDepth ||
                       m_folders[size_t(id)].rel.size() > kMaxFolderPathBytes))
        id = m_folders[size_t(id)].parent;
    return id;
}

qint32 Builder::parentForNewFolder()
{
    // The depth of the new folder: most lie four to six levels down, a
    // few reach the deepest level; the parent is a random folder one level
    // up (the deepest there is while the tree is still shallow).
    static constexpr int kWeights[] = {0, 0, 8, 14, 18, 18, 14, 10, 7, 5, 3, 2, 1};
    int depth = 2;
    for (qint64 roll = m_rng.below(100); depth < int(std::size(kWeights)) - 1 && roll >= kWeights[depth];
         ++depth)
        roll -= kWeights[depth];
    depth = std::min(depth, m_layout.maxDepth);
    if (m_byDepth.size() < size_t(depth))
        m_byDepth.resize(size_t(depth));
    int level = depth - 1;
    while (level > 0 && m_byDepth[size_t(level)].empty())
        --level;
    if (level == 0)
        return 0;
    const std::vector<qint32> &candidates = m_byDepth[size_t(level)];
    return folderBelow(candidates[size_t(m_rng.below(qint64(candidates.size())))]);
}

bool Builder::isBelow(qint32 folder, qint32 ancestor) const
{
    for (qint32 id = folder; id >= 0; id = m_folders[size_t(id)].parent)
        if (id == ancestor)
            return true;
    return false;
}

QByteArray Builder::fileName()
{
    QByteArray name = m_rng.pick(kFileWords);
    // Some names recur all over the drive (readme.txt, setup.exe), as they do.
    if (!m_rng.percent(30))
        name += QByteArray::number(m_rng.below(100000));
    return name + m_rng.pick(kExtensions);
}

QByteArray Builder::shortcutName()
{
    QByteArray name = QByteArray(m_rng.pick(kAppWords)) + ' ' + QByteArray::number(m_rng.below(1000));
    if (m_rng.percent(5))
        name += " - Shortcut";
    return name + (m_rng.percent(10) ? ".LNK" : ".lnk");
}

QByteArray Builder::plantedName(char tag, qint64 index)
{
    // " - " and the tag appear in no other file name, so the name is the
    // drive's only one.
    return QByteArray(m_rng.pick(kFileWords)) + " - " + tag + QByteArray::number(index) +
           m_rng.pick(kExtensions);
}

void Builder::makeFolder(const QByteArray &rel)
{
    if (::mkdir(abs(rel).constData(), 0755) != 0)
        fail(QStringLiteral("Cannot make %1: %2")
                 .arg(QFile::decodeName(abs(rel)), QString::fromLocal8Bit(std::strerror(errno))));
}

void Builder::makeFile(const QByteArray &rel, qint64 size)
{
    const QByteArray path = abs(rel);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        fail(QStringLiteral("Cannot make %1: %2")
                 .arg(QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    if (size > 0) {
        QByteArray bytes(size, '\0');
        for (char &c : bytes)
            c = char('a' + m_rng.below(26));
        if (::write(fd, bytes.constData(), size_t(size)) != ssize_t(size))
            fail(QStringLiteral("Cannot write %1").arg(QFile::decodeName(path)));
    }
    ::close(fd);
}

QByteArray Builder::makeShortcut(const QByteArray &rel, const QByteArray &targetRel, const QString &winTarget)
{
    LnkTargetInfo info;
    if (targetRel.isEmpty()) {
        info.winPath = winTarget;
        info.attributes = 0x20;
    } else {
        info.winPath = TreeManifest::winPath(targetRel);
        FileFacts facts;
        if (readFacts(abs(targetRel), facts) != FactsStatus::Found) {
            fail(QStringLiteral("Target %1 is missing").arg(QFile::decodeName(abs(targetRel))));
            return {};
        }
        info.attributes = facts.attributes;
        info.size = facts.size;
        info.creationTime = facts.creationTime;
        info.accessTime = facts.accessTime;
        info.writeTime = facts.writeTime;
    }
    LnkCreateOptions options;
    const qsizetype cut = info.winPath.lastIndexOf(QLatin1Char('\\'));
    if (m_rng.percent(30))
        options.workingDirectory = info.winPath.left(std::max<qsizetype>(cut, 3));
    if (m_rng.percent(10))
        options.arguments = QStringLiteral("--profile default");
    if (m_rng.percent(20))
        options.iconLocation = info.winPath;
    if (m_rng.percent(5))
        options.unicode = false;
    auto made = LnkFile::create(info, TreeManifest::winPath(rel), options);
    if (std::holds_alternative<LnkError>(made) && !options.unicode) {
        options.unicode = true; // a name the ANSI code page cannot hold
        made = LnkFile::create(info, TreeManifest::winPath(rel), options);
    }
    if (std::holds_alternative<LnkError>(made)) {
        fail(QStringLiteral("Cannot make a link to %1: %2").arg(info.winPath, std::get<LnkError>(made).what));
        return {};
    }
    const QByteArray bytes = std::get<LnkFile>(made).serialize();
    const QByteArray path = abs(rel);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != ssize_t(bytes.size()))
        fail(QStringLiteral("Cannot write %1").arg(QFile::decodeName(path)));
    if (fd >= 0)
        ::close(fd);
    return bytes;
}

std::optional<TreeManifest> Builder::run(QString *error)
{
    const qint64 entries = m_layout.entries, shortcuts = m_layout.shortcuts;
    const qint64 folders = entries / 10;
    const qint64 hiddenTops = std::max<qint64>(2, folders / 400);
    const qint64 junk = std::max<qint64>(1, shortcuts / 200);     // *.lnk files that are no shortcuts
    const qint64 dotLinks = std::max<qint64>(1, shortcuts / 200); // hidden shortcut files in visible folders
    const qint64 broken = m_layout.brokenCount(), moved = m_layout.movedCount();
    const qint64 decoys = broken / 5;
    const qint64 visible = folders - 2 * hiddenTops;
    // Every hidden folder holds one shortcut and one plain file.
    const qint64 plain = entries - folders - shortcuts - junk - 4 * hiddenTops - moved;
    if (shortcuts < 20 || visible < qint64(std::size(kHeads)) + 2 || plain < shortcuts ||
        broken + moved + dotLinks >= shortcuts || m_layout.maxDepth < 4) {
        *error = QStringLiteral("Too few entries for %1 shortcuts").arg(shortcuts);
        return std::nullopt;
    }

    TreeManifest manifest;
    manifest.layout = m_layout;
    if (!QDir().mkpath(QFile::decodeName(m_drive)) ||
        !QDir().mkpath(QFile::decodeName(m_tree + "/planted"))) {
        *error = QStringLiteral("Cannot make %1").arg(QFile::decodeName(m_drive));
        return std::nullopt;
    }

    // The folder tree: the well-known folders first, then random ones.
    m_folders.emplace_back();
    for (const char *head : kHeads) {
        const QByteArray path(head);
        const qsizetype slash = path.lastIndexOf('/');
        qint32 parent = 0;
        if (slash > 0) {
            const QByteArray parentRel = path.left(slash);
            for (size_t i = 0; i < m_folders.size(); ++i)
                if (m_folders[i].rel == parentRel)
                    parent = qint32(i);
        }
        addFolder(parent, path.mid(slash + 1));
    }
    const qint64 oddFolder = (visible + qint64(std::size(kHeads))) / 2; // gets the name "Old Links.lnk"
    while (qint64(m_folders.size()) <= visible) {
        // About 25 folders at the top, as on a real system drive.
        const qint32 parent = m_folders.size() < 30 ? 0 : parentForNewFolder();
        QByteArray name = m_rng.pick(kFolderWords);
        if (m_rng.percent(60))
            name += ' ' + QByteArray::number(m_rng.below(1000));
        if (qint64(m_folders.size()) == oddFolder)
            name = "Old Links.lnk";
        addFolder(parent, name);
    }
    m_visible = qint32(m_folders.size());
    say(QStringLiteral("making %1 folders").arg(folders));
    for (size_t i = 1; i < m_folders.size(); ++i)
        makeFolder(m_folders[i].rel);

    // Hidden folders, each with a visible sub-folder; a shortcut and a plain
    // file in both.
    for (qint64 i = 0; i < hiddenTops; ++i) {
        const qint32 top = addFolder(folderBelow(randomFolder()), m_rng.pick(kHiddenWords));
        const qint32 sub = addFolder(top, "Links");
        for (qint32 id : {top, sub}) {
            makeFolder(m_folders[size_t(id)].rel);
            const QByteArray link = join(m_folders[size_t(id)].rel, claim(id, shortcutName()));
            makeShortcut(link, {}, QStringLiteral("c:\\Gone\\hidden %1.exe").arg(manifest.hidden.size()));
            manifest.hidden.append(link);
            makeFile(join(m_folders[size_t(id)].rel, claim(id, fileName())), 0);
        }
    }

    // Plain files, a fifth of them in a few large folders.
    std::vector<qint32> large;
    for (qint64 i = 0; i < std::max<qint64>(1, visible / 50); ++i)
        large.push_back(randomFolder());
    say(QStringLiteral("making %1 files").arg(plain));
    for (qint64 i = 0; i < plain; ++i) {
        const qint32 folder =
            m_rng.percent(20) ? large[size_t(m_rng.below(qint64(large.size())))] : randomFolder();
        const QByteArray name = claim(folder, fileName());
        const QByteArray rel = join(m_folders[size_t(folder)].rel, name);
        makeFile(rel, 0);
        m_files.push_back(rel);
        m_fileFolders[folded(name)].push_back(folder);
        if (!m_error.isEmpty())
            break;
    }

    // Where the shortcuts go: a quarter on the desktop and in the start
    // menu, the rest anywhere.
    const auto shortcutFolder = [&] {
        if (m_rng.percent(25))
            return m_rng.percent(50) ? kDesktopHead : kProgramsHead;
        return randomFolder();
    };
    const auto newShortcut = [&](bool dotName) {
        const qint32 folder = shortcutFolder();
        QByteArray name = shortcutName();
        if (dotName)
            name.prepend('.');
        return join(m_folders[size_t(folder)].rel, claim(folder, name));
    };

    // Moved targets: made in one folder, linked, then moved into another
    // part of the drive.
    say(QStringLiteral("planting %1 moved and %2 broken shortcuts").arg(moved).arg(broken));
    struct Move
    {
        QByteArray from, to;
    };
    std::vector<Move> moves;
    for (qint64 i = 0; i < moved; ++i) {
        const qint32 from = randomFolder();
        qint32 to = randomFolder();
        for (int tries = 0;
             tries < 100 && (m_folders[size_t(to)].top == m_folders[size_t(from)].top || to == from); ++tries)
            to = randomFolder();
        const QByteArray name = plantedName('m', i);
        const Move move{join(m_folders[size_t(from)].rel, claim(from, name)),
                        join(m_folders[size_t(to)].rel, claim(to, name))};
        nextClockTick();
        makeFile(move.from, 100 + m_rng.below(5000));
        nextClockTick();
        const QByteArray link = newShortcut(false);
        const QByteArray bytes = makeShortcut(link, move.from);
        const QByteArray planted = "planted/" + QByteArray::number(i) + ".lnk";
        QFile original(QFile::decodeName(m_tree + '/' + planted));
        if (!original.open(QIODevice::WriteOnly) || original.write(bytes) != bytes.size())
            fail(QStringLiteral("Cannot write %1").arg(original.fileName()));
        manifest.moved.append(TreeManifest::Moved{link, move.to, planted});
        moves.push_back(move);
    }

    // Broken shortcuts: the target was made, linked and deleted; for some
    // its whole folder is gone, and for some a file of the same name (but
    // another size) lies far away, where the name alone proves nothing.
    std::vector<QByteArray> gone, goneFolders;
    for (qint64 i = 0; i < broken; ++i) {
        QByteArray target;
        if (i < decoys) {
            for (int tries = 0; tries < 1000 && target.isEmpty(); ++tries) {
                const qint32 folder = randomFolder();
                if (m_folders[size_t(folder)].depth < 5)
                    continue;
                // The search takes a same-named file on the name alone in
                // the old folder and the three above it; this one lies in
                // another top-level folder.
                qint32 vicinity = folder;
                for (int up = 0; up < 3; ++up)
                    vicinity = m_folders[size_t(vicinity)].parent;
                const QByteArray &candidate = m_files[size_t(m_rng.below(qint64(m_files.size())))];
                const QByteArray name = candidate.mid(candidate.lastIndexOf('/') + 1);
                const std::vector<qint32> &holders = m_fileFolders[folded(name)];
                if (std::any_of(holders.begin(), holders.end(),
                                [&](qint32 h) { return isBelow(h, vicinity); }))
                    continue;
                if (!m_folders[size_t(folder)].names.insert(folded(name)).second)
                    continue;
                target = join(m_folders[size_t(folder)].rel, name);
            }
        }
        if (target.isEmpty() && i % 2 == 0) {
            const qint32 parent = folderBelow(randomFolder());
            const QByteArray folder =
                join(m_folders[size_t(parent)].rel, claim(parent, plantedName('g', i).replace('.', '_')));
            makeFolder(folder);
            goneFolders.push_back(folder);
            target = join(folder, plantedName('b', i));
        } else if (target.isEmpty()) {
            const qint32 folder = randomFolder();
            target = join(m_folders[size_t(folder)].rel, claim(folder, plantedName('b', i)));
        }
        nextClockTick();
        makeFile(target, 100 + m_rng.below(5000));
        nextClockTick();
        const QByteArray link = newShortcut(false);
        makeShortcut(link, target);
        manifest.broken.append(link);
        gone.push_back(target);
    }

    // The healthy rest: links to files and folders that stay where they are.
    say(QStringLiteral("making %1 healthy shortcuts").arg(shortcuts - broken - moved));
    for (qint64 i = broken + moved; i < shortcuts; ++i) {
        const QByteArray link = newShortcut(i < broken + moved + dotLinks);
        if (m_rng.percent(12))
            makeShortcut(link, m_folders[size_t(1 + m_rng.below(m_visible - 1))].rel);
        else
            makeShortcut(link, m_files[size_t(m_rng.below(qint64(m_files.size())))]);
    }
    // Files named *.lnk that are no shortcuts.
    for (qint64 i = 0; i < junk; ++i) {
        const qint32 folder = randomFolder();
        const QByteArray rel =
            join(m_folders[size_t(folder)].rel, claim(folder, "notes " + QByteArray::number(i) + ".lnk"));
        QFile file(QFile::decodeName(abs(rel)));
        if (!file.open(QIODevice::WriteOnly) ||
            file.write("[InternetShortcut]\r\nURL=http://example.org/\r\n") <= 0)
            fail(QStringLiteral("Cannot write %1").arg(file.fileName()));
    }

    // Now break and move.
    for (const QByteArray &target : gone)
        if (::unlink(abs(target).constData()) != 0)
            fail(QStringLiteral("Cannot delete %1").arg(QFile::decodeName(abs(target))));
    for (const QByteArray &folder : goneFolders)
        if (::rmdir(abs(folder).constData()) != 0)
            fail(QStringLiteral("Cannot delete %1").arg(QFile::decodeName(abs(folder))));
    for (const Move &move : moves)
        if (::rename(abs(move.from).constData(), abs(move.to).constData()) != 0)
            fail(QStringLiteral("Cannot move %1").arg(QFile::decodeName(abs(move.from))));

    if (!m_error.isEmpty()) {
        *error = m_error;
        return std::nullopt;
    }
    std::sort(manifest.broken.begin(), manifest.broken.end());
    manifest.folders = qint64(m_folders.size()) - 1;
    manifest.files = entries - manifest.folders;
    manifest.examined = shortcuts + junk;
    manifest.hiddenShortcuts = qint64(manifest.hidden.size());
    // find prunes dot names (files too) and also prints the folder named
    // "Old Links.lnk".
    manifest.findLines = shortcuts - dotLinks + junk + 1;
    return manifest;
}

bool writeManifest(const QByteArray &treeFolder, const TreeManifest &m, QString *error)
{
    QSaveFile file(QFile::decodeName(treeFolder + "/manifest.txt"));
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    QByteArray text = QByteArray(kManifestMagic) + '\n';
    const auto line = [&](const char *key, qint64 value) {
        text += key + (' ' + QByteArray::number(value)) + '\n';
    };
    text += "size " + m.layout.sizeName + '\n';
    line("seed", qint64(m.layout.seed));
    line("entries", m.layout.entries);
    line("shortcuts", m.layout.shortcuts);
    line("broken-percent", m.layout.brokenPercent);
    line("moved-percent", m.layout.movedPercent);
    line("max-depth", m.layout.maxDepth);
    line("folders", m.folders);
    line("files", m.files);
    line("examined", m.examined);
    line("hidden-shortcuts", m.hiddenShortcuts);
    line("find-lines", m.findLines);
    for (const QByteArray &path : m.broken)
        text += "broken " + path + '\n';
    for (const TreeManifest::Moved &moved : m.moved)
        text += "moved " + moved.shortcut + '\t' + moved.newTarget + '\t' + moved.planted + '\n';
    for (const QByteArray &path : m.hidden)
        text += "hidden " + path + '\n';
    file.write(text);
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace

std::optional<TreeSpec> TreeSpec::named(const QByteArray &name)
{
    TreeSpec layout;
    layout.sizeName = name.toUpper();
    if (layout.sizeName == "S") {
        layout.entries = 20000;
        layout.shortcuts = 200;
    } else if (layout.sizeName == "M") {
        layout.entries = 200000;
        layout.shortcuts = 2000;
    } else if (layout.sizeName == "L") {
        layout.entries = 1000000;
        layout.shortcuts = 10000;
    } else {
        return std::nullopt;
    }
    return layout;
}

QString TreeManifest::winPath(const QByteArray &relative)
{
    QString path = QStringLiteral("c:\\") + QString::fromUtf8(relative);
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return path;
}

namespace TreeGenerator {

QByteArray driveFolder(const QByteArray &treeFolder)
{
    return treeFolder + "/drive_c";
}

std::optional<TreeManifest> generate(const TreeSpec &layout, const QByteArray &treeFolder, QString *error,
                                     const std::function<void(const QString &)> &progress)
{
    QString ignored;
    if (!error)
        error = &ignored;
    const QDir folder(QFile::decodeName(treeFolder));
    if (folder.exists() && !folder.isEmpty()) {
        *error = QStringLiteral("%1 is not empty").arg(folder.path());
        return std::nullopt;
    }
    Builder builder(layout, treeFolder, progress);
    std::optional<TreeManifest> manifest = builder.run(error);
    if (!manifest || !writeManifest(treeFolder, *manifest, error))
        return std::nullopt;
    return manifest;
}

std::optional<TreeManifest> readManifest(const QByteArray &treeFolder, QString *error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    QFile file(QFile::decodeName(treeFolder + "/manifest.txt"));
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("No manifest in %1").arg(QFile::decodeName(treeFolder));
        return std::nullopt;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.isEmpty() || lines.first() != kManifestMagic) {
        *error = QStringLiteral("%1 is not a tree manifest").arg(file.fileName());
        return std::nullopt;
    }
    TreeManifest m;
    bool ok = true;
    for (qsizetype i = 1; i < lines.size() && ok; ++i) {
        const QByteArray &line = lines[i];
        if (line.isEmpty())
            continue;
        const qsizetype space = line.indexOf(' ');
        const QByteArray key = line.left(space);
        const QByteArray value = space < 0 ? QByteArray() : line.mid(space + 1);
        const auto number = [&] {
            bool good = false;
            const qint64 n = value.toLongLong(&good);
            ok = ok && good;
            return n;
        };
        if (key == "size")
            m.layout.sizeName = value;
        else if (key == "seed")
            m.layout.seed = quint64(number());
        else if (key == "entries")
            m.layout.entries = number();
        else if (key == "shortcuts")
            m.layout.shortcuts = number();
        else if (key == "broken-percent")
            m.layout.brokenPercent = int(number());
        else if (key == "moved-percent")
            m.layout.movedPercent = int(number());
        else if (key == "max-depth")
            m.layout.maxDepth = int(number());
        else if (key == "folders")
            m.folders = number();
        else if (key == "files")
            m.files = number();
        else if (key == "examined")
            m.examined = number();
        else if (key == "hidden-shortcuts")
            m.hiddenShortcuts = number();
        else if (key == "find-lines")
            m.findLines = number();
        else if (key == "broken")
            m.broken.append(value);
        else if (key == "hidden")
            m.hidden.append(value);
        else if (key == "moved") {
            const QList<QByteArray> parts = value.split('\t');
            ok = parts.size() == 3;
            if (ok)
                m.moved.append(TreeManifest::Moved{parts[0], parts[1], parts[2]});
        } else {
            ok = false;
        }
    }
    if (!ok) {
        *error = QStringLiteral("%1 is damaged").arg(file.fileName());
        return std::nullopt;
    }
    return m;
}

bool restoreMoved(const QByteArray &treeFolder, const TreeManifest &manifest, QString *error)
{
    const QByteArray drive = driveFolder(treeFolder);
    for (const TreeManifest::Moved &moved : manifest.moved) {
        QFile planted(QFile::decodeName(treeFolder + '/' + moved.planted));
        QFile current(QFile::decodeName(drive + '/' + moved.shortcut));
        if (!planted.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("Cannot read %1").arg(planted.fileName());
            return false;
        }
        const QByteArray bytes = planted.readAll();
        if (current.open(QIODevice::ReadOnly) && current.readAll() == bytes)
            continue;
        QSaveFile out(current.fileName());
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
            *error = QStringLiteral("Cannot write %1").arg(current.fileName());
            return false;
        }
    }
    return true;
}

std::optional<TreeManifest> readOrMake(const QByteArray &sizeName, QString &folder, QString *error)
{
    folder = QDir(folder.isEmpty()
                      ? QDir::tempPath() + QStringLiteral("/linkmend-bench-") + QString::fromLatin1(sizeName)
                      : folder)
                 .absolutePath();
    const QByteArray tree = QFile::encodeName(folder);
    std::optional<TreeManifest> manifest = readManifest(tree, error);
    if (!manifest) {
        QProcess make;
        make.setProcessChannelMode(QProcess::ForwardedChannels);
        make.start(QCoreApplication::applicationDirPath() + QStringLiteral("/make-tree"),
                   {QString::fromLatin1(sizeName), folder});
        make.waitForFinished(-1);
        manifest = readManifest(tree, error);
    }
    if (!manifest || manifest->layout.sizeName != sizeName) {
        *error = QStringLiteral("no tree %1 in %2: %3")
                     .arg(QString::fromLatin1(sizeName), folder,
                          error->isEmpty() ? QStringLiteral("another size") : *error);
        return std::nullopt;
    }
    return manifest;
}

bool takeTreeOption(const QString &arg, QStringList &rest, QByteArray &size, QString &folder, int &rounds)
{
    if (rest.isEmpty())
        return false;
    if (arg == QLatin1String("--size"))
        size = rest.takeFirst().toLatin1().toUpper();
    else if (arg == QLatin1String("--dir"))
        folder = rest.takeFirst();
    else if (arg == QLatin1String("--rounds"))
        rounds = rest.takeFirst().toInt();
    else
        return false;
    return true;
}

} // namespace TreeGenerator
