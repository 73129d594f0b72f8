// The HTTP and XML libraries are set up once for the whole suite, as the module does at load.
#include <gtest/gtest.h>

#include "engine/protocol/UpdateConnectionFactory.h"

namespace {

class ProtocolLibrariesEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(talbo::tesk::vorta::InitializeProtocolLibraries()); }
    void TearDown() override { talbo::tesk::vorta::ShutdownProtocolLibraries(); }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new ProtocolLibrariesEnvironment);

}  // namespace
