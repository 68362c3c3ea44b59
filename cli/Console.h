#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>

#include <optional>

// The three standard streams of a command-line run. The process uses the
// real ones; tests hand in buffers.
class Console
{
public:
    virtual ~Console() = default;

    // Standard output: the report, nothing else.
    virtual void out(const QByteArray &bytes) = 0;
    // Standard error: messages, questions and progress.
    virtual void err(const QByteArray &bytes) = 0;
    // One line of standard input without its line end; nothing at its end.
    virtual std::optional<QByteArray> readLine() = 0;
    // Whether standard error is a terminal, where progress may be drawn.
    virtual bool errIsTerminal() const = 0;
    // Sends what is buffered on; false when standard output could not be
    // written (a full disk, a closed pipe).
    virtual bool flush() = 0;

    // "linkmend: " + text + a line end, on standard error.
    void message(const QString &text);

    // The process's own streams.
    static Console &standard();
};

// The count of folders and shortcuts of a running check, drawn over itself
// on standard error, at most every half second and only on a terminal.
class Progress
{
public:
    static constexpr qint64 IntervalMs = 500;

    explicit Progress(Console &console);
    ~Progress();
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

    // Draws the counts when the last drawing is half a second old.
    void update(qint64 folders, qint64 shortcuts);
    // Takes the drawn line away, before anything else is written.
    void clear();

private:
    Console &m_console;
    QElapsedTimer m_sinceDrawn;
    bool m_shown = false;
    bool m_enabled;
};

// Text for one field of a line of output: control characters (a tab, a line
// end) are written \xNN (\uNNNN above U+00FF), as bytes that are not UTF-8
// are in paths, so every record stays one line and its fields stay apart.
// JSON holds them exactly.
QByteArray printable(const QString &text);

// A path that is not valid UTF-8 (or holds control characters) cannot be a
// JSON string as it is: the field `key` shows it with those bytes escaped
// (`shown`), and `key` + "Bytes" holds it exactly, in base64, whenever the
// two differ.
void insertExactBytes(QJsonObject &object, const QString &key, const QString &shown, const QByteArray &bytes);
