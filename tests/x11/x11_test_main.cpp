// Test program entry: starts a private Xvfb once for the whole program and ends it afterwards. A missing Xvfb fails
// every test (it is a required test dependency, not an optional one).
#include <gtest/gtest.h>

#include <memory>

#include "platform/x11/xvfb_server.h"
#include "x11_test_support.h" // X headers last: they define None, Status, Screen, ...

namespace quillet::platform::x11::test {
namespace {

std::unique_ptr<XvfbServer> gServer;
std::string gDisplay;

class XvfbEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::string error;
        gServer = XvfbServer::Start(kScreenWidth, kScreenHeight, error);
        ASSERT_TRUE(gServer) << error;
        gDisplay = gServer->display();
    }
    void TearDown() override { gServer.reset(); }
};

} // namespace

const std::string& XDisplayName() {
    return gDisplay;
}

} // namespace quillet::platform::x11::test

int main(int argc, char** argv) {
    XInitThreads();
    ::testing::InitGoogleTest(&argc, argv);
    // Google Test owns the environment object.
    ::testing::AddGlobalTestEnvironment(std::make_unique<quillet::platform::x11::test::XvfbEnvironment>().release());
    return RUN_ALL_TESTS();
}
