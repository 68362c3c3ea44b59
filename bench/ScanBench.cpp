// Times the real scan against `find` listing the same shortcut files.
//
//   scan-bench [--size S|M|L] [--dir FOLDER] [--rounds N] [--memory S|M|L]
//              [--memory-scans N] [--check-only] [--scan-only N]
//
// The tree (bench/make-tree) is made in FOLDER (default
// $TMPDIR/linkmend-bench-<size>) unless one of that size is there already.
// The main window runs offscreen on a temporary Wine prefix whose c: is the
// tree; every scan is a click on the Scan button, so it runs exactly as in
// the program, with the busy animation and every event dispatch. Rounds
// alternate: a scan with repairs (the moved shortcuts put back as planted
// first), find, a scan without repairs (the same tree again), the command
// line's check of the same tree (`Linkmend check --json`), find.
//
// Printed: the median ratios scan / find and window / command line,
// shortcuts checked per second, the
// longest time the window went without handling events during a scan
// (a 1 ms timer that notes the gaps between its own firings; gaps in which
// the resolver read folders are reported apart), and the peak resident
// memory (VmHWM). Checked, every scan: the listed shortcuts are exactly the planted
// broken ones, every moved shortcut points at its target's new place, and
// no other shortcut file was written. --memory runs scans with repairs of
// another tree in a separate process (12, or --memory-scans) and reports its
// peak memory after the first scan and after the last. --scan-only N runs
// N scans with repairs and nothing else, for a tracer or a profiler
// (bench/syscalls.sh).
// --check-only runs one round for the checks and prints no timings (the
// test suite runs it on tree S). Exit status 0 when every check passed.

#include "app/Dialogs.h"
#include "app/LinkmendApplication.h"
#include "app/TForm2.h"
#include "bench/TreeGenerator.h"
#include "controls/ImageButton.h"
#include "drives/DriveComboBox.h"
#include "lnk/LnkFile.h"
#include "platform/DriveContext.h"
#include "shell/ShellLinkService.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QSet>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <map>
#include <variant>
#include <vector>

#include <sys/resource.h>

namespace {

struct Options
{
    QByteArray size = "M";
    QString dir;
    int rounds = 5;
    QByteArray memorySize;
    bool checkOnly = false;
    bool memoryOnly = false;  // the child process of --memory
    int memoryScans = 12;     // scans the --memory child runs
    int scanOnly = -1;        // --scan-only N: N scans, nothing else (for strace, perf)
    bool keepRepairs = false; // --scan-only with --no-restore: the moved shortcuts are not put back
};

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The peak resident memory of this process image: VmHWM, which (unlike
// getrusage's ru_maxrss, kept across fork and exec) starts afresh with the
// program, so a child started by a large parent reports its own.
qint64 peakRssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    struct rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double threadCpuSeconds()
{
    struct rusage usage;
    ::getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QString cpuModel()
{
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    if (cpuinfo.open(QIODevice::ReadOnly))
        for (const QByteArray &line : cpuinfo.readAll().split('\n'))
            if (line.startsWith("model name"))
                return QString::fromUtf8(line.mid(line.indexOf(':') + 1).trimmed());
    return QStringLiteral("unknown CPU");
}

// Message boxes are answered, never shown; what they said is kept.
class RecordingDialogs : public Dialogs
{
public:
    void showError(const QString &text) override { shown.append(QStringLiteral("error: ") + text); }
    void showMessage(const QString &text) override { shown.append(text); }
    bool askYesNo(const QString &text) override
    {
        shown.append(text);
        return false;
    }
    QStringList shown;
};

// The longest time between two firings of a 1 ms timer while a scan runs:
// timers fire only when events are dispatched, so this is the longest time
// the window could not repaint or take input. A gap in which the resolver's
// folder cache grew was spent (at least partly) searching for a target.
class GapProbe : public QObject
{
public:
    explicit GapProbe(ShellLinkService &service) : m_service(service)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] { note(); });
        m_timer.start();
        m_clock.start();
    }
    void begin()
    {
        m_active = true;
        m_last = m_start = m_clock.nsecsElapsed();
        m_entries = m_service.cachedEntries();
        longest = longestSearching = longestEndedAt = 0;
        firings = 0;
        overFrame.clear();
    }
    void end()
    {
        note();
        m_active = false;
    }

