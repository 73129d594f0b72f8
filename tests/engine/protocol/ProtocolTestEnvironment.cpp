// The HTTP and XML libraries are set up once for the whole suite, as the module does at load.
#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/protocol/UpdateConnectionFactory.h"

namespace {

class ProtocolLibrariesEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        // The tests talk to their own loopback servers; a proxy from the machine's environment
        // must never see that traffic. Tests that want a proxy set http_proxy themselves.
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                 "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
            ::unsetenv(name);
        }
        ASSERT_TRUE(talbo::tesk::vorta::InitializeProtocolLibraries());
    }
    void TearDown() override { talbo::tesk::vorta::ShutdownProtocolLibraries(); }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new ProtocolLibrariesEnvironment);

}  // namespace
