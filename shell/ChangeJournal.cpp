#include "shell/ChangeJournal.h"

#include "platform/ReplaceFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray Suffix = ".journal";
// A journal is read whole; one larger than this is no journal of ours.
constexpr qint64 kMaxReadBytes = qint64(256) << 20;

QString base64(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

QByteArray fromBase64(const QJsonValue &value)
{
    return QByteArray::fromBase64(value.toString().toLatin1());
}

// Device and inode numbers as text: JSON numbers lose precision past 2^53.
QString number(quint64 value)
{
    return QString::number(value);
}

quint64 numberOf(const QJsonValue &value)
{
    return value.toString().toULongLong();
}

QJsonObject fileObject(const TrashEntry &file)
{
    return QJsonObject{
        {QStringLiteral("path"), QString::fromUtf8(file.path)},
        {QStringLiteral("pathBytes"), base64(file.path)},
        {QStringLiteral("trashPath"), base64(file.trashPath)},
        {QStringLiteral("infoPath"), base64(file.infoPath)},
        {QStringLiteral("info"), base64(file.info)},
        {QStringLiteral("device"), number(file.device)},
        {QStringLiteral("inode"), number(file.inode)},
    };
}

TrashEntry fileOf(const QJsonObject &object)
{
    TrashEntry file;
    file.path = fromBase64(object.value(QStringLiteral("pathBytes")));
    file.trashPath = fromBase64(object.value(QStringLiteral("trashPath")));
    file.infoPath = fromBase64(object.value(QStringLiteral("infoPath")));
    file.info = fromBase64(object.value(QStringLiteral("info")));
    file.device = numberOf(object.value(QStringLiteral("device")));
    file.inode = numberOf(object.value(QStringLiteral("inode")));
    return file;
}

QString kindName(JournalChange::Kind kind)
{
    switch (kind) {
    case JournalChange::Kind::Replace:
        return QStringLiteral("replace");
    case JournalChange::Kind::Trash:
        return QStringLiteral("trash");
    case JournalChange::Kind::Untrash:
        return QStringLiteral("untrash");
    }
    return QString();
}

QByteArray line(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray changeLine(const JournalChange &change)
{
    QJsonObject object{{QStringLiteral("change"), kindName(change.kind)}};
    if (change.kind == JournalChange::Kind::Replace) {
        object.insert(QStringLiteral("path"), QString::fromUtf8(change.path));
        object.insert(QStringLiteral("pathBytes"), base64(change.path));
        object.insert(QStringLiteral("windowsPath"), change.winPath);
        object.insert(QStringLiteral("device"), number(change.device));
        object.insert(QStringLiteral("inode"), number(change.inode));
        object.insert(QStringLiteral("oldBytes"), base64(change.oldBytes));
        object.insert(QStringLiteral("newSize"), change.newSize);
        object.insert(QStringLiteral("newSha256"), QString::fromLatin1(change.newSha256.toHex()));
        object.insert(QStringLiteral("oldTarget"), change.oldTarget);
        object.insert(QStringLiteral("newTarget"), change.newTarget);
    } else {
        object.insert(QStringLiteral("windowsPath"), change.winPath);
        QJsonArray files;
        for (const TrashEntry &file : change.files)
            files.append(fileObject(file));
        object.insert(QStringLiteral("files"), files);
    }
    return line(object);
}

std::optional<JournalChange> changeOf(const QJsonObject &object)
{
    JournalChange change;
    const QString kind = object.value(QStringLiteral("change")).toString();
    change.winPath = object.value(QStringLiteral("windowsPath")).toString();
    if (kind == QLatin1String("replace")) {
        change.kind = JournalChange::Kind::Replace;
        change.path = fromBase64(object.value(QStringLiteral("pathBytes")));
        change.device = numberOf(object.value(QStringLiteral("device")));
        change.inode = numberOf(object.value(QStringLiteral("inode")));
        change.oldBytes = fromBase64(object.value(QStringLiteral("oldBytes")));
        change.newSize = object.value(QStringLiteral("newSize")).toInteger();
        change.newSha256 =
            QByteArray::fromHex(object.value(QStringLiteral("newSha256")).toString().toLatin1());
        change.oldTarget = object.value(QStringLiteral("oldTarget")).toString();
        change.newTarget = object.value(QStringLiteral("newTarget")).toString();
        if (change.path.isEmpty() || change.newSha256.size() != 32)
            return std::nullopt;
        return change;
    }
    if (kind == QLatin1String("trash") || kind == QLatin1String("untrash")) {
        change.kind =
            kind == QLatin1String("trash") ? JournalChange::Kind::Trash : JournalChange::Kind::Untrash;
        for (const QJsonValue &file : object.value(QStringLiteral("files")).toArray()) {
            change.files.append(fileOf(file.toObject()));
            if (change.files.last().path.isEmpty() || change.files.last().trashPath.isEmpty())
                return std::nullopt;
        }
        return change;
    }
    return std::nullopt;
}

// Makes each missing folder of an absolute path, for this user alone.
int makeFolders(const QByteArray &path)
{
    const QByteArray clean = posix::cleanPath(path);
    qsizetype at = 1;
    while (at <= clean.size()) {
        qsizetype slash = clean.indexOf('/', at);
        if (slash < 0)
            slash = clean.size();
        const QByteArray part = clean.left(slash);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return errno;
        at = slash + 1;
    }
    return 0;
}

struct JournalFileInfo
{
    QByteArray path;
    qint64 size = 0;
    qint64 mtime = 0;
};

QList<JournalFileInfo> journalFiles(const QByteArray &folder)
{
    QList<JournalFileInfo> files;
    const posix::DirHandle dir = posix::openFolder(folder);
    if (!dir)
        return files;
    while (const dirent *entry = ::readdir(dir.get())) {
        const QByteArray name(entry->d_name);
        if (!name.endsWith(Suffix) || name.startsWith('.'))
            continue;
        struct stat st;
        const QByteArray path = posix::join(folder, name);
        if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        files.append({path, qint64(st.st_size), qint64(st.st_mtim.tv_sec)});
    }
    // Oldest first: by the time of the last change, then by name.
    std::sort(files.begin(), files.end(), [](const JournalFileInfo &a, const JournalFileInfo &b) {
        return a.mtime != b.mtime ? a.mtime < b.mtime : a.path < b.path;
    });
    return files;
}

} // namespace

QByteArray JournalChange::digest(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

ChangeJournal::ChangeJournal(QString what, QString undoes, QByteArray folder)
    : m_what(std::move(what)), m_undoes(std::move(undoes)),
      m_folder(folder.isEmpty() ? defaultFolder() : std::move(folder))
{}

ChangeJournal::~ChangeJournal() = default;

QByteArray ChangeJournal::defaultFolder()
{
    QByteArray state = qgetenv("XDG_STATE_HOME");
    if (!state.startsWith('/'))
        state = qgetenv("HOME") + "/.local/state";
    return posix::cleanPath(state) + "/linkmend";
}

int ChangeJournal::open()
{
    if (const int error = makeFolders(posix::parentPath(posix::cleanPath(m_folder))))
        return error;
    if (const int error = posix::makeOwnFolder(m_folder, 0700))
        return error;
    const QDateTime now = QDateTime::currentDateTime();
    const QString stem = now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int attempt = 1; attempt < 1000; ++attempt) {
        const QString name = attempt == 1 ? stem : stem + QLatin1Char('-') + QString::number(attempt);
        const QByteArray path = posix::join(m_folder, QFile::encodeName(name) + Suffix);
        const int fd =
            ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return errno;
        }
        m_fd.reset(fd);
        m_name = name;
        m_path = path;
        QJsonObject header{
            {QStringLiteral("journal"), QStringLiteral("linkmend")},
            {QStringLiteral("version"), 1},
            {QStringLiteral("run"), name},
            {QStringLiteral("started"), now.toUTC().toString(Qt::ISODateWithMs)},
            {QStringLiteral("what"), m_what},
        };
        if (!m_undoes.isEmpty())
            header.insert(QStringLiteral("undoes"), m_undoes);
        if (const int error = posix::writeAll(m_fd.get(), line(header))) {
            discard();
            return error;
        }
        prune();
        return 0;
    }
    return EEXIST;
}

