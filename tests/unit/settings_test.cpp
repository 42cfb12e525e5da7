#include "model/settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "model/ini_file.h"
#include "model/key_table.h"
#include "model/texts.h"
#include "ordinary_user.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;

#ifndef _WIN32
// The file tests exercise the built-in INI reader and writer; Windows uses the profile functions instead.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quillet-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        path_ = (dir_ / "Quillet.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void Write(const std::string& bytes) const { std::ofstream(path_, std::ios::binary) << bytes; }
    std::string Read() const {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path dir_;
    std::string path_;
};

const char* const kFirstSave = "[Property]\n"
                               "macroOptions=136\nrecOptions=183\neditOptions=0\nhangulKeyboard=0\n"
                               "windowSX=7\nwindowSY=100\ndebugSX=200\ndebugSY=200\nstatusSX=300\nstatusSY=300\n"
                               "macroFileName=\"macro.m\"\ntitle=\"Quillet V2.3\"\n"
                               "colorDelay=100\neventDelay=33\nkeyMacroRun=123\nkeyMacroRecord=122\n"
                               "keyMousePosCapture=121\nkeyMacroColorStart=120\nkeyMacroColorStop=119\n"
                               "recMouseDistance=10\nrecEventTimeInterval=100\nsequenceStart=1000\n"
                               "macroSel=4\nstartTabSel=0\n";

