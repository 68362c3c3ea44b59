#pragma once

// The Shell Link (.lnk) binary format ([MS-SHLLINK]): reading, writing, and
// changing the target while keeping every unrelated byte.
//
// API agreed between the codec and the resolver. The codec owns this header;
// extend it, but keep these entry points.

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <variant>

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
    QString winPath;          // "c:\dir\file.txt" (Windows form, absolute)
    quint32 attributes = 0;   // FILE_ATTRIBUTE_* of the target
    quint64 size = 0;         // bytes (header keeps the low 32 bits)
    quint64 creationTime = 0; // FILETIME, UTC, 0 = unknown
    quint64 accessTime = 0;
    quint64 writeTime = 0;
    quint32 driveType = 3;    // DRIVE_FIXED unless known otherwise
    quint32 driveSerial = 0;
    QString volumeLabel;
};

class LnkFile
{
public:
    // Parses a whole .lnk file. Every read is bounds-checked; a malformed
    // or truncated file gives an LnkError, never a crash or an over-read.
    static std::variant<LnkFile, LnkError> parse(const QByteArray &bytes);

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

    // The target a user would see (GetPath): LinkInfo's local base path plus
    // common path suffix (with uncPriority the network form when the link
    // has one), else the IDList's path, with the well-known Windows folder
    // variables expanded against drive c:. An empty string for a link with
    // no file-system target. Nothing when the target cannot be formed
    // definitely (an unknown %variable%, unreadable link data): the caller
    // must then treat the link as one it cannot judge.
    std::optional<QString> targetPath(bool uncPriority) const;

    // The RELATIVE_PATH string, if the link has one.
    std::optional<QString> relativePath() const;
    std::optional<QString> workingDirectory() const;

    // Points the link at a new target: rebuilds the IDList and LinkInfo,
    // recomputes the relative path from the shortcut's own folder (given in
    // Windows form), updates the header's attributes, size and times, and
    // fixes or drops the blocks that referred to the old target. Everything
    // else (name, arguments, icon, working dir, unrelated extra blocks, flag
    // bits) keeps its bytes.
    void setTarget(const LnkTargetInfo &target, const QString &shortcutWinPath);

private:
    struct Data;
    std::shared_ptr<const Data> m_data; // replaced by the codec's own layout
};
