#include "model/text_fill.h"

namespace quillet {

std::string FillText(std::string_view format, std::initializer_list<std::string_view> args) {
    std::string out;
    std::size_t room = format.size();
    for (std::string_view a : args) room += a.size();
    out.reserve(room);
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c == '%' && i + 1 < format.size() && format[i + 1] >= '1' && format[i + 1] <= '9') {
            const auto n = static_cast<std::size_t>(format[i + 1] - '1');
            if (n < args.size()) {
                out += *(args.begin() + n);
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

} // namespace quillet
