// The editor grammar (editors/vsl.tmLanguage.json) names exactly the command table's and tokenizer's words.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "codegen/COMMANDS.h"
#include "platform/Text.h"
#include "tokenizer/CTokenizer.h"
#include "tokenizer/Tokens.h"

// The words of a pattern written "PREFIX\b(a|b|c)\b", in order.
static std::vector<std::string> Alternatives(const std::string& pattern, const std::string& prefix) {
  std::smatch m;
  EXPECT_TRUE(std::regex_match(pattern, m, std::regex("^" + prefix + R"(\\b\(([A-Za-z_|]+)\)\\b$)"))) << pattern;
  std::vector<std::string> words;
  std::stringstream list(m.size() < 2 ? "" : m[1].str());
  for (std::string w; std::getline(list, w, '|');) words.push_back(w);
  return words;
}

static std::int32_t KindOf(const std::string& word) {
  CTokenizer t;
  t.OpenText(text::FromUtf8(word));
  return t.NextToken();
}

TEST(Grammar, WordsAreTheInterpretersWords) {
  std::ifstream in(VSL_SOURCE_DIR "/editors/vsl.tmLanguage.json");
  ASSERT_TRUE(in.good());
  const nlohmann::json repo = nlohmann::json::parse(in)["repository"];
  const std::set<std::string> table = {
#define VSL_KEYWORD(keyword, ...) #keyword,
      VSL_COMMANDS(VSL_KEYWORD, VSL_KEYWORD, VSL_KEYWORD)
#undef VSL_KEYWORD
  };
  const auto commands = Alternatives(repo["command"]["match"], "");
  EXPECT_EQ(std::set<std::string>(commands.begin(), commands.end()), table);
  EXPECT_EQ(commands.size(), table.size()) << "a word is listed twice";
  for (const auto& w : commands) EXPECT_EQ(KindOf(w), Tokens::TK_KEYWORD) << w;
  const auto control = Alternatives(repo["control"]["match"], R"(\(\?i\))");
  EXPECT_EQ(std::set<std::string>(control.begin(), control.end()),
            (std::set<std::string>{"IF", "THEN", "ELSE", "ENDIF", "AND", "OR"}));
  EXPECT_EQ(Alternatives(repo["shell"]["match"], R"(\(\?i\))"), std::vector<std::string>{"Shell"});
}
