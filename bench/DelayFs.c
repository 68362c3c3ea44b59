// A pass-through file system that waits a set time on every request, as a
// file server some way off does: the benchmarks mount it over a generated
// tree to see how a walk fares when each look at the disk costs a round trip.
//
//   delay-fs SOURCE MOUNTPOINT --delay-us N [fuse options, e.g. -f]
//
// Read-only is enough for the check without repairs; writes are passed
// through too, so a repairing run works the same way. Inode numbers are the
// source's (use_ino), so hard links and loops look as they do below.

#define FUSE_USE_VERSION 35
#define _GNU_SOURCE

#include <fuse.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

static struct
{
    int source; // the source folder, open
    long delayUs;
} settings = {-1, 1000};

// Every request starts here.
static void wait(void)
{
    if (settings.delayUs <= 0)
        return;
    struct timespec span = {settings.delayUs / 1000000, (settings.delayUs % 1000000) * 1000};
    while (nanosleep(&span, &span) != 0 && errno == EINTR) {
    }
}

// The path below the source: "/" is ".", "/a/b" is "a/b".
static const char *below(const char *path)
{
    return path[1] == '\0' ? "." : path + 1;
}

static void *delayInit(struct fuse_conn_info *conn, struct fuse_config *cfg)
{
    (void)conn;
    cfg->use_ino = 1;
    // As a network client keeps them: names and attributes for a second.
    cfg->entry_timeout = 1.0;
    cfg->attr_timeout = 1.0;
    cfg->negative_timeout = 0.0;
    return NULL;
}

static int delayGetattr(const char *path, struct stat *st, struct fuse_file_info *fi)
{
    wait();
    const int r = fi ? fstat((int)fi->fh, st) : fstatat(settings.source, below(path), st, AT_SYMLINK_NOFOLLOW);
    return r == 0 ? 0 : -errno;
}

static int delayReadlink(const char *path, char *buffer, size_t size)
{
    wait();
    const ssize_t got = readlinkat(settings.source, below(path), buffer, size - 1);
    if (got < 0)
        return -errno;
    buffer[got] = '\0';
    return 0;
}

