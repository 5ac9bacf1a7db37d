// IF statements and macro assignments. Both are decided while the script is
// parsed: conditions compare macro values as they stand at that point, and a
// command on the right of an assignment runs at once.
#include "parser/CVSLParser.h"
#include "utility/Strings.h"

using namespace Tokens;

namespace {
// Counts the IF statements being parsed, so that a script nested too deeply
// is refused instead of exhausting the stack.
class DepthGuard {
 public:
  explicit DepthGuard(int& depth) : depth_(depth) { ++depth_; }
  ~DepthGuard() { --depth_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  int& depth_;
};
}  // namespace

// IF statement: TK_IF condition <one token> block [block]
// The second block is parsed when the first ended with TK_ELSE; either block
// may end with TK_ENDIF, TK_ELSE or TK_EOF.
void CVSLParser::DoIf(bool bExec) {
  DepthGuard guard(ifDepth_);
  if (ifDepth_ > kMaxIfDepth) {
    ReportError(L": IF statements are nested more than " + std::to_wstring(kMaxIfDepth) + L" levels deep");
    SkipIfStatement();
    return;
  }
  const bool c = ParseCondition(bExec);
  Next();  // the token after the condition (THEN) is passed over unseen
  if (ParsePart(c) == StatementEnd::Else) ParsePart(!c && bExec);
}

CVSLParser::StatementEnd CVSLParser::ParsePart(bool bExec) {
  const StatementEnd end = ParseBlock(bExec);
  if (end != StatementEnd::Failed) return end;
  // A failed assignment or command-interpreter statement ended the part
  // early. If its offending token was the part's own end, the part is over;
  // otherwise the rest of the part is read without effect.
  const StatementEnd after = EndAfterFailure();
  return after == StatementEnd::Failed ? SkipRestOfPart() : after;
}

CVSLParser::StatementEnd CVSLParser::EndAfterFailure() const {
  switch (currentKind_) {
    case TK_ENDIF:
      return StatementEnd::EndIf;
    case TK_ELSE:
      return StatementEnd::Else;
    default:
      return StatementEnd::Failed;
  }
}

CVSLParser::StatementEnd CVSLParser::SkipRestOfPart() {
  for (;;) {
    StatementEnd end = ParseStatement(false);
    if (end == StatementEnd::Failed) end = EndAfterFailure();
    if (IsBlockEnd(end)) return end;
  }
}

void CVSLParser::SkipIfStatement() {
  // One entry per open IF: false while in its first part, true in its
  // second. A second ELSE closes an IF just as ENDIF does.
  std::vector<bool> open{false};
  while (!open.empty()) {
    switch (Next()) {
      case TK_EOF:
        return;
      case TK_IF:
        open.push_back(false);
        break;
      case TK_ELSE:
        if (!open.back())
          open.back() = true;
        else
          open.pop_back();
        break;
      case TK_ENDIF:
        open.pop_back();
        break;
      default:
        break;
    }
  }
}

// condition: TK_LPAREN comparison { (TK_AND | TK_OR) comparison } <token>
// Combined strictly from left to right; every comparison is evaluated. The
// token that ends the list (the closing parenthesis) is consumed unseen.
bool CVSLParser::ParseCondition(bool bExec) {
  if (Next() != TK_LPAREN) ReportError(L": Expecting (");
  bool r = ParseComparison(bExec);
  std::int32_t k = Next();
  while (IsLogicalOperator(k)) {
    const bool next = ParseComparison(bExec);
    if (k == TK_AND)
      r = r && next;
    else
      r = r || next;
    k = Next();
  }
  return bExec ? r : false;
}

bool CVSLParser::IsLogicalOperator(std::int32_t k) { return k == TK_AND || k == TK_OR; }

// comparison: TK_MACRO [ (TK_EQUAL | TK_NOTEQUAL) (TK_MACRO | TK_STRING) ]
// Without an operator the macro is compared with the empty string.
bool CVSLParser::ParseComparison(bool /*bExec*/) {
  if (Next() != TK_MACRO) {
    ReportError(L": Expecting a macro");
    return false;
  }
  const std::wstring left = macros_->GetString(Utility::StripMacroRef(tokenizer_->TokenText()));
  const std::int32_t op = Next();
  std::wstring right;
  if (op == TK_EQUAL || op == TK_NOTEQUAL) {
    const std::int32_t k = Next();
    if (k == TK_MACRO) {
      right = macros_->GetString(Utility::StripMacroRef(tokenizer_->TokenText()));
    } else if (k == TK_STRING) {
      right = tokenizer_->TokenText();
      if (Utility::IsQuoted(right)) right = Utility::StripQuotes(right);
    } else {
      ReportError(L": IF rValue problem");
      return false;
    }
  }
  const bool equal = left == right;
  return op == TK_NOTEQUAL ? !equal : equal;
}

// assignment: TK_IDENTIFIER TK_ASSIGN (TK_STRING | TK_MACRO | command)
// Fails after a parse error, which ends the block.
CVSLParser::StatementEnd CVSLParser::DoAssignment(bool bExec) {
  const std::wstring name = tokenizer_->TokenText();
  if (Next() != TK_ASSIGN) {
    ReportError(L": Expecting =");
    return StatementEnd::Failed;
  }
  std::wstring value;
  switch (Next()) {
    case TK_STRING:
      value = ExpandMacros(tokenizer_->TokenText());
      break;
    case TK_MACRO:
      value = tokenizer_->TokenText();
      break;
    case TK_KEYWORD:
      value = DoCommand(bExec, true);
      break;
    default:
      ReportError(L": Unknown rvalue for assignment");
      return StatementEnd::Failed;
  }
  if (bExec) macros_->AddMacro(name, value);
  return StatementEnd::Next;
}
