#pragma once

#include "cli/Console.h"
#include "shell/ShellUi.h"

#include <memory>

class DriveContext;

// The shell services' questions and messages, on the terminal: the question
// before moving files to the trash is asked on standard error and answered
// with a line of standard input ("y" or "yes"; anything else, or no input,
// is no), unless the user answered it in advance with --yes. Messages go to
// standard error. Nothing is opened.
class TerminalUi : public ShellUi
{
public:
    // Files are named by their paths on this machine, through `drives`.
    TerminalUi(Console &console, bool answeredYes, std::shared_ptr<const DriveContext> drives)
        : m_console(console), m_answeredYes(answeredYes), m_drives(std::move(drives))
    {}

    // At most this many files are named before the question; the rest are
    // counted.
    static constexpr int ListedFiles = 20;

    bool confirmDelete(const QStringList &paths, const QString &question, int launchers) override;
    void showMessage(const QString &text) override;
    void openUrl(const QUrl &) override {}

private:
    Console &m_console;
    bool m_answeredYes;
    std::shared_ptr<const DriveContext> m_drives;
};
