// Times `Linkmend repair` and `Linkmend check` from the command line (no window, no display)
// against `find` listing the same shortcut files.
//
//   cli-bench [--size S|M|L] [--dir FOLDER] [--rounds N] [--check-only]
//
// The tree is the scan benchmark's (bench/make-tree, made in FOLDER, default
// $TMPDIR/linkmend-bench-<size>, when it is not there yet). Each round puts
// the moved shortcuts back as planted, runs `Linkmend repair --json` on a
// temporary Wine prefix whose c: is the tree, runs find, puts the moved
// shortcuts back again, runs `Linkmend check --json` (which only looks), and find
// again; each program's wall time from start to exit. Checked, every run:
// the broken shortcuts reported are exactly the planted ones, the repairs
// (made or, by check, reported) are exactly the moved ones with their
// new places, and check left every moved shortcut as planted.
// Printed: the median ratios check / find. Exit status 0 when every check
// passed.

#include "bench/TreeChecks.h"
#include "bench/TreeGenerator.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <unistd.h>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

class CliBench : public TreeChecks
{
public:
    CliBench(const QByteArray &tree, const TreeManifest &manifest) : TreeChecks(tree, manifest) {}

    bool setUp()
    {
        const QByteArray devices = QFile::encodeName(m_prefix.path()) + "/dosdevices";
        const QByteArray drive = TreeGenerator::driveFolder(m_tree);
        return m_prefix.isValid() && QDir().mkpath(QFile::decodeName(devices)) &&
               ::symlink(drive.constData(), (devices + "/c:").constData()) == 0;
    }

    // One run of `Linkmend repair` (or, dry, `check`); its wall time in seconds.
    double check(bool dryRun)
    {
        restoreMoved();
        // `check` only looks; `repair` writes.
        const QStringList arguments = {dryRun ? QStringLiteral("check") : QStringLiteral("repair"),
                                       QStringLiteral("--json"), QStringLiteral("--prefix"), m_prefix.path(),
                                       QStringLiteral("c:")};
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        // The repairs' journal stays with the benchmark's prefix.
        environment.insert(QStringLiteral("XDG_STATE_HOME"), m_prefix.path() + QStringLiteral("/state"));
        program.setProcessEnvironment(environment);
        QElapsedTimer clock;
        clock.start();
        program.start(QStringLiteral(LINKMEND_PROGRAM), arguments);
        program.waitForFinished(-1);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        const QString which = dryRun ? QStringLiteral("dry run") : QStringLiteral("check");
        expect(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 1,
               QStringLiteral("%1 exited with %2: %3")
                   .arg(which)
                   .arg(program.exitCode())
                   .arg(QString::fromUtf8(program.readAllStandardError())));
        checkBrokenAndRepairs(QJsonDocument::fromJson(program.readAllStandardOutput()).object(), which,
                              !(dryRun));
        if (dryRun)
            checkMovedAsPlanted();
        return seconds;
    }

    double find()
    {
        QProcess find;
        QElapsedTimer clock;
        clock.start();
        find.start(QStringLiteral("find"),
                   {QFile::decodeName(TreeGenerator::driveFolder(m_tree)), QStringLiteral("-name"),
                    QStringLiteral(".*"), QStringLiteral("-prune"), QStringLiteral("-o"),
                    QStringLiteral("-iname"), QStringLiteral("*.lnk"), QStringLiteral("-print")});
        find.waitForFinished(-1);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        expect(find.readAllStandardOutput().count('\n') == m_manifest.findLines,
               QStringLiteral("find listed another number of shortcut files than planted"));
        return seconds;
    }

private:
    QTemporaryDir m_prefix;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QByteArray size = "M";
    QString folder;
    int rounds = 7;
    bool checkOnly = false;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        if (TreeGenerator::takeTreeOption(arg, args, size, folder, rounds))
            continue;
        if (arg == QLatin1String("--check-only"))
            checkOnly = true;
        else
            rounds = 0;
    }
    if (!TreeSpec::named(size) || rounds < 1) {
        std::fprintf(stderr, "usage: cli-bench [--size S|M|L] [--dir FOLDER] [--rounds N] [--check-only]\n");
        return 2;
    }
    QString error;
    const std::optional<TreeManifest> manifest = TreeGenerator::readOrMake(size, folder, &error);
    if (!manifest) {
        std::fprintf(stderr, "%s: %s\n", "cli-bench", qPrintable(error));
        return 1;
    }
    const QByteArray tree = QFile::encodeName(folder);

    CliBench bench(tree, *manifest);
    if (!bench.setUp()) {
        std::fprintf(stderr, "cli-bench: cannot make a Wine prefix\n");
        return 1;
    }
    std::vector<double> repairRatios, dryRatios, checkTimes, dryTimes, findTimes;
    if (!checkOnly) {
        // Warms the caches; not counted.
        bench.check(false);
        bench.find();
    }
    for (int round = 1; round <= (checkOnly ? 1 : rounds); ++round) {
        const double check = bench.check(false);
        const double find1 = bench.find();
        const double dry = bench.check(true);
        const double find2 = bench.find();
        repairRatios.push_back(check / find1);
        dryRatios.push_back(dry / find2);
        checkTimes.push_back(check);
        dryTimes.push_back(dry);
        findTimes.push_back(find1);
        findTimes.push_back(find2);
        if (!checkOnly)
            std::printf("round %d: check %.3f s, find %.3f s (x%.2f); dry run %.3f s, find %.3f s (x%.2f)\n",
                        round, check, find1, check / find1, dry, find2, dry / find2);
    }
    if (!checkOnly) {
        std::printf("\nmedian command-line check with repairs / find: %.2f (check %.3f s, find %.3f s)\n",
                    median(repairRatios), median(checkTimes), median(findTimes));
        std::printf("median command-line dry run / find:           %.2f (dry run %.3f s)\n",
                    median(dryRatios), median(dryTimes));
    }
    for (const QString &failure : bench.failures())
        std::printf("FAILED: %s\n", qPrintable(failure));
    std::printf("%s\n",
                bench.failures().isEmpty() ? "results: as planted, every run" : "results: NOT as planted");
    return bench.failures().isEmpty() ? 0 : 1;
}
