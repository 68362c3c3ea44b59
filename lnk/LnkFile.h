#pragma once

// The Shell Link (.lnk) binary format ([MS-SHLLINK]): reading, writing, and
// changing the target while keeping every unrelated byte.
//
// A parsed link keeps the bytes it was read from; every structure (header,
// IDList and each item, LinkInfo, each string, each extra data block, the
// terminal block and anything after it) is a checked slice of them. An
// unchanged link therefore serializes to exactly its input, and a change
// rebuilds only the structures it concerns.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <variant>
#include <vector>

// A load failure: what was wrong and at which byte offset of the file.
struct LnkError
{
    QString what;
    qint64 offset = 0;
};

// The facts about a target that a link records in its header, LinkInfo and
// IDList; the resolver fills it from the file it found.
struct LnkTargetInfo
{
    QString winPath;          // "c:\dir\file.txt" or "\\server\share\file.txt"
    quint32 attributes = 0;   // FILE_ATTRIBUTE_* of the target
    quint64 size = 0;         // bytes (header keeps the low 32 bits)
    quint64 creationTime = 0; // FILETIME, UTC, 0 = unknown
    quint64 accessTime = 0;
    quint64 writeTime = 0;
    quint32 driveType = 3; // DRIVE_FIXED unless known otherwise
    quint32 driveSerial = 0;
    QString volumeLabel;
};

// What a fresh link holds besides its target (LnkFile::create).
struct LnkCreateOptions
{
    bool unicode = true;      // StringData in UTF-16 (IsUnicode), else Windows-1252
    bool relativePath = true; // store RELATIVE_PATH from the shortcut's folder
    // RELATIVE_PATH exactly as given instead (as a program may set it).
    std::optional<QString> relativePathText;
    bool idList = true;   // LinkTargetIDList (drive targets only)
    bool linkInfo = true; // LinkInfo
    std::optional<QString> name;
    std::optional<QString> workingDirectory;
    std::optional<QString> arguments;
    std::optional<QString> iconLocation;
    qint32 iconIndex = 0;
    quint32 showCommand = 1; // SW_SHOWNORMAL
    quint16 hotKey = 0;
    // An EnvironmentVariable block ("%ProgramFiles%\App\app.exe"), with
    // HasExpString set. At most 259 characters.
    std::optional<QString> environmentTarget;
    // Further ExtraData blocks, each complete (size, signature, data), written
    // in this order after the ones above.
    QList<QByteArray> extraBlocks;
};

// LinkFlags bits ([MS-SHLLINK] 2.1.1).
namespace LnkFlag {
constexpr quint32 HasLinkTargetIDList = 0x1;
constexpr quint32 HasLinkInfo = 0x2;
constexpr quint32 HasName = 0x4;
constexpr quint32 HasRelativePath = 0x8;
constexpr quint32 HasWorkingDir = 0x10;
constexpr quint32 HasArguments = 0x20;
constexpr quint32 HasIconLocation = 0x40;
constexpr quint32 IsUnicode = 0x80;
constexpr quint32 ForceNoLinkInfo = 0x100;
constexpr quint32 HasExpString = 0x200;
constexpr quint32 HasDarwinID = 0x1000;
constexpr quint32 DisableLinkPathTracking = 0x100000;
constexpr quint32 DisableKnownFolderTracking = 0x200000;
constexpr quint32 PreferEnvironmentPath = 0x2000000;
constexpr quint32 PersistVolumeIdRelative = 0x8000000;
} // namespace LnkFlag

// LinkInfoFlags ([MS-SHLLINK] 2.3).
namespace LnkInfoFlag {
constexpr quint32 VolumeIDAndLocalBasePath = 0x1;
constexpr quint32 CommonNetworkRelativeLinkAndPathSuffix = 0x2;
} // namespace LnkInfoFlag

// CommonNetworkRelativeLink flags ([MS-SHLLINK] 2.3.2).
namespace LnkNetFlag {
constexpr quint32 ValidDevice = 0x1;
constexpr quint32 ValidNetType = 0x2;
} // namespace LnkNetFlag

// ExtraData block signatures ([MS-SHLLINK] 2.5).
namespace LnkBlock {
constexpr quint32 EnvironmentVariable = 0xA0000001;
constexpr quint32 Console = 0xA0000002;
constexpr quint32 Tracker = 0xA0000003;
constexpr quint32 ConsoleFE = 0xA0000004;
constexpr quint32 SpecialFolder = 0xA0000005;
constexpr quint32 Darwin = 0xA0000006;
constexpr quint32 IconEnvironment = 0xA0000007;
constexpr quint32 Shim = 0xA0000008;
constexpr quint32 PropertyStore = 0xA0000009;
constexpr quint32 KnownFolder = 0xA000000B;
constexpr quint32 VistaAndAboveIDList = 0xA000000C;
} // namespace LnkBlock

