#include "cli/system_platform.h"

namespace quillet::cli {

std::unique_ptr<SystemPlatform> OpenSystemPlatform(std::string& error, std::string& warning) {
    warning.clear();
    error = "this build has no input backend for this system";
    return nullptr;
}

} // namespace quillet::cli
