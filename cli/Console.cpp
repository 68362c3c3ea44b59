#include "cli/Console.h"

#include "platform/Terminal.h"

#include <cstdio>
#include <string>

namespace {

class StandardConsole final : public Console
{
public:
    void out(const QByteArray &bytes) override
    {
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    }
    void err(const QByteArray &bytes) override
    {
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
    }
    std::optional<QByteArray> readLine() override
    {
        std::fflush(stdout);
        QByteArray line;
        for (;;) {
            const int c = std::fgetc(stdin);
            if (c == EOF)
                return line.isEmpty() ? std::nullopt : std::optional<QByteArray>(line);
            if (c == '\n')
                return line;
            line += char(c);
        }
    }
    bool errIsTerminal() const override { return Terminal::standardErrorIsTerminal(); }
    bool flush() override { return std::fflush(stdout) == 0 && !std::ferror(stdout); }
};

} // namespace

void Console::message(const QString &text)
{
    err("linkmend: " + text.toUtf8() + '\n');
}

Console &Console::standard()
{
    static StandardConsole console;
    return console;
}

Progress::Progress(Console &console) : m_console(console), m_enabled(console.errIsTerminal())
{
    m_sinceDrawn.start();
}

Progress::~Progress()
{
    clear();
}

void Progress::update(qint64 folders, qint64 shortcuts)
{
    if (!m_enabled || m_sinceDrawn.elapsed() < IntervalMs)
        return;
    m_console.err(QStringLiteral("\r%1 folders, %2 shortcuts\033[K").arg(folders).arg(shortcuts).toUtf8());
    m_shown = true;
    m_sinceDrawn.start();
}

void Progress::clear()
{
    if (!m_shown)
        return;
    m_console.err("\r\033[K");
    m_shown = false;
}

void insertExactBytes(QJsonObject &object, const QString &key, const QString &shown, const QByteArray &bytes)
{
    if (!bytes.isEmpty() && shown != QString::fromUtf8(bytes))
        object.insert(key + QStringLiteral("Bytes"), QString::fromLatin1(bytes.toBase64()));
}

QByteArray printable(const QString &text)
{
    // A tab or a line end inside a field would split a line of output, so
    // control characters are written as \xNN, as in the paths.
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if (c.category() != QChar::Other_Control)
            shown += c;
        else if (c.unicode() < 0x100)
            shown += QStringLiteral("\\x") +
                     QString::number(c.unicode(), 16).toUpper().rightJustified(2, QLatin1Char('0'));
        else
            shown += QStringLiteral("\\u") +
                     QString::number(c.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0'));
    }
    return shown.toUtf8();
}
