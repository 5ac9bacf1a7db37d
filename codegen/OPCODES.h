// The one opcode table. VSL_OPCODES(X) calls X(name, number, keyword) for
// every assigned opcode; the enum, the names and the disassembly all come
// from it. Numbers 11 and 12 are not assigned.
#pragma once

#include <cstdint>

#define VSL_OPCODES(X)                              \
  X(OP_RD, 1, "rd")                                 \
  X(OP_CD, 2, "cd")                                 \
  X(OP_MD, 3, "md")                                 \
  X(OP_REGDLL, 4, "RegDLL")                         \
  X(OP_EXIT, 5, "Exit")                             \
  X(OP_DELFILE, 6, "DelFile")                       \
  X(OP_DELCOMDLL, 7, "DelComDLL")                   \
  X(OP_DELDIR, 8, "DelDir")                         \
  X(OP_UNREGDLL, 9, "UnregDLL")                     \
  X(OP_UNREGEXE, 10, "UnregEXE")                    \
  X(OP_REGCOUNTSUBNODE, 13, "RegCountSubNode")      \
  X(OP_ISFILEEXISTS, 14, "IsFileExists")            \
  X(OP_ISDIREXISTS, 15, "IsDirExists")              \
  X(OP_MSGBOX, 16, "MsgBox")                        \
  X(OP_XCOPY, 17, "XCopy")                          \
  X(OP_COPY, 18, "Copy")                            \
  X(OP_REGREADSTRING, 19, "RegReadString")          \
  X(OP_REGDELKEY, 20, "RegDelKey")                  \
  X(OP_REGDELSTRING, 21, "RegDelString")            \
  X(OP_REGWRITESTRING, 22, "RegWriteString")        \
  X(OP_REGWRITEVALUE, 23, "RegWriteValue")          \
  X(OP_ASKYESNODLG, 24, "AskYesNoDlg")              \
  X(OP_ASKSTRINGDLG, 25, "AskStringDlg")            \
  X(OP_ASKOKDLG, 26, "AskOKDlg")                    \
  X(OP_SHELLCMD, 27, "Shell")                       \
  X(OP_REGREADVALUE, 28, "RegReadValue")            \
  X(OP_REGEXE, 29, "RegEXE")                        \
  X(OP_RUN, 30, "Run")                              \
  X(OP_GETTEMPWORKDIR, 31, "GetTempWorkDir")        \
  X(OP_WRITEFILE, 32, "WriteFile")                  \
  X(OP_GETWINDIR, 33, "GetWinDir")                  \
  X(OP_ISREGKEYEXISTS, 34, "IsRegKeyExists")        \
  X(OP_REGTLB, 35, "RegTLB")                        \
  X(OP_ISFILEWRITABLE, 36, "IsFileWritable")

namespace OPCODES {

#define VSL_OPCODE_CONSTANT(name, number, keyword) constexpr std::int32_t name = number;
VSL_OPCODES(VSL_OPCODE_CONSTANT)
#undef VSL_OPCODE_CONSTANT

// "OP_DELFILE" for 6; "" for a number without a name.
const char* OpcodeName(std::int32_t lOpCode);

}  // namespace OPCODES
