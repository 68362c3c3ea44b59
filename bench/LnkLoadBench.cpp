// Times what the scan does for each shortcut before resolving it: read the
// file, load it, get its path (UNC priority). 10,000 links made by our own
// writer, with a mix of names, encodings and structures, are written to a
// temporary folder first; each pass then reads every file again. Reported:
// the codec alone (bytes already in memory), with plain POSIX reads
// (open, read to the end, close), and with QFile, which makes several more
// system calls per file.

#include "lnk/LnkFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kLinks = 10000;
constexpr int kPasses = 5;

QByteArray makeLink(int i)
{
    static const QString kNames[] = {
        QStringLiteral("report %1.docx"),
        QStringLiteral("Caf\u00e9 cr\u00e8me %1.txt"),
        QStringLiteral("\u6570\u636e %1.xlsx"),
        QStringLiteral("setup, v%1.exe"),
    };
    LnkTargetInfo target;
    const QString name = kNames[i % 4].arg(i);
    target.winPath = i % 10 == 9 ? QStringLiteral("\\\\server\\share\\dept %1\\%2").arg(i % 37).arg(name)
                                 : QStringLiteral("c:\\Users\\Public\\Documents\\Project %1\\sub %2\\%3")
                                       .arg(i % 101)
                                       .arg(i % 7)
                                       .arg(name);
    target.attributes = 0x20;
    target.size = 1000 + i;
    target.creationTime = 0x01D6A67D48C6A08Cull + i;
    target.writeTime = 0x01D6A67D48D482B1ull + i;
    target.driveSerial = 0x7CF6639A;
    LnkCreateOptions options;
    options.unicode = i % 3 != 0 || i % 4 == 2;
    options.name = QStringLiteral("Shortcut %1").arg(i);
    options.workingDirectory = QStringLiteral("c:\\Users\\Public\\Documents");
    if (i % 5 == 0)
        options.environmentTarget = QStringLiteral("%PUBLIC%\\Documents\\x%1.txt").arg(i);
    auto created =
        LnkFile::create(target, QStringLiteral("c:\\Users\\Public\\Desktop\\link %1.lnk").arg(i), options);
    if (!std::holds_alternative<LnkFile>(created))
        return {};
    return std::get<LnkFile>(created).serialize();
}

} // namespace

int main()
{
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    std::vector<QString> files;
    files.reserve(kLinks);
    for (int i = 0; i < kLinks; ++i) {
        const QByteArray bytes = makeLink(i);
        const QString path = dir.filePath(QStringLiteral("link %1.lnk").arg(i));
        QFile f(path);
        if (bytes.isEmpty() || !f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "cannot write link %d\n", i);
            return 1;
        }
        files.push_back(path);
    }

    std::vector<QByteArray> contents;
    contents.reserve(kLinks);
    for (const QString &path : files) {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        contents.push_back(f.readAll());
    }

    auto posixRead = [](const QString &path) {
        QByteArray bytes;
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return bytes;
        char buffer[16384];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            bytes.append(buffer, n);
        }
        ::close(fd);
        return bytes;
    };
    auto qfileRead = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };

    qint64 checksum = 0;
    // Microseconds per link over several passes; nothing when a link failed.
    auto measure = [&](const std::function<QByteArray(int)> &bytesOf) -> std::vector<double> {
        std::vector<double> perLink;
        for (int pass = 0; pass < kPasses; ++pass) {
            int withPath = 0;
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < kLinks; ++i) {
                const auto parsed = LnkFile::parse(bytesOf(i));
                if (const auto *link = std::get_if<LnkFile>(&parsed)) {
                    const auto target = link->targetPath(true);
                    if (target && !target->isEmpty()) {
                        ++withPath;
                        checksum += target->size();
                    }
                }
            }
            const auto end = std::chrono::steady_clock::now();
            if (withPath != kLinks)
                return {};
            perLink.push_back(std::chrono::duration<double, std::micro>(end - start).count() / kLinks);
        }
        std::sort(perLink.begin(), perLink.end());
        return perLink;
    };
    const struct
    {
        const char *what;
        std::function<QByteArray(int)> bytesOf;
    } runs[] = {
        {"codec only (bytes in memory)", [&](int i) { return contents[static_cast<size_t>(i)]; }},
        {"POSIX read + codec", [&](int i) { return posixRead(files[static_cast<size_t>(i)]); }},
        {"QFile read + codec", [&](int i) { return qfileRead(files[static_cast<size_t>(i)]); }},
    };
    std::printf("lnk load + targetPath(UNC priority), %d links, %d passes each\n", kLinks, kPasses);
    for (const auto &run : runs) {
        const std::vector<double> perLink = measure(run.bytesOf);
        if (perLink.empty()) {
            std::fprintf(stderr, "%s: some links gave no path\n", run.what);
            return 1;
        }
        std::printf("  %-30s best %7.2f us, median %7.2f us per link\n", run.what, perLink.front(),
                    perLink[perLink.size() / 2]);
    }
    std::printf("  (checksum %lld)\n", static_cast<long long>(checksum));
    return 0;
}
