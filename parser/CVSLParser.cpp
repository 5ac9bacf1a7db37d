// The parser object, the statement loop and the keyword dispatch.
#include "parser/CVSLParser.h"

#include "forms/Forms.h"

using namespace Tokens;

CVSLParser::CVSLParser()
    : tokenizer_(std::make_unique<CTokenizer>()),
      macros_(std::make_unique<CMacroManager>()),
      codegen_(std::make_unique<CCodeGen>()) {}

CVSLParser::~CVSLParser() {
  // Released in the reverse order of creation.
  codegen_.reset();
  macros_.reset();
  tokenizer_.reset();
}

void CVSLParser::Parse(const std::wstring& sFileName) {
  tokenizer_->OpenFile(sFileName);
  Start();
}

void CVSLParser::Execute(FormPosition statusAt) {
  frmStatusDlg status(statusAt);
  codegen_->Execute(&status);
  status.Unload();
}

std::int32_t CVSLParser::Next() {
  currentKind_ = tokenizer_->NextToken();
  return currentKind_;
}

// script: statements until TK_EOF. A block that ends with ENDIF or ELSE at
// the top level is simply followed by the next one; a failed assignment or
// command-interpreter statement ends the parse.
void CVSLParser::Start() {
  for (;;) {
    const StatementEnd end = ParseBlock(true);
    if (end != StatementEnd::EndIf && end != StatementEnd::Else) return;
  }
}

// block: statements until TK_EOF, TK_ENDIF or TK_ELSE, which it consumes,
// or until a statement fails.
CVSLParser::StatementEnd CVSLParser::ParseBlock(bool bExec) {
  for (;;) {
    const StatementEnd end = ParseStatement(bExec);
    if (end != StatementEnd::Next) return end;
  }
}

bool CVSLParser::IsBlockEnd(StatementEnd end) {
  return end == StatementEnd::EndOfInput || end == StatementEnd::EndIf || end == StatementEnd::Else;
}

// statement: assignment | IF statement | command | command-interpreter
// statement. Any other token is passed over; TK_EOF, TK_ENDIF and TK_ELSE
// end the block.
CVSLParser::StatementEnd CVSLParser::ParseStatement(bool bExec) {
  // Asked to stop (SIGTERM, SIGHUP): nothing more is parsed or run.
  if (Dialogs::StopRequested()) throw RunCancelled();
  switch (Next()) {
    case TK_IDENTIFIER:
      return DoAssignment(bExec);
    case TK_IF:
      DoIf(bExec);
      return StatementEnd::Next;
    case TK_KEYWORD:
      DoCommand(bExec, false);
      return StatementEnd::Next;
    case TK_SHELLCMD:
      return DoShellCmd(bExec);
    case TK_EOF:
      return StatementEnd::EndOfInput;
    case TK_ENDIF:
      return StatementEnd::EndIf;
    case TK_ELSE:
      return StatementEnd::Else;
    default:
      return StatementEnd::Next;
  }
}

std::wstring CVSLParser::ExpandMacros(const std::wstring& s) { return macros_->GetMacExpandedString(s); }

std::wstring CVSLParser::BoolToStr(bool b) { return b ? L"True" : L"False"; }

void CVSLParser::ReportError(const std::wstring& message) {
  ++parseErrors_;
  const std::int32_t line = tokenizer_->TokenLine();
  if (observer_ != nullptr) observer_->ParseError(line, message.rfind(L": ", 0) == 0 ? message.substr(2) : message);
  if (errorSink_) {
    errorSink_(line, message);
    return;
  }
  Dialogs::MsgBox(L"Line " + std::to_wstring(line) + message);
}

void CVSLParser::AddMacro(const std::wstring& ID, const std::wstring& Value) { macros_->AddMacro(ID, Value); }
