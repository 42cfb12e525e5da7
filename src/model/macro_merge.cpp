#include "model/macro_merge.h"

#include <map>
#include <set>

namespace quillet {

namespace {

// The longest prefix of a CP949 name of at most max bytes that does not end inside a two-byte character.
std::string CutCp949(const std::string& name, std::size_t max) {
    std::size_t end = 0;
    while (end < name.size()) {
        const bool lead = static_cast<unsigned char>(name[end]) >= 0x81 && end + 1 < name.size();
        const std::size_t width = lead ? 2 : 1;
        if (end + width > max) break;
        end += width;
    }
    return name.substr(0, end);
}

} // namespace

MergePlan PlanMerge(const MacroLibrary& library, const MacroLibrary& imported, ClashPolicy policy) {
    MergePlan plan;
    std::map<std::string, int> existing; // first library index of each name
    for (std::size_t i = 0; i < library.size(); ++i) existing.emplace(library[i].name, static_cast<int>(i));
    for (std::size_t i = 0; i < imported.size(); ++i)
        if (existing.count(imported[i].name) != 0) plan.clashes.push_back(i);
    if (policy == ClashPolicy::Refuse && !plan.clashes.empty()) return plan;

    // Every name in use once the import is done, so that a new name is free of both sides.
    std::set<std::string> taken;
    for (const Macro& m : library) taken.insert(m.name);
    for (const Macro& m : imported) taken.insert(m.name);
    std::set<int> replaced;
    plan.entries.reserve(imported.size());
    for (const Macro& m : imported) {
        MergePlan::Entry entry;
        entry.name = m.name;
        const auto it = existing.find(m.name);
        if (it != existing.end()) {
            if (policy == ClashPolicy::Replace) {
                if (replaced.insert(it->second).second) entry.replaces = it->second;
            } else {
                for (int n = 2;; ++n) {
                    const std::string suffix = " (" + std::to_string(n) + ")";
                    std::string candidate = CutCp949(m.name, kNameMax - suffix.size()) + suffix;
                    if (taken.insert(candidate).second) {
                        entry.name = std::move(candidate);
                        break;
                    }
                }
            }
        }
        plan.entries.push_back(std::move(entry));
    }
    return plan;
}

std::vector<std::size_t> ApplyMerge(MacroLibrary& library, MacroLibrary&& imported, const MergePlan& plan) {
    std::map<std::string, std::string> renamed;
    for (std::size_t i = 0; i < imported.size() && i < plan.entries.size(); ++i)
        if (plan.entries[i].name != imported[i].name) renamed.emplace(imported[i].name, plan.entries[i].name);

    std::vector<std::size_t> placed;
    placed.reserve(imported.size());
    for (std::size_t i = 0; i < imported.size() && i < plan.entries.size(); ++i) {
        Macro& m = imported[i];
        const MergePlan::Entry& entry = plan.entries[i];
        m.name = entry.name;
        if (!renamed.empty()) {
            for (MacroItem& item : m.items) {
                if (item.type != ItemCall) continue;
                const auto it = renamed.find(item.calledName());
                if (it != renamed.end()) item.setCalledName(it->second);
            }
        }
        if (entry.replaces >= 0 && static_cast<std::size_t>(entry.replaces) < library.size()) {
            library[static_cast<std::size_t>(entry.replaces)] = std::move(m);
            placed.push_back(static_cast<std::size_t>(entry.replaces));
        } else {
            library.push_back(std::move(m));
            placed.push_back(library.size() - 1);
        }
    }
    return placed;
}

} // namespace quillet
