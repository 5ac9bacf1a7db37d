#include <gtest/gtest.h>

#include <string>

#include "macros/CMacroManager.h"
#include "platform/Error.h"

TEST(MacroStore, StoresAndLooksUpCaseSensitively) {
  CMacroManager m;
  EXPECT_EQ(m.GetString(L"a"), L"");
  m.AddMacro(L"a", L"1");
  m.AddMacro(L"A", L"2");
  EXPECT_EQ(m.GetString(L"a"), L"1");
  EXPECT_EQ(m.GetString(L"A"), L"2");
  EXPECT_EQ(m.GetString(L"a "), L"");
  EXPECT_EQ(m.Count(), 2);
}

TEST(MacroStore, RedefiningKeepsThePositionOfTheFirstDefinition) {
  CMacroManager m;
  m.AddMacro(L"x", L"1");
  m.AddMacro(L"y", L"2");
  m.AddMacro(L"x", L"3");
  ASSERT_EQ(m.Count(), 2);
  EXPECT_EQ(m.GetMacroByIndex(0).MacroName, L"x");
  EXPECT_EQ(m.GetMacroByIndex(0).MacroText, L"3");
  EXPECT_EQ(m.GetMacroByIndex(1).MacroText, L"2");
  EXPECT_FALSE(m.AddMacro(L"y", L"4"));
}

TEST(MacroStore, AddAppendsAndTheFirstEntryWins) {
  CMacroManager m;
  m.Add(L"k", L"first");
  m.Add(L"k", L"second");
  EXPECT_EQ(m.Count(), 2);
  EXPECT_EQ(m.GetString(L"k"), L"first");
  m.Replace(L"k", L"third");
  EXPECT_EQ(m.GetMacroByIndex(0).MacroText, L"third");
  EXPECT_EQ(m.GetMacroByIndex(1).MacroText, L"second");
  EXPECT_EQ(m.Count(), 2);
  // Add stores the text as it is, references included.
  m.Add(L"r", L"$(k)");
  EXPECT_EQ(m.GetString(L"r"), L"$(k)");
}

TEST(MacroStore, GrowsInStepsOfFifty) {
  CMacroManager m;
  EXPECT_EQ(m.Capacity(), 51);
  for (int i = 0; i < 51; ++i) m.AddMacro(L"m" + std::to_wstring(i), std::to_wstring(i));
  EXPECT_EQ(m.Capacity(), 51);
  m.AddMacro(L"m51", L"51");
  EXPECT_EQ(m.Capacity(), 101);
  for (int i = 52; i < 102; ++i) m.AddMacro(L"m" + std::to_wstring(i), std::to_wstring(i));
  EXPECT_EQ(m.Capacity(), 151);
  ASSERT_EQ(m.Count(), 102);
  for (int i = 0; i < 102; ++i) {
    EXPECT_EQ(m.GetMacroByIndex(i).MacroName, L"m" + std::to_wstring(i));
    EXPECT_EQ(m.GetString(L"m" + std::to_wstring(i)), std::to_wstring(i));
  }
}

TEST(MacroStore, IndexOutsideTheEntriesRaises) {
  CMacroManager m;
  m.AddMacro(L"a", L"1");
  EXPECT_THROW(m.GetMacroByIndex(1), VslError);
  EXPECT_THROW(m.GetMacroByIndex(-1), VslError);
  EXPECT_THROW(m.GetMacroByIndex(50), VslError);
}

TEST(MacroExpansion, ReplacesReferences) {
  CMacroManager m;
  m.AddMacro(L"dir", L"C:\\app");
  EXPECT_EQ(m.GetMacExpandedString(L"$(dir)\\bin;$(dir)"), L"C:\\app\\bin;C:\\app");
  EXPECT_EQ(m.GetMacExpandedString(L"no references"), L"no references");
  EXPECT_EQ(m.GetMacExpandedString(L""), L"");
  EXPECT_EQ(m.GetMacExpandedString(L"x$(NONE)y"), L"xy");
  EXPECT_EQ(m.GetMacExpandedString(L"a$()b"), L"ab");
  m.AddMacro(L"", L"empty");
  EXPECT_EQ(m.GetMacExpandedString(L"a$()b"), L"aemptyb");
}