static int delayOpendir(const char *path, struct fuse_file_info *fi)
{
    wait();
    const int fd = openat(settings.source, below(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    DIR *dir = fdopendir(fd);
    if (!dir) {
        const int error = errno;
        close(fd);
        return -error;
    }
    fi->fh = (uint64_t)(uintptr_t)dir;
    return 0;
}

// One request per call: the kernel asks again with the offset where the
// buffer ran full.
static int delayReaddir(const char *path, void *buffer, fuse_fill_dir_t fill, off_t offset,
                        struct fuse_file_info *fi, enum fuse_readdir_flags flags)
{
    (void)path;
    (void)flags;
    wait();
    DIR *dir = (DIR *)(uintptr_t)fi->fh;
    if (offset != telldir(dir))
        seekdir(dir, offset);
    for (;;) {
        errno = 0;
        struct dirent *entry = readdir(dir);
        if (!entry)
            return errno ? -errno : 0;
        struct stat st;
        memset(&st, 0, sizeof st);
        st.st_ino = entry->d_ino;
        st.st_mode = (mode_t)DTTOIF(entry->d_type);
        if (fill(buffer, entry->d_name, &st, telldir(dir), 0) != 0)
            return 0;
    }
}

static int delayReleasedir(const char *path, struct fuse_file_info *fi)
{
    (void)path;
    wait();
    closedir((DIR *)(uintptr_t)fi->fh);
    return 0;
}

static int delayOpen(const char *path, struct fuse_file_info *fi)
{
    wait();
    const int fd = openat(settings.source, below(path), (fi->flags & ~O_NOFOLLOW) | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    fi->fh = (uint64_t)fd;
    return 0;
}

static int delayCreate(const char *path, mode_t mode, struct fuse_file_info *fi)
{
    wait();
    const int fd = openat(settings.source, below(path), fi->flags | O_CLOEXEC, mode);
    if (fd < 0)
        return -errno;
    fi->fh = (uint64_t)fd;
    return 0;
}

static int delayRead(const char *path, char *buffer, size_t size, off_t offset, struct fuse_file_info *fi)
{
    (void)path;
    wait();
    const ssize_t got = pread((int)fi->fh, buffer, size, offset);
    return got < 0 ? -errno : (int)got;
}

static int delayWrite(const char *path, const char *buffer, size_t size, off_t offset,
                      struct fuse_file_info *fi)
{
    (void)path;
    wait();
    const ssize_t put = pwrite((int)fi->fh, buffer, size, offset);
    return put < 0 ? -errno : (int)put;
}

static int delayRelease(const char *path, struct fuse_file_info *fi)
{
    (void)path;
    wait();
    close((int)fi->fh);
    return 0;
}

static int delayFsync(const char *path, int dataOnly, struct fuse_file_info *fi)
{
    (void)path;
    wait();
    return (dataOnly ? fdatasync((int)fi->fh) : fsync((int)fi->fh)) == 0 ? 0 : -errno;
}

static int delayRename(const char *from, const char *to, unsigned int flags)
{
    wait();
    if (flags != 0)
        return -EINVAL;
    return renameat(settings.source, below(from), settings.source, below(to)) == 0 ? 0 : -errno;
}

static int delayUnlink(const char *path)
{
    wait();
    return unlinkat(settings.source, below(path), 0) == 0 ? 0 : -errno;
}

static int delayChmod(const char *path, mode_t mode, struct fuse_file_info *fi)
{
    wait();
    const int r = fi ? fchmod((int)fi->fh, mode) : fchmodat(settings.source, below(path), mode, 0);
    return r == 0 ? 0 : -errno;
}

static int delayChown(const char *path, uid_t uid, gid_t gid, struct fuse_file_info *fi)
{
    wait();
    const int r = fi ? fchown((int)fi->fh, uid, gid)
                     : fchownat(settings.source, below(path), uid, gid, AT_SYMLINK_NOFOLLOW);
    return r == 0 ? 0 : -errno;
}

static int delayUtimens(const char *path, const struct timespec times[2], struct fuse_file_info *fi)
{
    wait();
    const int r = fi ? futimens((int)fi->fh, times)
                     : utimensat(settings.source, below(path), times, AT_SYMLINK_NOFOLLOW);
    return r == 0 ? 0 : -errno;
}

static int delayTruncate(const char *path, off_t size, struct fuse_file_info *fi)
{
    wait();
    if (fi)
        return ftruncate((int)fi->fh, size) == 0 ? 0 : -errno;
    const int fd = openat(settings.source, below(path), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    const int r = ftruncate(fd, size) == 0 ? 0 : -errno;
    close(fd);
    return r;
}

static int delayStatfs(const char *path, struct statvfs *st)
{
    (void)path;
    wait();
    return fstatvfs(settings.source, st) == 0 ? 0 : -errno;
}

static int delayAccess(const char *path, int mask)
{
    wait();
    return faccessat(settings.source, below(path), mask, 0) == 0 ? 0 : -errno;
}

static const struct fuse_operations operations = {
    .init = delayInit,
    .getattr = delayGetattr,
    .readlink = delayReadlink,
    .opendir = delayOpendir,
    .readdir = delayReaddir,
    .releasedir = delayReleasedir,
    .open = delayOpen,
    .create = delayCreate,
    .read = delayRead,
    .write = delayWrite,
    .release = delayRelease,
    .fsync = delayFsync,
    .rename = delayRename,
    .unlink = delayUnlink,
    .chmod = delayChmod,
    .chown = delayChown,
    .utimens = delayUtimens,
    .truncate = delayTruncate,
    .statfs = delayStatfs,
    .access = delayAccess,
};

int main(int argc, char **argv)
{
    // delay-fs SOURCE MOUNTPOINT --delay-us N [fuse options]
    if (argc < 3) {
        fprintf(stderr, "usage: delay-fs SOURCE MOUNTPOINT [--delay-us N] [fuse options]\n");
        return 2;
    }
    settings.source = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (settings.source < 0) {
        perror(argv[1]);
        return 2;
    }
    char **args = calloc((size_t)argc + 1, sizeof *args);
    if (!args)
        return 2;
    int count = 0;
    args[count++] = argv[0];
    args[count++] = argv[2];
    for (int i = 3; i < argc; ++i) {
        if (strcmp(argv[i], "--delay-us") == 0 && i + 1 < argc) {
            settings.delayUs = atol(argv[++i]);
            continue;
        }
        args[count++] = argv[i];
    }
    const int status = fuse_main(count, args, &operations, NULL);
    free(args);
    return status;
}
