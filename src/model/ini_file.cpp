#include "model/ini_file.h"

#include <algorithm>
#include <limits>

#ifndef _WIN32
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "model/file_write.h"
#endif

namespace quillet {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

bool HasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos;
}

// A name that reads back as itself: not empty, no blanks around it, on one line.
bool IsPlainName(std::string_view name) {
    return !name.empty() && Trim(name) == name && !HasLineBreakOrNul(name);
}

bool IsValidSectionName(std::string_view name) {
    return IsPlainName(name) && name.find(']') == name.npos;
}

bool IsValidKeyName(std::string_view name) {
    return IsPlainName(name) && name.find('=') == name.npos && name.front() != '[' && name.front() != ';';
}

// One line of the text: content [begin, end) without its line ending; the next line starts at next.
struct Line {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t next = 0;
    bool terminated() const { return next != end; }
};

class LineReader {
public:
    explicit LineReader(const std::string& text) : text_(text) {
        if (std::string_view(text_).starts_with(kUtf8Bom)) pos_ = kUtf8Bom.size();
    }

    // A line ends at LF, CR LF or a lone CR, as the profile functions read it.
    bool Next(Line& line) {
        if (pos_ >= text_.size()) return false;
        line.begin = pos_;
        line.end = std::min(text_.find_first_of("\r\n", pos_), text_.size());
        line.next = line.end;
        if (line.end < text_.size())
            line.next +=
                (text_[line.end] == '\r' && line.end + 1 < text_.size() && text_[line.end + 1] == '\n') ? 2 : 1;
        pos_ = line.next;
        return true;
    }

private:
    const std::string& text_;
    std::size_t pos_ = 0;
};

enum class LineKind { Other, Comment, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;  // section or key name, trimmed
    std::string_view value; // key value, trimmed
};

ParsedLine ParseLine(std::string_view content) {
    ParsedLine p;
    std::size_t i = 0;
    while (i < content.size() && IsBlank(content[i])) ++i;
    if (i == content.size()) return p;
    if (content[i] == ';') {
        p.kind = LineKind::Comment;
        return p;
    }
    if (content[i] == '[') {
        const std::size_t close = content.find(']', i + 1);
        if (close != content.npos) {
            p.kind = LineKind::Section;
            p.name = Trim(content.substr(i + 1, close - i - 1));
            return p;
        }
        // A header without ']' is no header; like the profile functions, read it as an ordinary line.
    }
    const std::size_t eq = content.find('=');
    if (eq == content.npos) return p;
    p.name = Trim(content.substr(0, eq));
    if (p.name.empty()) return p;
    p.kind = LineKind::Key;
    p.value = Trim(content.substr(eq + 1));
    return p;
}

} // namespace

std::optional<std::string_view> IniDocument::Find(std::string_view section, std::string_view key) const {
    LineReader reader(text_);
    Line line;
    bool inSection = false;
    while (reader.Next(line)) {
        const ParsedLine p = ParseLine(std::string_view(text_).substr(line.begin, line.end - line.begin));
        if (p.kind == LineKind::Section) {
            if (inSection) return std::nullopt; // only the first section of the name counts
            inSection = EqualNoCase(p.name, section);
        } else if (inSection && p.kind == LineKind::Key && EqualNoCase(p.name, key)) {
            return p.value;
        }
    }
    return std::nullopt;
}

std::string_view IniDocument::LineEnding() const {
    LineReader reader(text_);
    Line first;
    if (!reader.Next(first) || !first.terminated()) return newLineEnding;
    // A literal, not a view into text_: the text changes while the ending is in use.
    if (first.next - first.end == 2) return "\r\n";
    return text_[first.end] == '\r' ? "\r" : "\n";
}

