#pragma once

// Expansion of the Windows environment variables that shortcut targets use
// ("%ProgramFiles%\App\app.exe"). The well-known folder variables whose
// value is the same on every Windows installed on drive c: are always known.
// A user's own folders (%USERPROFILE%, %APPDATA%, ...) differ between users,
// so they are known only for a given profile: the one a shortcut lies in.

#include <QByteArray>
#include <QString>

#include <optional>

namespace WinVariables {

// A user's profile folder ("c:\Users\Anna") and the user's name.
struct Profile
{
    QString folder;
    QString userName;
};

// The profile a file lies in: "x:\Users\<name>\..." (Wine writes "users"),
// the shared profiles (Public, Default, All Users, Default User) excepted,
// for they belong to no one user. Nothing for a file elsewhere.
std::optional<Profile> profileOf(const QString &winPath);

// The value of one variable (name without percent signs, any case): the
// well-known ones, and with a profile also USERNAME, USERPROFILE, APPDATA
// and LOCALAPPDATA of that profile. Nothing for any other name.
std::optional<QString> value(QStringView name, const Profile *profile = nullptr);

// Replaces every %NAME% in text. Nothing when some %NAME% is not known: the
// caller cannot tell what the text means. A lone percent sign, or one
// followed by a backslash before the next percent sign, is kept as written.
std::optional<QString> expand(const QString &text, const Profile *profile = nullptr);

// The same fixed folders by the ids links use to name them: a
// KNOWNFOLDERID (16 bytes as stored) or a CSIDL.
std::optional<QString> knownFolder(const QByteArray &folderId);
std::optional<QString> specialFolder(quint32 csidl);

} // namespace WinVariables
