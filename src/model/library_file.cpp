#include "model/library_file.h"

#include "model/cp949.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <system_error>
#include <utility>

#include "model/file_write.h"

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quillet {

namespace {

// ---------------------------------------------------------------------------------------------------------------
// Reading

// A bounds-checked reader over the file's bytes, either all in memory or read from an open file through a
// fixed-size window (so a load never holds the whole file on top of the library it builds). left() is what the
// file holds after the current position; every count taken from the file is compared with it before anything is
// allocated, and every read first makes its bytes available with Need(), so nothing is read past the end.
class Reader {
public:
    static constexpr std::size_t kWindow = 64 * 1024; // larger than any fixed-size record

    explicit Reader(std::string_view bytes) : window_(bytes), total_(bytes.size()) {}
    Reader(std::FILE* file, std::size_t total) : file_(file), total_(total), buffer_(kWindow, '\0') {}

    std::size_t pos() const { return pos_; }
    std::size_t left() const { return total_ - pos_; }
    const std::string& error() const { return error_; }

    // Makes the next n bytes (n <= kWindow, n <= left()) readable; false when the file does not deliver them.
    bool Need(std::size_t n) {
        if (window_.size() >= n) return true;
        if (file_ == nullptr || n > left()) return false;
        const std::size_t kept = window_.size();
        std::copy(window_.begin(), window_.end(), buffer_.begin());
        const std::size_t want = std::min(buffer_.size(), left()) - kept;
        const std::size_t got = std::fread(buffer_.data() + kept, 1, want, file_);
        window_ = std::string_view(buffer_.data(), kept + got);
        if (got < want) NoteReadError();
        return window_.size() >= n;
    }
    // The three below read bytes made available by Need().
    int32_t Int32() {
        const auto* p = reinterpret_cast<const unsigned char*>(window_.data());
        Advance(4);
        return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                    (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
    }
    std::string_view Bytes(std::size_t n) {
        const std::string_view v = window_.substr(0, n);
        Advance(n);
        return v;
    }
    void Skip(std::size_t n) { Advance(n); }

    // Reads n bytes (n <= left()) of any length into out.
    bool Text(std::size_t n, std::string& out) {
        const std::size_t fromWindow = std::min(n, window_.size());
        out.assign(window_.data(), fromWindow);
        Advance(fromWindow);
        if (fromWindow == n) return true;
        if (file_ == nullptr) return false;
        out.resize(n);
        const std::size_t want = n - fromWindow;
        const std::size_t got = std::fread(out.data() + fromWindow, 1, want, file_);
        pos_ += got;
        if (got < want) {
            NoteReadError();
            return false;
        }
        return true;
    }

private:
    void Advance(std::size_t n) {
        window_.remove_prefix(n);
        pos_ += n;
    }
    void NoteReadError() {
        error_ = std::ferror(file_) ? std::error_code(errno, std::generic_category()).message()
                                    : "the file is shorter than when it was opened";
    }

    std::FILE* file_ = nullptr;
    std::string_view window_; // the readable bytes from pos_ on
    std::size_t pos_ = 0;
    std::size_t total_ = 0;
    std::string buffer_;
    std::string error_;
};

// Why parsing stopped; empty when it did not.
struct Damage {
    std::string problem;
    std::size_t offset = 0;
};

std::string At(std::size_t offset) {
    return " at offset " + std::to_string(offset);
}

std::string ItemWhere(std::size_t item, std::size_t macro) {
    return "item " + std::to_string(item + 1) + " of macro " + std::to_string(macro + 1);
}

bool ReadFailed(const Reader& in, Damage& damage) {
    damage = {"cannot read the file" + At(in.pos()) + ": " + in.error(), in.pos()};
    return false;
}

// Makes n bytes readable, which fails only when reading the file fails.
bool Fetch(Reader& in, std::size_t n, Damage& damage) {
    return in.Need(n) || ReadFailed(in, damage);
}

// Reads one item record and its owned data. Returns false with damage set when the file cannot hold it.
bool ReadItem(Reader& in, MacroItem& item, std::size_t itemIndex, std::size_t macroIndex, Damage& damage) {
    const std::size_t start = in.pos();
    if (in.left() < kItemRecordSize) {
        damage = {"file ends inside " + ItemWhere(itemIndex, macroIndex) + " (record" + At(start) + ")", start};
        return false;
    }
    if (!Fetch(in, kItemRecordSize, damage)) return false;
    item.type = in.Int32();
    in.Skip(4); // reserved
    for (int32_t& p : item.param) p = in.Int32();
    in.Skip(4); // reserved, or the second half of a string's buffer slot

    if (item.type == ItemString) {
        item.param[2] = 0; // buffer slot
        const int32_t length = item.textLength();
        if (length < 0) {
            damage = {"negative text length " + std::to_string(length) + " in " + ItemWhere(itemIndex, macroIndex) +
                          At(start + 8),
                      start + 8};
            return false;
        }
        if (static_cast<std::size_t>(length) > in.left()) {
            damage = {"text length " + std::to_string(length) + " of " + ItemWhere(itemIndex, macroIndex) +
                          At(start + 8) + " is more than the " + std::to_string(in.left()) + " bytes left in the file",
                      start + 8};
            return false;
        }
        if (!in.Text(static_cast<std::size_t>(length), item.buffer())) return ReadFailed(in, damage);
    } else if (item.type == ItemCall) {
        item.param[0] = item.param[1] = 0; // buffer slot
        if (in.left() < kCalledNameSize) {
            damage = {"file ends inside the called name of " + ItemWhere(itemIndex, macroIndex) + At(in.pos()),
                      in.pos()};
            return false;
        }
        if (!Fetch(in, kCalledNameSize, damage)) return false;
        item.buffer() = CutName(in.Bytes(kCalledNameSize));
    }
    return true;
}

// Reads one macro record with its items into macro (default-constructed). Returns false with damage set when the
// file cannot hold it.
bool ReadMacro(Reader& in, Macro& macro, std::size_t macroIndex, int32_t macroCount, Damage& damage) {
    const std::size_t start = in.pos();
    if (in.left() < kMacroRecordSize) {
        if (in.left() == 0) {
            damage = {"file ends after macro " + std::to_string(macroIndex) + At(start) + " but the macro count says " +
                          std::to_string(macroCount),
                      start};
        } else {
            damage = {"file ends inside macro " + std::to_string(macroIndex + 1) + " of " + std::to_string(macroCount) +
                          " (record" + At(start) + ")",
                      start};
        }
        return false;
    }
    if (!Fetch(in, kMacroRecordSize, damage)) return false;
    macro.name = CutName(in.Bytes(kNameBufferSize));
    macro.startKey = in.Int32();
    macro.stopKey = in.Int32();
    macro.startTime = in.Int32();
    macro.stopTime = in.Int32();
    macro.startColor = in.Int32();
    macro.stopColor = in.Int32();
    macro.colorTolerance = in.Int32();
    macro.startColorPos = in.Int32();
    macro.stopColorPos = in.Int32();
    macro.flags = in.Int32();
    macro.imagePath = CutName(in.Bytes(kNameBufferSize));
    macro.imageOptions = in.Int32();
    macro.imageRectStart = in.Int32();
    macro.imageRectEnd = in.Int32();
    const std::size_t countAt = in.pos();
    const int32_t itemCount = in.Int32();
    const std::string where = " of macro " + std::to_string(macroIndex + 1) + At(countAt);
    if (itemCount < 0) {
        damage = {"negative item count " + std::to_string(itemCount) + where, countAt};
        return false;
    }
    // Each item needs at least its 24-byte record, so this bounds the vector by the file's size.
    if (static_cast<std::uint64_t>(itemCount) * kItemRecordSize > in.left()) {
        damage = {"item count " + std::to_string(itemCount) + where + " is more than the " + std::to_string(in.left()) +
                      " bytes left in the file can hold",
                  countAt};
        return false;
    }
    macro.items.resize(static_cast<std::size_t>(itemCount));
    for (std::size_t i = 0; i < macro.items.size(); ++i) {
        if (!ReadItem(in, macro.items[i], i, macroIndex, damage)) return false;
    }
    return true;
}

LoadResult Parse(Reader& in, MacroLibrary& library) {
    LoadResult result;
    library.clear();
    if (in.left() < 4 || !in.Need(4)) {
        result.status = LoadStatus::Damaged;
        result.problem = in.left() == 0  ? "file is empty: no macro count"
                         : in.left() < 4 ? "file ends inside the macro count"
                                         : "cannot read the file: " + in.error();
        return result;
    }
    const int32_t macroCount = in.Int32();
    if (macroCount < 0) {
        result.status = LoadStatus::Damaged;
        result.problem = "negative macro count " + std::to_string(macroCount) + At(0);
        return result;
    }
    // A count larger than the file can hold is reported where the macros run out, after the whole macros before
    // that point have been kept; the reservation never exceeds what the file can hold.
    library.reserve(std::min<std::size_t>(static_cast<std::size_t>(macroCount), in.left() / kMacroRecordSize));
    Damage damage;
    for (int32_t i = 0; i < macroCount; ++i) {
        Macro macro;
        if (!ReadMacro(in, macro, static_cast<std::size_t>(i), macroCount, damage)) break;
        library.push_back(std::move(macro));
    }
    if (damage.problem.empty() && in.left() > 0) {
        damage = {std::to_string(in.left()) + " unexpected bytes after the last macro" + At(in.pos()) +
                      " (not a macro library, or a damaged one)",
                  in.pos()};
    }
    result.macrosRead = library.size();
    if (!damage.problem.empty()) {
        result.status = LoadStatus::Damaged;
        result.problem = std::move(damage.problem);
        result.offset = static_cast<int64_t>(damage.offset);
    }
    return result;
}

// ---------------------------------------------------------------------------------------------------------------
// Writing

// Writes little-endian fields into a buffer sized in advance.
class Writer {
public:
    explicit Writer(char* out) : out_(out) {}

    void Int32(int32_t v) {
        const auto u = static_cast<uint32_t>(v);
        out_[0] = static_cast<char>(u & 0xFF);
        out_[1] = static_cast<char>((u >> 8) & 0xFF);
        out_[2] = static_cast<char>((u >> 16) & 0xFF);
        out_[3] = static_cast<char>((u >> 24) & 0xFF);
        out_ += 4;
    }
    void Bytes(std::string_view s) {
        std::copy(s.begin(), s.end(), out_);
        out_ += s.size();
    }
    // A NUL-terminated name in a fixed buffer; the buffer was zero-filled, so only the text is copied.
    void NameBuffer(std::string_view s, std::size_t bufferSize) {
        const std::string name = CutName(s);
        std::copy(name.begin(), name.end(), out_);
        out_ += bufferSize;
    }
    void Zero(std::size_t n) { out_ += n; }

private:
    char* out_;
};

// The stored text of a string item; a text longer than an int32 can count is cut (never happens in practice).
std::string_view StoredText(const MacroItem& item) {
    const std::string& t = item.text();
    return std::string_view(t).substr(0, std::min<std::size_t>(t.size(), std::numeric_limits<int32_t>::max()));
}

std::size_t SerializedSize(const MacroLibrary& library) {
    std::size_t size = 4;
    for (const Macro& m : library) {
        size += kMacroRecordSize + m.items.size() * kItemRecordSize;
        for (const MacroItem& it : m.items) {
            if (it.type == ItemString) size += StoredText(it).size();
            if (it.type == ItemCall) size += kCalledNameSize;
        }
    }
    return size;
}

void WriteItem(Writer& out, const MacroItem& item) {
    out.Int32(item.type);
    out.Zero(4);
    if (item.type == ItemString) {
        const std::string_view text = StoredText(item);
        out.Int32(static_cast<int32_t>(text.size()));
        out.Int32(item.textFlags());
        out.Zero(8);
        out.Bytes(text);
    } else if (item.type == ItemCall) {
        out.Zero(8);
        out.Int32(item.callMode());
        out.Zero(4);
        out.NameBuffer(item.calledName(), kCalledNameSize);
    } else {
        for (int32_t p : item.param) out.Int32(p);
        out.Zero(4);
    }
}

std::string ErrnoText(int err) {
    return std::error_code(err, std::generic_category()).message();
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens fileName for reading when it is a regular file, and tells its size. Anything else is refused without
// waiting on it: opening a FIFO for reading would block until some program opens it for writing.
FilePtr OpenRegularFile(const std::string& fileName, std::uintmax_t& size, std::string& problem) {
#ifdef _WIN32
    FilePtr file(std::fopen(fileName.c_str(), "rb"));
    if (!file) {
        problem = "cannot open " + fileName + ": " + ErrnoText(errno);
        return nullptr;
    }
    struct _stat64 st {};
    if (_fstat64(_fileno(file.get()), &st) != 0) {
        problem = "cannot read " + fileName + ": " + ErrnoText(errno);
        return nullptr;
    }
    if ((st.st_mode & _S_IFMT) != _S_IFREG) {
        problem = "cannot open " + fileName + ": not a regular file";
        return nullptr;
    }
#else
    const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        problem = "cannot open " + fileName + ": " + ErrnoText(errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        problem = (S_ISREG(st.st_mode) || st.st_mode == 0) ? "cannot read " + fileName + ": " + ErrnoText(errno)
                                                           : "cannot open " + fileName + ": not a regular file";
        close(fd);
        return nullptr;
    }
    // Plain blocking reads from here on.
    const int flags = fcntl(fd, F_GETFL);
    if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    FilePtr file(fdopen(fd, "rb"));
    if (!file) {
        problem = "cannot open " + fileName + ": " + ErrnoText(errno);
        close(fd);
        return nullptr;
    }
#endif
    size = static_cast<std::uintmax_t>(st.st_size);
    return file;
}

LoadResult Unopenable(std::string problem) {
    LoadResult result;
    result.status = LoadStatus::Unopenable;
    result.problem = std::move(problem);
    return result;
}

} // namespace

LoadResult ParseMacroLibrary(std::string_view bytes, MacroLibrary& library) {
    Reader in(bytes);
    return Parse(in, library);
}

// The file is parsed through the reader's fixed window, so the load needs the library's memory plus 64 KiB.
LoadResult LoadMacroLibrary(const std::string& fileName, MacroLibrary& library) {
    std::uintmax_t size = 0;
    std::string problem;
    const FilePtr file = OpenRegularFile(fileName, size, problem);
    if (!file) return Unopenable(std::move(problem));
    if (size > kMaxLibraryFileSize) {
        library.clear();
        LoadResult result;
        result.status = LoadStatus::Damaged;
        result.problem =
            fileName + " is larger than " + std::to_string(kMaxLibraryFileSize >> 20) + " MiB: not a macro library";
        return result;
    }

    Reader in(file.get(), static_cast<std::size_t>(size));
    // A file that opens but cannot be read at all leaves the library as it was, like one that cannot be opened.
    if (size > 0 && !in.Need(static_cast<std::size_t>(std::min<std::uintmax_t>(size, Reader::kWindow)))) {
        return Unopenable("cannot read " + fileName + ": " + in.error());
    }
    return Parse(in, library);
}

std::string SerializeMacroLibrary(const MacroLibrary& library) {
    std::string bytes(SerializedSize(library), '\0');
    Writer out(bytes.data());
    out.Int32(static_cast<int32_t>(library.size()));
    for (const Macro& m : library) {
        out.NameBuffer(m.name, kNameBufferSize);
        out.Int32(m.startKey);
        out.Int32(m.stopKey);
        out.Int32(m.startTime);
        out.Int32(m.stopTime);
        out.Int32(m.startColor);
        out.Int32(m.stopColor);
        out.Int32(m.colorTolerance);
        out.Int32(m.startColorPos);
        out.Int32(m.stopColorPos);
        out.Int32(m.flags);
        out.NameBuffer(m.imagePath, kNameBufferSize);
        out.Int32(m.imageOptions);
        out.Int32(m.imageRectStart);
        out.Int32(m.imageRectEnd);
        out.Int32(static_cast<int32_t>(m.items.size()));
        for (const MacroItem& it : m.items) WriteItem(out, it);
    }
    return bytes;
}

SaveResult SaveMacroLibrary(const std::string& fileName, const MacroLibrary& library) {
    return SaveFileBytes(fileName, SerializeMacroLibrary(library));
}

SaveResult SaveFileBytes(const std::string& fileName, std::string_view bytes) {
    const FileWriteResult written = WriteWholeFile(fileName, bytes);
    return {written.ok, written.problem};
}

// ---------------------------------------------------------------------------------------------------------------
// List operations

namespace {
bool InRange(const MacroLibrary& library, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < library.size();
}
} // namespace

void AppendMacro(MacroLibrary& library, const Macro& macro) {
    Macro copy(macro); // copied first: macro may be an entry of library itself
    library.push_back(std::move(copy));
}

void ReplaceMacro(MacroLibrary& library, int index, const Macro& macro) {
    if (!InRange(library, index)) return;
    library[static_cast<std::size_t>(index)] = macro;
}

void CopyMacro(MacroLibrary& library, int index) {
    if (!InRange(library, index)) return;
    Macro copy(library[static_cast<std::size_t>(index)]);
    copy.name = UniqueMacroName(library, "Macro Copy %d");
    library.push_back(std::move(copy));
}

void DeleteMacro(MacroLibrary& library, int index) {
    if (!InRange(library, index)) return;
    library.erase(library.begin() + index);
    for (auto it = library.begin() + index; it != library.end(); ++it) ResetRunState(*it);
}

bool MoveMacroUp(MacroLibrary& library, int index) {
    if (!InRange(library, index) || index == 0) return false;
    Macro& a = library[static_cast<std::size_t>(index) - 1];
    Macro& b = library[static_cast<std::size_t>(index)];
    std::swap(a, b);
    ResetRunState(a);
    ResetRunState(b);
    return true;
}

bool MoveMacroDown(MacroLibrary& library, int index) {
    if (!InRange(library, index) || static_cast<std::size_t>(index) + 1 >= library.size()) return false;
    return MoveMacroUp(library, index + 1);
}

std::string LibraryFileSystemName(const std::string& cp949Name) {
#ifdef _WIN32
    return cp949Name;
#else
    return Cp949ToUtf8(cp949Name);
#endif
}

} // namespace quillet
