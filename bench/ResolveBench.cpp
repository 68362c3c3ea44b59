// Times the link steps (create, load, resolve with update, get path,
// release) for 1,000 shortcuts whose targets are missing, on a drive of
// 100,000 entries (about 9,100 folders and 90,900 files). 100 targets can be
// found again (80 moved elsewhere on the drive, 20 renamed in place); 900
// cannot (450 in folders that still exist, 450 in folders that are gone).
// One service object serves all links, as in a scan.

#include "lnk/LnkFile.h"
#include "platform/DriveContext.h"
#include "platform/DriveMap.h"
#include "platform/MountTable.h"
#include "shell/FileFacts.h"
#include "shell/ShellLinkService.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kTops = 10, kMids = 10, kLeaves = 90, kFilesPerLeaf = 10;
constexpr int kTotalEntries = 100000;
constexpr int kLinks = 1000, kFindable = 100, kRenamed = 20;

void makeFolder(const QByteArray &path)
{
    if (::mkdir(path.constData(), 0755) != 0 && errno != EEXIST) {
        std::perror(path.constData());
        std::exit(1);
    }
}

void makeFile(const QByteArray &path, int size)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.constData());
        std::exit(1);
    }
    if (size > 0) {
        const QByteArray bytes(size, 'x');
        if (::write(fd, bytes.constData(), size_t(size)) != size)
            std::exit(1);
    }
    ::close(fd);
}

QByteArray leaf(const QByteArray &data, int top, int mid, int leafIndex)
{
    return data + "/t" + QByteArray::number(top) + "/m" + QByteArray::number(mid) + "/l" +
           QByteArray::number(leafIndex);
}

QString winOf(const QByteArray &root, const QByteArray &posix)
{
    QString path = QStringLiteral("c:") + QFile::decodeName(posix.mid(root.size()));
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return path;
}

