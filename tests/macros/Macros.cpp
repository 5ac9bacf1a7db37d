// The macro store and the expansion of $(name) references.
#include <gtest/gtest.h>

#include "macros/CMacroManager.h"
#include "platform/Error.h"
#include "platform/Text.h"

TEST(Macros, StoreKeepsOrderAndFirstEntries) {
  CMacroManager m;
  m.AddMacro(L"a", L"1");
  m.AddMacro(L"A", L"2");
  m.AddMacro(L"a", L"3");  // redefining keeps the first position
  m.Add(L"k", L"first");   // Add appends and the first entry of a name wins
  m.Add(L"k", L"second");
  m.Replace(L"k", L"third");
  m.Add(L"r", L"$(k)");  // Add stores the text as it is
  for (int i = 0; i < 102; ++i) m.AddMacro(L"m" + std::to_wstring(i), std::to_wstring(i));
  std::wstring all;
  for (int i = 0; i < m.Count(); ++i) all += m.GetMacroByIndex(i).MacroName + L"=" + m.GetMacroByIndex(i).MacroText + L";";
  std::wstring want = L"a=3;A=2;k=third;k=second;r=$(k);";
  for (int i = 0; i < 102; ++i) want += L"m" + std::to_wstring(i) + L"=" + std::to_wstring(i) + L";";
  EXPECT_EQ(all, want);
  EXPECT_EQ(m.GetString(L"a") + m.GetString(L"A") + m.GetString(L"a ") + m.GetString(L"k") + m.GetString(L"m101"),
            L"32third101");
  for (int bad : {-1, 107, 150}) EXPECT_THROW(m.GetMacroByIndex(bad), VslError) << bad;
}

// The expansion of a text after some definitions, or the error it raises.
TEST(Macros, Expansion) {
  struct Def { bool expand; std::wstring name, value; };  // AddMacro expands the value, Add stores it as it is
  const std::wstring endless = L"Macro expansion does not end: \"";
  const struct { std::vector<Def> defs; std::wstring text, want; } cases[] = {
      {{{true, L"dir", L"C:\\app"}}, L"$(dir)\\bin;$(dir)", L"C:\\app\\bin;C:\\app"},
      {{}, L"no references", L"no references"}, {{}, L"", L""}, {{}, L"x$(NONE)y", L"xy"}, {{}, L"a$()b", L"ab"},
      {{{true, L"", L"empty"}}, L"a$()b", L"aemptyb"},
      // Every letter case of the first reference takes its value.
      {{{true, L"a", L"1"}, {true, L"A", L"2"}}, L"$(a)-$(A)", L"1-1"},
      {{{true, L"a", L"1"}, {true, L"A", L"2"}}, L"$(A)-$(a)", L"2-2"},
      // References do not nest; an unclosed one stays.
      {{{true, L"A", L"x"}, {true, L"B", L"y"}}, L"$(A$(B))", L")"},
      {{{true, L"A", L"x"}}, L"$(A) $(A rest", L"x $(A rest"}, {{{true, L"A", L"x"}}, L"$(A", L"$(A"}, {{}, L") $", L") $"},
      // Values are expanded again, also a reference formed by a replacement.
      {{{false, L"outer", L"<$(inner)>"}, {false, L"inner", L"in"}}, L"$(outer)", L"<in>"},
      {{{false, L"inner", L"in"}, {true, L"open", L"$("}}, L"$(open)inner)", L"in"},
      // A stored value does not follow later changes.
      {{{true, L"A", L"x"}, {true, L"B", L"$(A)"}, {true, L"A", L"y"}}, L"$(B)", L"x"},
      // "$(X" eats one ")" per round and so comes to an end; "$(Y)" never does.
      {{{true, L"X", L"$(X"}}, L"[$(X)]", L"[$(X]"}, {{{true, L"X", L"$(X"}}, L"$(X))", L"$(X"},
      {{{true, L"X", L"$(X"}}, L"$(X)))))", L"$(X"}, {{{false, L"Y", L"$(Y)"}}, L"a$(Y)b", endless + L"a$(Y)b\""},
      // A value that doubles every round hits the length bound.
      {{{false, L"D", L"$(D)$(D)"}}, L"$(D)" + std::wstring(100, L'z'),
       endless + L"$(D)" + std::wstring(56, L'z') + L"...\""},
  };
  for (const auto& c : cases) {
    CMacroManager m;
    for (const Def& d : c.defs) d.expand ? m.AddMacro(d.name, d.value) : m.Add(d.name, d.value);
    try {
      EXPECT_EQ(m.GetMacExpandedString(c.text), c.want) << text::ToUtf8(c.text);
    } catch (const VslError& e) {
      EXPECT_EQ(e.Description(), c.want);
    }
  }
  CMacroManager m;  // long but finite expansions are fine
  m.Add(L"big", std::wstring(1000, L'b'));
  std::wstring many;
  for (int i = 0; i < 1000; ++i) many += L"$(big)";
  EXPECT_EQ(m.GetMacExpandedString(many).size(), 1000000u);
}
