#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <memory>

// A FUSE file system served by the test process itself whose root folder
// holds `entries` empty files and answers slowly but steadily: every open and
// every piece of the listing (a few dozen names at most) is answered after
// `pace`, as by a file server a long round trip away. With `answeredPieces`,
// it stops answering after that many pieces of the listing, as a share whose
// server went away in the middle of a read; with `failWith` too, it fails
// every later piece with that errno instead. Mounting needs root and
// /dev/fuse (mounted() says whether it worked); the destructor unmounts and
// fails whatever still waits.
class PacedFuse
{
public:
    static constexpr int kEntriesPerPiece = 40;

    PacedFuse(const QByteArray &mountPoint, int entries, std::chrono::milliseconds pace,
              int answeredPieces = -1, int failWith = 0);
    ~PacedFuse();
    PacedFuse(const PacedFuse &) = delete;
    PacedFuse &operator=(const PacedFuse &) = delete;

    bool mounted() const;
    QString whyNot() const;
    // The name of entry `i`.
    static QByteArray entryName(int i);
    // Pieces of the listing answered so far, and how often the end was.
    int piecesAnswered() const;
    int endsAnswered() const;

    struct Server;

private:
    std::shared_ptr<Server> m_server;
};
