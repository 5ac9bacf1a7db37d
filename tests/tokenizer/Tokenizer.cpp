// Source text to tokens: kind, text and line.
#include <gtest/gtest.h>

#include "platform/Text.h"
#include "tokenizer/CTokenizer.h"
#include "tokenizer/Tokens.h"

// "LINE:" where the line changes, then KIND[text] per token up to the end,
// which stays where it is; one tokenizer starts afresh with each text.
static std::wstring Lex(const std::wstring& source) {
  static const wchar_t* const kNames[] = {L"EOF", L"ID", L"LP", L"RP", L"IF", L"ELSE", L"THEN", L"ENDIF", L"STR",
                                          L"AND", L"OR", L"MAC", L"EQ", L"SET", L"COMMA", L"NE", L"KW", L"SHELL",
                                          L"NUM", L"ERR"};
  static CTokenizer tk;
  tk.OpenText(source);
  std::wstring out;
  for (int line = 0;;) {
    const std::int32_t kind = tk.NextToken();
    if (!out.empty()) out += L" ";
    if (tk.TokenLine() != line) out += std::to_wstring(line = tk.TokenLine()) + L":";
    out += std::wstring(kNames[kind]) + L"[" + tk.TokenText() + L"]";
    if (kind != Tokens::TK_EOF) continue;
    EXPECT_EQ(std::to_wstring(tk.NextToken()) + L"[" + tk.TokenText() + L"]" + std::to_wstring(tk.TokenLine()),
              L"0[]" + std::to_wstring(line));
    return out;
  }
}

TEST(Tokenizer, SourceToTokens) {
  const struct { std::wstring source, want; } cases[] = {
      // Strings: doubled quotes undoubled, backslashes kept, '#' and '$(' plain.
      {L"\"\"\"C:\\P F\\a.exe\"\"\" \"a\"\"b\" \"a\\\"", L"1:STR[\"C:\\P F\\a.exe\"] STR[a\"b] STR[a\\] EOF[]"},
      {L"\"# $( x\" y \"a\"\"\" \"b\" \"\"", L"1:STR[# $( x] ID[y] STR[a\"] STR[b] STR[] EOF[]"},
      // An unclosed string is one error to the end of its line.
      {L"md \"abc, x\nDelFile \"y\"", L"1:KW[md] ERR[\"abc, x] 2:KW[DelFile] STR[y] EOF[]"},
      {L"\"ab\"\"\r\nx", L"1:ERR[\"ab\"\"] 2:ID[x] EOF[]"},
      {L"\"", L"1:ERR[\"] EOF[]"},
      // Macro references end at the first ')' on their line.
      {L"$(a b)c $() $(a#b) $(A$(B))", L"1:MAC[$(a b)] ID[c] MAC[$()] MAC[$(a#b)] MAC[$(A$(B)] RP[)] EOF[]"},
      {L"$(abc x\n)", L"1:ERR[$(abc x] 2:RP[)] EOF[]"},
      {L"$x $", L"1:ERR[$] ID[x] ERR[$] EOF[]"},
      {L"( ) , == != = && || === a==b ! & | &|", L"1:LP[(] RP[)] COMMA[,] EQ[==] NE[!=] SET[=] AND[&&] OR[||] EQ[==] "
       L"SET[=] ID[a] EQ[==] ID[b] ERR[!] ERR[&] ERR[|] ERR[&] ERR[|] EOF[]"},
      // Words in any case; keywords keep their text; the keyword table's ends.
      {L"if Then eLSe endIF and Or SHELL delfile",
       L"1:IF[if] THEN[Then] ELSE[eLSe] ENDIF[endIF] AND[and] OR[Or] SHELL[SHELL] KW[delfile] EOF[]"},
      {L"exit ISFILEWRITABLE UnregDLLDir chkdeldir RD",
       L"1:KW[exit] KW[ISFILEWRITABLE] KW[UnregDLLDir] KW[chkdeldir] KW[RD] EOF[]"},
      {L"IFX Copy2 _md md_ xCopyy _a1_B2", L"1:ID[IFX] ID[Copy2] ID[_md] ID[md_] ID[xCopyy] ID[_a1_B2] EOF[]"},
      {L"0042 7x -5", L"1:NUM[0042] NUM[7] ID[x] ERR[-] NUM[5] EOF[]"},
      {L"\u00e9t\u00e9 a\vb \"\u00e9\u20ac\"", L"1:ERR[\u00e9] ID[t] ERR[\u00e9] ID[a] ERR[\v] ID[b] STR[\u00e9\u20ac] EOF[]"},
      {L"a # b \"c\n# whole line\r\nd#e\r#", L"1:ID[a] 3:ID[d] 4:EOF[]"},
      {L"a\nb\r\nc\rd\n\ne\r\r\nf\t\fg", L"1:ID[a] 2:ID[b] 3:ID[c] 4:ID[d] 6:ID[e] 8:ID[f] ID[g] EOF[]"},
      // The end of the file is on the last line that holds anything.
      {L"", L"1:EOF[]"}, {L"\n", L"1:EOF[]"}, {L"a\n", L"1:ID[a] EOF[]"}, {L"a\nb", L"1:ID[a] 2:ID[b] EOF[]"},
      {L"a\n\n", L"1:ID[a] 2:EOF[]"}, {L"a\r\n\r\n", L"1:ID[a] 2:EOF[]"}, {L"a\r\r", L"1:ID[a] 2:EOF[]"},
      {L"a\n\n  ", L"1:ID[a] 3:EOF[]"}, {L"a\n# c", L"1:ID[a] 2:EOF[]"},
  };
  for (const auto& c : cases) EXPECT_EQ(Lex(c.source), c.want) << text::ToUtf8(c.source);
}
