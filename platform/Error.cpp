#include "platform/Error.h"

#include "platform/Text.h"

VslError::VslError(std::wstring description, int number)
    : description_(std::move(description)), number_(number), utf8_(text::ToUtf8(description_)) {}

std::wstring Describe(const std::exception& e) {
  if (const auto* error = dynamic_cast<const VslError*>(&e)) return error->Description();
  return text::FromUtf8(e.what());
}
