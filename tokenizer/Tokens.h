// Token kinds delivered by the tokenizer.
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
