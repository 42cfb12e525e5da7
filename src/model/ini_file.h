// An INI text edited in memory, with the value rules of the Windows profile functions, and a bounded read and a
// safe write of INI files. Used where the profile functions are not available.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillet {

// One INI file's bytes. Lines end in LF, CR LF or a lone CR; "[name]" starts a section, "key=value" is a key line,
// lines whose first non-blank character is ';' are comments. Section and key names match without regard to ASCII letter
// case and blanks around names and values are ignored. Only the first section of a name counts, and in it the first
// line of a key. Every byte not touched by Set is kept exactly, whatever it is (CP949, binary, lines without '=').
class IniDocument {
public:
    IniDocument() = default;
    explicit IniDocument(std::string text) : text_(std::move(text)) {}

    // The value of the key, without the blanks around it; nullopt when the section or the key is missing.
    std::optional<std::string_view> Find(std::string_view section, std::string_view key) const;

    // Sets the key's value: the first matching key line is rewritten in place, otherwise a line is added after the
    // section's last key line, or a new section is added at the end. The value is cut at its first CR, LF or NUL.
    // New lines take the line ending of the text's first line (newLineEnding for a text without one).
    // Returns false, changing nothing, for a section or key name that could not be read back as the same name.
    bool Set(std::string_view section, std::string_view key, std::string_view value);

    const std::string& text() const { return text_; }
    bool modified() const { return modified_; }

    // Line ending for texts that have none yet: CR LF on Windows, LF elsewhere.
    std::string_view newLineEnding = kNativeLineEnding;
#ifdef _WIN32
    static constexpr std::string_view kNativeLineEnding = "\r\n";
#else
    static constexpr std::string_view kNativeLineEnding = "\n";
#endif

private:
    std::string_view LineEnding() const;

    std::string text_;
    bool modified_ = false;
};

// Text up to the first CR, LF or NUL: what one INI line can hold.
std::string_view CutAtLineBreak(std::string_view value);

// At most maxBytes bytes of CP949 text, never ending inside a double-byte character.
std::string_view CutCp949(std::string_view text, std::size_t maxBytes);

// What GetPrivateProfileStringA makes of a key's value: one pair of enclosing quotes removed (a double or a single
// quote at both ends, the same at each end, of a value at least two bytes long), cut at a NUL and to maxBytes bytes.
std::string ProfileString(std::string_view value, std::size_t maxBytes);

// What GetPrivateProfileIntA makes of a key's value: def for an empty value, otherwise an optional sign and the
// leading decimal digits (anything after them ignored; no digits gives 0), saturated to the 32-bit range.
int32_t ProfileInt(std::string_view value, int32_t def);

#ifndef _WIN32
// Larger files are not read (their settings take defaults) and never written over.
inline constexpr std::size_t kMaxIniFileSize = 16u * 1024u * 1024u;

enum class IniFileStatus {
    Ok,         // read whole
    Missing,    // does not exist: may be created
    Unreadable, // exists but could not be read whole (no access, not a regular file, too large): leave it alone
};

// Reads the file into text (left empty unless Ok).
IniFileStatus ReadIniFile(const std::string& path, std::string& text);

// Makes text the whole content of the file by WriteWholeFile (model/file_write.h): through symbolic links (also one
// whose target does not exist yet), never to a file this process may not write, through a temporary file renamed
// over the old one or, where the folder takes no new file, in place with the old content put back on a failure.
// Keeps the old file's permissions, owner and group. False when nothing or not all was written.
bool WriteIniFile(const std::string& path, std::string_view text);
#endif

} // namespace quillet
