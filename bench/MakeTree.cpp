// Makes a benchmark drive tree (see TreeGenerator.h).
//
//   make-tree S|M|L <folder> [--seed N]
//   make-tree --entries N --shortcuts K <folder> [--seed N]

#include "bench/TreeGenerator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: make-tree S|M|L <folder> [--seed N]\n"
                         "       make-tree --entries N --shortcuts K <folder> [--seed N]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    TreeSpec layout;
    QString folder;
    bool custom = false;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        bool ok = true;
        if (arg == QLatin1String("--seed") && !args.isEmpty()) {
            layout.seed = args.takeFirst().toULongLong(&ok, 0);
        } else if (arg == QLatin1String("--entries") && !args.isEmpty()) {
            layout.entries = args.takeFirst().toLongLong(&ok);
            custom = true;
        } else if (arg == QLatin1String("--shortcuts") && !args.isEmpty()) {
            layout.shortcuts = args.takeFirst().toLongLong(&ok);
            custom = true;
        } else if (const auto named = TreeSpec::named(arg.toLatin1());
                   named && !custom && layout.entries == 0) {
            const quint64 seed = layout.seed;
            layout = *named;
            layout.seed = seed;
        } else if (folder.isEmpty() && !arg.startsWith(QLatin1Char('-'))) {
            folder = arg;
        } else {
            return usage();
        }
        if (!ok)
            return usage();
    }
    if (folder.isEmpty() || layout.entries <= 0 || layout.shortcuts <= 0)
        return usage();

    QElapsedTimer clock;
    clock.start();
    QString error;
    const std::optional<TreeManifest> manifest =
        TreeGenerator::generate(layout, QFile::encodeName(folder), &error, [](const QString &line) {
            std::fprintf(stderr, "make-tree: %s\n", qPrintable(line));
        });
    if (!manifest) {
        std::fprintf(stderr, "make-tree: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("tree %s in %s: %lld folders, %lld files; %lld shortcuts examined (%lld broken, %lld moved), "
                "%lld in hidden folders; made in %.1f s\n",
                manifest->layout.sizeName.constData(), qPrintable(folder), manifest->folders, manifest->files,
                manifest->examined, qint64(manifest->broken.size()), qint64(manifest->moved.size()),
                manifest->hiddenShortcuts, double(clock.elapsed()) / 1000.0);
    return 0;
}
