#pragma once

// A deletion as the window runs it: a temporary drive, a fake window holding
// the scan's results, the real shell services over a sandboxed trash and a
// user interface of the test's choosing.

#include "review/ResultReview.h"

#include "ReviewFakes.h"
#include "shell/ShellTestKit.h"
#include "support/TempDrives.h"

#include <gtest/gtest.h>

#include <memory>

template <typename Ui> class DeletionFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_trash = TrashSandbox::emptyTrash();
        // Never let a test reach the user's own trash.
        ASSERT_EQ(ShellServices::homeTrashFolder(), TrashSandbox::expected());
    }

    // Writes one shortcut file per relative path (its contents the path) and
    // lists them all, ticked, as a scan leaves them.
    QStringList listShortcuts(const QStringList &relatives)
    {
        QStringList paths;
        for (const QString &relative : relatives) {
            m_drives.writeFile(relative, relative.toUtf8());
            paths << m_drives.win(relative);
        }
        m_host.fill(paths);
        return paths;
    }

    QByteArray posix(const QString &relative) const { return m_drives.posix(relative); }

    // Whether the trash holds the file with its original path and contents.
    bool restorable(const QByteArray &posixPath, const QByteArray &contents) const
    {
        for (const TrashedFile &file : trashContents(m_trash)) {
            if (file.originalPath == posixPath)
                return file.infoHeaderOk && file.hasFile && file.contents == contents;
        }
        return false;
    }
    // The same for a shortcut made by listShortcuts.
    bool restorable(const QString &relative) const { return restorable(posix(relative), relative.toUtf8()); }

    TempDrives m_drives;
    FakeHost m_host;
    NoLinks m_links; // the deletion opens no links
    Ui m_ui;
    std::unique_ptr<ShellServices> m_shell = ShellServices::create(m_ui, m_drives.context());
    ResultReview m_review{m_host, m_links, *m_shell};
    QByteArray m_trash;
};
