#include "cli/HelpText.h"

#include <QList>

namespace {

// The lines of the manual's section `heading`, without their indent.
QList<QByteArray> manualSection(const QByteArray &heading)
{
    QList<QByteArray> lines;
    bool inSection = false;
    for (const QByteArray &line : manualText().split('\n')) {
        // A heading starts in the first column; the text is indented.
        if (!line.isEmpty() && line.front() != ' ') {
            if (inSection)
                break;
            inSection = line == heading;
        } else if (inSection && !line.trimmed().isEmpty()) {
            lines << line.trimmed();
        }
    }
    return lines;
}

} // namespace

QByteArray helpText()
{
    QByteArray text = manualSection("NAME").join('\n') + "\n\nUsage:\n";
    for (const QByteArray &line : manualSection("SYNOPSIS"))
        text += "  " + line + '\n';
    return text + "\nSee man linkmend for the whole manual.\n";
}

QByteArray versionText()
{
    return "Linkmend " LINKMEND_VERSION "\n";
}
