// The input-method state read from fcitx5 over D-Bus, against a private bus and a stand-in for fcitx5.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/x11/ime.h"

#ifdef QUILLET_HAVE_DBUS
#include <dbus/dbus.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace quillet::platform::x11 {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(SessionBusAddress, NeverOneThatWouldStartABus) {
    ScopedEnv runtime("XDG_RUNTIME_DIR", "/nonexistent");
    {
        ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", "autolaunch:");
        EXPECT_EQ(SessionBusAddress(), "");
    }
    {
        ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/1000/bus");
        EXPECT_EQ(SessionBusAddress(), "unix:path=/run/user/1000/bus");
    }
    ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", nullptr);
    EXPECT_EQ(SessionBusAddress(), "");
    Fcitx5InputMethod ime;
    EXPECT_EQ(ime.OpenState(), ImeState::None);
}

#ifdef QUILLET_HAVE_DBUS

// A dbus-daemon of the test's own, whose service directory would start a stand-in for fcitx5 (which only leaves a
// mark) if anything asked the bus to activate the name.
class PrivateBus {
public:
    PrivateBus() {
        char pattern[] = "/tmp/quillet-bus-XXXXXX";
        if (mkdtemp(pattern) == nullptr) return;
        dir_ = pattern;
        fs::create_directories(dir_ / "services");
        std::ofstream(dir_ / "services" / "org.fcitx.Fcitx5.service")
            << "[D-BUS Service]\nName=org.fcitx.Fcitx5\nExec=/bin/sh -c 'touch " << marker().string() << "'\n";
        std::ofstream(dir_ / "bus.conf")
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>unix:path="
            << (dir_ / "socket").string() << "</listen><servicedir>" << (dir_ / "services").string()
            << "</servicedir><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
               "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        const std::string config = "--config-file=" + (dir_ / "bus.conf").string();
        const std::string print = "--print-address=" + std::to_string(fds[1]);
        std::string args[] = {"dbus-daemon", config, print, "--nofork", "--nopidfile"};
        char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(), args[4].data(), nullptr};
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            fcntl(fds[1], F_SETFD, 0);
            execvp("dbus-daemon", argv);
            _exit(127);
        }
        close(fds[1]);
        // The daemon prints its address once it listens.
        std::string line;
        char c = 0;
        pollfd p{fds[0], POLLIN, 0};
        while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') line.push_back(c);
        close(fds[0]);
        address_ = line;
    }
    ~PrivateBus() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        std::error_code ignored;
        if (!dir_.empty()) fs::remove_all(dir_, ignored);
    }
    const std::string& address() const { return address_; }
    fs::path marker() const { return dir_ / "started"; }

private:
    fs::path dir_;
    pid_t pid_ = -1;
    std::string address_;
};

DBusConnection* Connect(const std::string& address) {
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* c = dbus_connection_open_private(address.c_str(), &error);
    if (c != nullptr && !dbus_bus_register(c, &error)) {
        dbus_connection_close(c);
        dbus_connection_unref(c);
        c = nullptr;
    }
    dbus_error_free(&error);
    return c;
}

void Disconnect(DBusConnection* c) {
    dbus_connection_close(c);
    dbus_connection_unref(c);
}

// Owns org.fcitx.Fcitx5 and answers Controller1.State with `state`, on a thread of its own.
class FakeFcitx {
public:
    explicit FakeFcitx(const std::string& address) : connection_(Connect(address)) {
        if (connection_ == nullptr) return;
        owned_ = dbus_bus_request_name(connection_, "org.fcitx.Fcitx5", DBUS_NAME_FLAG_DO_NOT_QUEUE, nullptr) ==
                 DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER;
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeFcitx() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (connection_ != nullptr) Disconnect(connection_);
    }
    bool owned() const { return owned_; }
    std::atomic<int> state{2};

private:
    void Serve() {
        while (!stop_ && dbus_connection_read_write(connection_, 20)) {
            while (DBusMessage* m = dbus_connection_pop_message(connection_)) {
                if (dbus_message_is_method_call(m, "org.fcitx.Fcitx.Controller1", "State")) {
                    DBusMessage* reply = dbus_message_new_method_return(m);
                    dbus_int32_t value = state;
                    dbus_message_append_args(reply, DBUS_TYPE_INT32, &value, DBUS_TYPE_INVALID);
                    dbus_connection_send(connection_, reply, nullptr);
                    dbus_message_unref(reply);
                }
                dbus_message_unref(m);
            }
        }
    }
    DBusConnection* connection_;
    bool owned_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(Fcitx5InputMethod, NoneWithoutFcitxAndNeverStartsIt) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
    Fcitx5InputMethod ime(bus.address());
    EXPECT_EQ(ime.OpenState(), ImeState::None);
    EXPECT_EQ(ime.OpenState(), ImeState::None);
    EXPECT_FALSE(fs::exists(bus.marker()));

    // The setup is able to notice a start: a call that allows activation does start the stand-in.
    DBusConnection* c = Connect(bus.address());
    ASSERT_NE(c, nullptr);
    DBusMessage* call =
        dbus_message_new_method_call("org.fcitx.Fcitx5", "/controller", "org.fcitx.Fcitx.Controller1", "State");
    DBusMessage* reply = dbus_connection_send_with_reply_and_block(c, call, 5000, nullptr);
    if (reply != nullptr) dbus_message_unref(reply);
    dbus_message_unref(call);
    Disconnect(c);
    EXPECT_TRUE(fs::exists(bus.marker()));
}

TEST(Fcitx5InputMethod, ReportsFcitxState) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
    Fcitx5InputMethod ime(bus.address());
    {
        FakeFcitx fcitx(bus.address());
        ASSERT_TRUE(fcitx.owned());
        EXPECT_EQ(ime.OpenState(), ImeState::Open);
        fcitx.state = 1;
        EXPECT_EQ(ime.OpenState(), ImeState::Closed);
        fcitx.state = 0;
        EXPECT_EQ(ime.OpenState(), ImeState::Closed);
    }
    // fcitx5 went away: no input method any more.
    EXPECT_EQ(ime.OpenState(), ImeState::None);
}

TEST(Fcitx5InputMethod, UnreachableBusIsNone) {
    Fcitx5InputMethod ime("unix:path=/nonexistent/quillet-bus");
    EXPECT_EQ(ime.OpenState(), ImeState::None);
}

#endif

} // namespace
} // namespace quillet::platform::x11