// The VolumeID of a link's LinkInfo.
struct LnkVolume
{
    quint32 driveType = 0;
    quint32 serial = 0;
    QString label;
};

// The TrackerDataBlock: the machine and the NTFS object ids of the target.
struct LnkTracker
{
    QByteArray machineId;   // NetBIOS name, NULs removed
    QByteArray droidVolume; // 16 bytes each, as stored
    QByteArray droidObject;
    QByteArray birthVolume;
    QByteArray birthObject;
};

// Where one form of a link's target comes from.
enum class LnkFormSource { Environment, LinkInfoLocal, LinkInfoNetwork, IdList, Relative };

// One form of a link's target: a link may hold its target in up to five
// (LnkFile::targetForms).
struct LnkTargetForm
{
    LnkFormSource source = LnkFormSource::IdList;
    // Windows form. An environment form holding a variable that cannot be
    // expanded keeps its text as stored, and `formed` is false.
    QString path;
    bool formed = true;
    // ANSI bytes beyond ASCII name the target only in the code page of the
    // Windows that wrote them, which a link does not record: `path` is the
    // usual reading (Windows-1252, or UTF-8 when the bytes form it), these
    // are the readings in the other common code pages, to try after it.
    QStringList otherReadings;
    // path, then otherReadings: every place this form may name.
    QStringList readings() const { return QStringList{path} + otherReadings; }
    // A relative path that leads to an entry of another name, or away from
    // the root that the other forms name, is no form of this target.
    bool sameTarget = true;
};

class LnkFile
{
public:
    // Parses a whole .lnk file. Every read is bounds-checked; a malformed
    // or truncated file gives an LnkError, never a crash or an over-read.
    static std::variant<LnkFile, LnkError> parse(const QByteArray &bytes);

    // A new link to a target, as Windows would write it for a shortcut at
    // shortcutWinPath (used for its relative path): header, IDList, LinkInfo,
    // the strings and blocks the options ask for. Fails for a target that is
    // not an absolute drive or UNC path, or strings that do not fit the
    // chosen encoding.
    static std::variant<LnkFile, LnkError> create(const LnkTargetInfo &target, const QString &shortcutWinPath,
                                                  const LnkCreateOptions &options = {});

    // The file's bytes. A link that was parsed and not changed serializes to
    // exactly the bytes it was parsed from.
    QByteArray serialize() const;

    // Header fields.
    quint32 linkFlags() const;
    quint32 fileAttributes() const;
    quint32 fileSize() const;
    quint64 creationTime() const;
    quint64 accessTime() const;
    quint64 writeTime() const;
    qint32 iconIndex() const;

    // What the IDList's last item recorded of the target when it is a file
    // entry: its size and write time, and its BEEF0004 block's creation and
    // access time, as FILETIMEs (FAT times: two seconds fine); 0 where it
    // holds none. A link whose header records no times still has these when
    // the shell made its IDList.
    struct ItemFacts
    {
        quint32 size = 0;
        quint64 writeTime = 0, creationTime = 0, accessTime = 0;
    };
    std::optional<ItemFacts> targetItemFacts() const;
    quint32 showCommand() const;
    quint16 hotKey() const;

    // Every form of the target that the link holds, in the order a caller
    // looking for the one that exists tries them:
    //  1. the EnvironmentVariable block, when HasExpString is set (and
    //     DisableLinkPathTracking is not), with the well-known Windows folder
    //     variables expanded against drive c: and the per-user ones for the
    //     profile the shortcut lies in (names from LinkInfo and the IDList
    //     are taken as they are: a '%' in them is part of a name);
    //  2. LinkInfo (unless ForceNoLinkInfo): the local base path, or the
    //     mapped drive (device name) when there is none, and the network
    //     path (net name), each with the common path suffix; with
    //     uncPriority the network path comes first. Unicode fields are
    //     preferred; ANSI bytes beyond ASCII also get their readings in the
    //     other common code pages (the base and the suffix each read on its
    //     own, both in one code page, and none where either is no text).
    //     When the suffix's ANSI reading is a guess, the network path takes
    //     its names after the share from the IDList;
    //  3. the IDList: My Computer, a drive, then file entries (long names);
    //     or, for an IDList without a drive letter, the well-known folder
    //     its KnownFolder or SpecialFolder block names (Windows, System32,
    //     Program Files, ...) plus the file entries after the block's offset
    //     (unless DisableKnownFolderTracking);
    //  4. the relative path, taken from the folder of the shortcut at
    //     shortcutWinPath (Windows form; none without it), then from the
    //     working folder when that is an absolute path and the relative
    //     path is not (a second form of this source, when it names another
    //     place).
    // None for a link with no file-system target (control panel items,
    // virtual folders, URLs, MSI advertised links).
    std::vector<LnkTargetForm> targetForms(bool uncPriority, const QString &shortcutWinPath = {}) const;

