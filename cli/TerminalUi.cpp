#include "cli/TerminalUi.h"

#include "cli/RunDrives.h"
#include "shell/ShellServices.h"

bool TerminalUi::confirmDelete(const QStringList &paths, const QString &, int launchers)
{
    if (m_answeredYes)
        return true;
    // The paths as the user named them on this machine, not in Windows form.
    QByteArray text;
    // The launchers Wine made for the shortcuts go with them; the question says so.
    const QByteArray along = ShellServices::launchersGoingText(launchers, paths.size() == 1).toUtf8();
    if (paths.size() == 1) {
        text =
            "Move " + printable(posixPathOf(*m_drives, paths.first())) + " to the trash?" + along + " [y/N] ";
    } else {
        for (qsizetype i = 0; i < paths.size() && i < ListedFiles; ++i)
            text += "  " + printable(posixPathOf(*m_drives, paths.at(i))) + '\n';
        if (paths.size() > ListedFiles)
            text += QByteArray("  ...and ") + QByteArray::number(paths.size() - ListedFiles) + " more\n";
        text += "Move these " + QByteArray::number(paths.size()) + " files to the trash?" + along + " [y/N] ";
    }
    m_console.err(text);
    const std::optional<QByteArray> answer = m_console.readLine();
    if (!answer)
        m_console.err("\n");
    const QByteArray word = answer.value_or(QByteArray()).trimmed().toLower();
    return word == "y" || word == "yes";
}

void TerminalUi::showMessage(const QString &text)
{
    m_console.err(text.toUtf8() + '\n');
}
