// The guardian on Windows: the program's side (a shared mapping, the events, starting the process) and the
// guardian's side (waiting on the program's process handle, releasing with keybd_event / mouse_event).
#include "platform/guardian.h"

#include "platform/platform.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace quillet::platform {
namespace {

std::string LastError(const char* what) {
    return std::string(what) + " (error " + std::to_string(GetLastError()) + ")";
}

std::wstring Widen(const std::string& s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::wstring OwnDirectory() {
    std::vector<wchar_t> buf(32768);
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0 || n >= buf.size()) return {};
    std::wstring path(buf.data(), n);
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool IsFile(const std::wstring& path) {
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring FindExecutable(const GuardianOptions& options) {
    if (!options.executable.empty()) return Widen(options.executable);
    if (const wchar_t* env = _wgetenv(L"QUILLET_GUARDIAN"); env != nullptr && *env != L'\0') return env;
    const std::wstring dir = OwnDirectory();
    // Installed: next to the program. In a build tree the programs sit in sibling folders.
    for (const wchar_t* relative : {L"\\quillet-guardian.exe", L"\\..\\guardian\\quillet-guardian.exe"})
        if (!dir.empty() && IsFile(dir + relative)) return dir + relative;
    return L"quillet-guardian.exe";
}

class Handle {
public:
    explicit Handle(HANDLE h = nullptr) : h_(h) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    HANDLE release() { return std::exchange(h_, nullptr); }
    void reset(HANDLE h = nullptr) {
        if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_;
};

class Win32Guardian final : public Guardian {
public:
    Win32Guardian(HANDLE mapping, HeldInputShared* shared, HANDLE goodbye, HANDLE process, DWORD pid)
        : mapping_(mapping), shared_(shared), goodbye_(goodbye), process_(process), pid_(pid) {}
    ~Win32Guardian() override {
        shared_->farewell.store(1, std::memory_order_release);
        SetEvent(goodbye_.get());
        UnmapViewOfFile(shared_);
    }
    HeldInputLedger ledger() override { return HeldInputLedger(shared_); }
    long pid() const override { return static_cast<long>(pid_); }

private:
    Handle mapping_;
    HeldInputShared* shared_;
    Handle goodbye_;
    Handle process_;
    DWORD pid_;
};

std::wstring HandleArg(HANDLE h) {
    return std::to_wstring(static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(h)));
}

} // namespace

std::unique_ptr<Guardian> StartGuardian(const GuardianOptions& options, std::string& error) {
    const std::wstring exe = FindExecutable(options);
    if (!IsFile(exe)) {
        error = "cannot find the guardian program quillet-guardian.exe next to this program";
        return nullptr;
    }
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Handle mapping(
        CreateFileMappingW(INVALID_HANDLE_VALUE, &inherit, PAGE_READWRITE, 0, sizeof(HeldInputShared), nullptr));
    if (mapping.get() == nullptr) {
        error = LastError("cannot make shared memory for the guardian");
        return nullptr;
    }
    void* view = MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(HeldInputShared));
    if (view == nullptr) {
        error = LastError("cannot map the guardian's shared memory");
        return nullptr;
    }
    auto* shared = new (view) HeldInputShared();
    shared->magic.store(HeldInputShared::kMagic, std::memory_order_release);

    Handle ready(CreateEventW(&inherit, TRUE, FALSE, nullptr));
    Handle goodbye(CreateEventW(&inherit, TRUE, FALSE, nullptr));
    HANDLE selfRaw = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &selfRaw, SYNCHRONIZE, TRUE, 0);
    Handle self(selfRaw);
    if (ready.get() == nullptr || goodbye.get() == nullptr || self.get() == nullptr) {
        error = LastError("cannot make the guardian's events");
        UnmapViewOfFile(view);
        return nullptr;
    }