void writeLink(const QByteArray &root, const QByteArray &linkPosix, const QByteArray &targetPosix,
               const FileFacts *facts)
{
    LnkTargetInfo info;
    info.winPath = winOf(root, targetPosix);
    if (facts) {
        info.attributes = facts->attributes;
        info.size = facts->size;
        info.creationTime = facts->creationTime;
        info.accessTime = facts->accessTime;
        info.writeTime = facts->writeTime;
    } else {
        // A target that is already gone: made-up but plausible header facts.
        info.attributes = 0x20;
        info.size = 4096;
        info.creationTime = info.accessTime = info.writeTime = 133000000000000000ULL;
    }
    auto made = LnkFile::create(info, winOf(root, linkPosix));
    if (!std::holds_alternative<LnkFile>(made)) {
        std::fprintf(stderr, "cannot make link: %s\n", qPrintable(std::get<LnkError>(made).what));
        std::exit(1);
    }
    QFile file(QFile::decodeName(linkPosix));
    if (!file.open(QIODevice::WriteOnly) || file.write(std::get<LnkFile>(made).serialize()) < 0)
        std::exit(1);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    QTemporaryDir holder(base + QStringLiteral("/resolve-bench-XXXXXX"));
    if (!holder.isValid()) {
        std::fprintf(stderr, "cannot make a folder in %s\n", qPrintable(base));
        return 1;
    }
    const QByteArray root = QFile::encodeName(QFileInfo(holder.path()).canonicalFilePath());
    DriveMap map;
    map.insert(QLatin1Char('c'), root);
    const auto drives = std::make_shared<const DriveContext>(map, std::make_shared<const MountSource>());

    std::printf("building the tree in %s ...\n", root.constData());
    std::fflush(stdout);
    QElapsedTimer build;
    build.start();
    const QByteArray data = root + "/data";
    const QByteArray links = root + "/links";
    makeFolder(data);
    makeFolder(links);
    int entries = 2;
    for (int t = 0; t < kTops; ++t) {
        makeFolder(data + "/t" + QByteArray::number(t));
        ++entries;
        for (int m = 0; m < kMids; ++m) {
            makeFolder(data + "/t" + QByteArray::number(t) + "/m" + QByteArray::number(m));
            ++entries;
            for (int l = 0; l < kLeaves; ++l) {
                makeFolder(leaf(data, t, m, l));
                ++entries;
            }
        }
    }
    // Files: ten per leaf folder, with names that repeat across the tree
    // like real ones do (readme.txt, index.html), and the rest in the
    // middle folders.
    static const char *const common[] = {"readme.txt", "index.html", "setup.exe", "icon.png"};
    for (int t = 0; t < kTops; ++t)
        for (int m = 0; m < kMids; ++m)
            for (int l = 0; l < kLeaves; ++l)
                for (int f = 0; f < kFilesPerLeaf; ++f, ++entries) {
                    const QByteArray name = f < 4 && (l % 9 == f)
                                                ? QByteArray(common[f])
                                                : "doc_" + QByteArray::number(t) + "_" +
                                                      QByteArray::number(m) + "_" + QByteArray::number(l) +
                                                      "_" + QByteArray::number(f) + ".dat";
                    makeFile(leaf(data, t, m, l) + '/' + name, 0);
                }
    for (int i = 0; entries < kTotalEntries - kLinks; ++i, ++entries)
        makeFile(data + "/t" + QByteArray::number(i % kTops) + "/m" +
                     QByteArray::number((i / kTops) % kMids) + "/extra_" + QByteArray::number(i) + ".dat",
                 0);

    // The links. Findable targets are made, linked, then moved or renamed.
    QRandomGenerator random(20240601);
    std::vector<QString> linkPaths;
    for (int i = 0; i < kLinks; ++i) {
        const QByteArray link = links + "/link" + QByteArray::number(i) + ".lnk";
        const int t = int(random.bounded(kTops)), m = int(random.bounded(kMids)),
                  l = int(random.bounded(kLeaves));
        const QByteArray name = "target_" + QByteArray::number(i) + ".bin";
        if (i < kFindable) {
            const QByteArray original = leaf(data, t, m, l) + '/' + name;
            makeFile(original, 100 + i);
            FileFacts facts;
            readFacts(original, facts);
            writeLink(root, link, original, &facts);
            const QByteArray moved = i < kRenamed
                                         ? leaf(data, t, m, l) + "/renamed_" + QByteArray::number(i) + ".bin"
                                         : leaf(data, int(random.bounded(kTops)), int(random.bounded(kMids)),
                                                int(random.bounded(kLeaves))) +
                                               '/' + name;
            if (::rename(original.constData(), moved.constData()) != 0)
                return 1;
        } else if (i < kFindable + (kLinks - kFindable) / 2) {
            writeLink(root, link, leaf(data, t, m, l) + '/' + name, nullptr);
        } else {
            writeLink(root, link, data + "/gone" + QByteArray::number(i) + "/sub/" + name, nullptr);
        }
        linkPaths.push_back(winOf(root, link));
        ++entries;
    }
    std::shuffle(linkPaths.begin(), linkPaths.end(), random);
    std::printf("tree: %d entries (%d links), built in %.1f s\n", entries, kLinks, build.elapsed() / 1000.0);

    // The scan's judgement of every shortcut, one service for all.
    ShellLinkService service(drives);
    std::vector<double> ms;
    double foundMs = 0, brokenMs = 0;
    int found = 0, broken = 0;
    QElapsedTimer clock;
    for (const QString &linkPath : linkPaths) {
        clock.start();
        const LinkVerdict verdict = service.judge(linkPath, LinkJudge::Options{true, true, 0, false});
        ms.push_back(clock.nsecsElapsed() / 1e6);
        if (ms.size() == 1)
            continue; // the first one reads the drive; counted apart
        if (verdict.status == LinkVerdict::Status::Repaired ||
            verdict.status == LinkVerdict::Status::Healthy) {
            ++found;
            foundMs += ms.back();
        } else if (verdict.status == LinkVerdict::Status::Broken) {
            ++broken;
            brokenMs += ms.back();
        }
    }

    const double first = ms.front();
    std::vector<double> rest(ms.begin() + 1, ms.end());
    double sum = 0;
    for (double v : rest)
        sum += v;
    std::sort(rest.begin(), rest.end());
    std::printf("resolved %d links; after the first: %d found again (average %.3f ms, rewrite included), "
                "%d not found (average %.3f ms)\n",
                int(ms.size()), found, found ? foundMs / found : 0.0, broken,
                broken ? brokenMs / broken : 0.0);
    std::printf("first link: %.1f ms (reads the drive)\n", first);
    std::printf("after the first: average %.3f ms, median %.3f ms, 99th percentile %.3f ms, max %.3f ms\n",
                sum / double(rest.size()), rest[rest.size() / 2], rest[rest.size() * 99 / 100], rest.back());
    std::printf("cached entries: %lld\n", static_cast<long long>(service.cachedEntries()));
    return found + broken == kLinks - 1 && found >= kFindable - 1 ? 0 : 2;
}
