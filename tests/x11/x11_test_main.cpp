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
std::string gError = "the test environment did not start Xvfb";

class XvfbEnvironment : public ::testing::Environment {
public:
    // A failure here is not fatal on purpose: Google Test would then skip every test, and a skipped X11 test must
    // not pass for a run without Xvfb. Each test that needs the server fails on its own instead.
    void SetUp() override {
        std::string error;
        gServer = XvfbServer::Start(kScreenWidth, kScreenHeight, error);
        if (!gServer) {
            gError = error;
            ADD_FAILURE() << error;
            return;
        }
        gDisplay = gServer->display();
    }
    void TearDown() override { gServer.reset(); }
};

} // namespace

const std::string& XDisplayName() {
    return gDisplay;
}
const std::string& XvfbError() {
    return gError;
}

} // namespace quillet::platform::x11::test

int main(int argc, char** argv) {
    XInitThreads();
    ::testing::InitGoogleTest(&argc, argv);
    // Google Test owns the environment object.
    ::testing::AddGlobalTestEnvironment(std::make_unique<quillet::platform::x11::test::XvfbEnvironment>().release());
    return RUN_ALL_TESTS();
}
