#pragma once

#include "platform/FolderListing.h"
#include "shell/ShellLink.h"

#include <QHash>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <memory>

// What a fake link does for one shortcut path.
struct FakeLink
{
    win::HRESULT load = win::S_OK;
    win::HRESULT resolve = win::S_OK;
    win::HRESULT getPath = win::S_OK;
    // What GetPath writes (also when it fails), cut to the size it is told.
    QString target;
    // Runs inside Resolve, like the progress hook of a long search.
    std::function<void()> duringResolve;
};

inline FakeLink linkTo(const QString &target, win::HRESULT load = win::S_OK, win::HRESULT resolve = win::S_OK,
                       win::HRESULT getPath = win::S_OK, std::function<void()> duringResolve = {})
{
    return FakeLink{load, resolve, getPath, target, std::move(duringResolve)};
}

// A listing source that keeps nothing and counts the walks that asked it.
struct CountingListings : FolderListingSource
{
    quint32 startFolder(const QByteArray &, const FileIdentity &) override
    {
        ++starts;
        return 0;
    }
    bool listing(quint32, FolderListing &) override { return false; }
    void beginListing(quint32, const FolderStamp &) override {}
    void addEntries(quint32, const FolderListing &, size_t) override {}
    bool endListing(quint32, FolderListing &) override { return false; }
    void dropListing(quint32) override {}
    int starts = 0;
};

// A link service whose steps fail on demand. Every step and release goes to
// a log; Load looks the path up in `links` (a path it does not know fails to
// load, like a file that is not a link).
class FakeLinks : public ShellLinkFactory
{
public:
    explicit FakeLinks(QStringList &log) : m_log(log) {}

    QHash<QString, FakeLink> links;
    win::HRESULT createResult = win::S_OK;
    win::HRESULT queryResult = win::S_OK;
    // Every path Load was given, in order.
    QStringList loaded;
    int liveObjects = 0;
    // Whether every GetPath call found the buffer zeroed.
    bool buffersZeroed = true;

    // The scan's bracket: "begin", "create" for every link object, "end".
    QStringList scanSteps;
    // The progress hook while a scan runs; empty otherwise.
    std::function<void()> progress;
    // What scanListings() offers while a scan runs.
    CountingListings listings;

    void beginScan(std::function<void()> hook) override
    {
        scanSteps << QStringLiteral("begin");
        progress = std::move(hook);
        m_scanning = true;
    }
    FolderListingSource *scanListings() override { return m_scanning ? &listings : nullptr; }
    void endScan() override
    {
        scanSteps << QStringLiteral("end");
        progress = {};
        m_scanning = false;
    }

    win::HRESULT CoCreateInstance(std::unique_ptr<ShellLink> &out) override
    {
        m_log << QStringLiteral("create");
        scanSteps << QStringLiteral("create");
        if (win::FAILED(createResult))
            return createResult;
        out = std::make_unique<Link>(*this);
        return win::S_OK;
    }

private:
    class File : public PersistFile
    {
    public:
        File(FakeLinks &owner, const FakeLink *&current) : m_owner(owner), m_current(current)
        {
            ++m_owner.liveObjects;
        }
        ~File() override
        {
            --m_owner.liveObjects;
            m_owner.m_log << QStringLiteral("release PersistFile");
        }
        win::HRESULT Load(const QString &path, quint32 mode) override
        {
            m_owner.m_log << QStringLiteral("Load %1 %2").arg(path).arg(mode);
            m_owner.loaded << path;
            const auto found = m_owner.links.constFind(path);
            if (found == m_owner.links.constEnd())
                return win::E_FAIL;
            if (win::SUCCEEDED(found->load))
                m_current = &*found;
            return found->load;
        }

    private:
        FakeLinks &m_owner;
        const FakeLink *&m_current;
    };

    class Link : public ShellLink
    {
    public:
        explicit Link(FakeLinks &owner) : m_owner(owner) { ++m_owner.liveObjects; }
        ~Link() override
        {
            --m_owner.liveObjects;
            m_owner.m_log << QStringLiteral("release ShellLink");
        }
        win::HRESULT QueryPersistFile(std::unique_ptr<PersistFile> &out) override
        {
            m_owner.m_log << QStringLiteral("query");
            if (m_owner.queryResult != win::S_OK)
                return m_owner.queryResult;
            out = std::make_unique<File>(m_owner, m_current);
            return win::S_OK;
        }
        win::HRESULT Resolve(quintptr hwnd, quint32 flags) override
        {
            m_owner.m_log << QStringLiteral("Resolve %1 %2").arg(hwnd).arg(flags);
            if (!m_current)
                return win::E_UNEXPECTED;
            if (m_current->duringResolve)
                m_current->duringResolve();
            return m_current->resolve;
        }
        win::HRESULT GetPath(char16_t *buffer, int cch, win::WIN32_FIND_DATAW *findData,
                             quint32 flags) override
        {
            m_owner.m_log << QStringLiteral("GetPath %1 %2").arg(cch).arg(flags);
            if (!m_current || !findData || cch <= 0)
                return win::E_INVALIDARG;
            // The buffer must hold one more character than the service is told.
            if (!std::all_of(buffer, buffer + cch + 1, [](char16_t c) { return c == 0; }))
                m_owner.buffersZeroed = false;
            const QString text = m_current->target.left(cch - 1);
            std::copy(text.utf16(), text.utf16() + text.size(), buffer);
            buffer[text.size()] = 0;
            return m_current->getPath;
        }

    private:
        FakeLinks &m_owner;
        const FakeLink *m_current = nullptr;
    };

    QStringList &m_log;
    bool m_scanning = false;
};
