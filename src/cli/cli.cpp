#include "cli/cli.h"

#include "cli/remote.h"
#ifdef QUILLET_TEXT_FORMAT
#include "cli/export.h"
#endif

#include <map>
#include <ostream>
#include <string_view>

#include "model/cp949.h"
#include "model/item_text.h"
#include "model/library_file.h"
#include "model/macro.h"
#include "model/settings.h"
#include "model/texts.h"

namespace quillet::cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitProblems = 1;
constexpr int kExitFailure = 2;

const char* const kUsage =
    "usage: quillet-cli COMMAND ...\n"
    "  dump LIBRARY             print every macro as text\n"
    "  resave IN OUT            load IN and save it as OUT\n"
    "  check LIBRARY            list problems of the library (exit 1 when there are some)\n"
    "  settings [--write]       print the settings of Quillet.ini (and write them back)\n"
    "  play LIBRARY NAME [--dry-run] [options]\n"
    "                           run one macro and the macros it starts until all have ended (--dry-run:\n"
    "                           print what they would send; see play --help)\n"
    "  run [LIBRARY]            run mode without the window, with the settings of Quillet.ini; prints the\n"
    "                           event log with times; Ctrl+C, SIGTERM or SIGHUP stops every macro and ends\n"
#ifdef QUILLET_TEXT_FORMAT
    "  export LIBRARY [NAME...] [-o FILE]\n"
    "                           write the macros (all, or those named) as JSON text (docs/text-format.md)\n"
    "  import FILE [--into LIBRARY] [--replace|--rename]\n"
    "                           add the macros of a JSON text to LIBRARY (default: macroFileName of\n"
    "                           Quillet.ini); a name the library has is refused unless --replace or --rename\n"
#endif
#ifdef QUILLET_MATCH
    "  match TEMPLATE [--in PICTURE | --area X1,Y1,X2,Y2] [--threshold N] [--porcelain]\n"
    "                           where the picture TEMPLATE is found now on the screen (or in PICTURE) and how\n"
    "                           well, searched as the image condition does (exit 0 found, 1 not; match --help)\n"
#endif
    "  start NAME | stop NAME | stop-all | status | mode run|edit   [--folder DIR]\n"
    "                           ask the Quillet running in this folder (or DIR), the desktop program or run:\n"
    "                           start or stop a macro as its hotkeys would (start only in run mode), stop\n"
    "                           every macro, show run mode and the running macros, switch the mode; exit 0\n"
    "                           done, 1 refused (the reason is printed) or no answer, 2 none runs there\n"
    "LIBRARY names are taken as given; a LIBRARY left out is macroFileName of Quillet.ini.\n";

// Settings of Quillet.ini in the current directory (loaded on construction); never written unless asked.
struct Settings {
    CAppIni ini{DefaultIniPath(), false};
};

// For the life of a command, the program's texts it prints (the item lines of dump, play and run) are in the
// language of Quillet.ini; the language before it is put back afterwards, for callers that run several commands.
class LanguageOfSettings {
public:
    LanguageOfSettings() : before_(CurrentLanguage()) {
        SetLanguage(LanguageFromSetting(CAppIni(DefaultIniPath(), false).language));
    }
    ~LanguageOfSettings() { SetLanguage(before_); }
    LanguageOfSettings(const LanguageOfSettings&) = delete;
    LanguageOfSettings& operator=(const LanguageOfSettings&) = delete;

private:
    Language before_;
};

// Loads a library; on failure prints one line naming the file and returns false.
bool LoadOrReport(const std::string& file, MacroLibrary& library, std::ostream& err) {
    const LoadResult r = LoadMacroLibrary(file, library);
    if (r.ok()) return true;
    err << "quillet-cli: " << file << ": " << (r.problem.empty() ? "cannot be read" : r.problem) << "\n";
    return false;
}

std::string Quoted(const std::string& cp949) {
    return "'" + Cp949ToUtf8(cp949) + "'";
}

int Dump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 2) {
        err << kUsage;
        return kExitFailure;
    }
    Settings settings;
    MacroLibrary library;
    if (!LoadOrReport(args[1], library, err)) return kExitFailure;
    for (const Macro& m : library) out << Cp949ToUtf8(MacroText(m, settings.ini.macroOptions));
    return kExitOk;
}