bool IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    if (!IsValidSectionName(section) || !IsValidKeyName(key)) return false;
    value = CutAtLineBreak(value);
    const std::string_view eol = LineEnding();

    LineReader reader(text_);
    Line line;
    bool inSection = false;
    bool sectionFound = false;
    Line insertAfter; // the section's header or its last key line
    bool lastLineBlank = true;
    while (reader.Next(line)) {
        const std::string_view content = std::string_view(text_).substr(line.begin, line.end - line.begin);
        const ParsedLine p = ParseLine(content);
        lastLineBlank = Trim(content).empty();
        if (p.kind == LineKind::Section) {
            if (inSection) break;
            inSection = EqualNoCase(p.name, section);
            if (inSection) {
                sectionFound = true;
                insertAfter = line;
            }
        } else if (inSection && p.kind == LineKind::Key) {
            if (EqualNoCase(p.name, key)) {
                // Rewrite the line in place, keeping the key's spelling as the file has it.
                std::string replacement;
                replacement.reserve(p.name.size() + 1 + value.size());
                replacement.append(p.name).append("=").append(value);
                if (content != replacement) {
                    text_.replace(line.begin, line.end - line.begin, replacement);
                    modified_ = true;
                }
                return true;
            }
            insertAfter = line;
        }
    }

    std::string keyLine;
    keyLine.append(key).append("=").append(value);
    if (sectionFound) {
        if (insertAfter.terminated()) {
            text_.insert(insertAfter.next, keyLine.append(eol));
        } else {
            // The line is the last one and has no line ending: keep the file ending without one.
            text_.insert(insertAfter.end, std::string(eol).append(keyLine));
        }
    } else {
        if (!text_.empty() && text_.back() != '\n' && text_.back() != '\r') text_.append(eol);
        if (!lastLineBlank) text_.append(eol); // a blank line between sections
        text_.append("[").append(section).append("]").append(eol);
        text_.append(keyLine).append(eol);
    }
    modified_ = true;
    return true;
}

std::string_view CutAtLineBreak(std::string_view value) {
    return value.substr(0, value.find_first_of(std::string_view("\r\n\0", 3)));
}

std::string_view CutCp949(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    std::size_t i = 0;
    while (i < maxBytes) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t length = (c >= 0x81 && c <= 0xFE && i + 1 < text.size()) ? 2 : 1;
        if (i + length > maxBytes) break;
        i += length;
    }
    return text.substr(0, i);
}

std::string ProfileString(std::string_view value, std::size_t maxBytes) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    value = value.substr(0, value.find('\0'));
    return std::string(CutCp949(value, maxBytes));
}

int32_t ProfileInt(std::string_view value, int32_t def) {
    const std::string text = ProfileString(value, std::numeric_limits<std::size_t>::max());
    if (text.empty()) return def;
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Accumulate the magnitude up to just past the 32-bit range, then saturate.
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > kLimit) magnitude = kLimit;
    }
    const int64_t result = negative ? -magnitude : magnitude;
    if (result > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(result);
}

#ifndef _WIN32

IniFileStatus ReadIniFile(const std::string& path, std::string& text) {
    text.clear();
    // O_NONBLOCK: a FIFO under the file's name must not hang the program; it is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? IniFileStatus::Missing : IniFileStatus::Unreadable;
    struct stat st {};
    IniFileStatus status = IniFileStatus::Unreadable;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= kMaxIniFileSize) {
        // Read at most one byte past the limit, so a file that grew since fstat is still caught.
        std::string buffer(static_cast<std::size_t>(st.st_size) + 1, '\0');
        std::size_t got = 0;
        bool failed = false;
        for (;;) {
            if (got == buffer.size()) {
                if (buffer.size() > kMaxIniFileSize) break;
                buffer.resize(std::min(buffer.size() * 2, kMaxIniFileSize + 1));
            }
            const ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) failed = true;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        if (!failed && got <= kMaxIniFileSize) {
            buffer.resize(got);
            text = std::move(buffer);
            status = IniFileStatus::Ok;
        }
    }
    ::close(fd);
    return status;
}

bool WriteIniFile(const std::string& path, std::string_view text) {
    return WriteWholeFile(path, text).ok;
}

#endif

} // namespace quillet