TEST(MacroExpansion, EveryLetterCaseOfTheFirstReferenceIsReplaced) {
  CMacroManager m;
  m.AddMacro(L"a", L"1");
  m.AddMacro(L"A", L"2");
  EXPECT_EQ(m.GetMacExpandedString(L"$(a)-$(A)"), L"1-1");
  EXPECT_EQ(m.GetMacExpandedString(L"$(A)-$(a)"), L"2-2");
}

TEST(MacroExpansion, ReferencesDoNotNest) {
  CMacroManager m;
  m.AddMacro(L"A", L"x");
  m.AddMacro(L"B", L"y");
  EXPECT_EQ(m.GetMacExpandedString(L"$(A$(B))"), L")");
}

TEST(MacroExpansion, UnclosedReferenceStaysWithTheRest) {
  CMacroManager m;
  m.AddMacro(L"A", L"x");
  EXPECT_EQ(m.GetMacExpandedString(L"$(A) $(A rest"), L"x $(A rest");
  EXPECT_EQ(m.GetMacExpandedString(L"$(A"), L"$(A");
  EXPECT_EQ(m.GetMacExpandedString(L") $"), L") $");
}

TEST(MacroExpansion, ValuesAreExpandedAgain) {
  CMacroManager m;
  m.Add(L"outer", L"<$(inner)>");
  m.Add(L"inner", L"in");
  EXPECT_EQ(m.GetMacExpandedString(L"$(outer)"), L"<in>");
  // A reference formed by a replacement is expanded too.
  m.AddMacro(L"open", L"$(");
  EXPECT_EQ(m.GetMacExpandedString(L"$(open)inner)"), L"in");
}

TEST(MacroExpansion, StoredValuesDoNotFollowLaterChanges) {
  CMacroManager m;
  m.AddMacro(L"A", L"x");
  m.AddMacro(L"B", L"$(A)");
  m.AddMacro(L"A", L"y");
  EXPECT_EQ(m.GetString(L"B"), L"x");
  // A value that holds no complete reference is stored unchanged.
  m.AddMacro(L"X", L"$(X");
  EXPECT_EQ(m.GetString(L"X"), L"$(X");
}

TEST(MacroExpansion, EndlessExpansionIsStopped) {
  CMacroManager m;
  // A value holding "$(X" consumes one closing parenthesis per round, so
  // this comes to an end.
  m.AddMacro(L"X", L"$(X");
  EXPECT_EQ(m.GetMacExpandedString(L"$(X))"), L"$(X");
  EXPECT_EQ(m.GetMacExpandedString(L"$(X)))))"), L"$(X");
  // Add stores a reference to itself unexpanded; that one never ends.
  m.Add(L"Y", L"$(Y)");
  try {
    m.GetMacExpandedString(L"a$(Y)b");
    FAIL() << "no error";
  } catch (const VslError& e) {
    EXPECT_EQ(e.Description(), L"Macro expansion does not end: \"a$(Y)b\"");
  }
  // A value that doubles on every round hits the length bound.
  m.Add(L"D", L"$(D)$(D)");
  const std::wstring longText = L"$(D)" + std::wstring(100, L'z');
  try {
    m.GetMacExpandedString(longText);
    FAIL() << "no error";
  } catch (const VslError& e) {
    EXPECT_EQ(e.Description(), L"Macro expansion does not end: \"$(D)" + std::wstring(56, L'z') + L"...\"");
  }
  // Long but finite expansions are fine.
  m.Add(L"big", std::wstring(1000, L'b'));
  std::wstring many;
  for (int i = 0; i < 1000; ++i) many += L"$(big)";
  EXPECT_EQ(m.GetMacExpandedString(many).size(), 1000000u);
}
