#include "model/settings.h"

#include <cstdio>
#include <cstring>

#include "model/ini_file.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <cerrno>
#include <unistd.h>
#endif

namespace quillet {

namespace {

constexpr const char* kIniFileName = "Quillet.ini";
constexpr const char* kSection = "Property";
constexpr std::size_t kMaxStringRead = 259;  // the profile read fills a 260-byte buffer
constexpr std::size_t kMaxSettingText = 260; // setting strings live in 261-byte buffers

std::string CurrentDirectory() {
#ifdef _WIN32
    const DWORD needed = GetCurrentDirectoryA(0, nullptr);
    if (needed == 0) return {};
    std::string dir(needed, '\0');
    const DWORD length = GetCurrentDirectoryA(needed, dir.data());
    if (length == 0 || length >= needed) return {};
    dir.resize(length);
    return dir;
#else
    std::string dir(256, '\0');
    while (dir.size() <= 65536) {
        if (::getcwd(dir.data(), dir.size()) != nullptr) {
            dir.resize(std::strlen(dir.c_str()));
            return dir;
        }
        if (errno != ERANGE) return {};
        dir.resize(dir.size() * 2);
    }
    return {};
#endif
}

} // namespace

#ifdef _WIN32

struct CIni::Batch {};

CIni::CIni(std::string section, std::string path) : section_(std::move(section)), path_(std::move(path)) {}
CIni::~CIni() = default;

void CIni::BeginBatch() {}
void CIni::EndBatch() {}

int32_t CIni::GetInt(const char* key, int32_t def) const {
    return static_cast<int32_t>(GetPrivateProfileIntA(section_.c_str(), key, def, path_.c_str()));
}

std::string CIni::GetString(const char* key, const std::string& def) const {
    char buffer[kMaxStringRead + 2] = {};
    GetPrivateProfileStringA(section_.c_str(), key, def.c_str(), buffer, kMaxStringRead + 1, path_.c_str());
    return buffer;
}

void CIni::WriteInt(const char* key, int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    if (!WritePrivateProfileStringA(section_.c_str(), key, text, path_.c_str())) writeFailed_ = true;
}

void CIni::WriteWord(const char* key, std::string_view value) {
    const std::string word(CutAtLineBreak(value));
    if (!WritePrivateProfileStringA(section_.c_str(), key, word.c_str(), path_.c_str())) writeFailed_ = true;
}

void CIni::WriteString(const char* key, const std::string& value) {
    const std::string quoted = "\"" + std::string(CutAtLineBreak(value)) + "\"";
    if (!WritePrivateProfileStringA(section_.c_str(), key, quoted.c_str(), path_.c_str())) writeFailed_ = true;
}

#else

// The file as read at the start of a batch, edited in memory until the batch ends.
struct CIni::Batch {
    IniFileStatus status = IniFileStatus::Missing;
    IniDocument document;
};

namespace {

void ReadBatch(const std::string& path, IniFileStatus& status, IniDocument& document) {
    std::string text;
    status = ReadIniFile(path, text);
    document = IniDocument(std::move(text));
}

} // namespace

CIni::CIni(std::string section, std::string path) : section_(std::move(section)), path_(std::move(path)) {}
CIni::~CIni() = default;

void CIni::BeginBatch() {
    if (batchDepth_++ > 0) return;
    batch_ = std::make_unique<Batch>();
    ReadBatch(path_, batch_->status, batch_->document);
}

void CIni::EndBatch() {
    if (batchDepth_ == 0 || --batchDepth_ > 0) return;
    const std::unique_ptr<Batch> batch = std::move(batch_);
    if (!batch->document.modified()) return; // the file already holds every value
    if (batch->status == IniFileStatus::Unreadable || !WriteIniFile(path_, batch->document.text())) writeFailed_ = true;
}

bool CIni::FindValue(const char* key, std::string& value) const {
    auto lookUp = [&](const Batch& batch) {
        if (batch.status != IniFileStatus::Ok) return false;
        const std::optional<std::string_view> found = batch.document.Find(section_, key);
        if (found) value = *found;
        return found.has_value();
    };
    if (batch_) return lookUp(*batch_);
    Batch once;
    ReadBatch(path_, once.status, once.document);
    return lookUp(once);
}

int32_t CIni::GetInt(const char* key, int32_t def) const {
    // ProfileInt removes the quotes itself: the value must not be unquoted twice.
    std::string value;
    return FindValue(key, value) ? ProfileInt(value, def) : def;
}

std::string CIni::GetString(const char* key, const std::string& def) const {
    std::string value;
    return FindValue(key, value) ? ProfileString(value, kMaxStringRead) : std::string(CutCp949(def, kMaxStringRead));
}

void CIni::WriteInt(const char* key, int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    BeginBatch();
    if (batch_->status == IniFileStatus::Unreadable || !batch_->document.Set(section_, key, text)) writeFailed_ = true;
    EndBatch();
}

void CIni::WriteString(const char* key, const std::string& value) {
    const std::string quoted = "\"" + std::string(CutAtLineBreak(value)) + "\"";
    BeginBatch();
    if (batch_->status == IniFileStatus::Unreadable || !batch_->document.Set(section_, key, quoted))
        writeFailed_ = true;
    EndBatch();
}

void CIni::WriteWord(const char* key, std::string_view value) {
    BeginBatch();
    if (batch_->status == IniFileStatus::Unreadable ||
        !batch_->document.Set(section_, key, std::string(CutAtLineBreak(value))))
        writeFailed_ = true;
    EndBatch();
}

#endif

bool CIni::TakeWriteFailure() {
    const bool failed = writeFailed_;
    writeFailed_ = false;
    return failed;
}

std::string IniPathInDirectory(std::string_view directory) {
#ifdef _WIN32
    constexpr char kSeparator = '\\';
    const bool endsWithSeparator = !directory.empty() && (directory.back() == '\\' || directory.back() == '/');
#else
    constexpr char kSeparator = '/';
    const bool endsWithSeparator = !directory.empty() && directory.back() == '/';
#endif
    if (directory.empty()) return kIniFileName;
    std::string path(directory);
    if (!endsWithSeparator) path += kSeparator;
    path += kIniFileName;
    // The bare name still resolves into the current directory, and fits wherever the full path does not.
    if (path.size() > CIni::kMaxPath) return kIniFileName;
    return path;
}

std::string DefaultIniPath() {
    return IniPathInDirectory(CurrentDirectory());
}

CAppIni::CAppIni(std::string path, bool saveOnExit) : CIni(kSection, std::move(path)), saveOnDestroy(saveOnExit) {
    Transfer(Load);
}

CAppIni::~CAppIni() {
    if (saveOnDestroy) Transfer(Save);
}

bool CAppIni::Transfer(Direction direction) {
    TakeWriteFailure();
    BeginBatch();
    for (const SettingInfo& setting : SettingTable()) {
        if (setting.text) {
            std::string& field = this->*setting.text;
            if (direction == Load)
                field = std::string(CutCp949(GetString(setting.key, setting.defaultText), kMaxSettingText));
            else
                WriteString(setting.key, std::string(CutCp949(field, kMaxSettingText)));
        } else {
            int32_t& field = this->*setting.number;
            if (direction == Load)
                field = GetInt(setting.key, setting.defaultNumber);
            else
                WriteInt(setting.key, field);
        }
    }
    if (direction == Load)
        language = std::string(CutCp949(GetString(kLanguageKey, ""), kMaxSettingText));
    else if (!language.empty())
        WriteWord(kLanguageKey, CutCp949(language, kMaxSettingText));
    EndBatch();
    return !TakeWriteFailure();
}

} // namespace quillet
