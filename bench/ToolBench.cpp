// Times Linkmend's command line against find, bfs and fd on one drive tree,
// in one run, with the caches as a user meets them:
//
//   tool-bench --mode warm|cold|share [--size S|M|L] [--dir FOLDER] [--rounds N]
//              [--delay-us N] [--command "check --json"]
//
//   warm   the page cache holds the tree (a run of each tool first, not counted);
//   cold   the page cache is dropped before every run (as root:
//          `sync; echo 3 > /proc/sys/vm/drop_caches`); where that is not
//          allowed, the bench says so and measures nothing;
//   share  the tree is seen through delay-fs, a FUSE pass-through that waits
//          --delay-us (default 1000) on every request, as a file server a
//          round trip away does.
//
// Every tool gets the same question: the shortcut files of the drive, hidden
// folders left out. find and bfs run `find DRIVE -name '.*' -prune -o -iname
// '*.lnk' -print` (from ".", the start itself would match '.*' and be pruned),
// fd `fdfind -I -e lnk` in the drive's folder; Linkmend
// runs `Linkmend <command> --prefix P c:` on a temporary Wine prefix whose
// c: is that folder. Each run is timed from the program's start to its exit
// and checked: find, bfs and fd list the same files, as many as planted;
// Linkmend reports exactly the planted broken shortcuts and every moved one
// with its new place, and leaves the moved ones as planted when it only
// looks. The order of the tools turns round from one round to the next.
//
// Needs bfs, fd-find and fuse3 (bench/setup-tools.sh installs them).

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
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include <unistd.h>

namespace {

// The command line's arguments before `--prefix P c:`: check only looks,
// and reports what it would repair.
const QStringList kDefaultCommand = {QStringLiteral("check"), QStringLiteral("--json")};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool mounted(const QByteArray &point)
{
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() > 4 && fields.at(4) == point)
            return true;
    }
    return false;
}

// delay-fs over the drive's folder, for the length of the bench.
class DelayedShare
{
public:
    bool mount(const QByteArray &source, long delayUs, QString *error)
    {
        if (!m_folder.isValid()) {
            *error = QStringLiteral("no temporary folder");
            return false;
        }
        m_point = QFile::encodeName(m_folder.path()) + "/share";
        QDir().mkpath(QFile::decodeName(m_point));
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(DELAY_FS_PROGRAM),
                        {QFile::decodeName(source), QFile::decodeName(m_point), QStringLiteral("--delay-us"),
                         QString::number(delayUs), QStringLiteral("-f")});
        QElapsedTimer clock;
        clock.start();
        while (!mounted(m_point) && clock.elapsed() < 10000 && m_process.state() != QProcess::NotRunning)
            QThread::msleep(20);
        if (!mounted(m_point)) {
            *error = QStringLiteral("delay-fs did not mount (is fuse3 installed, /dev/fuse there?)");
            return false;
        }
        return true;
    }
    ~DelayedShare()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        QProcess::execute(QStringLiteral("fusermount3"), {QStringLiteral("-u"), QFile::decodeName(m_point)});
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    const QByteArray &point() const { return m_point; }

private:
    QTemporaryDir m_folder;
    QByteArray m_point;
    QProcess m_process;
};

class ToolBench : public TreeChecks
{
public:
    ToolBench(const QByteArray &tree, const QByteArray &drive, const TreeManifest &manifest,
              QStringList command)
        : TreeChecks(tree, manifest), m_drive(drive), m_command(std::move(command))
    {}

    bool setUp()
    {
        const QByteArray devices = QFile::encodeName(m_prefix.path()) + "/dosdevices";
        return m_prefix.isValid() && QDir().mkpath(QFile::decodeName(devices)) &&
               ::symlink(m_drive.constData(), (devices + "/c:").constData()) == 0;
    }

