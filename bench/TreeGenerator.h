#pragma once

// The drive trees the scan benchmark runs on: folders, files and shortcuts
// made with our own codec, laid out the same way for the same seed. A share
// of the shortcuts is broken (the target is gone), a share points at targets
// that were moved elsewhere on the drive (the resolver can find them again),
// and hidden folders hold shortcuts that a scan must never examine.
//
// A tree lives in one folder:
//   drive_c/      the drive's root folder (mapped to c:)
//   planted/      the bytes every moved shortcut had when it was made
//   manifest.txt  what was planted (see TreeManifest)

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

struct TreeSpec
{
    QByteArray sizeName = "custom";
    // Everything below the drive's root folder: folders, files, shortcuts.
    qint64 entries = 0;
    // Shortcut files a scan examines (outside hidden folders).
    qint64 shortcuts = 0;
    int brokenPercent = 5;
    int movedPercent = 2;
    int maxDepth = 12;
    quint64 seed = 0x4C696E6B6D656E64ULL;

    // S (20,000 entries, 200 shortcuts), M (200,000 / 2,000) and
    // L (1,000,000 / 10,000); nothing for another name.
    static std::optional<TreeSpec> named(const QByteArray &name);
    qint64 brokenCount() const { return shortcuts * brokenPercent / 100; }
    qint64 movedCount() const { return shortcuts * movedPercent / 100; }
};

// What a generated tree holds. Paths are relative to drive_c, with '/'
// between the names (the bytes on disk, UTF-8).
struct TreeManifest
{
    struct Moved
    {
        QByteArray shortcut;  // the shortcut file
        QByteArray newTarget; // where its target lies now
        QByteArray planted;   // its bytes as made, relative to the tree folder
    };

    TreeSpec layout;
    qint64 folders = 0; // visible and hidden
    qint64 files = 0;   // everything that is not a folder, shortcuts included
    // Files a scan hands to the check: the shortcuts and a few files named
    // *.lnk that are not shortcuts.
    qint64 examined = 0;
    // Shortcuts inside hidden folders, never to be examined.
    qint64 hiddenShortcuts = 0;
    // Lines that `find <drive> -name '.*' -prune -o -iname '*.lnk' -print`
    // prints.
    qint64 findLines = 0;
    QList<QByteArray> broken; // shortcuts whose target is gone, sorted
    QList<Moved> moved;
    QList<QByteArray> hidden; // shortcuts inside hidden folders

    // The drive-relative path in Windows form on drive c: ("c:\a\b.lnk").
    static QString winPath(const QByteArray &relative);
};

namespace TreeGenerator {

QByteArray driveFolder(const QByteArray &treeFolder);

// Builds a tree in treeFolder (made when missing; must hold nothing else).
// `progress` (may be empty) receives a line now and then.
std::optional<TreeManifest> generate(const TreeSpec &layout, const QByteArray &treeFolder, QString *error,
                                     const std::function<void(const QString &)> &progress = {});

// Reads the manifest of a tree made before.
std::optional<TreeManifest> readManifest(const QByteArray &treeFolder, QString *error);

// The tree of one size in `folder` (empty: $TMPDIR/linkmend-bench-SIZE; made
// absolute), made there by make-tree (next to the running program) first
// when it holds none.
std::optional<TreeManifest> readOrMake(const QByteArray &sizeName, QString &folder, QString *error);

// The options every benchmark over a generated tree takes: --size S|M|L,
// --dir FOLDER and --rounds N. True when `arg` is one of them (its value
// taken from the front of `rest`).
bool takeTreeOption(const QString &arg, QStringList &rest, QByteArray &size, QString &folder, int &rounds);

// Puts back the bytes every moved shortcut had when it was made, so the
// next scan repairs them again. Shortcuts that already hold them are left
// alone.
bool restoreMoved(const QByteArray &treeFolder, const TreeManifest &manifest, QString *error);

} // namespace TreeGenerator
