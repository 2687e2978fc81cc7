#pragma once
// A pseudo-terminal for the serial link tests: the link opens the slave
// device like any serial port, the test drives the master side as the
// instrument. Pseudo-terminals exist only on POSIX systems; this is the one
// place in the link tests that calls the system directly.
#include "LivePeer.h"

#include <memory>
#include <string>

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return master_ >= 0; }
    const std::string& SlavePath() const { return slave_; }
    // Hands the master side over to a stream (null when there is none, or
    // it was handed over already).
    std::unique_ptr<PeerChannel> TakeMaster();

private:
    int master_ = -1;
    std::string slave_;
};
