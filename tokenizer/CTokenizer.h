// The tokenizer: the only reader of script files. It turns a script into
// the token kinds of tokenizer/Tokens.h.
//
// Lexical rules: lines end with LF, CR LF or CR and are numbered from 1;
// white space separates tokens; '#' starts a comment to the end of the line;
// "..." is a string on one line in which "" stands for one quote (the text
// is delivered without the enclosing quotes); $( up to the first ) on the
// line is a macro reference; ( ) , == != = && || are operators; words are
// ASCII letters or '_' followed by letters, digits and '_', with IF THEN ELSE
// ENDIF AND OR and Shell recognised in any case and the keywords of the
// command table delivered as TK_KEYWORD with their text as written; a run of
// digits is TK_NUMBER; anything else is a one-character TK_ERROR. An
// unclosed string or macro reference is one TK_ERROR token up to the end of
// its line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class CTokenizer {
 public:
  CTokenizer();

  // Reads the script file as text through the platform's file system (a
  // UTF-8 byte order mark is skipped) and positions before its first token.
  // Raises VslError when the file cannot be read.
  void OpenFile(const std::wstring& sFileName);
  // Uses `source` as the script text (for tests and tools).
  void OpenText(std::wstring source);

  // Advances to the next token and returns its kind; TK_EOF for ever after
  // the last token.
  std::int32_t NextToken();
  // Text of the current token, valid until the next token is read.
  const std::wstring& TokenText() const;
  // Line on which the current token starts; for TK_EOF the last line.
  std::int32_t TokenLine() const;

 private:
  void SkipBlanksAndComments();
  // Position of the first line end at or after `from` (or the text's end).
  std::size_t LineEndFrom(std::size_t from) const;
  // Makes the next `length` characters the current token of `kind`.
  std::int32_t Take(std::int32_t kind, std::size_t length);
  std::int32_t ReadString();

  std::wstring src_;
  std::size_t pos_ = 0;
  std::int32_t line_ = 1;  // line at pos_
  std::int32_t kind_ = 0;
  std::int32_t tokenLine_ = 1;
  std::wstring text_;
};
