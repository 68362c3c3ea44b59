#pragma once

#include "cli/Console.h"

// A console whose streams are buffers the test reads back.
class BufferConsole : public Console
{
public:
    void out(const QByteArray &bytes) override { output += bytes; }
    void err(const QByteArray &bytes) override { errors += bytes; }
    std::optional<QByteArray> readLine() override { return std::nullopt; }
    bool errIsTerminal() const override { return terminal; }
    bool flush() override { return true; }

    bool terminal = false;
    QByteArray output, errors;
};