int Resave(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    (void)out;
    if (args.size() != 3) {
        err << kUsage;
        return kExitFailure;
    }
    MacroLibrary library;
    if (!LoadOrReport(args[1], library, err)) return kExitFailure;
    const SaveResult r = SaveMacroLibrary(args[2], library);
    if (!r.ok) {
        err << "quillet-cli: " << args[2] << ": " << r.problem << "\n";
        return kExitFailure;
    }
    return kExitOk;
}

// One line per problem a user would want to fix before running the library.
std::vector<std::string> FindProblems(const MacroLibrary& library) {
    std::vector<std::string> problems;
    std::map<std::string, int> firstIndex;
    for (std::size_t i = 0; i < library.size(); ++i) {
        const Macro& m = library[i];
        const std::string where = "macro " + std::to_string(i + 1) + " " + Quoted(m.name);
        if (m.name.empty()) problems.push_back(where + ": has no name");
        const auto [it, inserted] = firstIndex.emplace(m.name, static_cast<int>(i));
        if (!inserted) problems.push_back(where + ": has the same name as macro " + std::to_string(it->second + 1));
        if (m.items.empty() || m.items[0].type != ItemStart)
            problems.push_back(where + ": does not begin with the start item");
        if (!IsWellFormed(m.items))
            problems.push_back(where + ": loops or exclusive sections do not open and close in order");
        for (std::size_t k = 0; k < m.items.size(); ++k) {
            const MacroItem& item = m.items[k];
            if (item.type < ItemStart || item.type > ItemLoop)
                problems.push_back(where + ", item " + std::to_string(k) + ": unknown item type " +
                                   std::to_string(item.type));
            if (item.type != ItemCall) continue;
            const std::string itemWhere = where + ", item " + std::to_string(k);
            if (item.calledName() == m.name)
                problems.push_back(itemWhere + ": calls its own macro");
            else if (FindMacroByName(library, item.calledName()) < 0)
                problems.push_back(itemWhere + ": calls " + Quoted(item.calledName()) + ", which does not exist");
        }
    }
    return problems;
}

int Check(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 2) {
        err << kUsage;
        return kExitFailure;
    }
    MacroLibrary library;
    if (!LoadOrReport(args[1], library, err)) return kExitFailure;
    const std::vector<std::string> problems = FindProblems(library);
    for (const std::string& p : problems) out << p << "\n";
    return problems.empty() ? kExitOk : kExitProblems;
}

int SettingsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const bool write = args.size() == 2 && args[1] == "--write";
    if (args.size() > 2 || (args.size() == 2 && !write)) {
        err << kUsage;
        return kExitFailure;
    }
    Settings settings;
    for (const SettingEntry& e : SettingEntries(settings.ini))
        out << e.key << "=" << (e.text ? Cp949ToUtf8(*e.text) : std::to_string(*e.number)) << "\n";
    if (!settings.ini.language.empty())
        out << CAppIni::kLanguageKey << "=" << Cp949ToUtf8(settings.ini.language) << "\n";
    if (write && !settings.ini.Transfer(CAppIni::Save)) {
        err << "quillet-cli: " << settings.ini.path() << ": cannot be written\n";
        return kExitFailure;
    }
    return kExitOk;
}

} // namespace

bool IsDisplayCommand(const std::string& command) {
    return command == "play" || command == "run" || command == "match";
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << kUsage;
        return kExitFailure;
    }
    const LanguageOfSettings language;
    const std::string& command = args[0];
    if (command == "dump") return Dump(args, out, err);
    if (command == "resave") return Resave(args, out, err);
    if (command == "check") return Check(args, out, err);
    if (command == "settings") return SettingsCommand(args, out, err);
    if (IsDisplayCommand(command)) return RunDisplayCommand(args, out, err);
    if (IsRemoteCommand(command)) return RemoteCommand(args, out, err);
#ifdef QUILLET_TEXT_FORMAT
    if (command == "export") return ExportCommand(args, out, err);
    if (command == "import") return ImportCommand(args, out, err);
#else
    if (command == "export" || command == "import") {
        err << "quillet-cli: this build has no JSON library (nlohmann-json3-dev): export and import are missing\n";
        return kExitFailure;
    }
#endif
    if (command == "help" || command == "--help" || command == "-h") {
        out << kUsage;
        return kExitOk;
    }
    err << "quillet-cli: unknown command '" << command << "'\n" << kUsage;
    return kExitFailure;
}

} // namespace quillet::cli
