// The forms of a link's target: where each structure of the file says the
// target is, in the order a caller tries them, and the path Windows shows.

#include "lnk/LnkFile.h"

#include "lnk/AnsiCodec.h"
#include "lnk/WinVariables.h"
#include "winpath/WinPathText.h"

#include <cstring>

namespace {

QString joinPath(const QString &base, const QString &suffix)
{
    if (suffix.isEmpty())
        return base;
    if (base.endsWith(QLatin1Char('\\')))
        return base + suffix;
    return base + QLatin1Char('\\') + suffix;
}

// Whether a path is absolute: "c:\dir" or "\\server\share\dir".
bool isAbsolute(const QString &path)
{
    const auto separator = [&](qsizetype i) {
        return path.size() > i && (path.at(i) == QLatin1Char('\\') || path.at(i) == QLatin1Char('/'));
    };
    const QChar letter = path.isEmpty() ? QChar() : path.at(0).toLower();
    if (letter >= QLatin1Char('a') && letter <= QLatin1Char('z') && path.size() >= 3 &&
        path.at(1) == QLatin1Char(':') && separator(2))
        return true;
    return separator(0) && separator(1) && path.size() > 2 && !separator(2);
}

QString unquoted(QString text)
{
    text = text.trimmed();
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        text = text.mid(1, text.size() - 2);
    return text;
}

} // namespace

// The forms of a link's target, each as the file holds it, with what the
// order of targetPath needs to know about them.
struct LnkFile::Forms
{
    std::optional<LnkTargetForm> environment;
    bool environmentFirst = false; // holds a %variable%, or PreferEnvironmentPath
    std::optional<LnkTargetForm> local, network;
    bool localGuess = false, networkGuess = false; // the ANSI reading is a guess
    std::optional<LnkTargetForm> idList;
    std::optional<LnkTargetForm> relative;             // from the shortcut's folder
    std::optional<LnkTargetForm> relativeToWorkingDir; // from the working folder
};

QByteArray LnkFile::ansiBytes(const Text &t) const
{
    const char *p = m_bytes.constData() + t.offset;
    const void *nul = std::memchr(p, 0, static_cast<size_t>(t.size));
    return QByteArray(p, nul ? static_cast<const char *>(nul) - p : t.size);
}

