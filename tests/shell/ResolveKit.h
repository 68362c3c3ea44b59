#pragma once

// Helpers for the link service and resolver tests: shortcuts made with the
// codec's own writer for files on a TempDrives machine, and the link steps
// run the way the scan runs them.

#include "lnk/LnkFile.h"
#include "shell/FileFacts.h"
#include "shell/ShellLink.h"
#include "shell/ShellLinkService.h"
#include "support/TempDrives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <ostream>

#include <sys/stat.h>
#include <unistd.h>

// Readable failure messages.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

// A Windows path with its drive letter in upper case, as links store it.
inline QString linkForm(QString winPath)
{
    if (winPath.size() >= 2 && winPath.at(1) == QLatin1Char(':'))
        winPath[0] = winPath.at(0).toUpper();
    return winPath;
}

// The bytes of a shortcut, placed at shortcutWinPath, to the file or folder
// that targetPosix names now (header attributes, size and times from it).
inline QByteArray shortcutBytes(const QByteArray &targetPosix, const QString &targetWin,
                                const QString &shortcutWinPath)
{
    FileFacts facts;
    EXPECT_EQ(readFacts(targetPosix, facts), FactsStatus::Found) << targetPosix.constData();
    LnkTargetInfo info;
    info.winPath = targetWin;
    info.attributes = facts.attributes;
    info.size = facts.size;
    info.creationTime = facts.creationTime;
    info.accessTime = facts.accessTime;
    info.writeTime = facts.writeTime;
    auto made = LnkFile::create(info, shortcutWinPath);
    if (!std::holds_alternative<LnkFile>(made)) {
        ADD_FAILURE() << std::get<LnkError>(made).what.toStdString();
        return {};
    }
    return std::get<LnkFile>(made).serialize();
}

// Writes a shortcut at `shortcut` to `target` (both relative to the same
// drive; the target must exist).
inline void makeShortcut(const TempDrives &drives, const QString &shortcut, const QString &target,
                         QChar letter = QLatin1Char('c'))
{
    drives.writeFile(
        shortcut,
        shortcutBytes(drives.posix(target, letter), drives.win(target, letter), drives.win(shortcut, letter)),
        letter);
}

// Maps drive d: to a folder in memory (tmpfs) when the machine has one, for
// tests that build big trees: folders are made there far faster than on a
// disk. Returns the letter to use (c: when there is no such place).
inline QChar quickDrive(TempDrives &drives, std::unique_ptr<QTemporaryDir> &holder)
{
    holder = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/linkmend-test-XXXXXX"));
    if (!holder->isValid())
        return QLatin1Char('c');
    const QByteArray folder = QFile::encodeName(QFileInfo(holder->path()).canonicalFilePath());
    // TempDrives places drive x: at <base>/drive_x; a symbolic link there
    // makes its helpers (posix(), writeFile()) reach the memory folder.
    const QByteArray base = QFile::encodeName(QFileInfo(QFile::decodeName(drives.prefix())).path());
    if (::symlink(folder.constData(), (base + "/drive_d").constData()) != 0)
        return QLatin1Char('c');
    drives.mapLetter(QLatin1Char('d'), folder);
    return QLatin1Char('d');
}

// One link object as the scan holds it: created, queried and loaded.
struct LinkSession
{
    std::unique_ptr<ShellLink> link;
    std::unique_ptr<PersistFile> file;
    win::HRESULT loaded = win::E_FAIL;

    LinkSession(ShellLinkFactory &factory, const QString &shortcutWinPath)
    {
        EXPECT_EQ(factory.CoCreateInstance(link), win::S_OK);
        EXPECT_EQ(link->QueryPersistFile(file), win::S_OK);
        loaded = file->Load(shortcutWinPath, win::STGM_READ);
    }
    ~LinkSession()
    {
        file.reset(); // released: the file interface first, then the link object
        link.reset();
    }

    win::HRESULT resolve(quint32 flags = win::SLR_NO_UI | win::SLR_UPDATE) { return link->Resolve(0, flags); }

    QString path(win::HRESULT *result = nullptr)
    {
        char16_t buffer[win::MAX_PATH + 1] = {};
        win::WIN32_FIND_DATAW findData;
        const win::HRESULT hr = link->GetPath(buffer, win::MAX_PATH, &findData, win::SLGP_UNCPRIORITY);
        if (result)
            *result = hr;
        return QString::fromUtf16(buffer);
    }
};

// What the scan would see after the link steps for one shortcut.
inline QString resolvedTarget(ShellLinkFactory &factory, const QString &shortcutWinPath,
                              win::HRESULT *resolveResult = nullptr)
{
    LinkSession session(factory, shortcutWinPath);
    EXPECT_EQ(session.loaded, win::S_OK);
    const win::HRESULT hr = session.resolve();
    if (resolveResult)
        *resolveResult = hr;
    return session.path();
}

// The target a shortcut file holds now, read from disk by a fresh service.
inline QString storedTarget(const TempDrives &drives, const QString &shortcutWinPath)
{
    ShellLinkService fresh(drives.context());
    LinkSession session(fresh, shortcutWinPath);
    EXPECT_EQ(session.loaded, win::S_OK);
    return session.path();
}

// Modification time in nanoseconds, and the inode, of what a path names.
struct FileState
{
    QByteArray bytes;
    qint64 mtimeNs = 0;
    ino_t inode = 0;
    friend bool operator==(const FileState &, const FileState &) = default;
};

inline FileState fileState(const QByteArray &posixPath)
{
    FileState state;
    state.bytes = readWholeFile(posixPath);
    struct stat st;
    if (::stat(posixPath.constData(), &st) == 0) {
        state.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        state.inode = st.st_ino;
    }
    return state;
}

// Names in a folder other than the expected ones (left-over temporary files).
inline QStringList folderNames(const QByteArray &posixFolder)
{
    return QDir(QFile::decodeName(posixFolder))
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Makes count x count folders below `relative` (drive c:) quickly.
inline void makeFolderGrid(const TempDrives &drives, const QString &relative, int count,
                           QChar letter = QLatin1Char('c'))
{
    drives.makeFolder(relative, letter);
    for (int i = 0; i < count; ++i) {
        const QByteArray outer = drives.posix(relative, letter) + "/d" + QByteArray::number(i);
        ::mkdir(outer.constData(), 0755);
        for (int j = 0; j < count; ++j)
            ::mkdir((outer + "/e" + QByteArray::number(j)).constData(), 0755);
    }
}

inline bool moveFile(const TempDrives &drives, const QString &from, const QString &to,
                     QChar letter = QLatin1Char('c'))
{
    QDir().mkpath(QFileInfo(QFile::decodeName(drives.posix(to, letter))).path());
    return ::rename(drives.posix(from, letter).constData(), drives.posix(to, letter).constData()) == 0;
}
