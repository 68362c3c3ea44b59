#include "cli/HelpText.h"

QByteArray helpText()
{
    return R"(NAME
    linkmend - find, repair and list broken Windows shortcuts

SYNOPSIS
    linkmend
    linkmend check [--dry-run] [--ignore-remote] [--json] [--prefix DIR] WHERE...
    linkmend show [--prefix DIR] FILE.lnk...
    linkmend trash [--yes] [--prefix DIR] FILE.lnk...
    linkmend --help | --version

DESCRIPTION
    Without arguments, linkmend opens its window. With a command it works in
    the terminal alone and needs no display.

    Windows shortcuts (*.lnk files) name their targets by drive letter. The
    letters are those of the Wine prefix ($WINEPREFIX, else ~/.wine: every
    entry c:, d:, ... of its dosdevices/ folder); without a prefix, z: is /
    and c: is a mounted Windows installation.

COMMANDS
    check WHERE...
        Walks each WHERE and checks every shortcut in it, as the window's
        Scan button does: a shortcut whose target moved is repaired in place
        when its target is found again (the same kind, name, size and times),
        and every shortcut whose target is still missing is printed, one line
        each: its path, a tab, and the target it points to. Repairs are
        printed as "repaired PATH: OLD -> NEW".

        WHERE is a drive (c:), a folder in Windows form (c:\users), or a
        folder of this machine (/srv/desktops). A folder is walked like a
        drive: files before folders, hidden folders (names starting with a
        dot) and other drives skipped, never round a loop. A folder that lies
        on no drive gets a drive letter of its own for the run, counted down
        from y:.

        Progress (folders and shortcuts so far) is shown on standard error
        when it is a terminal.

    show FILE.lnk...
        Prints what each shortcut holds: the header's flags and times, every
        form of its target (environment block, LinkInfo local and network
        path, IDList, relative path) and whether each exists, which one the
        check goes by, and why the check calls the shortcut broken or not.
        Nothing is written. A file that is not a shortcut is named on
        standard error, and the others are shown all the same.

    trash FILE.lnk...
        Moves the shortcuts to the desktop's trash, from where they can be
        restored, after asking "y/N" on the terminal. Nothing is moved unless
        every FILE is a shortcut. Files are never deleted for good.

OPTIONS
    --dry-run
        check: writes nothing, and prints the repairs it would make as
        "would repair PATH: OLD -> NEW".
    --ignore-remote
        check: leaves out broken shortcuts whose target is on another drive,
        on a network share or has no drive, as the window's "Ignore remote
        shortcuts" does.
    --json
        check: prints one JSON document instead of lines: "broken" (path,
        windowsPath, target), "repairs" (path, windowsPath, oldTarget,
        newTarget, written, failure when the file could not be written),
        "unjudged" (path, windowsPath, reason), "roots", and "counts"
        (folders, shortcuts, repaired, repairsFailed, broken, remote,
        unjudged). In a dry run, "repaired" counts the repairs it would make.
    --prefix DIR
        Takes the drive letters from the Wine prefix DIR instead of
        $WINEPREFIX or ~/.wine. DIR must hold a dosdevices/ folder.
    -y, --yes
        trash: does not ask.
    -h, --help
        Prints this text.
    -V, --version
        Prints the version.

EXIT STATUS
    0   nothing broken (check, show); every file moved (trash)
    1   broken shortcuts found, or a repair that could not be written
        (check, show); a file that could not be moved, or the question
        answered no (trash)
    2   a usage or start-up error, with a one-line message on standard
        error: an unknown command or option, an unknown drive letter, a
        folder that does not exist, a prefix without dosdevices/, a file
        that is not a shortcut

ENVIRONMENT
    WINEPREFIX
        The Wine prefix whose drive letters are used (default ~/.wine).

EXAMPLES
    linkmend check c:
    linkmend check --dry-run --prefix ~/.wine-office c:
    linkmend check --json /srv/profiles > report.json
    linkmend show ~/.wine/drive_c/users/Public/Desktop/Old.lnk
    linkmend check c: | cut -s -f1 | xargs -r -d '\n' linkmend trash --yes
)";
}

QByteArray versionText()
{
    return "Linkmend " LINKMEND_VERSION "\n";
}
