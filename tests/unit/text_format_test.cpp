// The text form of macros: lossless round trips (the bundled libraries, their mutations, padding and bytes that do
// not decode), the readable form itself, hand-written texts, refusals with their positions, and the merge rules of
// an import.
#include "model/text_format.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "model/cp949.h"
#include "model/library_file.h"
#include "model/macro_merge.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;

const fs::path kSourceRoot = fs::path(__FILE__).parent_path().parent_path().parent_path();

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void PutInt32(std::string& b, std::size_t at, int32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
}

// Library bytes through the text and back; the text too, when asked.
std::string RoundTrip(const std::string& bytes, std::string* textOut = nullptr) {
    StoredMacros stored;
    EXPECT_TRUE(ParseStoredMacros(bytes, stored).ok());
    const std::string text = MacrosToText(stored.macros, stored.padding);
    StoredMacros back;
    TextError error;
    EXPECT_TRUE(TextToMacros(text, back, error)) << error.Describe() << "\n" << text;
    if (textOut) *textOut = text;
    return SerializeStoredMacros(back);
}

std::vector<fs::path> BundledLibraries() {
    std::vector<fs::path> files = {kSourceRoot / "examples" / "demo.m"};
    for (const auto& e : fs::directory_iterator(kSourceRoot / "fuzz" / "corpus" / "library")) files.push_back(e.path());
    return files;
}

TEST(TextFormatRoundTrip, BundledLibrariesAndTheirUndamagedMutationsComeBackByteForByte) {
    std::vector<std::string> seeds;
    for (const fs::path& file : BundledLibraries()) {
        const std::string bytes = ReadFile(file);
        ASSERT_FALSE(bytes.empty()) << file;
        std::string text;
        EXPECT_EQ(RoundTrip(bytes, &text), bytes) << file;
        // The text reads back into the same text.
        StoredMacros again;
        TextError error;
        ASSERT_TRUE(TextToMacros(text, again, error)) << error.Describe();
        EXPECT_EQ(MacrosToText(again.macros, again.padding), text) << file;
        seeds.push_back(bytes);
    }
    // Changed bytes anywhere: every mutant that still loads without damage (reserved bytes, name tails, odd flags,
    // unknown item types, bytes CP949 does not decode) comes back exactly.
    std::mt19937 random(12345);
    int undamaged = 0;
    for (int n = 0; n < 4000; ++n) {
        std::string bytes = seeds[random() % seeds.size()];
        if (bytes.size() <= 4) continue;
        const int changes = 1 + static_cast<int>(random() % 4);
        for (int c = 0; c < changes; ++c) bytes[4 + random() % (bytes.size() - 4)] = static_cast<char>(random());
        MacroLibrary probe;
        if (!ParseMacroLibrary(bytes, probe).ok()) continue;
        ++undamaged;
        ASSERT_EQ(RoundTrip(bytes), bytes) << "mutant " << n;
    }
    EXPECT_GT(undamaged, 1000);
}

// The seeds of the text fuzz target are the texts of the library seeds (QUILLET_WRITE_SAMPLES=1 rewrites them), plus
// hand-written texts that are left as they are.
TEST(TextFormatRoundTrip, FuzzSeedsAreTheTextsOfTheLibrarySeeds) {
    for (const auto& e : fs::directory_iterator(kSourceRoot / "fuzz" / "corpus" / "library")) {
        StoredMacros stored;
        ASSERT_TRUE(ParseStoredMacros(ReadFile(e.path()), stored).ok()) << e.path();
        const std::string text = MacrosToText(stored.macros, stored.padding);
        const fs::path seed = kSourceRoot / "fuzz" / "corpus" / "text" / e.path().filename().replace_extension(".json");
        if (std::getenv("QUILLET_WRITE_SAMPLES") != nullptr) {
            fs::create_directories(seed.parent_path());
            std::ofstream(seed, std::ios::binary) << text;
        }
        EXPECT_EQ(ReadFile(seed), text) << seed << " differs from the text of " << e.path();
    }
}

