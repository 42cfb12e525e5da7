#include "session/library_document.h"

#include <filesystem>
#include <system_error>

#include "model/cp949.h"
#include "model/library_file.h"

namespace quillet {

LibraryDocument::LibraryDocument(MacroLibrary& library, CAppIni& settings, const Engine& engine)
    : library_(library), settings_(settings), engine_(engine) {}

LibraryDocument::LoadReport LibraryDocument::Load(const std::string& cp949Name) {
    library_.clear();
    protectedFile_.clear();
    modified_ = false;
    const std::string path = LibraryFileSystemName(cp949Name);
    const LoadResult result = LoadMacroLibrary(path, library_);
    LoadReport report;
    if (result.status == LoadStatus::Ok) return report;
    std::error_code ec;
    // A missing file is how a new library begins. Anything else the person had stays untouched.
    if (result.status == LoadStatus::Unopenable && !std::filesystem::exists(path, ec) && !ec) {
        report.kind = LoadReport::New;
        return report;
    }
    protectedFile_ = cp949Name;
    report.kind = result.status == LoadStatus::Damaged ? LoadReport::Damaged : LoadReport::Unopenable;
    report.problem = result.problem;
    report.macrosRead = result.macrosRead;
    if (report.kind == LoadReport::Unopenable) library_.clear();
    return report;
}

LibraryDocument::SaveOutcome LibraryDocument::Save(DocumentQuestions& ask, std::string& problem) {
    const std::string name = settings_.macroFileName;
    if (!protectedFile_.empty() && name == protectedFile_ && !ask.AskOverwriteDamaged(name))
        return SaveOutcome::Declined;
    const SaveResult result = SaveMacroLibrary(LibraryFileSystemName(name), library_);
    if (!result.ok) {
        problem = result.problem;
        return SaveOutcome::Failed;
    }
    modified_ = false;
    if (name == protectedFile_) protectedFile_.clear();
    return SaveOutcome::Saved;
}

bool LibraryDocument::AskToSave(DocumentQuestions& ask) {
    if (!modified_ || !ask.AskSaveChanges()) return true;
    std::string problem;
    switch (Save(ask, problem)) {
    case SaveOutcome::Saved:
        return true;
    case SaveOutcome::Declined:
        return false; // the person keeps the changes and stays
    case SaveOutcome::Failed:
        break;
    }
    // The changes are still only in memory: going on loses them, so the person decides.
    return ask.AskContinueWithoutSaving(settings_.macroFileName, problem);
}

bool LibraryDocument::Copy(int index) {
    if (!Editable() || !InRange(index)) return false;
    CopyMacro(library_, index);
    modified_ = true;
    return true;
}

bool LibraryDocument::Delete(int index) {
    if (!Editable() || !InRange(index)) return false;
    DeleteMacro(library_, index);
    modified_ = true;
    return true;
}

bool LibraryDocument::MoveUp(int index) {
    if (!Editable() || !InRange(index) || !MoveMacroUp(library_, index)) return false;
    modified_ = true;
    return true;
}

bool LibraryDocument::MoveDown(int index) {
    if (!Editable() || !InRange(index) || !MoveMacroDown(library_, index)) return false;
    modified_ = true;
    return true;
}

bool LibraryDocument::Append(Macro macro) {
    if (!Editable()) return false;
    AppendMacro(library_, std::move(macro));
    modified_ = true;
    return true;
}

std::vector<std::size_t> LibraryDocument::Import(MacroLibrary imported, ClashPolicy policy) {
    if (!Editable() || imported.empty()) return {};
    const MergePlan plan = PlanMerge(library_, imported, policy);
    if (plan.refused()) return {};
    std::vector<std::size_t> placed = ApplyMerge(library_, std::move(imported), plan);
    // Replaced entries start from a reset run state, as after Replace.
    for (std::size_t i : placed) ResetRunState(library_[i]);
    modified_ = true;
    return placed;
}

bool LibraryDocument::Replace(int index, Macro macro) {
    if (!Editable() || !InRange(index)) return false;
    ReplaceMacro(library_, index, std::move(macro));
    modified_ = true;
    return true;
}

} // namespace quillet
