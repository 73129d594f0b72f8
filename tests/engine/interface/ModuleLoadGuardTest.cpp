// The load guard across processes. This test program never loads the engine library itself:
// only its probe processes do.

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstring>
#include <thread>

#include "tests/engine/interface/ProbeProcess.h"

namespace {

using vorta_test::Clock;
using vorta_test::ProbeProcess;

constexpr char kGuardName[] = "TALBO Vorta Firmware Update Module";

// Whether the abstract socket name is free right now (probed by binding it for a moment).
bool GuardIsFree() {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, kGuardName, sizeof(kGuardName) - 1);
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + sizeof(kGuardName));
    const bool free = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    ::close(fd);
    return free;
}

class ModuleLoadGuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Another run on this machine may hold the library for a while.
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
        while (!GuardIsFree()) {
            ASSERT_LT(Clock::now(), deadline) << "another process keeps the engine library loaded";
            std::this_thread::sleep_for(std::chrono::milliseconds(100));  // poll interval
        }
    }

    // A probe's report: "engine=ok", "engine=null", or what went wrong.
    static std::string LoadOnce() {
        ProbeProcess probe(VORTA_MODULE_PROBE_PATH, VORTA_MODULE_PATH, false);
        const std::string report = probe.ReadLine().value_or("no report");
        const std::optional<int> status = probe.Wait();
        if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
            return report + " (probe did not end cleanly)";
        }
        return report;
    }

    // Loads in new probes until one gets the model, or the deadline passes.
    static bool LoadSucceedsBeforeDeadline() {
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(30);
        while (Clock::now() < deadline) {
            if (LoadOnce() == "engine=ok") {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));  // poll interval
        }
        return false;
    }
};

TEST_F(ModuleLoadGuardTest, SecondProcessIsRefusedUntilTheFirstExits) {
    ProbeProcess holder(VORTA_MODULE_PROBE_PATH, VORTA_MODULE_PATH, true);
    ASSERT_TRUE(holder.Started());
    ASSERT_EQ(holder.ReadLine(), "engine=ok");

    EXPECT_EQ(LoadOnce(), "engine=null");
    EXPECT_EQ(LoadOnce(), "engine=null") << "a refused load must not free the guard";

    holder.CloseInput();
    const std::optional<int> status = holder.Wait();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_TRUE(LoadSucceedsBeforeDeadline());
}

TEST_F(ModuleLoadGuardTest, UnloadReleasesTheGuardWhileTheProcessLives) {
    ProbeProcess holder(VORTA_MODULE_PROBE_PATH, VORTA_MODULE_PATH, true);
    ASSERT_EQ(holder.ReadLine(), "engine=ok");
    EXPECT_EQ(LoadOnce(), "engine=null");

    ASSERT_TRUE(holder.Send("unload"));
    ASSERT_EQ(holder.ReadLine(), "unloaded");
    EXPECT_TRUE(LoadSucceedsBeforeDeadline());
}

TEST_F(ModuleLoadGuardTest, KilledHolderLeavesNoGuardBehind) {
    ProbeProcess holder(VORTA_MODULE_PROBE_PATH, VORTA_MODULE_PATH, true);
    ASSERT_EQ(holder.ReadLine(), "engine=ok");
    holder.Kill();
    ASSERT_TRUE(holder.Wait().has_value());
    EXPECT_TRUE(LoadSucceedsBeforeDeadline());
}

}  // namespace