    // One run of a tool; its wall time in seconds.
    double run(const QString &tool)
    {
        QProcess program;
        program.setWorkingDirectory(QFile::decodeName(m_drive));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        program.setProcessEnvironment(environment);
        QString executable;
        QStringList arguments;
        const QStringList expression = {QFile::decodeName(m_drive), QStringLiteral("-name"),
                                        QStringLiteral(".*"),       QStringLiteral("-prune"),
                                        QStringLiteral("-o"),       QStringLiteral("-iname"),
                                        QStringLiteral("*.lnk"),    QStringLiteral("-print")};
        if (tool == QLatin1String("find") || tool == QLatin1String("bfs")) {
            executable = tool;
            arguments = expression;
        } else if (tool == QLatin1String("fd")) {
            executable = QStringLiteral("fdfind");
            arguments = {QStringLiteral("-I"), QStringLiteral("-e"), QStringLiteral("lnk")};
        } else {
            restoreMoved();
            executable = QStringLiteral(LINKMEND_PROGRAM);
            arguments =
                m_command + QStringList{QStringLiteral("--prefix"), m_prefix.path(), QStringLiteral("c:")};
        }
        QElapsedTimer clock;
        clock.start();
        program.start(executable, arguments);
        program.waitForFinished(-1);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        const QByteArray out = program.readAllStandardOutput();
        if (tool == QLatin1String("Linkmend")) {
            expect(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 1,
                   QStringLiteral("Linkmend exited with %1: %2")
                       .arg(program.exitCode())
                       .arg(QString::fromUtf8(program.readAllStandardError().left(2000))));
            checkReport(QJsonDocument::fromJson(out).object());
            checkMovedAsPlantedIfLooking();
        } else {
            expect(
                program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0,
                QStringLiteral("%1 failed: %2").arg(tool, QString::fromUtf8(program.readAllStandardError())));
            checkListing(tool, out);
        }
        return seconds;
    }

private:
    void checkListing(const QString &tool, const QByteArray &out)
    {
        QSet<QByteArray> files;
        for (QByteArray line : out.split('\n')) {
            if (line.isEmpty())
                continue;
            if (line.startsWith(m_drive + '/'))
                line = line.mid(m_drive.size() + 1);
            else if (line.startsWith("./"))
                line = line.mid(2); // fd, when it writes to a pipe
            if (line.endsWith('/'))
                line.chop(1); // fd marks a folder (one named "Old Links.lnk")
            files.insert(line);
        }
        expect(files.size() == m_manifest.findLines, QStringLiteral("%1 listed %2 shortcut files, %3 planted")
                                                         .arg(tool)
                                                         .arg(files.size())
                                                         .arg(m_manifest.findLines));
        if (m_listed.isEmpty())
            m_listed = files;
        else
            expect(files == m_listed,
                   QStringLiteral("%1 listed other files than the tool before it").arg(tool));
    }

    void checkReport(const QJsonObject &report)
    {
        checkBrokenAndRepairs(report, QStringLiteral("Linkmend"));
        const QJsonObject counts = report.value(QStringLiteral("counts")).toObject();
        // (The tree plants a file named .lnk that is no shortcut: it is
        // counted among the skipped, rightly.)
        expect(report.value(QStringLiteral("complete")).toBool(true) &&
                   counts.value(QStringLiteral("unjudged")).toInteger() == 0,
               QStringLiteral("Linkmend: not everything was looked at (%1 unjudged)")
                   .arg(counts.value(QStringLiteral("unjudged")).toInteger()));
        expect(counts.value(QStringLiteral("shortcuts")).toInteger() == m_manifest.examined,
               QStringLiteral("Linkmend judged %1 shortcut files, %2 planted")
                   .arg(counts.value(QStringLiteral("shortcuts")).toInteger())
                   .arg(m_manifest.examined));
    }

    // A run that only looks leaves every moved shortcut as planted.
    void checkMovedAsPlantedIfLooking()
    {
        if (m_command.value(0) != QStringLiteral("check") && !m_command.contains(QStringLiteral("-n")) &&
            !m_command.contains(QStringLiteral("--dry-run")))
            return;
        checkMovedAsPlanted();
    }

    QByteArray m_drive;
    QStringList m_command;
    QTemporaryDir m_prefix;
    QSet<QByteArray> m_listed;
};

// Drops the page cache (and the dentries and inodes); false where not allowed.
bool dropCaches()
{
    ::sync();
    QFile control(QStringLiteral("/proc/sys/vm/drop_caches"));
    return control.open(QIODevice::WriteOnly) && control.write("3\n") == 2 && control.flush();
}