TEST(TextFormatRoundTrip, PaddingAndUndecodableBytesAreKeptBesideTheReadableFields) {
    Macro a = MakeNewMacro(std::string(255, 'N'));
    a.imagePath = "pic.png";
    a.items.push_back(MakeStringItem(std::string("\x81\x20\xff ok", 6)));
    a.items.push_back(MakeCallItem(Utf8ToCp949("호출"), CallSequential));
    a.items.push_back(MakeKeyItem(0x41, ActionPress));
    Macro b = MakeNewMacro(std::string("\xc8\xff", 2)); // a lead byte with a trail CP949 does not have
    std::string bytes = SerializeMacroLibrary({a, b});
    bytes[4 + 255] = 'X';            // a's name fills its buffer: no NUL
    bytes[4 + 296 + 7 + 3] = '\x07'; // something after the NUL of a's image path
    const std::size_t items = 4 + kMacroRecordSize;
    const std::size_t string = items + kItemRecordSize;
    PutInt32(bytes, string + 4, 0x01020304); // reserved
    PutInt32(bytes, string + 20, -1);        // the rest of the text's buffer slot
    const std::size_t call = string + kItemRecordSize + 6;
    PutInt32(bytes, call + 8, 77); // the called name's buffer slot
    bytes[call + 24 + 7] = 'z';    // after the called name's NUL
    const std::size_t key = call + kItemRecordSize + kCalledNameSize;
    PutInt32(bytes, key + 20, 5); // reserved

    std::string text;
    EXPECT_EQ(RoundTrip(bytes, &text), bytes);
    EXPECT_NE(text.find("\"nameBytes\": \"c8ff\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"textBytes\": \"8120ff206f6b\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"padding\": {\"255\": \"58\", \"306\": \"07\"}"), std::string::npos) << text;
    EXPECT_NE(text.find("\"padding\": {\"4\": \"04030201\", \"20\": \"ffffffff\"}"), std::string::npos) << text;
    EXPECT_NE(text.find("\"macro\": \"호출\", \"mode\": \"sequential\", \"padding\": {\"8\": \"4d\", \"31\": \"7a\"}"),
              std::string::npos)
        << text;

    // The program's own save writes those bytes as zero, as before.
    StoredMacros stored;
    ASSERT_TRUE(ParseStoredMacros(bytes, stored).ok());
    EXPECT_EQ(SerializeMacroLibrary(stored.macros), SerializeStoredMacros({stored.macros, {}}));
}

TEST(TextFormatText, ShowsKeyNamesBitNamesClockTimesPointsAndUtf8) {
    Macro m = MakeNewMacro(Utf8ToCp949("인사"));
    m.flags |= FlagTimeWindow | (2 << StopTimeFormShift);
    m.stopTime = 65;
    m.items.push_back(MakeKeyItem(0x41, ActionPress | ActionRelease));
    m.items.push_back(MakeMouseItem(-5, 40, MouseMove | MouseAbsolute | MouseLeftDown | MouseLeftUp));
    m.items.push_back(MakeStringItem(Utf8ToCp949("안녕 \"hi\"\r\n"), TextSequence));
    m.items.push_back(MakeDelayItem(0x71 | KeyCtrl | KeyExactModifiers, DelayKey));
    m.items.push_back(MakeCallItem("B", CallStop));
    EXPECT_EQ(MacrosToText({m}), R"({
  "format": "quillet-macros",
  "version": 1,
  "macros": [
    {
      "name": "인사",
      "repeatCount": 1,
      "flags": ["startKey", "timeWindow", "stopKey"],
      "startKey": {"code": 113, "name": "F2 key"},
      "stopKey": {"code": 114, "name": "F3 key"},
      "startTime": {"form": 0, "seconds": 0},
      "stopTime": {"form": 2, "seconds": 65, "clock": "01:05"},
      "startColor": {"red": 0, "green": 0, "blue": 0},
      "stopColor": {"red": 0, "green": 0, "blue": 0},
      "colorTolerance": 10,
      "startColorPos": {"x": 0, "y": 0},
      "stopColorPos": {"x": 0, "y": 0},
      "imagePath": "",
      "imageThreshold": 95,
      "imageFlags": [],
      "imageRectStart": {"x": 0, "y": 0},
      "imageRectEnd": {"x": 0, "y": 0},
      "items": [
        {"type": "start"},
        {"type": "key", "key": {"code": 65, "name": "A key"}, "action": ["press", "release"]},
        {"type": "mouse", "x": -5, "y": 40, "flags": ["move", "leftDown", "leftUp", "absolute"]},
        {"type": "string", "text": "안녕 \"hi\"\r\n", "flags": ["sequence"]},
        {"type": "delay", "kind": "key", "key": {"code": 113, "name": "F2 key", "bits": ["ctrl", "exactModifiers"]}},
        {"type": "call", "macro": "B", "mode": "stop"}
      ]
    }
  ]
}
)");
    EXPECT_EQ(MacrosToText({}), "{\n  \"format\": \"quillet-macros\",\n  \"version\": 1,\n  \"macros\": []\n}\n");
}

