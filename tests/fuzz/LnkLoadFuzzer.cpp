// libFuzzer entry point for the shortcut loader: every input must load
// cleanly or fail cleanly, a loaded link must write back its exact bytes, and
// a link whose target is replaced must read back with the new target.

#include "lnk/LnkFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // No copy: the loader reads the fuzzer's own exact-size buffer, so the
    // address sanitizer sees any read past its end.
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    auto parsed = LnkFile::parse(bytes);
    auto *link = std::get_if<LnkFile>(&parsed);
    if (!link)
        return 0;
    (void)link->targetPath(false);
    (void)link->targetPath(true);
    // Every form, as for a shortcut inside a user's profile (relative path,
    // per-user variables, code-page readings).
    const QString placed = QStringLiteral("c:\\Users\\fuzz\\Desktop\\x.lnk");
    for (const LnkTargetForm &form : link->targetForms(true, placed))
        (void)form.readings();
    (void)link->targetPath(true, placed);
    (void)link->name();
    (void)link->relativePath();
    (void)link->workingDirectory();
    (void)link->arguments();
    (void)link->iconLocation();
    (void)link->volume();
    (void)link->tracker();
    if (link->serialize() != bytes)
        std::abort();

    LnkFile changed = *link;
    LnkTargetInfo target;
    target.winPath = QStringLiteral("c:\\fuzz\\t\u00e9st.txt");
    target.attributes = 0x20;
    if (!changed.setTarget(target, QStringLiteral("c:\\fuzz\\links\\x.lnk")))
        std::abort();
    auto again = LnkFile::parse(changed.serialize());
    auto *reread = std::get_if<LnkFile>(&again);
    if (!reread)
        std::abort();
    if (!(reread->linkFlags() & LnkFlag::HasDarwinID) &&
        reread->targetPath(true) != QStringLiteral("C:\\fuzz\\t\u00e9st.txt"))
        std::abort();
    return 0;
}
