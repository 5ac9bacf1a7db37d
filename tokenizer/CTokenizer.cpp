#include "tokenizer/CTokenizer.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "codegen/COMMANDS.h"
#include "platform/Platform.h"
#include "tokenizer/Tokens.h"
#include "utility/Strings.h"

using namespace Tokens;

namespace {

struct Word {
  std::wstring_view name;
  std::int32_t kind;
};

#define VSL_TOKENIZER_COMMAND(keyword, ...) Word{L"" #keyword, TK_KEYWORD},
#define VSL_TOKENIZER_NOHANDLER(keyword) Word{L"" #keyword, TK_KEYWORD},

// Every word with a kind of its own; all other words are identifiers. The
// keywords are those of the command table.
constexpr Word kWords[] = {
    Word{L"IF", TK_IF},       Word{L"THEN", TK_THEN}, Word{L"ELSE", TK_ELSE},
    Word{L"ENDIF", TK_ENDIF}, Word{L"AND", TK_AND},   Word{L"OR", TK_OR},
    Word{L"Shell", TK_SHELLCMD},
    VSL_COMMANDS(VSL_TOKENIZER_COMMAND, VSL_TOKENIZER_COMMAND, VSL_TOKENIZER_NOHANDLER)};

#undef VSL_TOKENIZER_COMMAND
#undef VSL_TOKENIZER_NOHANDLER

// The length of the longest of them: no longer word needs to be looked up.
constexpr std::size_t kLongestWord = [] {
  std::size_t n = 0;
  for (const Word& w : kWords) n = std::max(n, w.name.size());
  return n;
}();

constexpr wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c; }

bool SameWord(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

std::int32_t WordKind(std::wstring_view word) {
  // The words by length: a word is compared only with those as long.
  static const auto byLength = [] {
    std::array<std::vector<Word>, kLongestWord + 1> table;
    for (const Word& w : kWords) table.at(w.name.size()).push_back(w);
    return table;
  }();
  if (word.size() >= byLength.size()) return TK_IDENTIFIER;
  for (const Word& w : byLength[word.size()]) {
    if (SameWord(word, w.name)) return w.kind;
  }
  return TK_IDENTIFIER;
}

constexpr bool IsLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_'; }
constexpr bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
constexpr bool IsLineEnd(wchar_t c) { return c == L'\n' || c == L'\r'; }

}  // namespace

CTokenizer::CTokenizer() = default;

void CTokenizer::OpenFile(const std::wstring& sFileName) {
  // A path enclosed in double quotes (as a command line may hand it over)
  // names the file without them.
  const std::wstring path = Utility::IsQuoted(sFileName) ? Utility::StripQuotes(sFileName) : sFileName;
  OpenText(platform::Fs().ReadTextFile(path));
}

void CTokenizer::OpenText(std::wstring source) {
  src_ = std::move(source);
  pos_ = 0;
  line_ = 1;
  kind_ = TK_EOF;
  tokenLine_ = 1;
  text_.clear();
}

std::size_t CTokenizer::LineEndFrom(std::size_t from) const {
  while (from < src_.size() && !IsLineEnd(src_[from])) ++from;
  return from;
}

void CTokenizer::SkipBlanksAndComments() {
  while (pos_ < src_.size()) {
    const wchar_t c = src_[pos_];
    if (c == L' ' || c == L'\t' || c == L'\f') {
      ++pos_;
    } else if (c == L'\n') {
      ++pos_;
      ++line_;
    } else if (c == L'\r') {
      ++pos_;
      if (pos_ < src_.size() && src_[pos_] == L'\n') ++pos_;
      ++line_;
    } else if (c == L'#') {
      pos_ = LineEndFrom(pos_);
    } else {
      return;
    }
  }
}

std::int32_t CTokenizer::Take(std::int32_t kind, std::size_t length) {
  text_.assign(src_, pos_, length);
  pos_ += length;
  return kind_ = kind;
}

std::int32_t CTokenizer::NextToken() {
  SkipBlanksAndComments();
  tokenLine_ = line_;
  if (pos_ >= src_.size()) {
    // Every line end has been passed by now. A text has one line more than
    // it has line ends, unless it ends with a line end: then that line end
    // closes the last line instead of opening one.
    text_.clear();
    tokenLine_ = !src_.empty() && IsLineEnd(src_.back()) ? line_ - 1 : line_;
    return kind_ = TK_EOF;
  }

  const wchar_t c = src_[pos_];
  const wchar_t next = pos_ + 1 < src_.size() ? src_[pos_ + 1] : L'\0';
  switch (c) {
    case L'(':
      return Take(TK_LPAREN, 1);
    case L')':
      return Take(TK_RPAREN, 1);
    case L',':
      return Take(TK_COMMA, 1);
    case L'=':
      return next == L'=' ? Take(TK_EQUAL, 2) : Take(TK_ASSIGN, 1);
    case L'!':
      return next == L'=' ? Take(TK_NOTEQUAL, 2) : Take(TK_ERROR, 1);
    case L'&':
      return next == L'&' ? Take(TK_AND, 2) : Take(TK_ERROR, 1);
    case L'|':
      return next == L'|' ? Take(TK_OR, 2) : Take(TK_ERROR, 1);
    case L'"':
      return ReadString();
    case L'$': {
      if (next != L'(') return Take(TK_ERROR, 1);
      std::size_t i = pos_ + 2;
      while (i < src_.size() && src_[i] != L')' && !IsLineEnd(src_[i])) ++i;
      if (i < src_.size() && src_[i] == L')') return Take(TK_MACRO, i + 1 - pos_);
      return Take(TK_ERROR, i - pos_);  // unclosed: up to the end of the line
    }
    default:
      break;
  }

  if (IsLetter(c)) {
    std::size_t end = pos_ + 1;
    while (end < src_.size() && (IsLetter(src_[end]) || IsDigit(src_[end]))) ++end;
    const std::int32_t kind = WordKind(std::wstring_view(src_).substr(pos_, end - pos_));
    return Take(kind, end - pos_);
  }
  if (IsDigit(c)) {
    std::size_t end = pos_ + 1;
    while (end < src_.size() && IsDigit(src_[end])) ++end;
    return Take(TK_NUMBER, end - pos_);
  }
  return Take(TK_ERROR, 1);
}

std::int32_t CTokenizer::ReadString() {
  // pos_ is at the opening quote. The text collects the content with every
  // doubled quote undoubled.
  text_.clear();
  std::size_t i = pos_ + 1;
  while (i < src_.size() && !IsLineEnd(src_[i])) {
    // The run up to the next quote or line end is taken whole.
    std::size_t end = i;
    while (end < src_.size() && src_[end] != L'"' && !IsLineEnd(src_[end])) ++end;
    text_.append(src_, i, end - i);
    i = end;
    if (i >= src_.size() || src_[i] != L'"') break;
    if (i + 1 < src_.size() && src_[i + 1] == L'"') {
      text_.push_back(L'"');
      i += 2;
      continue;
    }
    pos_ = i + 1;
    return kind_ = TK_STRING;
  }
  // No closing quote on this line: the whole rest of the line is one error.
  return Take(TK_ERROR, i - pos_);
}

const std::wstring& CTokenizer::TokenText() const { return text_; }

std::int32_t CTokenizer::TokenLine() const { return tokenLine_; }
