#include "platform/MountTable.h"

#include "platform/PosixPath.h"

#include <QElapsedTimer>
#include <QSet>

#include <mutex>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// mountinfo escapes space, tab, newline and backslash as "\ooo".
QByteArray unescape(const QByteArray &field)
{
    if (!field.contains('\\'))
        return field;
    QByteArray result;
    result.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field.at(i);
        if (c == '\\' && i + 3 < field.size()) {
            const char a = field.at(i + 1), b = field.at(i + 2), d = field.at(i + 3);
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && d >= '0' && d <= '7') {
                result += char(((a - '0') << 6) | ((b - '0') << 3) | (d - '0'));
                i += 3;
                continue;
            }
        }
        result += c;
    }
    return result;
}

bool parseDevice(const QByteArray &field, dev_t &device)
{
    const qsizetype colon = field.indexOf(':');
    if (colon <= 0)
        return false;
    bool okMajor = false, okMinor = false;
    const uint major = field.left(colon).toUInt(&okMajor);
    const uint minor = field.mid(colon + 1).toUInt(&okMinor);
    if (!okMajor || !okMinor)
        return false;
    device = makedev(major, minor);
    return true;
}

QByteArray readAll(int fd)
{
    QByteArray text;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        text.append(buffer, got);
    }
    return text;
}

} // namespace

MountTable MountTable::parse(const QByteArray &mountinfoText)
{
    MountTable table;
    for (const QByteArray &line : mountinfoText.split('\n')) {
        // id parent major:minor root mountpoint options [optional...] - fstype source superoptions
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 7)
            continue;
        qsizetype separator = -1;
        for (qsizetype i = 6; i < fields.size(); ++i) {
            if (fields.at(i) == "-") {
                separator = i;
                break;
            }
        }
        if (separator < 0 || separator + 2 >= fields.size())
            continue;
        MountEntry entry;
        if (!parseDevice(fields.at(2), entry.device))
            continue;
        entry.root = unescape(fields.at(3));
        entry.mountPoint = unescape(fields.at(4));
        entry.fsType = unescape(fields.at(separator + 1));
        entry.source = unescape(fields.at(separator + 2));
        if (!entry.mountPoint.startsWith('/'))
            continue;
        table.m_entries.append(entry);
    }
    return table;
}

MountTable MountTable::fromSystem()
{
    posix::UniqueFd fd(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
    if (!fd.isValid())
        return {};
    return parse(readAll(fd.get()));
}

MountSource::MountSource() = default;

MountSource::MountSource(MountTable fixed)
    : m_table(std::make_shared<const MountTable>(std::move(fixed))), m_fixed(true)
{}

std::shared_ptr<const MountTable> MountSource::table() const
{
    // proc(5): a mount or unmount marks an open mountinfo file with POLLPRI,
    // so the table is read again only when it has changed. Asking that
    // takes a system call; callers that ask for every file they look at
    // (thousands a second in a scan) get the table they got a few
    // milliseconds ago without one.
    constexpr qint64 kAskIntervalMs = 5;

    const std::lock_guard lock(m_mutex);
    if (m_fixed || (m_table && m_sinceAsked.isValid() && m_sinceAsked.elapsed() < kAskIntervalMs))
        return m_table;
    m_sinceAsked.start();
    bool stale = !m_table;
    if (m_watched.isValid()) {
        pollfd request{m_watched.get(), POLLPRI, 0};
        if (::poll(&request, 1, 0) > 0 && (request.revents & (POLLPRI | POLLERR)))
            stale = true;
    }
    if (stale) {
        m_watched.reset(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
        m_table = std::make_shared<const MountTable>(
            m_watched.isValid() ? MountTable::parse(readAll(m_watched.get())) : MountTable());
    }
    return m_table;
}

const MountEntry *MountTable::mountOf(const QByteArray &canonicalPath) const
{
    const MountEntry *best = nullptr;
    for (const MountEntry &entry : m_entries) {
        if (!posix::isWithin(entry.mountPoint, canonicalPath))
            continue;
        // ">=": a later mount on the same point hides the earlier one.
        if (!best || entry.mountPoint.size() >= best->mountPoint.size())
            best = &entry;
    }
    return best;
}

bool MountTable::isPseudoFileSystem(const QByteArray &fsType)
{
    static const QSet<QByteArray> pseudo = {
        "proc",
        "sysfs",
        "devtmpfs",
        "devpts",
        "cgroup",
        "cgroup2",
        "securityfs",
        "debugfs",
        "tracefs",
        "bpf",
        "pstore",
        "mqueue",
        "hugetlbfs",
        "configfs",
        "fusectl",
        "autofs",
        "binfmt_misc",
        "efivarfs",
        "rpc_pipefs",
        "nsfs",
        "selinuxfs",
        "smackfs",
        "apparmorfs",
        "nfsd",
        "sockfs",
        "pipefs",
        "anon_inodefs",
        "bdev",
        "dax",
        "resctrl",
        "cpuset",
        "usbfs",
        "usbdevfs",
        "devfs",
        "binder",
        "xenfs",
        "pidfs",
        "ipathfs",
        "openpromfs",
        "spufs",
        "rootfs",
        // Views of other files (the desktop portal, the GNOME virtual file
        // system, lxcfs's /proc stand-ins): walking them only repeats or
        // reaches into what other mounts already hold.
        "fuse.portal",
        "fuse.gvfsd-fuse",
        "fuse.gvfs-fuse-daemon",
        "fuse.lxcfs",
    };
    return pseudo.contains(fsType);
}

bool MountTable::isNetworkFileSystem(const QByteArray &fsType)
{
    static const QSet<QByteArray> network = {
        "nfs",
        "nfs4",
        "cifs",
        "smb3",
        "smbfs",
        "smb2",
        "ncpfs",
        "ncp",
        "9p",
        "afs",
        "ceph",
        "coda",
        "glusterfs",
        "lustre",
        "davfs",
        "fuse.sshfs",
        "fuse.rclone",
        "fuse.curlftpfs",
        "fuse.s3fs",
        "fuse.gcsfuse",
        "fuse.glusterfs",
        "fuse.ceph-fuse",
        "fuse.smbnetfs",
        "fuse.davfs2",
        "fuse.httpfs2",
        "fuse.ftpfs",
        "fuse.goofys",
        "fuse.juicefs",
        "fuse.s3ql",
    };
    return network.contains(fsType);
}
