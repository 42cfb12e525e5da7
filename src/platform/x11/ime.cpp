#include "platform/x11/ime.h"

#include <sys/stat.h>

#include <cstdlib>

#ifdef QUILLET_HAVE_DBUS
#include <dbus/dbus.h>
#endif

namespace quillet::platform::x11 {

std::string SessionBusAddress() {
    if (const char* env = std::getenv("DBUS_SESSION_BUS_ADDRESS"); env != nullptr && *env != '\0') {
        const std::string address = env;
        // "autolaunch:" would start a bus of its own.
        return address.rfind("autolaunch:", 0) == 0 ? std::string() : address;
    }
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0') {
        const std::string path = std::string(runtime) + "/bus";
        struct stat st {};
        if (stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return "unix:path=" + path;
    }
    return {};
}

#ifdef QUILLET_HAVE_DBUS

namespace {

constexpr const char* kFcitxName = "org.fcitx.Fcitx5";

struct MessageUnref {
    void operator()(DBusMessage* m) const { dbus_message_unref(m); }
};
using MessagePtr = std::unique_ptr<DBusMessage, MessageUnref>;

// Sends a call and waits for the reply; null on error or timeout.
MessagePtr Call(DBusConnection* c, MessagePtr call) {
    if (!call) return nullptr;
    dbus_message_set_auto_start(call.get(), FALSE);
    DBusError error;
    dbus_error_init(&error);
    DBusMessage* reply =
        dbus_connection_send_with_reply_and_block(c, call.get(), Fcitx5InputMethod::kTimeoutMs, &error);
    dbus_error_free(&error);
    return MessagePtr(reply);
}

} // namespace

struct Fcitx5InputMethod::Bus {
    DBusConnection* connection = nullptr;
    ~Bus() {
        if (connection != nullptr) {
            dbus_connection_close(connection);
            dbus_connection_unref(connection);
        }
    }
};

Fcitx5InputMethod::Fcitx5InputMethod(std::string busAddress) : address_(std::move(busAddress)) {
    dbus_threads_init_default();
}

Fcitx5InputMethod::~Fcitx5InputMethod() = default;

ImeState Fcitx5InputMethod::OpenState() {
    std::lock_guard lock(mutex_);
    if (bus_ && !dbus_connection_get_is_connected(bus_->connection)) bus_.reset();
    if (!bus_) {
        const std::string address = address_.empty() ? SessionBusAddress() : address_;
        if (address.empty()) return ImeState::None;
        DBusError error;
        dbus_error_init(&error);
        DBusConnection* c = dbus_connection_open_private(address.c_str(), &error);
        if (c == nullptr) {
            dbus_error_free(&error);
            return ImeState::None;
        }
        dbus_connection_set_exit_on_disconnect(c, FALSE);
        auto bus = std::make_unique<Bus>();
        bus->connection = c;
        if (!dbus_bus_register(c, &error)) {
            dbus_error_free(&error);
            return ImeState::None;
        }
        bus_ = std::move(bus);
    }
    DBusConnection* c = bus_->connection;

    MessagePtr ask(dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                                "NameHasOwner"));
    if (!ask) return ImeState::None;
    const char* name = kFcitxName;
    dbus_message_append_args(ask.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
    MessagePtr owned = Call(c, std::move(ask));
    dbus_bool_t hasOwner = FALSE;
    if (!owned || !dbus_message_get_args(owned.get(), nullptr, DBUS_TYPE_BOOLEAN, &hasOwner, DBUS_TYPE_INVALID) ||
        !hasOwner)
        return ImeState::None;

    MessagePtr state = Call(
        c, MessagePtr(dbus_message_new_method_call(kFcitxName, "/controller", "org.fcitx.Fcitx.Controller1", "State")));
    dbus_int32_t value = 0;
    if (!state || !dbus_message_get_args(state.get(), nullptr, DBUS_TYPE_INT32, &value, DBUS_TYPE_INVALID))
        return ImeState::None;
    return value == 2 ? ImeState::Open : ImeState::Closed;
}

#else

struct Fcitx5InputMethod::Bus {};
Fcitx5InputMethod::Fcitx5InputMethod(std::string busAddress) : address_(std::move(busAddress)) {}
Fcitx5InputMethod::~Fcitx5InputMethod() = default;
ImeState Fcitx5InputMethod::OpenState() {
    return ImeState::None;
}

#endif

} // namespace quillet::platform::x11
