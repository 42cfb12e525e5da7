#include <ostream>

#include "cli/play.h"

namespace quillet::cli {

int PlayReal(const PlayOptions& options, std::ostream& out, std::ostream& err) {
    (void)options;
    (void)out;
    err << "quillet-cli: real playback is not available in this build; use --dry-run\n";
    return 2;
}

} // namespace quillet::cli
