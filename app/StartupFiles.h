#pragma once

#include <QByteArray>
#include <QString>

class BusyAnimation;

// The files the main window writes at every start: the busy animation's
// picture and the small page that shows it as its background. Both go into
// a folder of the user's own (see GetCommonDocumentsFolder), each written to
// a temporary name and renamed into place, so a symbolic link planted at
// either name is replaced, never followed.

// The folder for documents the program shares between its runs: the per-user
// cache folder $XDG_CACHE_HOME/linkmend (~/.cache/linkmend), made with mode
// 0700 when missing. Without a trailing slash; empty when it cannot be made.
QString GetCommonDocumentsFolder();

// Writes the whole named resource to the file at posixPath, replacing any
// file of that name. Throws ResourceNotFound, or std::runtime_error
// "Cannot create file "<path>". <reason>".
void ExtractResourceToFile(const QString &name, const QString &posixPath);

namespace StartupFiles {

// Resource names, as the program asks for them.
inline const QString PageResource = QStringLiteral("Untitled3");
inline const QString PictureResource = QStringLiteral("example");

// The page's bytes: the page template with the picture that line 15 names as
// the body's background replaced by a file: address of picturePath. Every
// other byte stays as the template has it. Throws std::runtime_error when
// the template has no such line.
QByteArray pageFor(const QByteArray &pageTemplate, const QString &picturePath);

// Writes the page to pagePath, naming picturePath as its background.
// Failures as ExtractResourceToFile.
void writePage(const QString &pagePath, const QString &picturePath);

struct Result
{
    QString pagePath;    // <folder>/ht.htm
    QString picturePath; // <folder>/savedata/example.gif
    bool pageWritten = false;
    bool pictureWritten = false;
    bool animationStarted = false;
    QString error; // the first failure's message; empty when all went well
};

// Makes the picture folder (a failure there only shows in the picture's own
// write), then writes the page and the picture, in that order. Tries both
// even when the first fails; never throws.
Result writeAll();

// The main window's start-up steps for its busy indicator: writeAll(), then
// the indicator starts playing the picture just written. A failure does not
// stop the others; after all were tried, the first one is thrown as
// std::runtime_error (once), for the general error box. The indicator then
// stays empty and the still picture beneath it shows.
Result startUp(BusyAnimation &indicator);

} // namespace StartupFiles