void LnkFile::collectLinkInfoForms(Forms &forms, bool otherReadings) const
{
    if (!m_linkInfo.present() || (linkFlags() & LnkFlag::ForceNoLinkInfo))
        return;
    // One piece of a LinkInfo path: its text, and its bytes when it was read
    // from ANSI bytes beyond ASCII (whose code page is a guess).
    struct Piece
    {
        QString text;
        std::optional<QByteArray> ansi;
        bool guess = false;
        bool present() const { return !text.isEmpty(); }
    };
    auto pick = [this](const Text &wide, const Text &ansi) {
        Piece p;
        if (wide.present()) {
            p.text = text(wide);
        } else if (ansi.present()) {
            p.text = text(ansi);
            const QByteArray bytes = ansiBytes(ansi);
            if (!AnsiCodec::isAscii(bytes.constData(), bytes.size()))
                p.ansi = bytes;
            // A '?' (never valid in a Windows name) is where the writer's
            // code page had no form for a character.
            p.guess = p.ansi || p.text.contains(QLatin1Char('?'));
        }
        return p;
    };
    // The readings of base + suffix in the other code pages. Both were
    // written in the writer's code page, so they are read in the same one;
    // but each on its own, for a lead byte at the end of one piece must not
    // take the separator or the next piece's first byte, and a code page in
    // which either piece is no text gives no reading.
    auto readings = [&](const Piece &base, const Piece &suffix) {
        QStringList out;
        if (!otherReadings || (!base.ansi && !suffix.ansi))
            return out;
        const auto inEachCodePage = [](const Piece &piece) {
            if (piece.ansi)
                return AnsiCodec::readingsInEachCodePage(piece.ansi->constData(), piece.ansi->size());
            AnsiCodec::PageReadings same;
            same.fill(piece.text);
            return same;
        };
        const AnsiCodec::PageReadings bases = inEachCodePage(base);
        const AnsiCodec::PageReadings suffixes = inEachCodePage(suffix);
        const QString path = joinPath(base.text, suffix.text);
        for (size_t page = 0; page < AnsiCodec::kCodePages; ++page) {
            if (!bases[page] || !suffixes[page])
                continue;
            const QString reading = joinPath(*bases[page], *suffixes[page]);
            if (reading != path && !out.contains(reading))
                out << reading;
        }
        return out;
    };
    auto form = [&](LnkFormSource source, const Piece &base, const Piece &suffix) {
        LnkTargetForm f;
        f.source = source;
        f.path = joinPath(base.text, suffix.text);
        f.otherReadings = readings(base, suffix);
        return f;
    };

    const Piece suffix = pick(m_info.suffixUnicode, m_info.suffixAnsi);
    if (m_info.flags & LnkInfoFlag::VolumeIDAndLocalBasePath) {
        const Piece local = pick(m_info.localUnicode, m_info.localAnsi);
        if (local.present()) {
            forms.local = form(LnkFormSource::LinkInfoLocal, local, suffix);
            forms.localGuess = local.guess || suffix.guess;
        }
    }
    if (!(m_info.flags & LnkInfoFlag::CommonNetworkRelativeLinkAndPathSuffix))
        return;
    const Piece device = pick(m_info.deviceUnicode, m_info.deviceAnsi);
    if (!forms.local && device.present()) {
        forms.local = form(LnkFormSource::LinkInfoLocal, device, suffix);
        forms.localGuess = device.guess || suffix.guess;
    }
    const Piece net = pick(m_info.netUnicode, m_info.netAnsi);
    if (!net.present())
        return;
    forms.network = form(LnkFormSource::LinkInfoNetwork, net, suffix);
    forms.networkGuess = net.guess || suffix.guess;
    if (net.guess || !suffix.guess)
        return;
    // The suffix's code page is a guess, but the server and share are not:
    // the names after them are the IDList's last ones, in UTF-16, when the
    // IDList has as many and the suffix's plain ASCII names agree with them.
    const std::optional<QString> list = idListPath();
    if (!list || list->size() < 3 || list->at(1) != QLatin1Char(':'))
        return;
    const QStringList names = suffix.text.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    const QStringList listNames = list->mid(3).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (names.isEmpty() || names.size() > listNames.size())
        return;
    const QStringList tail = listNames.mid(listNames.size() - names.size());
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QByteArray latin = names[i].toLatin1();
        if (AnsiCodec::isAscii(latin.constData(), latin.size()) &&
            names[i].compare(tail[i], Qt::CaseInsensitive) != 0)
            return;
    }
    forms.network->otherReadings.prepend(forms.network->path);
    forms.network->path = joinPath(net.text, tail.join(QLatin1Char('\\')));
    forms.network->otherReadings.removeAll(forms.network->path);
    forms.networkGuess = false;
}

LnkFile::Forms LnkFile::collectForms(const QString &shortcutWinPath, bool otherReadings) const
{
    Forms forms;
    const quint32 flags = linkFlags();
    if (flags & LnkFlag::HasDarwinID)
        return forms;

    if ((flags & LnkFlag::HasExpString) && !(flags & LnkFlag::DisableLinkPathTracking)) {
        if (std::optional<QString> env = environmentTarget()) {
            const QString stored = unquoted(*env);
            if (!stored.isEmpty()) {
                const std::optional<WinVariables::Profile> profile = WinVariables::profileOf(shortcutWinPath);
                const std::optional<QString> expanded =
                    WinVariables::expand(stored, profile ? &*profile : nullptr);
                LnkTargetForm f;
                f.source = LnkFormSource::Environment;
                f.path = expanded.value_or(stored);
                f.formed = expanded.has_value();
                forms.environment = f;
                forms.environmentFirst =
                    (flags & LnkFlag::PreferEnvironmentPath) || stored.contains(QLatin1Char('%'));
            }
        }
    }
    collectLinkInfoForms(forms, otherReadings);
    if (const std::optional<QString> list = idListPath()) {
        LnkTargetForm f;
        f.source = LnkFormSource::IdList;
        f.path = *list;
        forms.idList = f;
    }
    return forms;
}

