#pragma once

// Where the fields of a shell link file lie: byte offsets inside each
// structure (from the structure's start) and the sizes the reader checks.
// Only the codec's own files use these.

#include "lnk/LnkFile.h"

#include <QtGlobal>

namespace LnkLayout {

// ShellLinkHeader, at the start of the file.
namespace Header {
constexpr qint64 Size = 0x4C;    // also the value of its first field, HeaderSize
constexpr qint64 ClassId = 0x04; // 16 bytes: ShellIds::kShellLink
constexpr qint64 LinkFlags = 0x14;
constexpr qint64 FileAttributes = 0x18;
constexpr qint64 CreationTime = 0x1C;
constexpr qint64 AccessTime = 0x24;
constexpr qint64 WriteTime = 0x2C;
constexpr qint64 FileSize = 0x34;
constexpr qint64 IconIndex = 0x38;
constexpr qint64 ShowCommand = 0x3C;
constexpr qint64 HotKey = 0x40;
} // namespace Header

// One ItemID of the LinkTargetIDList: a 16-bit size, then its data.
namespace Item {
constexpr qint64 Type = 0x02;
// The root item of a drive's path: type 0x1F and My Computer's class id.
constexpr quint8 RootType = 0x1F;
constexpr qint64 RootClassId = 0x04; // 16 bytes
constexpr qint64 RootMinSize = 0x14;
// The type's group bits (mask 0x70): a drive, or a file entry.
constexpr quint8 GroupMask = 0x70;
constexpr quint8 DriveGroup = 0x20;
constexpr quint8 FileEntryGroup = 0x30;
// A drive item: "C:\" from its fourth byte.
constexpr qint64 DriveLetter = 0x03;
constexpr qint64 DriveColon = 0x04;
constexpr qint64 DriveMinSize = 0x06;
// A file entry: its primary name at 14, in UTF-16 when this type bit is set.
constexpr quint8 FileEntryUnicode = 0x04;
constexpr qint64 FileEntryName = 0x0E;
// Its size (32 bits) and write time (FAT date, then time).
constexpr qint64 FileEntrySize = 0x04;
constexpr qint64 FileEntryWriteDate = 0x08;
constexpr qint64 FileEntryWriteTime = 0x0A;
} // namespace Item

// The BEEF0004 extension block of a file entry, which holds its long name.
// Its header, as that of every extension block of an item: a 16-bit size, a
// version, the signature; it ends with the 16-bit offset of its start.
namespace Beef0004 {
constexpr quint32 Signature = 0xBEEF0004;
constexpr qint64 HeaderSize = 0x08;
constexpr qint64 VersionField = 0x02;
constexpr qint64 SignatureField = 0x04;
constexpr qint64 MinSize = 0x18;
// Creation and access time, FAT date then time each.
constexpr qint64 CreationDate = 0x08;
constexpr qint64 CreationTime = 0x0A;
constexpr qint64 AccessDate = 0x0C;
constexpr qint64 AccessTime = 0x0E;
// The long name's place, by the block's version: 3 to 6, 7, 8, 9 and later.
constexpr qint64 NameFromVersion3 = 0x14;
constexpr qint64 NameInVersion7 = 0x26;
constexpr qint64 NameInVersion8 = 0x2A;
constexpr qint64 NameFromVersion9 = 0x2E;
} // namespace Beef0004

// LinkInfo: its header's fields, then the structures they point at.
namespace LinkInfo {
constexpr qint64 HeaderSizeField = 0x04;
constexpr qint64 Flags = 0x08;
constexpr qint64 VolumeIdOffset = 0x0C;
constexpr qint64 LocalBasePathOffset = 0x10;
constexpr qint64 NetworkLinkOffset = 0x14;
constexpr qint64 CommonPathSuffixOffset = 0x18;
constexpr qint64 MinHeaderSize = 0x1C;
// In a header of at least UnicodeHeaderSize bytes.
constexpr qint64 LocalBasePathUnicodeOffset = 0x1C;
constexpr qint64 CommonPathSuffixUnicodeOffset = 0x20;
constexpr qint64 UnicodeHeaderSize = 0x24;
} // namespace LinkInfo

namespace VolumeId {
constexpr qint64 DriveType = 0x04;
constexpr qint64 SerialNumber = 0x08;
constexpr qint64 LabelOffset = 0x0C;
// A LabelOffset of 0x14 means the label is in UTF-16, at this offset.
constexpr qint64 LabelUnicodeOffset = 0x10;
constexpr quint32 UnicodeLabelMark = 0x14;
constexpr qint64 MinSize = 0x10;
} // namespace VolumeId

// CommonNetworkRelativeLink.
namespace NetworkLink {
constexpr qint64 Flags = 0x04;
constexpr qint64 NetNameOffset = 0x08;
constexpr qint64 DeviceNameOffset = 0x0C;
constexpr qint64 MinSize = 0x14;
// Present when NetNameOffset is beyond MinSize.
constexpr qint64 NetNameUnicodeOffset = 0x14;
constexpr qint64 DeviceNameUnicodeOffset = 0x18;
} // namespace NetworkLink

// The StringData strings, in file order, and the flag that says each is there.
enum StringSlot { NameString, RelativePathString, WorkingDirString, ArgumentsString, IconLocationString };
constexpr quint32 StringFlags[5] = {LnkFlag::HasName, LnkFlag::HasRelativePath, LnkFlag::HasWorkingDir,
                                    LnkFlag::HasArguments, LnkFlag::HasIconLocation};

// An ExtraData block: a 32-bit size, a signature, then its data. A size
// below 4 is the terminal block.
namespace ExtraBlock {
constexpr qint64 SignatureField = 0x04;
constexpr qint64 HeaderSize = 0x08;
constexpr qint64 TerminalSize = 0x04;
} // namespace ExtraBlock

// The EnvironmentVariable block (and the blocks of its layout): an ANSI
// path, then a UTF-16 one, each in a fixed field.
namespace EnvironmentBlock {
constexpr qint64 Size = 0x314;
constexpr qint64 Ansi = 0x08;
constexpr qint64 AnsiSize = 260;
constexpr qint64 Unicode = Ansi + AnsiSize;
constexpr qint64 UnicodeSize = 520;
} // namespace EnvironmentBlock

// The TrackerDataBlock: fields of 16 bytes each.
namespace TrackerBlock {
constexpr qint64 Size = 0x60;
constexpr qint64 MachineId = 0x10;
constexpr qint64 DroidVolume = 0x20;
constexpr qint64 DroidObject = 0x30;
constexpr qint64 BirthVolume = 0x40;
constexpr qint64 BirthObject = 0x50;
constexpr qint64 FieldSize = 0x10;
} // namespace TrackerBlock

// The KnownFolder block: the folder's id and the offset into the IDList of
// the first item below it.
namespace KnownFolderBlock {
constexpr qint64 FolderId = 0x08; // 16 bytes
constexpr qint64 ItemOffset = 0x18;
constexpr qint64 MinSize = 0x1C;
} // namespace KnownFolderBlock

// The SpecialFolder block: the same with a CSIDL.
namespace SpecialFolderBlock {
constexpr qint64 FolderId = 0x08;
constexpr qint64 ItemOffset = 0x0C;
constexpr qint64 MinSize = 0x10;
} // namespace SpecialFolderBlock

} // namespace LnkLayout
