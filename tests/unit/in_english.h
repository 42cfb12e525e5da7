// The program's texts in English for the life of a scope; Korean again when it ends, also when an assertion ends the
// test early (the language is process-wide, and the next test expects Korean).
#pragma once

#include "model/texts.h"

namespace quillet {

class InEnglish {
public:
    InEnglish() { SetLanguage(Language::English); }
    ~InEnglish() { SetLanguage(Language::Korean); }
    InEnglish(const InEnglish&) = delete;
    InEnglish& operator=(const InEnglish&) = delete;
};

} // namespace quillet
