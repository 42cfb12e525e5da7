#include "model/cp949.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <cerrno>
#include <iconv.h>
#endif

namespace quillet {

namespace {

// Length of the UTF-8 sequence starting with lead byte c, or 0 when c cannot start one.
std::size_t Utf8SequenceLength(unsigned char c) {
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return 2;
    if (c >= 0xE0 && c <= 0xEF) return 3;
    if (c >= 0xF0 && c <= 0xF4) return 4;
    return 0;
}

// Second byte of a CP949 two-byte character.
bool IsCp949Trail(unsigned char c) { return (c >= 0x41 && c <= 0x5A) || (c >= 0x61 && c <= 0x7A) || (c >= 0x81 && c <= 0xFE); }

#ifndef _WIN32
// One converter per direction and thread; iconv_open is far too slow to call per string.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr); // reset shift state
        return cd_;
    }

private:
    iconv_t cd_;
};

// Converts in, calling onError(in, left, out) for each byte run iconv rejects; it must advance in.
template <typename OnError>
std::string Convert(Converter& conv, std::string_view text, OnError onError) {
    std::string out;
    if (!conv.ok()) return std::string(text);
    iconv_t cd = conv.get();
    out.reserve(text.size() * 3 / 2 + 8);
    char* in = const_cast<char*>(text.data());
    std::size_t left = text.size();
    char buf[1024];
    while (left > 0) {
        char* o = buf;
        std::size_t room = sizeof buf;
        const std::size_t r = iconv(cd, &in, &left, &o, &room);
        out.append(buf, static_cast<std::size_t>(o - buf));
        if (r == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG) continue;
            onError(in, left, out);
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}
#endif

} // namespace

std::string Cp949ToUtf8(std::string_view cp949) {
#ifdef _WIN32
    std::string out;
    std::size_t i = 0;
    while (i < cp949.size()) {
        const unsigned char c = static_cast<unsigned char>(cp949[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        wchar_t w[2];
        int n = 0;
        if (i + 1 < cp949.size() && IsCp949Trail(static_cast<unsigned char>(cp949[i + 1])))
            n = MultiByteToWideChar(949, MB_ERR_INVALID_CHARS, cp949.data() + i, 2, w, 2);
        std::size_t used = 2;
        if (n != 1) {
            w[0] = 0xFFFD;
            used = 1;
        }
        char u[8];
        const int k = WideCharToMultiByte(CP_UTF8, 0, w, 1, u, sizeof u, nullptr, nullptr);
        out.append(u, static_cast<std::size_t>(k > 0 ? k : 0));
        i += used;
    }
    return out;
#else
    // Characters are converted one at a time: glibc's decoder consumes an unassigned pair and still reports an
    // error, so a bulk conversion cannot tell how far it got.
    thread_local Converter conv("UTF-8", "CP949");
    std::string out;
    out.reserve(cp949.size() * 3 / 2);
    std::size_t i = 0;
    while (i < cp949.size()) {
        const unsigned char c = static_cast<unsigned char>(cp949[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        const bool hasTrail = i + 1 < cp949.size() && IsCp949Trail(static_cast<unsigned char>(cp949[i + 1]));
        if (c == 0x80 || c == 0xFF || !hasTrail || !conv.ok()) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        char pair[2] = {cp949[i], cp949[i + 1]};
        char* in = pair;
        std::size_t left = 2;
        char buf[8];
        char* o = buf;
        std::size_t room = sizeof buf;
        if (iconv(conv.get(), &in, &left, &o, &room) == static_cast<std::size_t>(-1) || left != 0)
            out += "\xEF\xBF\xBD";
        else
            out.append(buf, static_cast<std::size_t>(o - buf));
        i += 2;
    }
    return out;
#endif
}

std::string Utf8ToCp949(std::string_view utf8) {
#ifdef _WIN32
    std::string out;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        const std::size_t len = Utf8SequenceLength(c);
        if (len == 1) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        wchar_t w[2];
        const int n = (len == 0 || i + len > utf8.size())
                          ? 0
                          : MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data() + i, static_cast<int>(len), w, 2);
        if (n <= 0) {
            out.push_back('?');
            ++i;
            continue;
        }
        char m[8];
        BOOL usedDefault = FALSE;
        const int k = WideCharToMultiByte(949, WC_NO_BEST_FIT_CHARS, w, n, m, sizeof m, "?", &usedDefault);
        if (k <= 0 || usedDefault) out.push_back('?');
        else out.append(m, static_cast<std::size_t>(k));
        i += len;
    }
    return out;
#else
    thread_local Converter conv("CP949", "UTF-8");
    return Convert(conv, utf8, [](char*& in, std::size_t& left, std::string& out) {
        // Skip one whole character when it is well-formed but unrepresentable, else one byte.
        std::size_t len = Utf8SequenceLength(static_cast<unsigned char>(*in));
        if (len == 0 || len > left) len = 1;
        for (std::size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(in[k]) & 0xC0) != 0x80) len = 1;
        out.push_back('?');
        in += len;
        left -= len;
    });
#endif
}

} // namespace quillet