    double longest = 0, longestSearching = 0; // ms
    double longestEndedAt = 0;                // ms after the scan began
    qint64 firings = 0;
    // Gaps longer than a frame (16 ms): how long, and when they ended (ms
    // after the scan began).
    std::vector<std::pair<double, double>> overFrame;

private:
    void note()
    {
        if (!m_active)
            return;
        const qint64 now = m_clock.nsecsElapsed();
        const double gap = double(now - m_last) / 1e6;
        const qsizetype entries = m_service.cachedEntries();
        if (gap > longest) {
            longest = gap;
            longestEndedAt = double(now - m_start) / 1e6;
        }
        if (gap > 16)
            overFrame.emplace_back(gap, double(now - m_start) / 1e6);
        if (entries > m_entries)
            longestSearching = std::max(longestSearching, gap);
        m_entries = entries;
        m_last = now;
        ++firings;
    }

    ShellLinkService &m_service;
    QTimer m_timer;
    QElapsedTimer m_clock;
    bool m_active = false;
    qint64 m_last = 0, m_start = 0;
    qsizetype m_entries = 0;
};

struct ScanRun
{
    double seconds = 0;
    double cpuSeconds = 0; // user and system time of the window's thread
    double longestGapMs = 0, longestSearchGapMs = 0;
    double longestGapEndedAtMs = 0;
    std::vector<std::pair<double, double>> overFrame;
};

class Bench
{
public:
    Bench(const Options &options, const QByteArray &tree, const TreeManifest &manifest)
        : m_options(options), m_tree(tree), m_drive(TreeGenerator::driveFolder(tree)), m_manifest(manifest)
    {}

    int run();

private:
    bool setUpWindow();
    ScanRun scan();
    double find();
    double commandLine();
    void check(bool condition, const QString &what);
    void checkResults(const QString &which);
    void checkMoved();
    // Identity and time of every *.lnk file, hidden folders included.
    std::map<QByteArray, QByteArray> stamps();
    void checkUnchanged(const std::map<QByteArray, QByteArray> &before, bool exceptMoved,
                        const QString &which);
    void restore();

    Options m_options;
    QByteArray m_tree, m_drive;
    TreeManifest m_manifest;
    QTemporaryDir m_home;
    RecordingDialogs m_dialogs;
    std::unique_ptr<TForm2> m_form;
    std::unique_ptr<GapProbe> m_probe;
    QStringList m_failures;
};

