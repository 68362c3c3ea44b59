#pragma once

// Class ids a shortcut file holds, as their 16 bytes are stored.

namespace ShellIds {

// CLSID_ShellLink {00021401-0000-0000-C000-000000000046}: the header's class.
constexpr unsigned char kShellLink[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
// My Computer {20D04FE0-3AEA-1069-A2D8-08002B30309D}: the root item of an
// IDList that names a drive.
constexpr unsigned char kMyComputer[16] = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                                           0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};

} // namespace ShellIds