TEST(TextFormatRead, HandWrittenTextsMayUseNamesClockTimesAndDefaults) {
    const std::string text = R"({"format": "quillet-macros", "version": 1, "macros": [
      {"name": "점심", "startKey": {"name": "F5 key", "bits": ["ctrl"]}, "flags": ["startKey", "timeWindow"],
       "startTime": {"clock": "12:00:00"}, "stopTime": {"form": 3, "seconds": 43260},
       "items": [{"type": "start"},
                 {"type": "key", "key": {"name": "A key"}, "action": ["press", "bit9"]},
                 {"type": "delay", "kind": "clock", "clock": "01:02"},
                 {"type": "loop", "kind": "enter", "step": 2, "start": 1, "stop": 9},
                 {"type": "loop", "kind": 5},
                 {"type": "string", "text": "줄\r\n"}]}]})";
    StoredMacros out;
    TextError error;
    ASSERT_TRUE(TextToMacros(text, out, error)) << error.Describe();
    ASSERT_EQ(out.macros.size(), 1u);
    EXPECT_TRUE(out.padding.empty());
    const Macro& m = out.macros[0];
    EXPECT_EQ(m.name, Utf8ToCp949("점심"));
    EXPECT_EQ(m.startKey, 0x74 | KeyCtrl);
    EXPECT_EQ(m.flags, FlagStartKey | FlagTimeWindow | (3 << StartTimeFormShift) | (3 << StopTimeFormShift));
    EXPECT_EQ(m.startTime, 12 * 3600);
    EXPECT_EQ(m.stopTime, 12 * 3600 + 60);
    EXPECT_EQ(m.colorTolerance, 10); // defaults of a default-constructed macro
    EXPECT_EQ(m.imageOptions, 95);
    ASSERT_EQ(m.items.size(), 6u);
    EXPECT_EQ(m.items[1].keyCode(), 0x41);
    EXPECT_EQ(m.items[1].keyAction(), ActionPress | 0x200);
    EXPECT_EQ(m.items[2].delayKind(), DelayClock | (2 << 1));
    EXPECT_EQ(m.items[2].delayValue(), 62000);
    EXPECT_EQ(m.items[3].loopStep(), 2);
    EXPECT_EQ(m.items[3].loopStop(), 9);
    EXPECT_EQ(m.items[4].loopKind(), 5);
    EXPECT_EQ(m.items[5].text(), Utf8ToCp949("줄\r\n"));
    EXPECT_EQ(m.items[5].textLength(), 4);
}

