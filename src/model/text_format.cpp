#include "model/text_format.h"

#include <stdexcept>

#include "model/text_format_shared.h"

namespace quillet {

using namespace text_format_detail;

LoadResult ParseStoredMacros(std::string_view fileBytes, StoredMacros& out) {
    out.padding.clear();
    LoadResult result = ParseMacroLibrary(fileBytes, out.macros);
    if (!result.ok()) return result;
    // The canonical form has the file's layout and differs from it only in the bytes no field holds: each
    // difference is padding.
    const std::string canonical = SerializeMacroLibrary(out.macros);
    if (canonical == fileBytes) return result;
    std::vector<MacroPadding> padding(out.macros.size());
    std::size_t at = 4;
    for (std::size_t i = 0; i < out.macros.size(); ++i) {
        const Macro& m = out.macros[i];
        MacroPadding& p = padding[i];
        const auto diff = [&](std::size_t from, std::size_t size) {
            return DiffRuns(fileBytes.substr(from, size), std::string_view(canonical).substr(from, size));
        };
        p.record = diff(at, kMacroRecordSize);
        at += kMacroRecordSize;
        for (std::size_t k = 0; k < m.items.size(); ++k) {
            const std::size_t size = ItemStoredSize(m.items[k]);
            std::vector<PaddingRun> runs = diff(at, size);
            if (!runs.empty()) p.items.emplace_back(static_cast<uint32_t>(k), std::move(runs));
            at += size;
        }
    }
    out.padding = std::move(padding);
    return result;
}

std::string SerializeStoredMacros(const StoredMacros& stored) {
    std::string bytes = SerializeMacroLibrary(stored.macros);
    if (stored.padding.empty()) return bytes;
    if (stored.padding.size() != stored.macros.size()) throw std::invalid_argument("padding does not match the macros");
    std::size_t at = 4;
    const auto put = [&](std::size_t base, const std::vector<PaddingRun>& runs) {
        for (const PaddingRun& run : runs)
            std::copy(run.bytes.begin(), run.bytes.end(),
                      bytes.begin() + static_cast<std::ptrdiff_t>(base + run.offset));
    };
    for (std::size_t i = 0; i < stored.macros.size(); ++i) {
        const Macro& m = stored.macros[i];
        const MacroPadding& p = stored.padding[i];
        if (!RunsFit(p.record, MacroPaddingRanges(m))) throw std::invalid_argument("padding covers a field");
        put(at, p.record);
        std::size_t itemAt = at + kMacroRecordSize;
        auto next = p.items.begin();
        for (std::size_t k = 0; k < m.items.size(); ++k) {
            if (next != p.items.end() && next->first == k) {
                if (!RunsFit(next->second, ItemPaddingRanges(m.items[k])))
                    throw std::invalid_argument("padding covers a field");
                put(itemAt, next->second);
                ++next;
            }
            itemAt += ItemStoredSize(m.items[k]);
        }
        at = itemAt;
    }
    return bytes;
}

} // namespace quillet
