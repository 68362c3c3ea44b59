#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

// A FUSE file system served by the test process itself, whose root folder
// does not answer when it is opened: every opendir waits until release(),
// as on a network share whose server has gone. Attributes are answered at
// once. It is mounted on an empty folder (that needs root and /dev/fuse;
// mounted() says whether it worked) and unmounted on destruction, which
// also fails every request still waiting.
class BlockingFuse
{
public:
    explicit BlockingFuse(const QByteArray &mountPoint);
    ~BlockingFuse();
    BlockingFuse(const BlockingFuse &) = delete;
    BlockingFuse &operator=(const BlockingFuse &) = delete;

    bool mounted() const;
    // Why it could not be mounted.
    QString whyNot() const;
    // Opens of the root folder that arrived so far (answered or waiting).
    int opens() const;
    // Opens still waiting for an answer.
    int waiting() const;
    // Answers every waiting open (the folder is empty), and every later one
    // at once.
    void release();

    struct Server;

private:
    std::shared_ptr<Server> m_server;
};