void LnkFile::collectRelativeForms(Forms &forms, const QString &shortcutWinPath) const
{
    const std::optional<QString> relative = relativePath();
    if (!relative || (linkFlags() & LnkFlag::HasDarwinID))
        return;
    // The relative path names the same target as the other forms only when
    // it leads to an entry of their name (or to a root, as they do).
    const auto relativeForm = [&](const QString &placed) {
        LnkTargetForm f;
        f.source = LnkFormSource::Relative;
        f.path = placed;
        for (const std::optional<LnkTargetForm> *other :
             {&forms.environment, &forms.local, &forms.network, &forms.idList}) {
            if (!*other)
                continue;
            const QString name = WinPathText::finalName((*other)->path);
            f.sameTarget = name.isEmpty()
                               ? WinPathText::isRoot(placed)
                               : WinPathText::finalName(placed).compare(name, Qt::CaseInsensitive) == 0;
            break;
        }
        return f;
    };
    if (!shortcutWinPath.isEmpty()) {
        if (const std::optional<QString> placed = WinPathText::placeRelative(*relative, shortcutWinPath))
            forms.relative = relativeForm(*placed);
    }
    // A program started through the link runs in its working folder, where
    // a relative path is opened (as Wine does for a link that holds nothing
    // else): one more place for the target, when it is not the one above.
    const std::optional<QString> workingDir = workingDirectory();
    if (!workingDir || !isAbsolute(*workingDir) || isAbsolute(*relative))
        return;
    // placeRelative takes the folder of the file it is given: "*", which no
    // file is named, stands for one in the working folder.
    const std::optional<QString> placed =
        WinPathText::placeRelative(*relative, WinPathText::join(*workingDir, QStringLiteral("*")));
    if (placed && !(forms.relative && forms.relative->path.compare(*placed, Qt::CaseInsensitive) == 0))
        forms.relativeToWorkingDir = relativeForm(*placed);
}

std::vector<LnkTargetForm> LnkFile::targetForms(bool uncPriority, const QString &shortcutWinPath) const
{
    Forms forms = collectForms(shortcutWinPath, true);
    collectRelativeForms(forms, shortcutWinPath);
    std::vector<LnkTargetForm> out;
    const std::optional<LnkTargetForm> *order[] = {&forms.environment,
                                                   uncPriority ? &forms.network : &forms.local,
                                                   uncPriority ? &forms.local : &forms.network,
                                                   &forms.idList,
                                                   &forms.relative,
                                                   &forms.relativeToWorkingDir};
    for (const std::optional<LnkTargetForm> *form : order) {
        if (*form)
            out.push_back(**form);
    }
    return out;
}

std::optional<QString> LnkFile::targetPath(bool uncPriority, const QString &shortcutWinPath) const
{
    if (linkFlags() & LnkFlag::HasDarwinID)
        return QString();
    Forms forms = collectForms(shortcutWinPath, false);
    const auto formed = [](const std::optional<LnkTargetForm> &f) { return f && f->formed; };

    if (formed(forms.environment) && forms.environmentFirst)
        return forms.environment->path;
    const bool network = forms.network && (uncPriority || !forms.local);
    const std::optional<LnkTargetForm> &info = network ? forms.network : forms.local;
    if (info) {
        const bool guess = network ? forms.networkGuess : forms.localGuess;
        return guess && forms.idList ? forms.idList->path : info->path;
    }
    if (forms.idList)
        return forms.idList->path;
    if (formed(forms.environment))
        return forms.environment->path;
    collectRelativeForms(forms, shortcutWinPath);
    if (forms.relative)
        return forms.relative->path;
    if (forms.relativeToWorkingDir)
        return forms.relativeToWorkingDir->path;
    if (forms.environment)
        return std::nullopt; // only a variable that cannot be expanded
    return QString();
}
