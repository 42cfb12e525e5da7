#include "cli/remote.h"

#include <filesystem>
#include <optional>
#include <ostream>

#include "remote/remote_client.h"

namespace quillet::cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitRefused = 1;
constexpr int kExitNotRunning = 2;

const char* const kRemoteUsage = "usage: quillet-cli start NAME | stop NAME | stop-all | status | mode run|edit "
                                 "[--folder DIR]\n";

struct Parsed {
    remote::Request request;
    std::optional<std::string> folder;
};

std::optional<Parsed> Parse(const std::vector<std::string>& args, std::ostream& err) {
    Parsed parsed;
    const std::optional<remote::Command> command = remote::CommandFromName(args[0]);
    // show belongs to the desktop program's second start, not to the command line.
    if (!command || *command == remote::Command::Show) return std::nullopt;
    parsed.request.command = *command;
    std::vector<std::string> words;
    bool options = true;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (options && args[i] == "--") {
            options = false;
        } else if (options && args[i] == "--folder") {
            if (i + 1 >= args.size() || parsed.folder) {
                err << kRemoteUsage;
                return std::nullopt;
            }
            parsed.folder = args[++i];
        } else if (options && args[i].size() > 1 && args[i][0] == '-') {
            err << "quillet-cli: unknown option '" << args[i] << "'\n" << kRemoteUsage;
            return std::nullopt;
        } else {
            words.push_back(args[i]);
        }
    }
    const bool wantsArgument = remote::TakesArgument(*command);
    if (words.size() != (wantsArgument ? 1u : 0u)) {
        err << kRemoteUsage;
        return std::nullopt;
    }
    if (wantsArgument) parsed.request.argument = words[0];
    if (*command == remote::Command::Mode && words[0] != "run" && words[0] != "edit") {
        err << "quillet-cli: mode is run or edit, not '" << words[0] << "'\n";
        return std::nullopt;
    }
    if (!remote::FormatRequest(parsed.request)) {
        err << "quillet-cli: '" << parsed.request.argument << "' cannot be a macro name\n";
        return std::nullopt;
    }
    return parsed;
}

std::string PathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {reinterpret_cast<const char*>(text.data()), text.size()};
}

void PrintLines(std::ostream& to, const std::string& prefix, const std::string& text) {
    if (text.empty()) return;
    to << prefix << text;
    if (text.back() != '\n') to << '\n';
}

} // namespace

bool IsRemoteCommand(const std::string& command) {
    const std::optional<remote::Command> c = remote::CommandFromName(command);
    return c && *c != remote::Command::Show;
}

int RemoteCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::optional<Parsed> parsed = Parse(args, err);
    if (!parsed) return kExitNotRunning;

    // The program's folder is its working folder as the system reports it (symbolic links resolved); a folder named
    // here is resolved the same way so that both give one endpoint.
    std::error_code error;
    const std::filesystem::path folder =
        parsed->folder ? std::filesystem::canonical(*parsed->folder, error) : std::filesystem::current_path(error);
    if (error) {
        err << "quillet-cli: " << (parsed->folder ? *parsed->folder : std::string("the current folder")) << ": "
            << error.message() << "\n";
        return kExitNotRunning;
    }
    if (!std::filesystem::is_directory(folder, error)) {
        err << "quillet-cli: " << PathText(folder) << ": not a folder\n";
        return kExitNotRunning;
    }
    std::string problem;
    const std::optional<remote::Endpoint> endpoint = remote::EndpointForFolder(folder, problem);
    if (!endpoint) {
        err << "quillet-cli: " << problem << "\n";
        return kExitNotRunning;
    }

    const remote::ClientResult result = remote::SendRequest(*endpoint, parsed->request, kRemoteTimeout);
    switch (result.outcome) {
    case remote::ClientOutcome::Answered:
        if (result.reply.status == remote::ReplyStatus::Done) {
            PrintLines(out, "", result.reply.text);
            return kExitOk;
        }
        PrintLines(err, "quillet-cli: ", result.reply.text);
        return kExitRefused;
    case remote::ClientOutcome::NotRunning:
        err << "quillet-cli: no Quillet runs in " << PathText(folder) << "\n";
        return kExitNotRunning;
    case remote::ClientOutcome::NoAnswer:
        err << "quillet-cli: the Quillet in " << PathText(folder) << " did not answer within "
            << kRemoteTimeout.count() / 1000 << " s (" << result.problem << ")\n";
        return kExitRefused;
    case remote::ClientOutcome::Failed:
        break;
    }
    err << "quillet-cli: " << result.problem << "\n";
    return kExitRefused;
}

} // namespace quillet::cli
