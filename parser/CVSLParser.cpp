// The parser object, the statement loop and the keyword dispatch.
#include "parser/CVSLParser.h"

#include "forms/Forms.h"

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

FormPosition CVSLParser::Execute(FormPosition statusAt) {
  frmStatusDlg status(statusAt);
  codegen_->Execute(&status);
  return status.Unload();
}

std::int32_t CVSLParser::Next() {
  currentKind_ = tokenizer_->NextToken();
  return currentKind_;
}

// script: statements until TK_EOF. A block that ends with ENDIF or ELSE at
// the top level is simply followed by the next one; a failed assignment or
// command-interpreter statement (result 0) ends the parse.
void CVSLParser::Start() {
  while (ParseBlock(true) != TK_EOF) {
  }
}

// block: statements until TK_EOF, TK_ENDIF or TK_ELSE, which it consumes.
std::int32_t CVSLParser::ParseBlock(bool bExec) {
  for (;;) {
    const std::int32_t k = ParseStatement(bExec);
    if (IsBlockEnd(k)) return k;
  }
}

bool CVSLParser::IsBlockEnd(std::int32_t k) { return k == TK_EOF || k == TK_ENDIF || k == TK_ELSE; }

// statement: assignment | IF statement | command | command-interpreter
// statement. Any other token is passed over and its kind returned.
std::int32_t CVSLParser::ParseStatement(bool bExec) {
  // Asked to stop (SIGTERM, SIGHUP): nothing more is parsed or run.
  if (Dialogs::StopRequested()) throw RunCancelled();
  const std::int32_t k = Next();
  switch (k) {
    case TK_IDENTIFIER:
      return DoAssignment(bExec);
    case TK_IF:
      return DoIf(bExec);
    case TK_KEYWORD: {
      std::wstring sResult;
      return DoCommand(bExec, false, sResult);
    }
    case TK_SHELLCMD:
      return DoShellCmd(bExec);
    default:
      return k;
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
