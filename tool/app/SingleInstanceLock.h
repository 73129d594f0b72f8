#pragma once

#include <string>

namespace talbo::tesk::vorta {

// A lock held by one running tool per user: an abstract Unix socket named after the user id and
// the executable's file name, which vanishes with the process. A second instance of the same
// user that finds it taken can ask the first one to bring its window to the front. The holder
// answers only peers of its own user and never waits for a peer.
class SingleInstanceLock {
public:
    explicit SingleInstanceLock(const std::string& name);
    ~SingleInstanceLock();

    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // True when this process holds the lock.
    bool Acquired() const { return listenFd >= 0; }
    // The listening socket of the holder (for a window toolkit to watch), or -1.
    int ListenSocket() const { return listenFd; }

    // Asks the holder of this user's lock to raise its window; false when nobody answers.
    static bool AskHolderToRaise(const std::string& name);

    // What a requester has sent so far.
    enum class Request {
        Raise,    // the raise request arrived
        Pending,  // nothing yet: watch the socket and read again when it is readable
        Closed,   // the peer went away or sent something else
    };
    // On the holder: accepts one waiting connection without blocking. Returns its socket
    // (non-blocking; the caller closes it) when the peer runs as this user; -1 when nobody
    // waits. Connections of other users are closed at once and also give -1.
    int AcceptRequester();
    // Reads a requester's socket without waiting.
    static Request ReadRequest(int socket);
    // Accepts one waiting connection and reads it without waiting: true when it is this user's
    // raise request and has already arrived. For holders that do not watch the sockets.
    bool AcceptRaiseRequest();

    static constexpr char kRaiseRequest = 'R';

private:
    int listenFd = -1;
};

}  // namespace talbo::tesk::vorta
