#include "remote/protocol.h"

#include <array>
#include <charconv>
#include <cstdint>

namespace quillet::remote {

namespace {

struct CommandWord {
    Command command;
    std::string_view name;
    bool argument;
};

constexpr std::array<CommandWord, 6> kCommands = {{
    {Command::Show, "show", false},
    {Command::Start, "start", true},
    {Command::Stop, "stop", true},
    {Command::StopAll, "stop-all", false},
    {Command::Status, "status", false},
    {Command::Mode, "mode", true},
}};

bool HasControlCharacter(std::string_view text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return true;
    }
    return false;
}

bool ValidArgument(Command command, std::string_view argument) {
    if (!TakesArgument(command)) return argument.empty();
    if (argument.empty() || HasControlCharacter(argument) || !IsValidUtf8(argument)) return false;
    return command != Command::Mode || argument == "run" || argument == "edit";
}

// A decimal number of at most 10 digits, nothing else.
std::optional<std::size_t> ParseLength(std::string_view digits) {
    if (digits.empty() || digits.size() > 10) return std::nullopt;
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

} // namespace

std::string_view CommandName(Command command) {
    for (const CommandWord& word : kCommands)
        if (word.command == command) return word.name;
    return {};
}

std::optional<Command> CommandFromName(std::string_view name) {
    for (const CommandWord& word : kCommands)
        if (word.name == name) return word.command;
    return std::nullopt;
}

bool TakesArgument(Command command) {
    for (const CommandWord& word : kCommands)
        if (word.command == command) return word.argument;
    return false;
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        uint32_t code = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07;
        } else {
            return false; // a continuation byte, an overlong two-byte lead, or beyond U+10FFFF
        }
        if (text.size() - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF))) return false;
        if (code >= 0xD800 && code <= 0xDFFF) return false;
        i += length;
    }
    return true;
}

std::string_view CutUtf8(std::string_view text, std::size_t max) {
    if (text.size() <= max) return text;
    std::size_t end = max;
    // Back over continuation bytes to the start of the character that does not fit.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

std::optional<std::string> FormatRequest(const Request& request) {
    if (!ValidArgument(request.command, request.argument)) return std::nullopt;
    std::string bytes(kProtocolTag);
    bytes += '\t';
    bytes += CommandName(request.command);
    if (TakesArgument(request.command)) {
        bytes += '\t';
        bytes += request.argument;
    }
    bytes += '\n';
    if (bytes.size() > kMaxRequestBytes) return std::nullopt;
    return bytes;
}

std::optional<Request> ParseRequest(std::string_view bytes) {
    if (bytes.size() > kMaxRequestBytes || bytes.empty() || bytes.back() != '\n') return std::nullopt;
    std::string_view line = bytes.substr(0, bytes.size() - 1);
    if (line.find('\n') != std::string_view::npos) return std::nullopt;
    if (line.substr(0, kProtocolTag.size()) != kProtocolTag || line.size() <= kProtocolTag.size() ||
        line[kProtocolTag.size()] != '\t')
        return std::nullopt;
    line.remove_prefix(kProtocolTag.size() + 1);
    const std::size_t tab = line.find('\t');
    const std::optional<Command> command = CommandFromName(line.substr(0, tab));
    if (!command) return std::nullopt;
    Request request{*command, {}};
    if (tab != std::string_view::npos) {
        // A TAB always brings an argument; "stop\t" with nothing after it is not "stop" with an empty name.
        request.argument = std::string(line.substr(tab + 1));
        if (request.argument.empty()) return std::nullopt;
    }
    if (!ValidArgument(request.command, request.argument)) return std::nullopt;
    return request;
}

std::string FormatReply(const Reply& reply) {
    const std::string_view text = CutUtf8(reply.text, kMaxReplyText);
    std::string bytes(kProtocolTag);
    bytes += '\t';
    bytes += reply.status == ReplyStatus::Done ? '0' : '1';
    bytes += '\t';
    bytes += std::to_string(text.size());
    bytes += '\n';
    bytes += text;
    return bytes;
}

std::optional<std::size_t> ReplySize(std::string_view received) {
    const std::size_t lf = received.find('\n');
    if (lf == std::string_view::npos) {
        if (received.size() >= kMaxReplyHeader) return 0;
        return std::nullopt;
    }
    const std::string_view header = received.substr(0, lf);
    const std::size_t prefix = kProtocolTag.size() + 3; // tag, TAB, status digit, TAB
    if (lf >= kMaxReplyHeader || header.size() <= prefix || header.substr(0, kProtocolTag.size()) != kProtocolTag ||
        header[kProtocolTag.size()] != '\t' || (header[prefix - 2] != '0' && header[prefix - 2] != '1') ||
        header[prefix - 1] != '\t')
        return 0;
    const std::optional<std::size_t> length = ParseLength(header.substr(prefix));
    if (!length || *length > kMaxReplyText) return 0;
    return lf + 1 + *length;
}

std::optional<Reply> ParseReply(std::string_view bytes) {
    const std::optional<std::size_t> size = ReplySize(bytes);
    if (!size || *size == 0 || *size != bytes.size()) return std::nullopt;
    const std::size_t lf = bytes.find('\n');
    Reply reply;
    reply.status = bytes[kProtocolTag.size() + 1] == '0' ? ReplyStatus::Done : ReplyStatus::Refused;
    reply.text = std::string(bytes.substr(lf + 1));
    if (!IsValidUtf8(reply.text)) return std::nullopt;
    return reply;
}

} // namespace quillet::remote
