// quillet-cli on Linux: play, run and match go to quillet-cli-display next to this program, which replaces this
// process (same arguments, same standard streams, its exit code is the command's).
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace quillet::cli {

namespace {

std::string OwnDirectory() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    std::string own(path, static_cast<std::size_t>(n));
    const std::size_t slash = own.rfind('/');
    return slash == std::string::npos ? std::string() : own.substr(0, slash);
}

} // namespace

int RunDisplayCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::string program = OwnDirectory() + "/quillet-cli-display";
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    out.flush();
    err.flush();
    execv(program.c_str(), argv.data());
    err << "quillet-cli: cannot start " << program << ": " << std::strerror(errno) << "\n";
    return 2;
}

} // namespace quillet::cli
