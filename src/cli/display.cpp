// play, run and match in this process (quillet-cli-display, the Windows quillet-cli, the tests).
#include <ostream>

#include "cli/cli.h"
#include "cli/play.h"
#include "cli/run.h"
#ifdef QUILLET_MATCH
#include "cli/match.h"
#endif

namespace quillet::cli {

int RunDisplayCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    constexpr int kExitOk = 0;
    constexpr int kExitFailure = 2;
    const std::string& command = args.at(0);
    if (command == "play") {
        const auto options = ParsePlayOptions(args, err);
        if (!options) return kExitFailure;
        if (options->help) {
            out << PlayHelp();
            return kExitOk;
        }
        return options->dryRun ? PlayDryRun(*options, out, err) : PlayReal(*options, out, err);
    }
    if (command == "run") return RunCommand(args, out, err);
#ifdef QUILLET_MATCH
    if (command == "match") return MatchCommand(args, out, err);
#endif
    err << "quillet-cli: this build has no OpenCV: " << command << " is missing\n";
    return kExitFailure;
}

} // namespace quillet::cli
