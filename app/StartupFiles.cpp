#include "app/StartupFiles.h"

#include "controls/BusyAnimation.h"
#include "platform/ReplaceFile.h"
#include "resources/Resources.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

const QString FolderName = QStringLiteral("linkmend");
const QString PageName = QStringLiteral("ht.htm");
const QString PictureFolderName = QStringLiteral("savedata");
const QString PictureName = QStringLiteral("example.gif");
// The page's line (counted from 1) that names the background picture.
constexpr int PictureLine = 15;

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

[[noreturn]] void cannotCreate(const QString &path, int error)
{
    throw std::runtime_error(
        QStringLiteral("Cannot create file \"%1\". %2").arg(path, systemReason(error)).toStdString());
}

void writeFile(const QString &posixPath, const QByteArray &bytes)
{
    if (const int error = posix::replaceFile(QFile::encodeName(posixPath), bytes))
        cannotCreate(posixPath, error);
}

// The cache folder, made when missing; its errno when it cannot be made.
QString commonFolder(int &error)
{
    error = 0;
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty()) {
        error = ENOENT;
        return {};
    }
    QDir().mkpath(cache);
    const QString folder = QDir::cleanPath(cache + QLatin1Char('/') + FolderName);
    error = posix::makeOwnFolder(QFile::encodeName(folder), 0700);
    return error == 0 ? folder : QString();
}

// An address for the picture that a browser reads from the page: a file:
// URL, percent-encoded, so the page stays ASCII and no character of the path
// can end the attribute.
QByteArray pictureAddress(const QString &picturePath)
{
    QByteArray address = QUrl::fromLocalFile(picturePath).toEncoded(QUrl::FullyEncoded);
    address.replace('&', "%26");
    address.replace('"', "%22");
    address.replace('\'', "%27");
    return address;
}

} // namespace

QString GetCommonDocumentsFolder()
{
    int error = 0;
    return commonFolder(error);
}

void ExtractResourceToFile(const QString &name, const QString &posixPath)
{
    writeFile(posixPath, Resources::data(name));
}

namespace StartupFiles {

QByteArray pageFor(const QByteArray &pageTemplate, const QString &picturePath)
{
    // Find line 15 and the quoted value on it, leaving every other byte alone.
    qsizetype start = 0;
    for (int line = 1; line < PictureLine; ++line) {
        const qsizetype end = pageTemplate.indexOf("\r\n", start);
        if (end < 0)
            throw std::runtime_error("The page template has no picture line");
        start = end + 2;
    }
    const qsizetype end = pageTemplate.indexOf("\r\n", start);
    const qsizetype open = pageTemplate.indexOf('"', start);
    const qsizetype close = open < 0 ? -1 : pageTemplate.indexOf('"', open + 1);
    if (end < 0 || open < 0 || close < 0 || close > end ||
        !pageTemplate.mid(start, open - start).contains("background"))
        throw std::runtime_error("The page template has no picture line");
    QByteArray page = pageTemplate;
    page.replace(open + 1, close - open - 1, pictureAddress(picturePath));
    return page;
}

void writePage(const QString &pagePath, const QString &picturePath)
{
    writeFile(pagePath, pageFor(Resources::data(PageResource), picturePath));
}

Result writeAll()
{
    Result result;
    int folderError = 0;
    const QString folder = commonFolder(folderError);
    if (folder.isEmpty()) {
        // Without the folder neither file can be written; name where the page
        // would have gone and why not.
        const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
        result.pagePath = cache + QLatin1Char('/') + FolderName + QLatin1Char('/') + PageName;
        result.error =
            QStringLiteral("Cannot create file \"%1\". %2").arg(result.pagePath, systemReason(folderError));
        return result;
    }
    const QString pictureFolder = folder + QLatin1Char('/') + PictureFolderName;
    result.pagePath = folder + QLatin1Char('/') + PageName;
    result.picturePath = pictureFolder + QLatin1Char('/') + PictureName;
    // A folder that cannot be made (or is not the program's own) shows as the
    // picture's write failing; nothing is written through it.
    const int pictureFolderError = posix::makeOwnFolder(QFile::encodeName(pictureFolder), 0700);

    const auto attempt = [&result](bool &written, auto &&step) {
        try {
            step();
            written = true;
        } catch (const std::exception &error) {
            if (result.error.isEmpty())
                result.error = QString::fromUtf8(error.what());
        }
    };
    attempt(result.pageWritten, [&] { writePage(result.pagePath, result.picturePath); });
    attempt(result.pictureWritten, [&] {
        if (pictureFolderError)
            cannotCreate(result.picturePath, pictureFolderError);
        ExtractResourceToFile(PictureResource, result.picturePath);
    });
    return result;
}

Result startUp(BusyAnimation &indicator)
{
    Result result = writeAll();
    if (result.pictureWritten) {
        result.animationStarted = indicator.start(result.picturePath);
        if (!result.animationStarted && result.error.isEmpty())
            result.error = indicator.errorString();
    }
    if (!result.error.isEmpty())
        throw std::runtime_error(result.error.toStdString());
    return result;
}

} // namespace StartupFiles
