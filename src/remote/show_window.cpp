#include "remote/remote_client.h"

namespace quillet::remote {

bool AskToShowWindow(const std::filesystem::path& folder, std::chrono::milliseconds timeout) {
    std::string problem;
    const std::optional<Endpoint> endpoint = EndpointForFolder(folder, problem);
    if (!endpoint) return false;
    const ClientResult result = SendRequest(*endpoint, Request{Command::Show, {}}, timeout);
    return result.outcome == ClientOutcome::Answered && result.reply.status == ReplyStatus::Done;
}

} // namespace quillet::remote
