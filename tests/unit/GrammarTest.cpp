// The editor grammar (editors/vsl.tmLanguage.json) names exactly the words
// the interpreter knows: its command list is the command table's keyword
// column, and its control words are the ones the tokenizer recognises.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "codegen/COMMANDS.h"
#include "platform/Text.h"
#include "tokenizer/CTokenizer.h"
#include "tokenizer/Tokens.h"

namespace {

nlohmann::json Grammar() {
  std::ifstream in(VSL_SOURCE_DIR "/editors/vsl.tmLanguage.json");
  EXPECT_TRUE(in.good());
  return nlohmann::json::parse(in);
}

// The words of a pattern written "PREFIX\b(a|b|c)\b".
std::vector<std::string> Alternatives(const std::string& match, const std::string& prefix) {
  const std::regex shape("^" + prefix + R"(\\b\(([A-Za-z_|]+)\)\\b$)");
  std::smatch m;
  EXPECT_TRUE(std::regex_match(match, m, shape)) << match;
  std::vector<std::string> words;
  if (m.size() < 2) return words;
  std::string list = m[1];
  for (std::size_t start = 0;;) {
    const std::size_t bar = list.find('|', start);
    words.push_back(list.substr(start, bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return words;
}

std::int32_t KindOf(const std::string& word) {
  CTokenizer t;
  t.OpenText(text::FromUtf8(word));
  return t.NextToken();
}

TEST(GrammarTest, CommandWordsAreTheCommandTable) {
  const std::set<std::string> table = {
#define VSL_KEYWORD(keyword, ...) #keyword,
#define VSL_KEYWORD_ONLY(keyword) #keyword,
      VSL_COMMANDS(VSL_KEYWORD, VSL_KEYWORD, VSL_KEYWORD_ONLY)
#undef VSL_KEYWORD
#undef VSL_KEYWORD_ONLY
  };
  const auto words = Alternatives(Grammar()["repository"]["command"]["match"], "");
  const std::set<std::string> grammar(words.begin(), words.end());
  EXPECT_EQ(grammar.size(), words.size()) << "a word is listed twice";
  EXPECT_EQ(grammar, table);
  for (const auto& w : words) EXPECT_EQ(KindOf(w), TK_KEYWORD) << w;
}

TEST(GrammarTest, ControlWordsAndShellAreTheTokenizers) {
  const nlohmann::json repo = Grammar()["repository"];
  const auto control = Alternatives(repo["control"]["match"], R"(\(\?i\))");
  const std::set<std::string> got(control.begin(), control.end());
  EXPECT_EQ(got, (std::set<std::string>{"IF", "THEN", "ELSE", "ENDIF", "AND", "OR"}));
  for (const auto& w : control) {
    EXPECT_NE(KindOf(w), TK_KEYWORD) << w;
    EXPECT_NE(KindOf(w), TK_IDENTIFIER) << w;
    std::string lower = w;
    for (char& c : lower) c = static_cast<char>(c - 'A' + 'a');
    EXPECT_EQ(KindOf(lower), KindOf(w)) << w << " in lower case";
  }
  EXPECT_EQ(Alternatives(repo["shell"]["match"], R"(\(\?i\))"), std::vector<std::string>{"Shell"});
  EXPECT_EQ(KindOf("sHELL"), TK_SHELLCMD);
}

}  // namespace