TEST_F(SettingsTest, StartsWithDefaultsAndFirstSaveWritesEveryKeyInOrder) {
    {
        CAppIni ini(path_);
        EXPECT_FALSE(fs::exists(path_)); // loading creates nothing
        std::ostringstream values;
        for (const SettingEntry& e : SettingEntries(ini))
            values << e.key << "=" << (e.text ? *e.text : "") << (e.number ? *e.number : -1) << " ";
        EXPECT_EQ(values.str(), "macroOptions=136 recOptions=183 editOptions=0 hangulKeyboard=0 windowSX=100 "
                                "windowSY=100 debugSX=200 debugSY=200 statusSX=300 statusSY=300 "
                                "macroFileName=macro.m-1 title=Quillet V2.3-1 colorDelay=100 eventDelay=33 "
                                "keyMacroRun=123 keyMacroRecord=122 keyMousePosCapture=121 keyMacroColorStart=120 "
                                "keyMacroColorStop=119 recMouseDistance=10 recEventTimeInterval=100 "
                                "sequenceStart=1000 macroSel=0 startTabSel=0 ");
        ini.windowSX = 7;
        ini.macroSel = 4;
    } // the destructor saves
    EXPECT_EQ(Read(), kFirstSave);

    // Saving unchanged settings leaves the file alone (no rewrite).
    struct stat before {};
    ASSERT_EQ(::stat(path_.c_str(), &before), 0);
    CAppIni again(path_, false);
    EXPECT_EQ(again.windowSX, 7);
    EXPECT_TRUE(again.Transfer(CAppIni::Save));
    struct stat after {};
    ASSERT_EQ(::stat(path_.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);

    {
        CAppIni noSave(path_, false);
        noSave.windowSX = 99;
    }
    EXPECT_EQ(Read(), kFirstSave);
}

TEST_F(SettingsTest, StringsSurviveSaveAndLoad) {
    {
        CAppIni ini(path_);
        ini.macroFileName = "  my macros.m  ";
        ini.title = "\"quoted\" \t";
        ini.title += "\xC7\xD1\xB1\xDB"; // CP949 bytes
    }
    CAppIni ini(path_, false);
    EXPECT_EQ(ini.macroFileName, "  my macros.m  ");
    EXPECT_EQ(ini.title, "\"quoted\" \t\xC7\xD1\xB1\xDB");

    // A line break cannot live on an INI line: the text before it is kept and the file stays well formed.
    ini.title = "one\r\n[Property]\ntwo";
    ASSERT_TRUE(ini.Transfer(CAppIni::Save));
    CAppIni reloaded(path_, false);
    EXPECT_EQ(reloaded.title, "one");
    EXPECT_EQ(reloaded.macroFileName, "  my macros.m  ");
}

TEST_F(SettingsTest, ForeignContentIsKeptAndNamesMatchWithoutCase) {
    Write("; settings\n[Other]\nmacroOptions=1\n\n[PROPERTY]\n  MacroOptions = 7 \nunknown=abc\nTITLE=\"x\"\n\n"
          "; tail\n[Tail]\nk=v");
    CAppIni ini(path_, false);
    EXPECT_EQ(ini.macroOptions, 7);
    EXPECT_EQ(ini.title, "x");
    EXPECT_EQ(ini.recOptions, 183); // missing key: default
    ini.eventDelay = 50;
    ASSERT_TRUE(ini.Transfer(CAppIni::Save));
    const std::string text = Read();
    EXPECT_TRUE(text.starts_with("; settings\n[Other]\nmacroOptions=1\n\n[PROPERTY]\nMacroOptions=7\nunknown=abc\n"
                                 "TITLE=\"x\"\nrecOptions=183\n"));
    EXPECT_TRUE(text.ends_with("startTabSel=0\n\n; tail\n[Tail]\nk=v"));
    EXPECT_NE(text.find("\neventDelay=50\n"), std::string::npos);
    EXPECT_EQ(text.find("title="), std::string::npos); // written in place of TITLE
}

TEST_F(SettingsTest, CrLfAndCp949BytesAreKept) {
    const std::string comment = "; \xB8\xC5\xC5\xA9\xB7\xCE \xBC\xB3\xC1\xA4\r\n"; // CP949 text
    Write(comment + "[Property]\r\ntitle=\"\xC7\xD1\xB1\xDB\"\r\nsequenceStart=5\r\n");
    CAppIni ini(path_, false);
    EXPECT_EQ(ini.title, "\xC7\xD1\xB1\xDB");
    EXPECT_EQ(ini.sequenceStart, 5);
    ASSERT_TRUE(ini.Transfer(CAppIni::Save));
    const std::string text = Read();
    EXPECT_TRUE(text.starts_with(comment + "[Property]\r\ntitle=\"\xC7\xD1\xB1\xDB\"\r\nsequenceStart=5\r\n"));
    std::size_t lineFeeds = 0, crLfs = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        lineFeeds += text[i] == '\n';
        crLfs += text[i] == '\n' && i > 0 && text[i - 1] == '\r';
    }
    EXPECT_EQ(lineFeeds, crLfs);
    EXPECT_EQ(lineFeeds, 26u);
}

