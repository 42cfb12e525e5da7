// The settings store: one section of an INI file, read at start and written at exit.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillet {

// Reads and writes keys of one section of an INI file. On Windows the profile functions do the work; elsewhere an
// INI reader/writer with the same observable behaviour.
class CIni {
public:
    CIni(std::string section, std::string path);
    virtual ~CIni();
    CIni(const CIni&) = delete;
    CIni& operator=(const CIni&) = delete;

    const std::string& section() const { return section_; }
    const std::string& path() const { return path_; }

    // The key's value as a signed decimal number (garbage after the digits ignored, no digits gives 0); def when
    // the file or the key is missing or the value is empty.
    int32_t GetInt(const char* key, int32_t def) const;
    void WriteInt(const char* key, int32_t value); // "%d"
    // The key's text, at most 259 bytes, with one pair of enclosing double quotes removed; def when missing.
    std::string GetString(const char* key, const std::string& def) const;
    // Writes the value in double quotes so that blanks around it survive; it is cut at a line break or NUL.
    void WriteString(const char* key, const std::string& value);
    // Writes the value as it is, without quotes (a one-word value a person edits by hand, such as "en"); it is cut
    // at a line break or NUL.
    void WriteWord(const char* key, std::string_view value);
    // Writes return nothing, as the profile functions are used; this tells whether any write since the last call
    // failed (or was refused to protect a file that could not be read whole), and clears it.
    bool TakeWriteFailure();

    // Longest INI path held; longer ones fall back to the bare file name (resolved against the current directory).
    static constexpr std::size_t kMaxPath = 259;

protected:
    // Between BeginBatch and EndBatch all reads share one reading of the file and all writes end in one write of it
    // (the profile functions on Windows cache the file themselves). Batches nest.
    void BeginBatch();
    void EndBatch();

private:
    // The key's value as the file has it (blanks around it removed); false when the file or the key is missing.
    bool FindValue(const char* key, std::string& value) const;

    struct Batch;
    std::unique_ptr<Batch> batch_;
    int batchDepth_ = 0;
    bool writeFailed_ = false;
    std::string section_;
    std::string path_;
};

// "Quillet.ini" in the current directory; the bare "Quillet.ini" when the full path would exceed CIni::kMaxPath.
std::string DefaultIniPath();
// The same for a given directory (empty: the bare name).
std::string IniPathInDirectory(std::string_view directory);

// The 24 settings of section "Property". Their keys, order and defaults come from SettingTable(); once
// constructed, every field holds the file's value or, where the file or the key is missing, its default.
// Besides them the section may hold "language" (see the field), which is written only once it has a value.
class CAppIni : public CIni {
public:
    enum Direction { Load, Save };

    // Loads the settings from the file (missing ones take their defaults).
    explicit CAppIni(std::string path = DefaultIniPath(), bool saveOnDestroy = true);
    ~CAppIni() override; // Transfer(Save) when saveOnDestroy

    // Reads all settings (missing keys take their defaults) or writes them all, in table order. Returns false when
    // a save could not be written (a file that could not be read whole is never written over).
    bool Transfer(Direction direction);

    int32_t macroOptions{};
    int32_t recOptions{};
    int32_t editOptions{};
    int32_t hangulKeyboard{};
    int32_t windowSX{};
    int32_t windowSY{};
    int32_t debugSX{};
    int32_t debugSY{};
    int32_t statusSX{};
    int32_t statusSY{};
    std::string macroFileName; // CP949, at most 260 bytes
    std::string title;         // CP949, at most 260 bytes
    int32_t colorDelay{};
    int32_t eventDelay{};
    // The engine's tick period: eventDelay, at least 1 ms (a hand-edited 0 or less would stop the timer).
    uint32_t TickPeriodMs() const { return static_cast<uint32_t>(eventDelay > 1 ? eventDelay : 1); }
    int32_t keyMacroRun{};
    int32_t keyMacroRecord{};
    int32_t keyMousePosCapture{};
    int32_t keyMacroColorStart{};
    int32_t keyMacroColorStop{};
    int32_t recMouseDistance{};
    int32_t recEventTimeInterval{};
    int32_t sequenceStart{};
    int32_t macroSel{};
    int32_t startTabSel{};

    // The program's language as the file has it: "en" English, "ko" Korean, empty when the file has no such key;
    // anything else reads as Korean (LanguageFromSetting) and is written back as it was. Not one of SettingTable's
    // 24: it is saved (after them, as "language=en") only when not empty, so the file of a program that never chose
    // a language is byte for byte what it always was, and a choice once made is never dropped.
    std::string language; // at most 260 bytes
    static constexpr const char* kLanguageKey = "language";

    bool saveOnDestroy;
};

// What a setting holds; decides how its default is shown to people (the file stores every number alike).
enum class SettingKind {
    Number,  // a plain number
    Bits,    // a set of option bits
    KeyCode, // a key code of the key table
    Text,    // CP949 text, written in double quotes
};

// One setting: the single description of its key, field, default and meaning that the reader, the writer, the
// defaults, quillet-cli and docs/settings.md all follow. A Text setting has text and defaultText set; every other
// kind has number set and uses defaultNumber.
struct SettingInfo {
    const char* key; // as written in the file
    SettingKind kind;
    int32_t CAppIni::*number;
    std::string CAppIni::*text;
    int32_t defaultNumber;
    const char* defaultText;
    const char* description; // one line of English, no '|' (it is a cell of a Markdown table)
};

// The 24 settings in file order (macroOptions first, startTabSel last). The table is static; the span is valid for
// the life of the program.
std::span<const SettingInfo> SettingTable();

// One setting of a CAppIni object: its key and the field holding it (exactly one of number and text is set).
struct SettingEntry {
    const char* key;
    int32_t* number;
    std::string* text;
};

// The settings of ini in file order, bound to its fields.
std::vector<SettingEntry> SettingEntries(CAppIni& ini);

} // namespace quillet
