#include "resources/Resources.h"

#include <QDirIterator>
#include <QFile>
#include <QHash>

ResourceNotFound::ResourceNotFound(const QString &name)
    : std::runtime_error(QStringLiteral("Resource %1 not found").arg(name).toStdString())
{}

namespace {

// Resource names as the program asks for them compare without regard to
// case; the compiled-in files are keyed by their upper-case names.
QString key(const QString &name)
{
    return name.toUpper();
}

struct Store
{
    QHash<QString, QString> files;        // upper-case name -> resource path
    QHash<QString, QByteArray> overrides; // test entries
};

Store &store()
{
    static Store instance = [] {
        Store s;
        QDirIterator it(QStringLiteral(":/linkmend"), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            s.files.insert(key(it.fileName()), path);
        }
        return s;
    }();
    return instance;
}

} // namespace

namespace Resources {

QByteArray data(const QString &name)
{
    const Store &s = store();
    const QString k = key(name);
    if (const auto it = s.overrides.constFind(k); it != s.overrides.constEnd())
        return *it;
    const auto it = s.files.constFind(k);
    if (name.isEmpty() || it == s.files.constEnd())
        throw ResourceNotFound(name);
    QFile file(*it);
    if (!file.open(QIODevice::ReadOnly))
        throw ResourceNotFound(name);
    return file.readAll();
}

bool contains(const QString &name)
{
    const Store &s = store();
    const QString k = key(name);
    return !name.isEmpty() && (s.overrides.contains(k) || s.files.contains(k));
}

void registerForTest(const QString &name, const QByteArray &bytes)
{
    Store &s = store();
    if (bytes.isEmpty())
        s.overrides.remove(key(name));
    else
        s.overrides.insert(key(name), bytes);
}

} // namespace Resources
