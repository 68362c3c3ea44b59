#pragma once

#include "shell/LinkVerdict.h"

#include <QString>

#include <functional>

class FolderListingSource;

// Judges shortcut files: what the scan, the command line and the window ask
// of the link service. The scan and the review take a judge, so tests can
// hand them one that answers as they like.
class LinkJudge
{
public:
    struct Options
    {
        // Search for a target that is missing in every form.
        bool search = true;
        // Write a target found again back into the file.
        bool writeRepairs = false;
        // How long looking at the target and searching for it may take, in
        // milliseconds; 0 for the service's default.
        quint32 timeLimitMs = 0;
        // Look at every form of the target, also after one was found to
        // exist (to show them all); the verdict is the same.
        bool everyForm = false;
    };

    virtual ~LinkJudge() = default;

    // The verdict on the shortcut at a Windows-form path.
    virtual LinkVerdict judge(const QString &shortcut, const Options &options) = 0;
    // The verdict on a shortcut file whose name has no Windows form, named
    // by its POSIX path; `shownPath` (its folder's Windows path and its name
    // as it can be shown) stands for it in the verdict and places a relative
    // target. The default judges nothing.
    virtual LinkVerdict judgeFile(const QByteArray &posixPath, const QString &shownPath,
                                  const Options &options)
    {
        Q_UNUSED(posixPath);
        Q_UNUSED(options);
        LinkVerdict verdict;
        verdict.shortcut = shownPath;
        verdict.reason = QStringLiteral("cannot be read");
        return verdict;
    }
    // The target the file holds now (looked at briefly, never searched for,
    // never written): what a click on a listed shortcut shows.
    LinkVerdict read(const QString &shortcut) { return judge(shortcut, Options{false, false, 500, false}); }

    // A scan brackets its walk with these, so a judge that keeps state from
    // one shortcut to the next can serve the whole walk. From beginScan on,
    // `progress` runs every few milliseconds while a judgement waits or
    // searches (the window stays alive with it), and scanListings() may give
    // the folder listings the judge keeps, for the walk to share; they stay
    // the judge's and are valid until endScan. endScan drops the hook, stops
    // the sharing and may free what was kept. The defaults do nothing.
    virtual void beginScan(std::function<void()> progress) { (void)progress; }
    // During a scan, `stop` is asked as often as the progress hook runs:
    // once it says so, a judgement under way ends its wait or search at once
    // and the shortcut is left unjudged (never called broken for a search
    // that did not end). endScan forgets it.
    virtual void stopWhen(std::function<bool()> stop) { (void)stop; }
    virtual FolderListingSource *scanListings() { return nullptr; }
    virtual void endScan() {}
};