void ChangeJournal::discard()
{
    // A file begun but holding no change is no journal: nothing of this run
    // was changed.
    ::unlink(m_path.constData());
    m_fd.reset();
    m_name.clear();
    m_path.clear();
}

int ChangeJournal::record(const JournalChange &change, const Flush &flush)
{
    const auto toDisk = [&flush](int fd, bool dataOnly) {
        if (flush)
            return flush(fd);
        const int done = dataOnly ? ::fdatasync(fd) : ::fsync(fd);
        return done == 0 ? 0 : (errno ? errno : EIO);
    };
    bool made = false;
    if (!m_fd.isValid()) {
        if (const int error = open())
            return error;
        made = true;
    }
    if (m_broken)
        return EIO;
    const off_t before = ::lseek(m_fd.get(), 0, SEEK_END);
    int error = before < 0 ? errno : posix::writeAll(m_fd.get(), changeLine(change));
    if (!error)
        error = toDisk(m_fd.get(), true);
    if (!error && made) {
        // The new file's name must last as well as its contents.
        const posix::UniqueFd dir(::open(m_folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        error = dir.isValid() ? toDisk(dir.get(), false) : (errno ? errno : EIO);
    }
    if (error) {
        // A part of a line is passed over by readers, and so is the line of
        // a change that is not made; a file that holds no change goes.
        if (made) {
            discard();
        } else if (before < 0 || ::ftruncate(m_fd.get(), before) != 0) {
            // What follows would join the cut-off line: nothing more is
            // recorded, so nothing more is changed.
            m_broken = true;
        }
        return error;
    }
    ++m_changes;
    m_replaces += int(change.kind == JournalChange::Kind::Replace);
    return 0;
}

void ChangeJournal::prune() const
{
    const QList<JournalFileInfo> files = journalFiles(m_folder);
    const qint64 oldest = QDateTime::currentSecsSinceEpoch() - qint64(kMaxAgeDays) * 24 * 3600;
    qint64 total = 0;
    for (const JournalFileInfo &file : files)
        total += file.size;
    for (const JournalFileInfo &file : files) {
        if (file.path == m_path)
            continue;
        if (file.mtime < oldest || total > kMaxTotalBytes) {
            if (::unlink(file.path.constData()) == 0)
                total -= file.size;
        }
    }
}

std::optional<JournalRun> ChangeJournal::read(const QByteArray &file)
{
    const std::optional<QByteArray> bytes = posix::readSmallFile(file, kMaxReadBytes);
    if (!bytes)
        return std::nullopt;
    JournalRun run;
    run.file = file;
    qsizetype at = 0;
    bool first = true;
    while (at < bytes->size()) {
        const qsizetype end = bytes->indexOf('\n', at);
        if (end < 0) {
            // Cut off while it was being written: that change never began.
            run.torn = true;
            break;
        }
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(bytes->mid(at, end - at), &error);
        at = end + 1;
        if (!document.isObject()) {
            run.torn = true;
            continue;
        }
        const QJsonObject object = document.object();
        if (first) {
            if (object.value(QStringLiteral("journal")).toString() != QLatin1String("linkmend"))
                return std::nullopt;
            run.name = object.value(QStringLiteral("run")).toString();
            run.what = object.value(QStringLiteral("what")).toString();
            run.undoes = object.value(QStringLiteral("undoes")).toString();
            run.started =
                QDateTime::fromString(object.value(QStringLiteral("started")).toString(), Qt::ISODateWithMs);
            first = false;
            continue;
        }
        if (std::optional<JournalChange> change = changeOf(object))
            run.changes.append(std::move(*change));
        else
            run.torn = true;
    }
    if (first)
        return std::nullopt;
    return run;
}

QList<JournalRun> ChangeJournal::runs(const QByteArray &folder)
{
    QList<JournalRun> found;
    for (const JournalFileInfo &file : journalFiles(folder.isEmpty() ? defaultFolder() : folder)) {
        if (std::optional<JournalRun> run = read(file.path))
            found.append(std::move(*run));
    }
    // In the order they began.
    std::stable_sort(found.begin(), found.end(),
                     [](const JournalRun &a, const JournalRun &b) { return a.started < b.started; });
    return found;
}

std::variant<JournalRun, QString> ChangeJournal::find(const QString &name, const QByteArray &folder)
{
    const QList<JournalRun> all = runs(folder);
    if (name == QLatin1String("--last")) {
        if (all.isEmpty())
            return QStringLiteral("no run has changed anything yet");
        return all.last();
    }
    for (const JournalRun &run : all) {
        if (run.name == name)
            return run;
    }
    return QStringLiteral("no run called %1 (linkmend undo lists them)").arg(name);
}
