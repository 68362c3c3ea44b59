#pragma once

// The link service's lower layer, in the shape of the Windows service the
// program's rules are written against (the rest of the program asks for a
// verdict instead, see LinkJudge), used in these steps: create a link object,
// query its file interface, load a shortcut file, resolve, get the path,
// release (destruction: the file interface first, then the link object).
// Results are HRESULT-style: negative is a failure.

#include "platform/WinTypes.h"

#include <QString>

#include <memory>

namespace win {
constexpr quint32 STGM_READ = 0;
constexpr quint32 SLR_NO_UI = 0x1;
constexpr quint32 SLR_UPDATE = 0x4;
constexpr quint32 SLR_NOSEARCH = 0x10;
constexpr quint32 SLGP_SHORTPATH = 0x1;
constexpr quint32 SLGP_UNCPRIORITY = 0x2;
constexpr quint32 SLGP_RAWPATH = 0x4;

// The find-data record GetPath fills; callers of this program never read it.
struct WIN32_FIND_DATAW
{
    quint32 dwFileAttributes = 0;
    quint64 ftCreationTime = 0;
    quint64 ftLastAccessTime = 0;
    quint64 ftLastWriteTime = 0;
    quint64 nFileSize = 0;
    char16_t cFileName[MAX_PATH] = {};
};
} // namespace win

// IPersistFile of one link object.
class PersistFile
{
public:
    virtual ~PersistFile() = default;
    // Load: reads a shortcut file (Windows-form path).
    virtual win::HRESULT Load(const QString &path, quint32 mode) = 0;
};

// IShellLinkW of one link object.
class ShellLink
{
public:
    virtual ~ShellLink() = default;
    // Query: the same object's file interface; S_OK exactly on success.
    virtual win::HRESULT QueryPersistFile(std::unique_ptr<PersistFile> &out) = 0;
    // Resolve: SLR_NO_UI | SLR_UPDATE, time limit in ms in the high word (0 = 3000).
    virtual win::HRESULT Resolve(quintptr hwnd, quint32 flags) = 0;
    // GetPath: writes at most cch characters including the terminating zero.
    virtual win::HRESULT GetPath(char16_t *buffer, int cch, win::WIN32_FIND_DATAW *findData,
                                 quint32 flags) = 0;
};

// Create: makes new, empty link objects.
class ShellLinkFactory
{
public:
    virtual ~ShellLinkFactory() = default;
    virtual win::HRESULT CoCreateInstance(std::unique_ptr<ShellLink> &out) = 0;
};