bool Bench::setUpWindow()
{
    // A Wine prefix whose c: is the tree, and cache and data folders of
    // our own, so nothing of the user's is touched.
    const QString base = m_home.path();
    QDir().mkpath(base + QStringLiteral("/prefix/dosdevices"));
    QDir().mkpath(base + QStringLiteral("/cache"));
    QDir().mkpath(base + QStringLiteral("/data"));
    if (!QFile::link(QFileInfo(QFile::decodeName(m_drive)).absoluteFilePath(),
                     base + QStringLiteral("/prefix/dosdevices/c:"))) {
        std::fprintf(stderr, "scan-bench: cannot make the drive link in %s\n", qPrintable(base));
        return false;
    }
    qputenv("WINEPREFIX", QFile::encodeName(base + QStringLiteral("/prefix")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(base + QStringLiteral("/cache")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(base + QStringLiteral("/data")));
    qputenv("XDG_STATE_HOME", QFile::encodeName(base + QStringLiteral("/state")));
    Dialogs::install(&m_dialogs);

    // As main() starts the program, from a folder on drive c:, so that the
    // drive selector starts there.
    QDir::setCurrent(QFile::decodeName(m_drive));
    loadProgramFonts();
    m_form = std::make_unique<TForm2>(nullptr, DriveContext::load());
    m_form->FormCreate();
    m_form->DriveComboBox1->createWindow();
    m_form->show();
    Form2State.SelectedDrive = QStringLiteral("c");
    m_probe = std::make_unique<GapProbe>(m_form->linkService());
    QCoreApplication::processEvents();
    return true;
}

ScanRun Bench::scan()
{
    // A click on the Scan button: press and release in its middle. The
    // release runs the whole scan before it returns.
    TImageButton *button = m_form->Btscan;
    const QPointF middle = QRectF(button->rect()).center();
    const QPointF global = button->mapToGlobal(middle);
    QMouseEvent press(QEvent::MouseButtonPress, middle, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, middle, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(button, &press);
    QElapsedTimer clock;
    m_probe->begin();
    const double cpuBefore = threadCpuSeconds();
    clock.start();
    QCoreApplication::sendEvent(button, &release);
    const qint64 ns = clock.nsecsElapsed();
    const double cpu = threadCpuSeconds() - cpuBefore;
    m_probe->end();
    return ScanRun{double(ns) / 1e9,        cpu,
                   m_probe->longest,        m_probe->longestSearching,
                   m_probe->longestEndedAt, m_probe->overFrame};
}

double Bench::find()
{
    QProcess find;
    find.setProgram(QStringLiteral("find"));
    find.setArguments({QFile::decodeName(m_drive), QStringLiteral("-name"), QStringLiteral(".*"),
                       QStringLiteral("-prune"), QStringLiteral("-o"), QStringLiteral("-iname"),
                       QStringLiteral("*.lnk"), QStringLiteral("-print")});
    QElapsedTimer clock;
    clock.start();
    find.start();
    find.waitForFinished(-1);
    const qint64 ns = clock.nsecsElapsed();
    const QByteArray out = find.readAllStandardOutput();
    check(find.exitStatus() == QProcess::NormalExit && find.exitCode() == 0, QStringLiteral("find failed"));
    check(out.count('\n') == m_manifest.findLines,
          QStringLiteral("find listed %1 names, %2 planted").arg(out.count('\n')).arg(m_manifest.findLines));
    return double(ns) / 1e9;
}

// The command line's check of the same drive in the same state as the
// window's scan without repairs: the same work, without a window.
double Bench::commandLine()
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(QFile::decodeName(m_drive));
    QElapsedTimer clock;
    clock.start();
    program.start(QStringLiteral(LINKMEND_PROGRAM),
                  {QStringLiteral("check"), QStringLiteral("--json"), QStringLiteral("--prefix"),
                   m_home.path() + QStringLiteral("/prefix"), QStringLiteral("c:")});
    program.waitForFinished(-1);
    const qint64 ns = clock.nsecsElapsed();
    const QJsonObject counts = QJsonDocument::fromJson(program.readAllStandardOutput())
                                   .object()
                                   .value(QStringLiteral("counts"))
                                   .toObject();
    check(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 1,
          QStringLiteral("the command line exited with %1").arg(program.exitCode()));
    check(counts.value(QStringLiteral("broken")).toInt() == m_manifest.broken.size() &&
              counts.value(QStringLiteral("repaired")).toInt() == 0,
          QStringLiteral("the command line found %1 broken, %2 to repair")
              .arg(counts.value(QStringLiteral("broken")).toInt())
              .arg(counts.value(QStringLiteral("repaired")).toInt()));
    return double(ns) / 1e9;
}

void Bench::check(bool condition, const QString &what)
{
    if (!condition && m_failures.size() < 50)
        m_failures.append(what);
}

void Bench::checkResults(const QString &which)
{
    QStringList expected;
    for (const QByteArray &path : m_manifest.broken)
        expected.append(TreeManifest::winPath(path));
    QStringList listed = Form2State.ShortcutPaths ? *Form2State.ShortcutPaths : QStringList();
    check(Form2State.BrokenCount == m_manifest.broken.size(),
          QStringLiteral("%1: %2 broken shortcuts found, %3 planted")
              .arg(which)
              .arg(Form2State.BrokenCount)
              .arg(m_manifest.broken.size()));
    std::sort(expected.begin(), expected.end());
    std::sort(listed.begin(), listed.end());
    if (listed != expected) {
        const QSet<QString> want(expected.begin(), expected.end()), got(listed.begin(), listed.end());
        for (const QString &path : got - want)
            check(false, QStringLiteral("%1: listed but not planted broken: %2").arg(which, path));
        for (const QString &path : want - got)
            check(false, QStringLiteral("%1: planted broken but not listed: %2").arg(which, path));
    }
    const QString countLine = QString::number(m_manifest.broken.size()) +
                              (m_manifest.broken.size() == 1 ? QStringLiteral(" Broken Shortcut")
                                                             : QStringLiteral(" Broken Shortcuts")) +
                              QStringLiteral("   (double click to explore)");
    check(m_form->Label1->text() == countLine,
          QStringLiteral("%1: Label1 reads \"%2\"").arg(which, m_form->Label1->text()));
    for (const QString &text : std::as_const(m_dialogs.shown))
        check(false, QStringLiteral("%1: message box: %2").arg(which, text));
    m_dialogs.shown.clear();
}

void Bench::checkMoved()
{
    for (const TreeManifest::Moved &moved : m_manifest.moved) {
        QFile file(QFile::decodeName(m_drive + '/' + moved.shortcut));
        QByteArray bytes;
        if (file.open(QIODevice::ReadOnly))
            bytes = file.readAll();
        auto parsed = LnkFile::parse(bytes);
        const std::optional<QString> target = std::holds_alternative<LnkFile>(parsed)
                                                  ? std::get<LnkFile>(parsed).targetPath(false)
                                                  : std::nullopt;
        const QString want = TreeManifest::winPath(moved.newTarget);
        check(target && target->compare(want, Qt::CaseInsensitive) == 0,
              QStringLiteral("not repaired: %1 points at %2, not %3")
                  .arg(TreeManifest::winPath(moved.shortcut), target.value_or(QStringLiteral("(unreadable)")),
                       want));
    }
}

std::map<QByteArray, QByteArray> Bench::stamps()
{
    QProcess find;
    find.start(QStringLiteral("find"), {QFile::decodeName(m_drive), QStringLiteral("-iname"),
                                        QStringLiteral("*.lnk"), QStringLiteral("-type"), QStringLiteral("f"),
                                        QStringLiteral("-printf"), QStringLiteral("%i %T@ %s\\t%P\\n")});
    find.waitForFinished(-1);
    std::map<QByteArray, QByteArray> result;
    for (const QByteArray &line : find.readAllStandardOutput().split('\n')) {
        const qsizetype tab = line.indexOf('\t');
        if (tab > 0)
            result.emplace(line.mid(tab + 1), line.left(tab));
    }
    return result;
}

void Bench::checkUnchanged(const std::map<QByteArray, QByteArray> &before, bool exceptMoved,
                           const QString &which)
{
    QSet<QByteArray> moved;
    if (exceptMoved)
        for (const TreeManifest::Moved &m : m_manifest.moved)
            moved.insert(m.shortcut);
    const std::map<QByteArray, QByteArray> after = stamps();
    check(after.size() == before.size(), QStringLiteral("%1: shortcut files came or went").arg(which));
    for (const auto &[path, stamp] : before) {
        const auto it = after.find(path);
        const bool same = it != after.end() && it->second == stamp;
        if (moved.contains(path))
            check(!same,
                  QStringLiteral("%1: moved shortcut not rewritten: %2").arg(which, QString::fromUtf8(path)));
        else
            check(same, QStringLiteral("%1: shortcut written though unchanged: %2")
                            .arg(which, QString::fromUtf8(path)));
    }
}

void Bench::restore()
{
    QString error;
    check(TreeGenerator::restoreMoved(m_tree, m_manifest, &error), error);
}

int Bench::run()
{
    if (!setUpWindow())
        return 1;
    const qint64 baselineKb = peakRssKb();

    if (m_options.scanOnly >= 0) {
        // Only the scans, so that a tracer or profiler counts what the scan
        // does (run with 0 to count what starting the window does).
        for (int i = 0; i < m_options.scanOnly; ++i) {
            if (!m_options.keepRepairs || i == 0)
                restore();
            const ScanRun run = scan();
            std::fprintf(stderr, "scan %d: %.3f s (cpu %.3f s), longest gap %.1f ms", i + 1, run.seconds,
                         run.cpuSeconds, run.longestGapMs);
            for (const auto &[gap, at] : run.overFrame)
                std::fprintf(stderr, "; %.1f ms at %.3f s", gap, at / 1000);
            std::fprintf(stderr, "\n");
        }
        std::printf("scans %d\n", m_options.scanOnly);
        std::fflush(stdout);
        m_form.reset();
        return 0;
    }
    if (m_options.memoryOnly) {
        // Scans with repairs in one process: the peak after the first and
        // after the last, which must not have grown.
        qint64 afterFirstKb = 0;
        for (int i = 1; i <= m_options.memoryScans; ++i) {
            restore();
            scan();
            checkResults(QStringLiteral("scan %1 with repairs").arg(i));
            checkMoved();
            if (i == 1)
                afterFirstKb = peakRssKb();
            std::fprintf(stderr, "scan %d: peak %.1f MB\n", i, double(peakRssKb()) / 1024);
        }
        std::printf("peak-rss-kb %lld %lld scans %d baseline-kb %lld\n", afterFirstKb, peakRssKb(),
                    m_options.memoryScans, baselineKb);
        for (const QString &failure : std::as_const(m_failures))
            std::printf("FAILED: %s\n", qPrintable(failure));
        std::fflush(stdout);
        m_form.reset();
        return m_failures.isEmpty() ? 0 : 1;
    }

    std::vector<double> repairRatios, plainRatios, repairTimes, plainTimes, findTimes, windowRatios;
    double longestGap = 0, longestSearchGap = 0;
    const bool timing = !m_options.checkOnly;

    // One round to warm the caches, not counted (skipped where only the
    // results or the memory matter).
    if (timing) {
        restore();
        scan();
        find();
    }
    const int rounds = timing ? std::max(1, m_options.rounds) : 1;
    for (int round = 1; round <= rounds; ++round) {
        restore();
        const auto before = stamps();
        const ScanRun repairing = scan();
        checkResults(QStringLiteral("scan with repairs"));
        checkMoved();
        checkUnchanged(before, true, QStringLiteral("scan with repairs"));
        const double find1 = find();

        const auto repaired = stamps();
        const ScanRun plain = scan();
        checkResults(QStringLiteral("scan without repairs"));
        checkMoved();
        checkUnchanged(repaired, false, QStringLiteral("scan without repairs"));
        const double cli = timing ? commandLine() : 0;
        const double find2 = find();
        if (timing)
            windowRatios.push_back(plain.seconds / cli);

        repairTimes.push_back(repairing.seconds);
        plainTimes.push_back(plain.seconds);
        findTimes.push_back(find1);
        findTimes.push_back(find2);
        repairRatios.push_back(repairing.seconds / find1);
        plainRatios.push_back(plain.seconds / find2);
        longestGap = std::max({longestGap, repairing.longestGapMs, plain.longestGapMs});
        longestSearchGap =
            std::max({longestSearchGap, repairing.longestSearchGapMs, plain.longestSearchGapMs});
        if (timing)
            std::printf(
                "round %d: scan with repairs %.3f s (cpu %.3f s), find %.3f s (x%.2f); scan without "
                "repairs %.3f s (cpu %.3f s), find %.3f s (x%.2f); longest gaps %.1f ms (ending %.3f s "
                "into the scan), %.1f ms (%.3f s); command line %.3f s\n",
                round, repairing.seconds, repairing.cpuSeconds, find1, repairing.seconds / find1,
                plain.seconds, plain.cpuSeconds, find2, plain.seconds / find2, repairing.longestGapMs,
                repairing.longestGapEndedAtMs / 1000, plain.longestGapMs, plain.longestGapEndedAtMs / 1000,
                cli);
    }
    const qint64 peakKb = peakRssKb();

    if (timing) {
        const double examined = double(m_manifest.examined);
        std::printf("\nmedian scan with repairs / find:    %.2f (scan %.3f s, find %.3f s)\n",
                    median(repairRatios), median(repairTimes), median(findTimes));
        std::printf("median scan without repairs / find: %.2f (scan %.3f s)\n", median(plainRatios),
                    median(plainTimes));
        std::printf("window scan / command line, same run: %.2f (both without repairs)\n",
                    median(windowRatios));
        std::printf("shortcuts checked per second:       %.0f with repairs, %.0f without\n",
                    examined / median(repairTimes), examined / median(plainTimes));
        std::printf("longest gap between two dispatches: %.1f ms (while searching for targets: %.1f ms)\n",
                    longestGap, longestSearchGap);
        std::printf("peak resident memory:               %.1f MB (%.1f MB before the first scan)\n",
                    double(peakKb) / 1024, double(baselineKb) / 1024);
    }
    for (const QString &failure : std::as_const(m_failures))
        std::printf("FAILED: %s\n", qPrintable(failure));
    std::printf("checks: %s\n", m_failures.isEmpty() ? "all passed" : "FAILED");
    std::fflush(stdout);
    m_form.reset();
    return m_failures.isEmpty() ? 0 : 1;
}

std::optional<Options> parse(QStringList args)
{
    Options options;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        const bool hasValue = !args.isEmpty();
        if (TreeGenerator::takeTreeOption(arg, args, options.size, options.dir, options.rounds))
            continue;
        if (arg == QLatin1String("--memory") && hasValue)
            options.memorySize = args.takeFirst().toLatin1().toUpper();
        else if (arg == QLatin1String("--check-only"))
            options.checkOnly = true;
        else if (arg == QLatin1String("--memory-only"))
            options.memoryOnly = true;
        else if (arg == QLatin1String("--memory-scans") && hasValue)
            options.memoryScans = args.takeFirst().toInt();
        else if (arg == QLatin1String("--scan-only") && hasValue)
            options.scanOnly = args.takeFirst().toInt();
        else if (arg == QLatin1String("--no-restore"))
            options.keepRepairs = true;
        else
            return std::nullopt;
    }
    if (!TreeSpec::named(options.size) ||
        (!options.memorySize.isEmpty() && !TreeSpec::named(options.memorySize)) || options.rounds < 1 ||
        options.memoryScans < 1)
        return std::nullopt;
    return options;
}

QString defaultTreeFolder(const QByteArray &size)
{
    return QDir::tempPath() + QStringLiteral("/linkmend-bench-") + QString::fromLatin1(size);
}

// The tree of that size in the folder, made by make-tree when missing.
std::optional<TreeManifest> ensureTree(const QByteArray &size, const QString &folder)
{
    const QByteArray tree = QFile::encodeName(folder);
    QString error;
    std::optional<TreeManifest> manifest = TreeGenerator::readManifest(tree, &error);
    if (!manifest) {
        std::printf("making tree %s in %s\n", size.constData(), qPrintable(folder));
        std::fflush(stdout);
        QProcess make;
        make.setProcessChannelMode(QProcess::ForwardedChannels);
        make.start(QCoreApplication::applicationDirPath() + QStringLiteral("/make-tree"),
                   {QString::fromLatin1(size), folder});
        if (!make.waitForFinished(-1) || make.exitStatus() != QProcess::NormalExit || make.exitCode() != 0) {
            std::fprintf(stderr, "scan-bench: make-tree failed\n");
            return std::nullopt;
        }
        manifest = TreeGenerator::readManifest(tree, &error);
    }
    const std::optional<TreeSpec> layout = TreeSpec::named(size);
    if (manifest && (manifest->layout.sizeName != layout->sizeName ||
                     manifest->layout.entries != layout->entries || manifest->layout.seed != layout->seed)) {
        std::fprintf(stderr, "scan-bench: %s holds another tree; remove it or pass --dir\n",
                     qPrintable(folder));
        return std::nullopt;
    }
    if (!manifest)
        std::fprintf(stderr, "scan-bench: %s\n", qPrintable(error));
    return manifest;
}

// Runs scans with repairs of another tree in a child process; its peak
// resident memory after the first scan and after the last.
bool measureMemory(const QByteArray &size, int scans)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--size"), QString::fromLatin1(size), QStringLiteral("--memory-only"),
                 QStringLiteral("--memory-scans"), QString::number(scans)});
    child.waitForFinished(-1);
    const QByteArray out = child.readAll();
    for (const QByteArray &line : out.split('\n')) {
        if (!line.startsWith("peak-rss-kb "))
            continue;
        const QList<QByteArray> parts = line.split(' ');
        std::printf("peak resident memory, tree %s:     %.1f MB after one scan, %.1f MB after %d scans "
                    "(%.1f MB before the first; separate process)\n",
                    size.constData(), parts.value(1).toDouble() / 1024, parts.value(2).toDouble() / 1024,
                    scans, parts.value(6).toDouble() / 1024);
    }
    const bool ok = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    if (!ok)
        std::printf("tree %s memory run failed:\n%s\n", size.constData(), out.constData());
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    LinkmendApplication app(argc, argv);
    const std::optional<Options> options = parse(app.arguments().mid(1));
    if (!options) {
        std::fprintf(stderr, "usage: scan-bench [--size S|M|L] [--dir FOLDER] [--rounds N] [--memory S|M|L] "
                             "[--memory-scans N] [--check-only] [--scan-only N]\n");
        return 2;
    }
    // Absolute: the window later runs with its current folder on the drive.
    const QString folder =
        QDir(options->dir.isEmpty() ? defaultTreeFolder(options->size) : options->dir).absolutePath();
    const std::optional<TreeManifest> manifest = ensureTree(options->size, folder);
    if (!manifest)
        return 1;
    if (!options->memoryOnly && options->scanOnly < 0) {
        std::printf("tree %s: %lld entries (%lld folders), %lld files examined: %lld broken, %lld moved; "
                    "%lld shortcuts in hidden folders\n",
                    manifest->layout.sizeName.constData(), manifest->layout.entries, manifest->folders,
                    manifest->examined, qint64(manifest->broken.size()), qint64(manifest->moved.size()),
                    manifest->hiddenShortcuts);
        std::printf("machine: %d CPUs, %s; %s\n", QThread::idealThreadCount(), qPrintable(cpuModel()),
                    qPrintable(QSysInfo::prettyProductName() + QStringLiteral(", kernel ") +
                               QSysInfo::kernelVersion()));
        std::fflush(stdout);
    }

    int status = 0;
    {
        Bench bench(*options, QFile::encodeName(folder), *manifest);
        QTimer::singleShot(0, &app, [&] {
            status = bench.run();
            QCoreApplication::exit(0);
        });
        app.exec();
    }
    if (status == 0 && !options->memorySize.isEmpty() && !options->memoryOnly &&
        !measureMemory(options->memorySize, options->memoryScans))
        status = 1;
    return status;
}
