// Who may reach the holder of the single-instance lock, and that no requester can make it wait.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

#include "tool/app/SingleInstanceLock.h"

namespace tv = talbo::tesk::vorta;

namespace {

constexpr uid_t kNobody = 65534;

// Runs body in a child process, as another user when uid differs from ours (needs root). The
// child reports "ready" through a pipe once body returns and then waits until the parent
// closes its end, so what body opened stays open meanwhile.
class Child {
public:
    Child(uid_t uid, const std::function<bool()>& body) {
        int ready[2];
        int release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0) {
            return;
        }
        pid = ::fork();
        if (pid == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            const bool switched = uid == ::geteuid() || (::setgid(uid) == 0 && ::setuid(uid) == 0);
            const char answer = switched && body() ? 'y' : 'n';
            (void)!::write(ready[1], &answer, 1);
            char ignored = 0;
            (void)!::read(release[0], &ignored, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        readyFd = ready[0];
        releaseFd = release[1];
    }
    ~Child() {
        if (releaseFd >= 0) {
            ::close(releaseFd);
        }
        if (readyFd >= 0) {
            ::close(readyFd);
        }
        if (pid > 0) {
            int status = 0;
            ::waitpid(pid, &status, 0);
        }
    }
    // Whether body ran and succeeded, within a deadline.
    bool Ready() {
        pollfd fd{readyFd, POLLIN, 0};
        char answer = 'n';
        return ::poll(&fd, 1, 10000) == 1 && ::read(readyFd, &answer, 1) == 1 && answer == 'y';
    }

private:
    pid_t pid = -1;
    int readyFd = -1;
    int releaseFd = -1;
};

std::string UniqueName(const char* what) {
    return std::string(what) + "-" + std::to_string(::getpid());
}

}  // namespace

TEST(SingleInstanceLock, HolderAnswersOnlyItsUserAndNeverWaits) {
    const struct {
        const char* who;
        uid_t uid;
        bool sends;
        bool raised;
    } cases[] = {
        {"this user asks", ::geteuid(), true, true},
        {"this user connects and stays silent", ::geteuid(), false, false},
        {"another user asks", kNobody, true, false},
    };
    const std::string name = UniqueName("peer-test");
    tv::SingleInstanceLock lock(name);
    ASSERT_TRUE(lock.Acquired());
    sockaddr_un address{};
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(lock.ListenSocket(), reinterpret_cast<sockaddr*>(&address), &length),
              0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.who);
        if (c.uid != ::geteuid() && ::geteuid() != 0) {
            continue;  // acting as another user needs root
        }
        // The peer reaches the holder's address directly, as anyone on the machine can.
        Child peer(c.uid, [&] {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            return fd >= 0 &&
                   ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
                   (!c.sends || ::send(fd, &tv::SingleInstanceLock::kRaiseRequest, 1, 0) == 1);
        });
        ASSERT_TRUE(peer.Ready());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(lock.AcceptRaiseRequest(), c.raised);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    }
}

TEST(SingleInstanceLock, AnotherUsersInstanceDoesNotHoldOurs) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "acting as another user needs root";
    }
    const std::string name = UniqueName("user-test");
    // The other user's lock lives until that child ends.
    Child other(kNobody, [&] { return (new tv::SingleInstanceLock(name))->Acquired(); });
    ASSERT_TRUE(other.Ready());
    tv::SingleInstanceLock mine(name);
    EXPECT_TRUE(mine.Acquired());
}
