#include "platform/Error.h"

#include "platform/Text.h"

VslError::VslError(std::wstring description, int number)
    : description_(std::move(description)), number_(number), utf8_(text::ToUtf8(description_)) {}
