// A locale that writes decimals with a comma (de_DE.UTF-8), for tests that the program's numbers never follow the
// C locale. The system's own is used when it has one; otherwise it is generated once with localedef into a folder of
// the temporary directory, which LOCPATH then points at (no root needed: only the locale sources of the "locales"
// package).
#pragma once

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace quillet::testing {

inline constexpr const char* kCommaLocale = "de_DE.UTF-8";

// The folder to put into LOCPATH so that kCommaLocale can be set: "" when the system has it, "!" when the locale
// cannot be had here.
inline std::string CommaLocalePath() {
    static const std::string path = [] {
        const std::string saved = std::setlocale(LC_ALL, nullptr);
        const bool system = std::setlocale(LC_ALL, kCommaLocale) != nullptr;
        std::setlocale(LC_ALL, saved.c_str());
        if (system) return std::string();
        namespace fs = std::filesystem;
        std::error_code ec;
        const fs::path root = fs::temp_directory_path(ec) / "quillet-test-locales";
        const fs::path target = root / kCommaLocale;
        if (!fs::exists(target / "LC_NUMERIC", ec)) {
            // Made under a name of its own, then renamed: tests running at the same time never see half a locale.
            const fs::path partial = root / ("partial-" + std::to_string(getpid()));
            fs::create_directories(partial, ec);
            const std::string command = "localedef -i de_DE -f UTF-8 '" + (partial / kCommaLocale).string() +
                                        "' >/dev/null 2>&1";
            if (std::system(command.c_str()) == 0) fs::rename(partial / kCommaLocale, target, ec);
            fs::remove_all(partial, ec);
        }
        return fs::exists(target / "LC_NUMERIC", ec) ? root.string() : std::string("!");
    }();
    return path;
}

// Switches the C locale of this process to kCommaLocale while it lives, as Qt does from LANG at start.
class CommaLocale {
public:
    CommaLocale() {
        const std::string path = CommaLocalePath();
        if (path == "!") return;
        if (!path.empty()) setenv("LOCPATH", path.c_str(), 1);
        saved_ = std::setlocale(LC_ALL, nullptr);
        ok_ = std::setlocale(LC_ALL, kCommaLocale) != nullptr && *std::localeconv()->decimal_point == ',';
    }
    ~CommaLocale() {
        if (!saved_.empty()) std::setlocale(LC_ALL, saved_.c_str());
    }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    // False when the locale could not be had: the test says so and skips.
    bool ok() const { return ok_; }

private:
    std::string saved_;
    bool ok_ = false;
};

} // namespace quillet::testing
