#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include "support/Bundle.h"
#include "support/StringsFile.h"
#include "testing/TemporaryTree.h"
#include "text/Unicode.h"

namespace zv::support {
namespace {

TEST(StringsFile, ReadsEntriesCommentsAndEscapes) {
  const std::string text =
      "/* Menu texts */\n"
      "\"ZenvorDefault\" = \"Default\";\n"
      "// a line comment\n"
      "Clear = \"Clear all\"; \"Same\";\n"
      "\"quote \\\" and \\\\\" = \"tab\\there\\nnext\";\n"
      "\"unicode\" = \"\\u00e9 \\UD83D\\uDE00 \\uD800x \\101\\q\";\n"
      "\"multi\nline\" = \"\xC3\xA9t\xC3\xA9\";\n"
      "\"ZenvorDefault\" = /* inline */ \"Standard\";";
  StringsFileError error;
  const auto table = readStringsTable(text, &error);
  ASSERT_TRUE(table) << error.describe();
  const StringsTable expected{
      {"ZenvorDefault", "Standard"},  // a later entry replaces an earlier one
      {"Clear", "Clear all"},
      {"Same", "Same"},
      {"quote \" and \\", "tab\there\nnext"},
      {"unicode", "\xC3\xA9 \xF0\x9F\x98\x80 \xEF\xBF\xBDx Aq"},
      {"multi\nline", "\xC3\xA9t\xC3\xA9"},
  };
  EXPECT_EQ(*table, expected);

  // The same text in every encoding a table may use.
  const std::string small = "\"a\" = \"\xC3\xA9\";";
  const std::string le = text::utf8ToUtf16LE(small);
  std::string be = le;
  for (std::size_t i = 0; i + 1 < be.size(); i += 2) std::swap(be[i], be[i + 1]);
  const StringsTable one{{"a", "\xC3\xA9"}};
  EXPECT_EQ(readStringsTable("\xEF\xBB\xBF" + small), one);
  EXPECT_EQ(readStringsTable("\xFF\xFE" + le), one);
  EXPECT_EQ(readStringsTable("\xFE\xFF" + be), one);
  EXPECT_EQ(readStringsTable(" \n/* nothing */ "), StringsTable{});
}

TEST(StringsFile, DamagedTablesSayWhere) {
  struct Case {
    std::string text;
    std::string described;
  };
  const Case cases[] = {
      {"\"a\" = \"b\"\n\"c\" = \"d\";", "line 2, column 1: expected ';' after the entry"},
      {"\"a\" = \"b;", "line 1, column 7: text not closed with '\"'"},
      {"\"a\" = \"b\"; /* open", "line 1, column 12: comment not closed"},
      {"\"a\" = ;", "line 1, column 7: unexpected character ';'"},
      {"\"a\" =", "line 1, column 6: expected a text at the end of the file"},
      {"\xC3\xA9 = \"x\";", "line 1, column 1: unexpected character"},
      {"\"a\" = \"\\u12\";", "line 1, column 8: \\u needs four hexadecimal digits"},
      {"\"a\" = \"\xFF\";", "not UTF-8 text, nor UTF-16 with a byte-order mark"},
      {std::string("\"a\" = \"\0\";", 9), "the text holds a NUL character"},
      {"\xFF\xFE" + text::utf8ToUtf16LE("\"a\" = \"b\"") + "x",
       "line 1, column 10: expected ';' after the entry"},
  };
  for (const Case& c : cases) {
    StringsFileError error;
    EXPECT_FALSE(readStringsTable(c.text, &error)) << c.text;
    EXPECT_EQ(error.describe(), c.described) << c.text;
  }
  StringsFileError error;
  EXPECT_FALSE(readStringsFile("/nonexistent/x.strings", &error));
  EXPECT_NE(error.describe().find("/nonexistent/x.strings"), std::string::npos);
}

// Sets the locale variables for one test and restores them afterwards.
using Variables = std::map<std::string, std::string>;

class Locale {
 public:
  Locale(const Locale&) = delete;
  Locale& operator=(const Locale&) = delete;
  explicit Locale(const Variables& values) {
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
      const char* old = std::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
      ::unsetenv(name);
    }
    set(values);
  }
  ~Locale() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  void set(const Variables& values) {
    for (const auto& [name, value] : values) ::setenv(name.c_str(), value.c_str(), 1);
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST(Bundle, PreferredLanguagesFollowTheLocale) {
  using List = std::vector<std::string>;
  {
    Locale locale(Variables{});
    EXPECT_EQ(Bundle::preferredLanguages(), (List{"en", "Base"}));
  }
  {
    Locale locale(Variables{{"LANG", "pt_BR.UTF-8@latin"}});
    EXPECT_EQ(Bundle::preferredLanguages(), (List{"pt_BR", "pt-BR", "pt", "en", "Base"}));
  }
  {
    // LANGUAGE comes first, but only when a locale other than C is set.
    Locale locale(Variables{{"LANGUAGE", "fr:de_AT::../x"}, {"LANG", "C.UTF-8"}});
    EXPECT_EQ(Bundle::preferredLanguages(), (List{"en", "Base"}));
    locale.set(Variables{{"LC_MESSAGES", "de_DE.UTF-8"}});
    EXPECT_EQ(Bundle::preferredLanguages(),
              (List{"fr", "de_AT", "de-AT", "de", "de_DE", "de-DE", "en", "Base"}));
    locale.set(Variables{{"LC_ALL", "en_GB"}});
    EXPECT_EQ(Bundle::preferredLanguages(),
              (List{"fr", "de_AT", "de-AT", "de", "en_GB", "en-GB", "en", "Base"}));
  }
}

TEST(Bundle, LocalizedStringLooksThroughTheLanguagesAndFallsBack) {
  testing::TemporaryTree tree;
  const std::string resources = "Applications/Perch.app/Contents/Resources/";
  tree.write(resources + "de.lproj/Localizable.strings", "\"ZenvorDefault\" = \"Standard\";\n");
  tree.write(resources + "en.lproj/Localizable.strings",
             "\"ZenvorDefault\" = \"Default\";\n\"Clear\" = \"Clear\";\n");
  tree.write(resources + "Base.lproj/Menu.strings", "\"Quit\" = \"Quit Perch\";\n");
  tree.write(resources + "fr.lproj/Localizable.strings", "\"ZenvorDefault\" = broken");
  tree.write(resources + "Secret.strings", "\"ZenvorDefault\" = \"outside\";");
  const Bundle bundle(tree.path("Applications/Perch.app"));

  Locale locale(Variables{{"LANGUAGE", "fr:de"}, {"LANG", "de_DE.UTF-8"}});
  struct Case {
    std::string key, value, table, expected;
  };
  const Case cases[] = {
      {"ZenvorDefault", "", "", "Standard"},  // fr is damaged: skipped; de has it
      {"Clear", "", "", "Clear"},             // not in de: from en
      {"Quit", "", "Menu", "Quit Perch"},     // from Base
      {"Missing", "Fallback", "", "Fallback"},
      {"Missing", "", "", "Missing"},
      {"ZenvorDefault", "", "NoSuchTable", "ZenvorDefault"},
      {"ZenvorDefault", "", "../Secret", "ZenvorDefault"},  // not a plain table name
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bundle.localizedString(c.key, c.value, c.table), c.expected)
        << c.key << " in " << c.table;
  }
  locale.set(Variables{{"LANG", "C"}, {"LANGUAGE", "de"}});
  EXPECT_EQ(bundle.localizedString("ZenvorDefault"), "Default") << "C locale: English";
  // Tables are read at each call.
  tree.write(resources + "en.lproj/Localizable.strings", "\"ZenvorDefault\" = \"Changed\";");
  EXPECT_EQ(bundle.localizedString("ZenvorDefault"), "Changed");
}

}  // namespace
}  // namespace zv::support
