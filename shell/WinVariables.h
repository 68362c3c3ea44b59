#pragma once

// Expansion of the Windows environment variables that shortcut targets use
// ("%ProgramFiles%\App\app.exe"). Only the well-known folder variables whose
// value is the same on every Windows installed on drive c: are known; a
// user's own folders (%USERPROFILE%, %APPDATA%, ...) differ between machines
// and users, so a path holding one cannot be formed definitely here.

#include <QByteArray>
#include <QString>

#include <optional>

namespace WinVariables {

// The value of one variable (name without percent signs, any case), or
// nothing when it is not one of the well-known ones.
std::optional<QString> value(QStringView name);

// Replaces every %NAME% in text. Nothing when some %NAME% is not known: the
// caller cannot tell what the text means. A lone percent sign, or one
// followed by a backslash before the next percent sign, is kept as written.
std::optional<QString> expand(const QString &text);

// The same fixed folders by the ids links use to name them: a
// KNOWNFOLDERID (16 bytes as stored) or a CSIDL.
std::optional<QString> knownFolder(const QByteArray &folderId);
std::optional<QString> specialFolder(quint32 csidl);

} // namespace WinVariables
