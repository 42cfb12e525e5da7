#include "cli/export.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <ostream>
#include <sstream>

#include "model/cp949.h"
#include "model/library_file.h"
#include "model/macro_merge.h"
#include "model/settings.h"
#include "model/text_format.h"
#include "session/library_document.h"

namespace quillet::cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitRefused = 1;
constexpr int kExitFailure = 2;

const char* const kExportUsage = "usage: quillet-cli export LIBRARY [NAME...] [-o FILE]\n";
const char* const kImportUsage = "usage: quillet-cli import FILE [--into LIBRARY] [--replace|--rename]\n";

std::string Quoted(const std::string& cp949) {
    return "'" + Cp949ToUtf8(cp949) + "'";
}

// The whole file, or nothing with the reason in problem. "-" is standard input.
std::optional<std::string> ReadAll(const std::string& name, std::string& problem) {
    if (name == "-") {
        std::ostringstream all;
        all << std::cin.rdbuf();
        return all.str();
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(name, ec);
    if (!ec && size > kMaxLibraryFileSize) {
        problem = "larger than " + std::to_string(kMaxLibraryFileSize >> 20) + " MiB";
        return std::nullopt;
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        problem = "cannot be opened";
        return std::nullopt;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        problem = "cannot be read";
        return std::nullopt;
    }
    return bytes;
}

// Reads a library with its padding; prints one line and returns false when it cannot be read or is damaged.
bool ReadLibrary(const std::string& name, StoredMacros& stored, std::ostream& err) {
    std::string problem;
    const std::optional<std::string> bytes = ReadAll(name, problem);
    if (!bytes) {
        err << "quillet-cli: " << name << ": " << problem << "\n";
        return false;
    }
    const LoadResult r = ParseStoredMacros(*bytes, stored);
    if (!r.ok()) {
        err << "quillet-cli: " << name << ": " << r.problem << "\n";
        return false;
    }
    return true;
}

} // namespace

int ExportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string library, output;
    std::vector<std::string> names;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "-o" || args[i] == "--output") {
            if (i + 1 >= args.size() || !output.empty()) {
                err << kExportUsage;
                return kExitFailure;
            }
            output = args[++i];
        } else if (library.empty()) {
            library = args[i];
        } else {
            names.push_back(args[i]);
        }
    }
    if (library.empty()) {
        err << kExportUsage;
        return kExitFailure;
    }
    StoredMacros stored;
    if (!ReadLibrary(library, stored, err)) return kExitFailure;

    std::vector<std::size_t> which;
    for (const std::string& utf8 : names) {
        const std::string name = Utf8ToCp949(utf8);
        bool found = false;
        for (std::size_t i = 0; i < stored.macros.size(); ++i) {
            if (stored.macros[i].name != name) continue;
            which.push_back(i);
            found = true;
        }
        if (!found) {
            err << "quillet-cli: " << library << ": no macro is named '" << utf8 << "'\n";
            return kExitFailure;
        }
    }
    const std::string text = MacrosToText(stored.macros, stored.padding, which);
    if (output.empty() || output == "-") {
        out << text << std::flush;
        return out ? kExitOk : kExitFailure;
    }
    const SaveResult r = SaveFileBytes(output, text);
    if (!r.ok) {
        err << "quillet-cli: " << output << ": " << r.problem << "\n";
        return kExitFailure;
    }
    return kExitOk;
}

int ImportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string file, into;
    bool intoGiven = false;
    ClashPolicy policy = ClashPolicy::Refuse;
    bool policyGiven = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--into" && i + 1 < args.size() && !intoGiven) {
            into = args[++i];
            intoGiven = true;
        } else if ((a == "--replace" || a == "--rename") && !policyGiven) {
            policy = a == "--replace" ? ClashPolicy::Replace : ClashPolicy::Rename;
            policyGiven = true;
        } else if (file.empty() && !a.empty() && (a[0] != '-' || a == "-")) {
            file = a;
        } else {
            err << kImportUsage;
            return kExitFailure;
        }
    }
    if (file.empty() || (intoGiven && into.empty())) {
        err << kImportUsage;
        return kExitFailure;
    }
    if (!intoGiven) {
        // The library the program would open.
        const CAppIni settings(DefaultIniPath(), false);
        into = LibraryFileSystemName(settings.macroFileName);
    }

    std::string problem;
    const std::optional<std::string> text = ReadAll(file, problem);
    if (!text) {
        err << "quillet-cli: " << file << ": " << problem << "\n";
        return kExitFailure;
    }
    StoredMacros imported;
    TextError error;
    if (!TextToMacros(*text, imported, error)) {
        err << "quillet-cli: " << file << ": " << error.Describe() << "\n";
        return kExitFailure;
    }

    StoredMacros target;
    std::error_code ec;
    const bool exists =
        std::filesystem::exists(std::filesystem::path(into), ec) || std::filesystem::is_symlink(into, ec);
    if (exists && !ReadLibrary(into, target, err)) return kExitFailure;

    const MergePlan plan = PlanMerge(target.macros, imported.macros, policy);
    if (plan.refused()) {
        for (std::size_t i : plan.clashes)
            err << "quillet-cli: " << into << " already has a macro named " << Quoted(imported.macros[i].name) << "\n";
        err << "quillet-cli: nothing imported; --replace puts the imported macros in their place, --rename adds them "
               "under new names\n";
        return kExitRefused;
    }

    // The padding of both sides goes where its macro goes.
    const bool padded = !target.padding.empty() || !imported.padding.empty();
    if (padded) {
        target.padding.resize(target.macros.size());
        imported.padding.resize(imported.macros.size());
    }
    std::vector<std::string> originalNames;
    for (const Macro& m : imported.macros) originalNames.push_back(m.name);
    const std::vector<std::size_t> placed = ApplyMerge(target.macros, std::move(imported.macros), plan);
    if (padded) {
        target.padding.resize(target.macros.size());
        for (std::size_t i = 0; i < placed.size(); ++i) target.padding[placed[i]] = std::move(imported.padding[i]);
    }

    const SaveResult r = SaveFileBytes(into, SerializeStoredMacros(target));
    if (!r.ok) {
        err << "quillet-cli: " << into << ": " << r.problem << "\n";
        return kExitFailure;
    }
    for (std::size_t i = 0; i < plan.entries.size(); ++i) {
        const MergePlan::Entry& e = plan.entries[i];
        if (e.replaces >= 0)
            out << "replaced " << Quoted(e.name) << "\n";
        else if (e.name != originalNames[i])
            out << "added " << Quoted(e.name) << " (renamed from " << Quoted(originalNames[i]) << ")\n";
        else
            out << "added " << Quoted(e.name) << "\n";
    }
    return kExitOk;
}

} // namespace quillet::cli