    // Only these handles go to the guardian.
    HANDLE passed[4] = {mapping.get(), ready.get(), goodbye.get(), self.get()};
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> attrBuf(size);
    auto* attrs = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attrBuf.data());
    const bool listed =
        InitializeProcThreadAttributeList(attrs, 1, 0, &size) &&
        UpdateProcThreadAttribute(attrs, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, passed, sizeof passed, nullptr, nullptr);
    STARTUPINFOEXW si{};
    si.StartupInfo.cb = sizeof si;
    si.lpAttributeList = listed ? attrs : nullptr;

    std::wstring cmd = L"\"" + exe + L"\" --guardian --ledger " + HandleArg(mapping.get()) + L" --ready " +
                       HandleArg(ready.get()) + L" --goodbye " + HandleArg(goodbye.get()) + L" --parent " +
                       HandleArg(self.get());
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0), nullptr,
                                        nullptr, &si.StartupInfo, &pi);
    if (listed) DeleteProcThreadAttributeList(attrs);
    if (!started) {
        error = LastError("cannot start the guardian");
        UnmapViewOfFile(view);
        return nullptr;
    }
    CloseHandle(pi.hThread);
    Handle process(pi.hProcess);
    HANDLE waits[2] = {ready.get(), process.get()};
    const DWORD r = WaitForMultipleObjects(2, waits, FALSE, static_cast<DWORD>(options.readyTimeoutMs));
    if (r != WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.get(), &code);
        error = r == WAIT_OBJECT_0 + 1 ? "the guardian ended at once (exit code " + std::to_string(code) + ")"
                                       : std::string("the guardian did not answer");
        TerminateProcess(process.get(), 1);
        UnmapViewOfFile(view);
        return nullptr;
    }
    return std::make_unique<Win32Guardian>(mapping.release(), shared, goodbye.release(), process.release(),
                                           pi.dwProcessId);
}

namespace {

HANDLE HandleFrom(const wchar_t* text) {
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::wcstoull(text, nullptr, 10)));
}

// Releases what the block says the program holds, with the calls the backend sends with.
void ReleaseHeld(const HeldInputShared& shared) {
    for (unsigned vk = 1; vk < shared.keys.size(); ++vk) {
        const uint8_t held = shared.keys[vk].load(std::memory_order_acquire);
        if (held == 0) continue;
        const DWORD flags = KEYEVENTF_KEYUP | ((held & HeldInputShared::kExtended) != 0 ? KEYEVENTF_EXTENDEDKEY : 0);
        keybd_event(static_cast<BYTE>(vk), shared.scans[vk].load(std::memory_order_relaxed), flags,
                    SYNTHETIC_INPUT_TAG);
    }
    struct Up {
        unsigned button;
        DWORD flags;
        DWORD data;
    };
    for (const Up& up : {Up{1, MOUSEEVENTF_LEFTUP, 0}, Up{2, MOUSEEVENTF_RIGHTUP, 0}, Up{3, MOUSEEVENTF_MIDDLEUP, 0},
                         Up{4, MOUSEEVENTF_XUP, XBUTTON1}, Up{5, MOUSEEVENTF_XUP, XBUTTON2}})
        if (shared.buttons[up.button].load(std::memory_order_acquire) != 0)
            mouse_event(up.flags, 0, 0, up.data, SYNTHETIC_INPUT_TAG);
}

} // namespace

int RunGuardian(int, char**) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    HANDLE mapping = nullptr, ready = nullptr, goodbye = nullptr, parent = nullptr;
    bool asked = false;
    for (int i = 1; argv != nullptr && i < argc; ++i) {
        const std::wstring a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == L"--guardian")
            asked = true;
        else if (a == L"--ledger" && hasValue)
            mapping = HandleFrom(argv[++i]);
        else if (a == L"--ready" && hasValue)
            ready = HandleFrom(argv[++i]);
        else if (a == L"--goodbye" && hasValue)
            goodbye = HandleFrom(argv[++i]);
        else if (a == L"--parent" && hasValue)
            parent = HandleFrom(argv[++i]);
    }
    if (argv != nullptr) LocalFree(argv);
    if (!asked || mapping == nullptr || ready == nullptr || goodbye == nullptr || parent == nullptr) {
        std::fprintf(stderr, "quillet-guardian: started by Quillet only; it watches the program that starts it\n");
        return 2;
    }
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(HeldInputShared));
    if (view == nullptr) return 1;
    const auto* shared = static_cast<const HeldInputShared*>(view);
    if (shared->magic.load(std::memory_order_acquire) != HeldInputShared::kMagic) return 1;
    SetEvent(ready);
    CloseHandle(ready);

    HANDLE waits[2] = {parent, goodbye};
    const DWORD r = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (r == WAIT_OBJECT_0 && shared->farewell.load(std::memory_order_acquire) == 0) ReleaseHeld(*shared);
    return 0;
}

} // namespace quillet::platform
