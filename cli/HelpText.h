#pragma once

#include <QByteArray>

// The text of `linkmend --help`, laid out like a manual page.
QByteArray helpText();
// The text of `linkmend --version`.
QByteArray versionText();
