#pragma once

#include "lnk/LnkFile.h"
#include "shell/FileFacts.h"
#include "support/TempDrives.h"

#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ostream>

#include <variant>

// Readable failure messages for the texts the tests compare.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

// Runs the built program as a process on throw-away drives c: and d:, the way
// a user runs it in a terminal without a display: no DISPLAY, no
// QT_QPA_PLATFORM, a temporary home with its own data (trash), cache, state
// (journal) and config (menu files) folders, WINEPREFIX at the drives' prefix.
class ProgramFixture : public ::testing::Test
{
protected:
    struct Run
    {
        int status = -1;
        QByteArray out;
        QByteArray err;

        // Standard output's lines, sorted: the walk's order within a folder
        // is the file system's.
        QStringList sortedLines() const
        {
            QStringList lines = QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            lines.sort();
            return lines;
        }
        QStringList errLines() const
        {
            return QString::fromUtf8(err).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        }
    };

    ProgramFixture() { QDir().mkpath(home.path() + QStringLiteral("/data")); }

    // What a terminal without a display hands the program: a search path and
    // the sanitizers' settings of a sanitizer build, nothing else.
    static QProcessEnvironment bareEnvironment()
    {
        QProcessEnvironment environment;
        for (const char *name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
            if (qEnvironmentVariableIsSet(name))
                environment.insert(QLatin1String(name), qEnvironmentVariable(name));
        }
        environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        return environment;
    }

    // Runs `Linkmend arguments...`, with `input` on standard input.
    Run run(const QStringList &arguments, const QByteArray &input = {}, bool prefixInEnvironment = true)
    {
        QProcessEnvironment environment = bareEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.path() + QStringLiteral("/data"));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.path() + QStringLiteral("/cache"));
        environment.insert(QStringLiteral("XDG_STATE_HOME"), home.path() + QStringLiteral("/state"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/.config"));
        if (prefixInEnvironment)
            environment.insert(QStringLiteral("WINEPREFIX"), QFile::decodeName(drives.prefix()));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(home.path());
        process.start(QStringLiteral(LINKMEND_PROGRAM), arguments);
        EXPECT_TRUE(process.waitForStarted(60000));
        process.write(input);
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(120000)) << "the program did not finish";
        Run result;
        result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = process.readAllStandardOutput();
        result.err = process.readAllStandardError();
        return result;
    }

    // The POSIX path of a file below a drive, as the program prints it.
    QString path(const QString &relative, QChar letter = QLatin1Char('c')) const
    {
        return QFile::decodeName(drives.posix(relative, letter));
    }

    // Writes a shortcut below c: to `target` (Windows form). With `times`,
    // it records them and a size of 5 bytes, as Windows does for a file.
    QString shortcut(const QString &relative, const QString &target, quint32 attributes = 0x20,
                     quint64 times = 0)
    {
        LnkTargetInfo info;
        info.winPath = target;
        info.attributes = attributes;
        info.creationTime = info.writeTime = info.accessTime = times;
        info.size = times ? 5 : 0;
        write(relative, info);
        return path(relative);
    }

    // A shortcut to a file below c: that exists now, recording its size and
    // times, so it can be found again once moved.
    QString shortcutToExisting(const QString &relative, const QString &targetRelative)
    {
        FileFacts facts;
        EXPECT_EQ(readFacts(drives.posix(targetRelative), facts), FactsStatus::Found);
        LnkTargetInfo info;
        info.winPath = drives.win(targetRelative);
        info.attributes = facts.attributes;
        info.size = facts.size;
        info.writeTime = facts.writeTime;
        info.creationTime = facts.creationTime ? facts.creationTime : facts.writeTime;
        info.accessTime = facts.accessTime;
        write(relative, info);
        return path(relative);
    }

    void move(const QString &from, const QString &to)
    {
        QDir().mkpath(QFileInfo(path(to)).absolutePath());
        ASSERT_TRUE(QFile::rename(path(from), path(to)));
    }

    // Every file below both drives, hidden ones included: its bytes and its
    // modification time in nanoseconds.
    QMap<QString, std::pair<QByteArray, qint64>> snapshot() const
    {
        QMap<QString, std::pair<QByteArray, qint64>> files;
        for (const QChar letter : {QLatin1Char('c'), QLatin1Char('d')}) {
            QDirIterator it(QFile::decodeName(drives.root(letter)), QDir::Files | QDir::Hidden | QDir::System,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString file = it.next();
                struct stat st;
                EXPECT_EQ(::lstat(QFile::encodeName(file).constData(), &st), 0);
                files.insert(file, {readWholeFile(QFile::encodeName(file)),
                                    qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec});
            }
        }
        return files;
    }

    TempDrives drives{QStringLiteral("cd")};
    QTemporaryDir home;

private:
    void write(const QString &relative, const LnkTargetInfo &info)
    {
        auto made = LnkFile::create(info, drives.win(relative));
        ASSERT_TRUE(std::holds_alternative<LnkFile>(made)) << info.winPath.toStdString();
        drives.writeFile(relative, std::get<LnkFile>(made).serialize());
    }
};
