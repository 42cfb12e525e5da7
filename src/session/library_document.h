// The macro library as a document: the file it came from (the setting macroFileName), whether it changed since it
// was loaded or saved, the protection of a file that was damaged when it was read, the save question before another
// file is opened or the program ends, and the edits of the list. Edits are refused while run mode is on, so the
// library never changes under running macros; that rule lives here and nowhere else.
//
// The document asks a person through DocumentQuestions; it never shows anything itself.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "model/library_file.h"
#include "model/macro.h"
#include "model/macro_merge.h"
#include "model/settings.h"

namespace quillet {

// Longest library name kept in macroFileName (bytes of CP949 text).
inline constexpr std::size_t kLibraryNameMax = 259;

// The decisions the document needs from a person. Texts are the caller's; names are CP949.
class DocumentQuestions {
public:
    virtual ~DocumentQuestions() = default;
    // The library changed: save it before going on? true: save.
    virtual bool AskSaveChanges() = 0;
    // The file was damaged (or unreadable) when it was loaded: write the library over it? Default answer no.
    virtual bool AskOverwriteDamaged(const std::string& cp949Name) = 0;
    // Saving before going on failed: go on and lose the changes? Default answer no.
    virtual bool AskContinueWithoutSaving(const std::string& cp949Name, const std::string& problem) = 0;
};

class LibraryDocument {
public:
    LibraryDocument(MacroLibrary& library, CAppIni& settings, const Engine& engine);
    LibraryDocument(const LibraryDocument&) = delete;
    LibraryDocument& operator=(const LibraryDocument&) = delete;

    struct LoadReport {
        enum Kind {
            Loaded,     // the whole file was read
            New,        // no such file: an empty library that a later save creates
            Damaged,    // the macros before the damage were read; the file is protected
            Unopenable, // the file exists but cannot be read; the library is empty and the file protected
        };
        Kind kind = Loaded;
        std::string problem;        // Damaged, Unopenable: what is wrong, in English, one line
        std::size_t macrosRead = 0; // Damaged: the macros before the damage
    };

    // Empties the library and loads the file; the document is unmodified afterwards. Does not change macroFileName.
    LoadReport Load(const std::string& cp949Name);

    enum class SaveOutcome {
        Saved,    // written; the document is unmodified
        Declined, // the file is protected and the person said no; nothing written
        Failed,   // not written (problem says why); the document keeps its modified flag
    };
    // Writes the library to macroFileName (atomically: a temporary file renamed over the old one). A file protected
    // after a damaged load is written only when the person agrees; after that it is no longer protected.
    SaveOutcome Save(DocumentQuestions& ask, std::string& problem);
    // The question before opening another file and before the end: nothing when unmodified; otherwise asks, saves
    // on yes, and when saving fails asks whether to go on without. True when the command should go on.
    bool AskToSave(DocumentQuestions& ask);

    bool modified() const { return modified_; }
    void SetModified() { modified_ = true; }
    // The name of a file that was damaged or unreadable when it was loaded, empty when none.
    const std::string& protectedFile() const { return protectedFile_; }

    // --- Edits: each refused (false, nothing changed) while run mode is on or when the index is out of range; on
    // success the document is modified. ---
    bool Editable() const { return !engine_.runMode; }
    // Appends a copy of macro index named "Macro Copy %d".
    bool Copy(int index);
    bool Delete(int index);
    bool MoveUp(int index);
    bool MoveDown(int index);
    bool Append(Macro macro);
    bool Replace(int index, Macro macro);
    // Adds imported macros under the clash rules of PlanMerge/ApplyMerge (a refused plan adds nothing). Returns the
    // library indices of the imported macros, empty when refused or when there were none.
    std::vector<std::size_t> Import(MacroLibrary imported, ClashPolicy policy);

    MacroLibrary& library() { return library_; }
    const MacroLibrary& library() const { return library_; }

private:
    bool InRange(int index) const { return index >= 0 && static_cast<std::size_t>(index) < library_.size(); }

    MacroLibrary& library_;
    CAppIni& settings_;
    const Engine& engine_;
    bool modified_ = false;
    std::string protectedFile_;
};

} // namespace quillet