int usage()
{
    std::fprintf(stderr,
                 "usage: tool-bench --mode warm|cold|share [--size S|M|L] [--dir FOLDER] [--rounds N]\n"
                 "                  [--delay-us N] [--command \"check --json\"]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QByteArray size = "S";
    QString folder, mode;
    int rounds = 5;
    long delayUs = 1000;
    QStringList command = kDefaultCommand;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        if (TreeGenerator::takeTreeOption(arg, args, size, folder, rounds))
            continue;
        if (arg == QLatin1String("--mode") && !args.isEmpty())
            mode = args.takeFirst();
        else if (arg == QLatin1String("--delay-us") && !args.isEmpty())
            delayUs = args.takeFirst().toLong();
        else if (arg == QLatin1String("--command") && !args.isEmpty())
            command = args.takeFirst().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        else
            return usage();
    }
    if (!TreeSpec::named(size) || rounds < 1 ||
        (mode != QLatin1String("warm") && mode != QLatin1String("cold") && mode != QLatin1String("share")))
        return usage();
    for (const char *tool : {"find", "bfs", "fdfind"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            std::fprintf(stderr, "tool-bench: no %s (run bench/setup-tools.sh)\n", tool);
            return 1;
        }
    }
    if (mode == QLatin1String("cold") && !dropCaches()) {
        std::printf("tool-bench: the page cache cannot be dropped here (needs root and a writable "
                    "/proc/sys/vm/drop_caches): no cold figures measured\n");
        return 1;
    }

    QString error;
    const std::optional<TreeManifest> manifest = TreeGenerator::readOrMake(size, folder, &error);
    if (!manifest) {
        std::fprintf(stderr, "%s: %s\n", "tool-bench", qPrintable(error));
        return 1;
    }
    const QByteArray tree = QFile::encodeName(folder);

    DelayedShare share;
    QByteArray drive = TreeGenerator::driveFolder(tree);
    if (mode == QLatin1String("share")) {
        if (!share.mount(drive, delayUs, &error)) {
            std::fprintf(stderr, "tool-bench: %s\n", qPrintable(error));
            return 1;
        }
        drive = share.point();
    }
    ToolBench bench(tree, drive, *manifest, command);
    if (!bench.setUp()) {
        std::fprintf(stderr, "tool-bench: cannot make a Wine prefix\n");
        return 1;
    }
    const QStringList tools = {QStringLiteral("find"), QStringLiteral("bfs"), QStringLiteral("fd"),
                               QStringLiteral("Linkmend")};
    std::map<QString, std::vector<double>> times;
    if (mode == QLatin1String("warm"))
        for (const QString &tool : tools)
            bench.run(tool); // fills the caches; not counted
    std::printf("tree %s (%lld folders, %lld files), %s, Linkmend %s\n", size.constData(), manifest->folders,
                manifest->files,
                mode == QLatin1String("share")
                    ? qPrintable(QStringLiteral("through delay-fs, %1 us a request").arg(delayUs))
                    : qPrintable(mode + QStringLiteral(" cache")),
                qPrintable(command.join(QLatin1Char(' '))));
    for (int round = 0; round < rounds; ++round) {
        std::printf("round %d:", round + 1);
        for (qsizetype i = 0; i < tools.size(); ++i) {
            const QString &tool = tools.at((i + round) % tools.size());
            if (mode == QLatin1String("cold"))
                dropCaches();
            else if (mode == QLatin1String("share"))
                QThread::msleep(1100); // what the kernel kept of the share (1 s) has run out
            const double seconds = bench.run(tool);
            times[tool].push_back(seconds);
            std::printf(" %s %.3f s", qPrintable(tool), seconds);
            std::fflush(stdout);
        }
        std::printf("\n");
    }
    std::printf("\nmedians of %d rounds:", rounds);
    for (const QString &tool : tools)
        std::printf(" %s %.3f s", qPrintable(tool), median(times[tool]));
    const double linkmend = median(times[QStringLiteral("Linkmend")]);
    std::printf(
        "\nLinkmend / find %.2f, / bfs %.2f, / fd %.2f\n", linkmend / median(times[QStringLiteral("find")]),
        linkmend / median(times[QStringLiteral("bfs")]), linkmend / median(times[QStringLiteral("fd")]));
    for (const QString &failure : bench.failures())
        std::printf("FAILED: %s\n", qPrintable(failure));
    std::printf("%s\n",
                bench.failures().isEmpty() ? "results: as planted, every run" : "results: NOT as planted");
    return bench.failures().isEmpty() ? 0 : 1;
}