TEST(TextFormatRead, BrokenTextsAreRefusedWithTheirPositionAndWhatWasExpected) {
    const std::string head = "{\"format\": \"quillet-macros\", \"version\": 1, \"macros\": [\n";
    struct Case {
        std::string text;
        int line, column;
        std::string message;
    };
    const std::vector<Case> cases = {
        // A missing comma between two members: the parser stops at the end of the string it did not expect.
        {head + "{\"name\": \"a\"\n \"items\": []}]}", 3, 8, "syntax error while parsing object - unexpected string"},
        // A misspelt member: its name is pointed at; the Hangul before it counts one column per character.
        {head + "{\"name\": \"한글\", \"itmes\": []}]}", 2, 16, "unknown member \"itmes\" in a macro"},
        // A value out of range.
        {head + "{\"name\": \"a\", \"items\": [],\n  \"startColor\": {\"red\": 300}}]}", 3, 25,
         "expected an integer from 0 to 255, found the number 300"},
        // A key whose name and code disagree.
        {head + "{\"name\": \"a\", \"items\": [{\"type\": \"key\", \"key\": {\"code\": 65, \"name\": \"B key\"}}]}]}",
         2, 69, "the name \"B key\" is key code 66 but \"code\" says 65 (A key)"},
        // A macro without items: the macro itself is pointed at.
        {head + "  {\"name\": \"a\", \"items\": []},\n  {\"name\": \"b\"}]}", 3, 3, "missing member \"items\""},
    };
    for (const Case& c : cases) {
        StoredMacros out;
        out.macros.push_back(MakeNewMacro("left over"));
        TextError error;
        EXPECT_FALSE(TextToMacros(c.text, out, error)) << c.text;
        EXPECT_EQ(error.line, c.line) << c.text << "\n" << error.Describe();
        EXPECT_EQ(error.column, c.column) << c.text << "\n" << error.Describe();
        EXPECT_NE(error.message.find(c.message), std::string::npos) << error.message;
        EXPECT_TRUE(out.macros.empty());
    }
    // Other refusals, by what they say.
    const auto refusal = [](const std::string& text) {
        StoredMacros out;
        TextError error;
        EXPECT_FALSE(TextToMacros(text, out, error)) << text;
        return error.Describe();
    };
    EXPECT_EQ(refusal(R"({"format": "quillet-macros", "version": 2, "macros": []})"),
              "line 1, column 41: version 2 is newer than this program reads (1)");
    EXPECT_EQ(refusal(R"({"format": "other", "version": 1, "macros": []})"),
              "line 1, column 12: expected \"quillet-macros\", found \"other\"");
    EXPECT_NE(refusal(head + R"({"name": "😀", "items": []}]})").find("CP949"), std::string::npos);
    EXPECT_NE(
        refusal(head + R"({"name": "a", "items": [], "padding": {"260": "01"}}]})").find("offsets 2..255, 297..551"),
        std::string::npos);
    EXPECT_NE(refusal(head + R"({"name": "a", "items": [{"type": "delay", "kind": "time", "key": {"code": 1}}]}]})")
                  .find("\"key\" does not belong to this kind of delay"),
              std::string::npos);
    EXPECT_NE(refusal(head + R"({"name": "a", "items": [], "startTime": {"form": 2, "clock": "12:00:00"}}]})")
                  .find("does not have the 2 parts"),
              std::string::npos);
    EXPECT_EQ(refusal("\xff"),
              "line 1, column 1: syntax error while parsing value - invalid literal; last read: '\xEF\xBF\xBD'");
}

TEST(MacroMerge, ClashesAreRefusedReplacedInPlaceOrRenamedWithCallsFollowing) {
    const MacroLibrary library = {MakeNewMacro("A"), MakeNewMacro("B")};
    Macro newA = MakeNewMacro("A");
    newA.startKey = 0x75;
    Macro caller = MakeNewMacro("C");
    caller.items.push_back(MakeCallItem("A", CallSequential));
    const MacroLibrary imported = {newA, caller, MakeNewMacro("C")};

    const MergePlan refused = PlanMerge(library, imported, ClashPolicy::Refuse);
    EXPECT_TRUE(refused.refused());
    EXPECT_EQ(refused.clashes, std::vector<std::size_t>{0}) << "only names the library had before count";

    MacroLibrary replaced = library;
    const MergePlan replace = PlanMerge(replaced, imported, ClashPolicy::Replace);
    MacroLibrary in = imported;
    EXPECT_EQ(ApplyMerge(replaced, std::move(in), replace), (std::vector<std::size_t>{0, 2, 3}));
    ASSERT_EQ(replaced.size(), 4u);
    EXPECT_EQ(replaced[0].startKey, 0x75);
    EXPECT_EQ(replaced[2].items[1].calledName(), "A");
    EXPECT_EQ(replaced[3].name, "C") << "a duplicate within the import stays";

    MacroLibrary renamed = library;
    renamed.push_back(MakeNewMacro("A (2)"));
    const MergePlan rename = PlanMerge(renamed, imported, ClashPolicy::Rename);
    in = imported;
    ApplyMerge(renamed, std::move(in), rename);
    ASSERT_EQ(renamed.size(), 6u);
    EXPECT_EQ(renamed[0].startKey, 0x71) << "the library's A is left alone";
    EXPECT_EQ(renamed[3].name, "A (3)");
    EXPECT_EQ(renamed[4].items[1].calledName(), "A (3)") << "the imported caller calls the imported A";

    // A new name stays within 255 bytes and never ends inside a two-byte character.
    const std::string hangul = Utf8ToCp949("가");
    std::string longName;
    while (longName.size() + hangul.size() <= kNameMax) longName += hangul;
    const MergePlan cut = PlanMerge({MakeNewMacro(longName)}, {MakeNewMacro(longName)}, ClashPolicy::Rename);
    const std::string& made = cut.entries[0].name;
    EXPECT_LE(made.size(), kNameMax);
    EXPECT_EQ(made.substr(made.size() - 4), " (2)");
    EXPECT_EQ(Utf8ToCp949(Cp949ToUtf8(made)), made);
}

} // namespace
} // namespace quillet