TEST_F(SettingsTest, NumbersAreReadLikeTheProfileFunctions) {
    Write("[Property]\na=12abc\nb=abc\nc=\nd=-5\ne=+7\nf=\"42\"\ng=99999999999\nh=-99999999999\ni=0x10\nj= 3 \n");
    CIni ini("Property", path_);
    EXPECT_EQ(ini.GetInt("a", 9), 12);
    EXPECT_EQ(ini.GetInt("b", 9), 0); // present but not a number
    EXPECT_EQ(ini.GetInt("c", 9), 9); // empty: default
    EXPECT_EQ(ini.GetInt("d", 9), -5);
    EXPECT_EQ(ini.GetInt("e", 9), 7);
    EXPECT_EQ(ini.GetInt("f", 9), 42);
    EXPECT_EQ(ini.GetInt("g", 9), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(ini.GetInt("h", 9), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(ini.GetInt("i", 9), 0);
    EXPECT_EQ(ini.GetInt("j", 9), 3);
    EXPECT_EQ(ini.GetInt("missing", 9), 9);
    ini.WriteInt("d", std::numeric_limits<int32_t>::min());
    EXPECT_EQ(ini.GetInt("d", 9), std::numeric_limits<int32_t>::min());
}

// The profile functions remove one pair of enclosing quotes, double or single, from strings and numbers alike.
TEST_F(SettingsTest, QuotesAreRemovedLikeTheProfileFunctions) {
    Write("[Property]\n"
          "a='My title'\nb=\"x\"\nc='\nd=''\ne='abc\"\nf=\"'abc'\"\ng='\"abc\"'\nh=' a '\ni='a'b'\nj=  'x'  \n"
          "k=abc'\nl='9'\nm=' -9'\nn=''\no=\"'9'\"\n");
    CIni ini("Property", path_);
    const std::vector<std::pair<const char*, const char*>> strings = {
        {"a", "My title"}, {"b", "x"},   {"c", "'"},   {"d", ""},  {"e", "'abc\""}, {"f", "'abc'"},
        {"g", "\"abc\""},  {"h", " a "}, {"i", "a'b"}, {"j", "x"}, {"k", "abc'"},
    };
    for (const auto& [key, value] : strings) EXPECT_EQ(ini.GetString(key, "default"), value) << key;
    EXPECT_EQ(ini.GetInt("l", 5), 9);
    EXPECT_EQ(ini.GetInt("m", 5), -9);
    EXPECT_EQ(ini.GetInt("n", 5), 5); // empty once unquoted: the default
    EXPECT_EQ(ini.GetInt("o", 5), 0); // only one pair is removed

    Write("[Property]\ntitle='My title'\nmacroOptions='9'\n");
    const CAppIni settings(path_, false);
    EXPECT_EQ(settings.title, "My title");
    EXPECT_EQ(settings.macroOptions, 9);
}

// A lone CR ends a line, as LF and CR LF do; keys added to such a file end their lines the way its first line does.
TEST_F(SettingsTest, LoneCarriageReturnsEndLines) {
    Write("; old Mac file\r[Property]\rtitle=\"x\"\rmacroOptions=9\r\r[Other]\rk=1");
    CAppIni ini(path_, false);
    EXPECT_EQ(ini.title, "x");
    EXPECT_EQ(ini.macroOptions, 9);
    ini.macroOptions = 10;
    ASSERT_TRUE(ini.Transfer(CAppIni::Save));
    const std::string text = Read();
    EXPECT_TRUE(text.starts_with("; old Mac file\r[Property]\rtitle=\"x\"\rmacroOptions=10\rrecOptions=183\r")) << text;
    EXPECT_TRUE(text.ends_with("\rstartTabSel=0\r\r[Other]\rk=1")) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos);
    const CAppIni reloaded(path_, false);
    EXPECT_EQ(reloaded.macroOptions, 10);
    EXPECT_EQ(CIni("Other", path_).GetInt("k", 5), 1);

    // Mixed line ends: each CR, LF or CR LF ends one line, so no value runs on into the next line.
    Write("[Property]\ntitle=x\rmacroOptions=9\r\nrecOptions=5\n\rhangulKeyboard=2");
    const CAppIni mixed(path_, false);
    EXPECT_EQ(mixed.title, "x");
    EXPECT_EQ(mixed.macroOptions, 9);
    EXPECT_EQ(mixed.recOptions, 5);
    EXPECT_EQ(mixed.hangulKeyboard, 2);
}

TEST_F(SettingsTest, DamagedFilesGiveDefaultsAndKeepTheirBytes) {
    std::string garbage("\x00\xFF\xFE[\x01=\x80\n\0\0\r\r\r", 14);
    const std::string longValue(300000, 'v');
    Write(garbage + "[Property\nmacroOptions=5\nno equals sign\n[Property]\ntitle=" + longValue + "\n");
    CAppIni ini(path_, false);
    EXPECT_EQ(ini.macroOptions, 136); // belongs to no section: the header lacks ']'
    EXPECT_EQ(ini.title, std::string(259, 'v'));
    ASSERT_TRUE(ini.Transfer(CAppIni::Save));
    const std::string text = Read();
    EXPECT_TRUE(text.starts_with(garbage + "[Property\nmacroOptions=5\nno equals sign\n[Property]\n"));
    CAppIni reloaded(path_, false);
    EXPECT_EQ(reloaded.macroOptions, 136);
    EXPECT_EQ(reloaded.title, std::string(259, 'v'));

    // A long CP949 value is cut before a double-byte character rather than through it.
    Write("[Property]\ntitle=" + std::string(258, 'a') + "\xC7\xD1\xB1\xDB\n");
    EXPECT_EQ(CAppIni(path_, false).title, std::string(258, 'a'));
}

TEST_F(SettingsTest, FilesThatCannotBeReadWholeAreNeverWritten) {
    // Too large: a sparse file one byte over the limit.
    {
        std::ofstream(path_, std::ios::binary) << "[Property]\nmacroOptions=1\n";
        fs::resize_file(path_, kMaxIniFileSize + 1);
        CAppIni ini(path_, false);
        EXPECT_EQ(ini.macroOptions, 136);
        EXPECT_FALSE(ini.Transfer(CAppIni::Save));
        EXPECT_EQ(fs::file_size(path_), kMaxIniFileSize + 1);
        EXPECT_TRUE(Read().starts_with("[Property]\nmacroOptions=1\n"));
        fs::remove(path_);
    }
    // Not a file.
    fs::create_directory(path_);
    CAppIni ini(path_, false);
    EXPECT_FALSE(ini.Transfer(CAppIni::Save));
    EXPECT_TRUE(fs::is_directory(path_));
}

// The file's own permissions decide whether it is written, not its folder's (checked as an ordinary user, since
// root may write anything): a read-only file is left alone, and a writable file in a folder that takes no new files
// is rewritten in place.
TEST_F(SettingsTest, GoesByTheFilesPermissionsNotTheFolders) {
    using quillet::testing::AsOrdinaryUser;
    using quillet::testing::GiveToOrdinaryUser;
    const auto save = [&] {
        return AsOrdinaryUser([&] {
            CAppIni ini(path_, false);
            ini.macroOptions = 7;
            return std::pair{ini.Transfer(CAppIni::Save), std::string()};
        });
    };
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    Write("[Property]\nmacroOptions=1\n");
    ASSERT_TRUE(GiveToOrdinaryUser(path_));

    // A folder that takes no new files, a file the user may write: written, the same file.
    struct stat before {};
    ASSERT_EQ(::stat(path_.c_str(), &before), 0);
    EXPECT_TRUE(save().first);
    EXPECT_TRUE(Read().starts_with("[Property]\nmacroOptions=7\nrecOptions=183\n")) << Read();
    struct stat after {};
    ASSERT_EQ(::stat(path_.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);

    // A read-only file in a folder the user may write to: left as it was.
    ASSERT_TRUE(GiveToOrdinaryUser(dir_.string()));
    Write("[Property]\nmacroOptions=1\n");
    fs::permissions(path_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_FALSE(save().first);
    EXPECT_EQ(Read(), "[Property]\nmacroOptions=1\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(SettingsTest, WritesThroughSymbolicLinksAndKeepsPermissions) {
    const std::string target = (dir_ / "real.ini").string();
    std::ofstream(target) << "[Property]\n";
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(target, path_);
    CAppIni ini(path_, false);
    ASSERT_TRUE(ini.Transfer(CAppIni::Save));
    EXPECT_TRUE(fs::is_symlink(path_));
    EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    std::ifstream in(target);
    const std::string text(std::istreambuf_iterator<char>(in), {});
    EXPECT_TRUE(text.starts_with("[Property]\nmacroOptions=136\n") && text.ends_with("\nstartTabSel=0\n")) << text;

    // A link whose target does not exist yet: the target is created and the link stays.
    fs::remove(path_);
    fs::create_symlink("new.ini", path_);
    ASSERT_TRUE(ini.Transfer(CAppIni::Save));
    EXPECT_TRUE(fs::is_symlink(path_));
    ASSERT_TRUE(fs::is_regular_file(dir_ / "new.ini"));
    EXPECT_EQ(CIni("Property", (dir_ / "new.ini").string()).GetInt("recOptions", 0), 183);
}

// The language is kept apart from the 24 settings: a file without it is written exactly as before, a choice once in
// the file stays there, and a value the program does not know is neither used nor lost.
TEST_F(SettingsTest, LanguageIsReadAsWrittenAndWrittenOnlyOnceChosen) {
    {
        CAppIni ini(path_);
        EXPECT_EQ(ini.language, "");
        EXPECT_EQ(LanguageFromSetting(ini.language), Language::Korean);
        ini.windowSX = 7;
        ini.macroSel = 4;
    }
    EXPECT_EQ(Read(), kFirstSave) << "no language chosen: the file the program always wrote";

    {
        CAppIni ini(path_);
        ini.language = "en";
    }
    EXPECT_EQ(Read(), std::string(kFirstSave) + "language=en\n") << "after the 24 keys, unquoted";
    CAppIni english(path_, false);
    EXPECT_EQ(LanguageFromSetting(english.language), Language::English);

    // Back to Korean: the key stays and says so.
    english.language = std::string(LanguageSetting(Language::Korean));
    ASSERT_TRUE(english.Transfer(CAppIni::Save));
    EXPECT_EQ(Read(), std::string(kFirstSave) + "language=ko\n");

    // Hand-written values: quotes are removed, unknown ones read as Korean and survive a save unchanged.
    for (const auto& [line, value, language] :
         {std::tuple<const char*, const char*, Language>{"language=\"en\"", "en", Language::English},
          {"LANGUAGE = ko", "ko", Language::Korean},
          {"language=fr", "fr", Language::Korean},
          {"language=", "", Language::Korean}}) {
        const std::string file = std::string("[Property]\n") + line + "\nmacroOptions=1\n";
        Write(file);
        CAppIni ini(path_, false);
        EXPECT_EQ(ini.language, value) << line;
        EXPECT_EQ(LanguageFromSetting(ini.language), language) << line;
        EXPECT_EQ(ini.macroOptions, 1) << line;
        ASSERT_TRUE(ini.Transfer(CAppIni::Save));
        const std::string saved = Read();
        EXPECT_EQ(std::count(saved.begin(), saved.end(), '='), 25) << "the 24 settings and one language line:\n"
                                                                   << saved;
        EXPECT_EQ(CAppIni(path_, false).language, value) << saved;
    }
}

#endif

// A row of the settings table in docs/settings.md as the code's table says it should read.
std::string DocRow(const SettingInfo& s) {
    std::ostringstream row;
    row << "| `" << s.key << "` | ";
    switch (s.kind) {
    case SettingKind::Number:
        row << "number | " << s.defaultNumber;
        break;
    case SettingKind::Bits:
        row << "bit set | " << s.defaultNumber;
        if (s.defaultNumber != 0) row << " (0x" << std::uppercase << std::hex << s.defaultNumber << std::dec << ")";
        break;
    case SettingKind::KeyCode:
        row << "key code | " << s.defaultNumber << " (" << KeyShortName(s.defaultNumber) << ")";
        break;
    case SettingKind::Text:
        row << "text | \"" << s.defaultText << "\"";
        break;
    }
    row << " | " << s.description << " |";
    return row.str();
}

TEST(SettingTableTest, DocumentationListsEverySettingAsTheCodeHasIt) {
    const fs::path doc = fs::path(__FILE__).parent_path().parent_path().parent_path() / "docs" / "settings.md";
    std::ifstream in(doc);
    ASSERT_TRUE(in) << doc;
    // The rows of the table that starts with this header, up to the first line that is not a table line.
    std::vector<std::string> documented;
    std::string line;
    bool inTable = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "| key | type | default | meaning |") {
            inTable = true;
            std::getline(in, line); // the separator line
        } else if (inTable) {
            if (!line.starts_with("|")) break;
            documented.push_back(line);
        }
    }
    std::vector<std::string> expected;
    std::string all;
    for (const SettingInfo& s : SettingTable()) {
        expected.push_back(DocRow(s));
        all += expected.back() + "\n";
    }
    EXPECT_EQ(documented, expected) << "the table in docs/settings.md should read:\n" << all;
}

TEST(SettingTableTest, KeysAreUniqueAndDefaultsFitTheirKind) {
    std::vector<std::string> keys;
    for (const SettingInfo& s : SettingTable()) {
        std::string lower(s.key);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(std::count(keys.begin(), keys.end(), lower), 0) << s.key << " twice (names match without case)";
        keys.push_back(lower);
        if (s.kind == SettingKind::KeyCode) {
            EXPECT_GE(KeyIndexOf(s.defaultNumber), 0) << s.key;
        }
        if (s.kind == SettingKind::Text) {
            EXPECT_LE(std::string(s.defaultText).size(), 260u) << s.key;
        }
    }
    EXPECT_EQ(keys.size(), 24u);
}

TEST(IniDocumentTest, EditsInPlaceAndAppendsWhereTheFileSaysSo) {
    // First section of a name only; no final newline stays so; keys go after the section's last key line.
    IniDocument doc("\xEF\xBB\xBF[s]\r\n; c\r\nk=1\r\n\r\n[t]\r\nk=2\r\n[S]\r\nk=3");
    EXPECT_EQ(doc.Find("S", "K"), "1");
    ASSERT_TRUE(doc.Set("s", "new", "x"));
    ASSERT_TRUE(doc.Set("t", "k", " 22 "));
    ASSERT_TRUE(doc.Set("u", "k", "4"));
    EXPECT_EQ(doc.text(),
              "\xEF\xBB\xBF[s]\r\n; c\r\nk=1\r\nnew=x\r\n\r\n[t]\r\nk= 22 \r\n[S]\r\nk=3\r\n\r\n[u]\r\nk=4\r\n");
    EXPECT_EQ(doc.Find("t", "k"), "22");

    IniDocument tail("[s]\nk=1");
    ASSERT_TRUE(tail.Set("s", "m", "2"));
    EXPECT_EQ(tail.text(), "[s]\nk=1\nm=2");

    // Names that could not be read back are refused.
    IniDocument refused("");
    EXPECT_FALSE(refused.Set("a]b", "k", "v"));
    EXPECT_FALSE(refused.Set("s", "k=v", "v"));
    EXPECT_FALSE(refused.Set("s", "[k", "v"));
    EXPECT_FALSE(refused.Set("s", " k", "v"));
    EXPECT_EQ(refused.text(), "");
    EXPECT_FALSE(refused.modified());
}

TEST(IniPathTest, FallsBackToTheBareNameWhenThePathWouldNotFit) {
#ifdef _WIN32
    const std::string sep = "\\";
#else
    const std::string sep = "/";
#endif
    EXPECT_EQ(IniPathInDirectory("/home/user"), "/home/user" + sep + "Quillet.ini");
    EXPECT_EQ(IniPathInDirectory("/"), "/Quillet.ini");
    EXPECT_EQ(IniPathInDirectory(""), "Quillet.ini");
    const std::string fits(CIni::kMaxPath - 12, 'd'); // + separator + "Quillet.ini" = 259 bytes
    EXPECT_EQ(IniPathInDirectory(fits), fits + sep + "Quillet.ini");
    EXPECT_EQ(IniPathInDirectory(fits + "d"), "Quillet.ini");
    EXPECT_EQ(IniPathInDirectory(std::string(5000, 'd')), "Quillet.ini");
    const std::string current = DefaultIniPath();
    EXPECT_TRUE(current == "Quillet.ini" || current == (fs::current_path() / "Quillet.ini").string());
}

} // namespace
} // namespace quillet
