// The link service's index of a drive with many entries of one name, against
// the same number of entries with names all their own.
//
//   index-bench [--folders N]        (default 250,000)
//
// N folders each hold index.js, package.json, README.md and a file of a
// name of its own (the shape of node_modules, or of Windows' component
// store), below 500 folders at the top; the second shape gives every entry
// a name of its own. The listings are handed to the index as a scan's walk
// hands them over, made up rather than read, so the figures are the
// index's own: the time to take them all, the longest any one folder took
// (the longest the window would wait, as the walk dispatches between two
// folders), the time to find every index.js, and the memory held.

#include "platform/DriveContext.h"
#include "platform/MountTable.h"
#include "shell/DirIndex.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Shape
{
    const char *title;
    bool shared; // index.js & co. in every folder
};

class Feeder
{
public:
    explicit Feeder(DirIndex &index) : m_index(index) {}

    // Hands over one folder's listing; the handles of its sub-folders.
    std::vector<quint32> handOver(quint32 folder, const std::vector<std::string> &files,
                                  const std::vector<std::string> &folders)
    {
        FolderListing listing;
        listing.stamp.identity = FileIdentity{dev_t(1), ino_t(++m_inode)};
        listing.stamp.readAtNs = 1;
        const auto add = [&](const std::string &name, EntryType type) {
            FolderListing::Item item;
            item.nameAt = quint32(listing.names.size());
            item.nameSize = quint8(name.size());
            item.type = type;
            item.inode = ino_t(++m_inode);
            listing.names.append(name.data(), name.size() + 1);
            listing.items.push_back(item);
        };
        for (const std::string &name : files)
            add(name, EntryType::File);
        for (const std::string &name : folders)
            add(name, EntryType::Folder);

        QElapsedTimer clock;
        clock.start();
        m_index.beginListing(folder, listing.stamp);
        m_index.addEntries(folder, listing, 0);
        m_index.endListing(folder, listing);
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        longestMs = std::max(longestMs, ms);
        totalMs += ms;

        std::vector<quint32> handles;
        for (const FolderListing::Item &item : listing.items)
            if (item.type == EntryType::Folder)
                handles.push_back(item.handle);
        return handles;
    }

    double longestMs = 0, totalMs = 0;

private:
    DirIndex &m_index;
    quint64 m_inode = 1;
};

void run(const Shape &shape, int folders)
{
    // A made-up drive: no map, this machine's mounts.
    DirIndex index(std::make_shared<const DriveContext>(DriveMap(), std::make_shared<const MountSource>()));
    Feeder feeder(index);
    const int tops = 500;
    const quint32 root = index.startFolder("/made-up-drive", FileIdentity{dev_t(1), ino_t(1)});
    std::vector<std::string> topNames;
    for (int t = 0; t < tops; ++t)
        topNames.push_back("package-" + std::to_string(t));
    const std::vector<quint32> topHandles = feeder.handOver(root, {"README.md"}, topNames);

    int made = 0;
    for (int t = 0; t < tops; ++t) {
        std::vector<std::string> below;
        const int count = folders / tops + (t < folders % tops ? 1 : 0);
        for (int m = 0; m < count; ++m)
            below.push_back("module-" + std::to_string(t) + "-" + std::to_string(m));
        const std::vector<quint32> handles = feeder.handOver(topHandles[size_t(t)], {}, below);
        for (const quint32 handle : handles) {
            const std::string own = std::to_string(made++);
            if (shape.shared)
                feeder.handOver(handle, {"index.js", "package.json", "README.md", "lib-" + own + ".js"}, {});
            else
                feeder.handOver(handle,
                                {"index-" + own + ".js", "package-" + own + ".json", "README-" + own + ".md",
                                 "lib-" + own + ".js"},
                                {});
        }
    }

    QElapsedTimer clock;
    clock.start();
    std::vector<DirIndex::Hit> hits;
    index.find(shape.shared ? "index.js" : "index-12345.js", "/made-up-drive", hits);
    const double findMs = double(clock.nsecsElapsed()) / 1e6;

    std::printf("%-32s %9lld entries: %8.1f ms in all, longest folder %6.2f ms, find %7.1f ms (%zu found), "
                "%6.1f MB held\n",
                shape.title, qlonglong(index.entryCount()), feeder.totalMs, feeder.longestMs, findMs,
                hits.size(), double(index.bytesHeld()) / (1 << 20));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int folders = 250000;
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args[0] == QLatin1String("--folders"))
        folders = std::max(1, args[1].toInt());
    else if (!args.isEmpty()) {
        std::fprintf(stderr, "usage: index-bench [--folders N]\n");
        return 2;
    }
    run(Shape{"index.js in every folder", true}, folders);
    run(Shape{"every name its own", false}, folders);
    return 0;
}
