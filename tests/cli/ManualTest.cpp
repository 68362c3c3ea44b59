#include "cli/CommandLine.h"
#include "cli/HelpText.h"

#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <variant>

namespace {

// The lines of the manual's section `heading`, as written.
QStringList manualSection(const QString &heading)
{
    QStringList lines;
    bool inSection = false;
    for (const QString &line : QString::fromUtf8(manualText()).split(QLatin1Char('\n'))) {
        if (!line.isEmpty() && !line.startsWith(QLatin1Char(' '))) {
            inSection = line == heading;
            continue;
        }
        if (inSection)
            lines << line;
    }
    return lines;
}

// The terms a section describes ("-y, --yes" gives "-y" and "--yes"): the
// lines indented by four spaces that lines indented by eight follow.
QStringList describedTerms(const QString &heading)
{
    const QStringList lines = manualSection(heading);
    QStringList terms;
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].startsWith(QLatin1String("    ")) && lines[i].at(4) != QLatin1Char(' ') &&
            lines[i + 1].startsWith(QLatin1String("        ")))
            terms << lines[i].trimmed().split(QStringLiteral(", "));
    }
    return terms;
}

} // namespace

TEST(Manual, DescribesAndAcceptsEveryCommandAndOptionOfItsSynopsis)
{
    const QStringList commands = describedTerms(QStringLiteral("COMMANDS"));
    const QStringList options = describedTerms(QStringLiteral("OPTIONS"));
    const QRegularExpression optionGroup(QStringLiteral("\\[(-[^\\]]+)\\]"));
    int lines = 0;
    for (const QString &line : manualSection(QStringLiteral("SYNOPSIS"))) {
        const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.size() < 2)
            continue;
        SCOPED_TRACE(line.toStdString());
        ++lines;
        if (words[1].startsWith(QLatin1Char('-'))) {
            // "linkmend --help | --version": each stands alone.
            for (const QString &option : words.mid(1)) {
                if (!option.startsWith(QLatin1Char('-')))
                    continue;
                EXPECT_TRUE(options.contains(option)) << option.toStdString();
                const auto parsed = CommandLine::parse({option});
                ASSERT_TRUE(std::holds_alternative<CommandLine>(parsed)) << option.toStdString();
                EXPECT_EQ(CommandLine::name(std::get<CommandLine>(parsed).command), option);
            }
            continue;
        }
        // "linkmend COMMAND [--flag] [--option VALUE] OPERAND...": described
        // under COMMANDS and OPTIONS, and the command line takes it all.
        const QString command = words[1];
        EXPECT_TRUE(std::any_of(commands.cbegin(), commands.cend(), [&](const QString &term) {
            return term.section(QLatin1Char(' '), 0, 0) == command;
        })) << command.toStdString();
        QStringList arguments{command};
        for (const QRegularExpressionMatch &group : optionGroup.globalMatch(line)) {
            EXPECT_TRUE(options.contains(group.captured(1))) << group.captured(1).toStdString();
            arguments << group.captured(1).split(QLatin1Char(' '));
        }
        // An operand, unless the command may go without one ("[RUN]").
        if (!words.last().endsWith(QLatin1Char(']')))
            arguments << QStringLiteral("operand");
        const auto parsed = CommandLine::parse(arguments);
        ASSERT_TRUE(std::holds_alternative<CommandLine>(parsed))
            << std::get<CommandLine::Error>(parsed).message.toStdString();
        EXPECT_EQ(CommandLine::name(std::get<CommandLine>(parsed).command), command);
    }
    EXPECT_GE(lines, 4);
}