    // The target a user would see when none of the forms exists: the first
    // form present in the order Windows gives it, which differs from
    // targetForms' order only in this: the environment block comes first
    // only when its path holds a %variable% or PreferEnvironmentPath is set
    // (else after the IDList); a LinkInfo path whose ANSI code page is a
    // guess (or holds a '?', where the writer's code page lacked a
    // character) gives way to the IDList's UTF-16 names; the relative path
    // comes last. An empty string for a link with no file-system target.
    // Nothing when no form can be formed definitely (only an unknown
    // %variable%): the caller must then treat the link as one it cannot
    // judge.
    std::optional<QString> targetPath(bool uncPriority, const QString &shortcutWinPath = {}) const;

    // The StringData strings, when present (read up to any NUL).
    std::optional<QString> name() const;
    std::optional<QString> relativePath() const;
    std::optional<QString> workingDirectory() const;
    std::optional<QString> arguments() const;
    std::optional<QString> iconLocation() const;

    // The EnvironmentVariable block's path as stored (unexpanded).
    std::optional<QString> environmentTarget() const;
    std::optional<LnkVolume> volume() const;
    std::optional<LnkTracker> tracker() const;
    // Signatures of the ExtraData blocks, in file order.
    QList<quint32> extraBlockSignatures() const;
    // True for a link written by Wine's shell32, which stores RELATIVE_PATH
    // without setting HasRelativePath; it was read as if the flag were set.
    bool relativePathWithoutFlag() const { return m_relWithoutFlag; }

    // Points the link at a new target: rebuilds the IDList and LinkInfo,
    // recomputes the relative path from the shortcut's own folder (given in
    // Windows form), updates the header's attributes, size and times, and
    // drops the blocks that referred to the old target (EnvironmentVariable,
    // Tracker, SpecialFolder, KnownFolder, VistaAndAboveIDList) with their
    // flags (HasExpString, PreferEnvironmentPath; also ForceNoLinkInfo and
    // PERSIST_VOLUME_ID_RELATIVE, which would contradict the new lists). A
    // UNC target gets LinkInfo only, as Windows writes for shares. The
    // relative path is kept only if the link had one, and dropped with its
    // flag when the target is on another drive or share. Everything else
    // (name, arguments, icon, working dir, unrelated extra blocks, other
    // flag bits) keeps its bytes. Returns false, leaving the link unchanged,
    // for a target that is not an absolute drive or UNC path.
    bool setTarget(const LnkTargetInfo &target, const QString &shortcutWinPath);

private:
    LnkFile() = default;

    struct Span
    {
        qint64 offset = -1; // file offset; -1 = absent
        qint64 size = 0;
        bool present() const { return offset >= 0; }
    };
    // Character data of a string (no count, no terminating NUL).
    struct Text
    {
        qint64 offset = -1;
        qint64 size = 0; // bytes
        bool unicode = false;
        bool present() const { return offset >= 0; }
    };
    struct LinkInfoView
    {
        quint32 flags = 0;
        bool hasVolume = false;
        quint32 driveType = 0;
        quint32 serial = 0;
        Text label, localAnsi, localUnicode, suffixAnsi, suffixUnicode;
        Text netAnsi, netUnicode, deviceAnsi, deviceUnicode;
    };
    struct Block
    {
        Span span;
        quint32 signature = 0;
    };
    struct Parts;

    std::optional<LnkError> readAll();
    std::optional<LnkError> readLinkInfo(qint64 offset, qint64 size);
    std::optional<LnkError> readStrings(qint64 &pos, bool withRelative);
    std::optional<LnkError> readExtraData(qint64 pos);

    QString text(const Text &t) const;
    std::optional<QString> stringAt(int index) const;
    std::optional<QString> idListPath() const;
    std::optional<QString> folderRelativePath() const;
    std::optional<QString> fileEntriesFrom(QString path, size_t first) const;
    QString fileEntryName(const Span &item) const;
    struct Forms;
    // The forms but the relative ones; the other code pages' readings only
    // with otherReadings (targetPath has no use for them).
    Forms collectForms(const QString &shortcutWinPath, bool otherReadings) const;
    void collectLinkInfoForms(Forms &forms, bool otherReadings) const;
    void collectRelativeForms(Forms &forms, const QString &shortcutWinPath) const;
    QByteArray ansiBytes(const Text &t) const;
    const Block *findBlock(quint32 signature) const;
    Parts parts() const;
    static QByteArray assemble(const Parts &parts);

    QByteArray m_bytes;
    Span m_idList;             // LinkTargetIDList, with its size field
    std::vector<Span> m_items; // each ItemID, with its size field
    Span m_linkInfo;           // the whole LinkInfo
    LinkInfoView m_info;
    std::array<Span, 5> m_stringSpans; // NAME .. ICON_LOCATION, with counts
    std::array<Text, 5> m_strings;
    bool m_relWithoutFlag = false;
    std::vector<Block> m_blocks;
    Span m_terminal; // the terminal block, when present
    Span m_trailing; // bytes after the terminal block
};
