// Token kinds delivered by the tokenizer, and the keyword table that both
// the tokenizer (to recognise keywords) and the parser (to dispatch them)
// use.
#pragma once

#include <cstdint>

namespace Tokens {

constexpr std::int32_t TK_EOF = 0;
constexpr std::int32_t TK_IDENTIFIER = 1;
constexpr std::int32_t TK_LPAREN = 2;
constexpr std::int32_t TK_RPAREN = 3;
constexpr std::int32_t TK_IF = 4;
constexpr std::int32_t TK_ELSE = 5;
constexpr std::int32_t TK_THEN = 6;
constexpr std::int32_t TK_ENDIF = 7;
constexpr std::int32_t TK_STRING = 8;
constexpr std::int32_t TK_AND = 9;
constexpr std::int32_t TK_OR = 10;
constexpr std::int32_t TK_MACRO = 11;
constexpr std::int32_t TK_EQUAL = 12;
constexpr std::int32_t TK_ASSIGN = 13;
constexpr std::int32_t TK_COMMA = 14;
constexpr std::int32_t TK_NOTEQUAL = 15;
constexpr std::int32_t TK_KEYWORD = 16;
constexpr std::int32_t TK_SHELLCMD = 17;
constexpr std::int32_t TK_NUMBER = 18;
constexpr std::int32_t TK_ERROR = 19;

}  // namespace Tokens

using namespace Tokens;

// The 35 keywords in the order in which the dispatcher compares them, each
// with its handler (X(keyword, handler)); the last two have none.
#define VSL_KEYWORDS(X, NOHANDLER)          \
  X(Exit, DoExit)                           \
  X(DelFile, DoDelFile)                     \
  X(DelComDLL, DoDelComDLL)                 \
  X(DelDir, DoDelDir)                       \
  X(UnregDLL, DoUnregDLL)                   \
  X(RegDLL, DoRegDLL)                       \
  X(RegTLB, DoRegTLB)                       \
  X(RegReadString, DoRegReadString)         \
  X(RegReadValue, DoRegReadValue)           \
  X(RegWriteString, DoRegWriteString)       \
  X(RegWriteValue, DoRegWriteValue)         \
  X(RegDelKey, DoRegDelKey)                 \
  X(IsRegKeyExists, DoIsRegKeyExists)       \
  X(RegDelString, DoRegDelString)           \
  X(RegCountSubNode, DoRegCountSubNode)     \
  X(rd, DoRd)                               \
  X(cd, DoCd)                               \
  X(md, DoMd)                               \
  X(IsFileExists, DoIsFileExists)           \
  X(IsDirExists, DoIsDirExists)             \
  X(MsgBox, DoMsgBox)                       \
  X(XCopy, DoXCopy)                         \
  X(Copy, DoCopy)                           \
  X(AskYesNoDlg, DoAskYesNoDlg)             \
  X(AskStringDlg, DoAskStringDlg)           \
  X(AskOKDlg, DoAskOKDlg)                   \
  X(UnregEXE, DoUnregEXE)                   \
  X(RegEXE, DoRegEXE)                       \
  X(Run, DoRun)                             \
  X(GetTempWorkDir, DoCreateTemp)           \
  X(WriteFile, DoWriteFile)                 \
  X(GetWinDir, DoGetWinDir)                 \
  X(IsFileWritable, DoIsFileWritable)       \
  NOHANDLER(UnregDLLDir)                    \
  NOHANDLER(ChkDelDir)
