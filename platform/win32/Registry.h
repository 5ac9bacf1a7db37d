// HKEY_LOCAL_MACHINE through advapi32's ANSI registry calls.
#pragma once

#include "platform/win32/Support.h"

#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace win32 {

// Return codes beyond the ones the interface names.
constexpr long kErrorInvalidParameter = ERROR_INVALID_PARAMETER;

// Handles are the HKEYs themselves; kHKeyLocalMachine stands for
// HKEY_LOCAL_MACHINE, whose value a 64-bit build sign-extends. A key or
// value name that the ANSI code page cannot represent, or that holds a NUL,
// reaches no key: the call answers ERROR_INVALID_PARAMETER.
class Win32Registry : public platform::Registry {
 public:
  long OpenKey(platform::RegKey parent, const std::wstring& subKey, std::uint32_t access,
               platform::RegKey* result) override;
  long CreateKey(platform::RegKey parent, const std::wstring& subKey, platform::RegKey* result) override;
  long QueryValue(platform::RegKey key, const std::wstring& name, std::uint32_t* type, std::uint8_t* data,
                  std::uint32_t* size) override;
  long SetValue(platform::RegKey key, const std::wstring& name, std::uint32_t type, const std::uint8_t* data,
                std::uint32_t size) override;
  long QueryString(platform::RegKey key, const std::wstring& name, std::uint32_t bufferBytes,
                   std::wstring* text) override;
  long SetString(platform::RegKey key, const std::wstring& name, const std::wstring& text) override;
  long EnumValue(platform::RegKey key, std::uint32_t index, std::wstring* name, std::uint32_t* type,
                 std::vector<std::uint8_t>* data) override;
  // Registry text is in the ANSI code page.
  std::string EncodeText(const std::wstring& text) override;
  std::wstring DecodeText(std::string_view bytes) override;
  long EnumKey(platform::RegKey key, std::uint32_t index, std::uint32_t capacity, std::wstring* name) override;
  long DeleteKey(platform::RegKey parent, const std::wstring& subKey) override;
  long DeleteValue(platform::RegKey key, const std::wstring& name) override;
  long CloseKey(platform::RegKey key) override;
  // The Windows registry has no transactions of this kind: the work runs
  // as it is.
  void Transact(const std::function<void()>& work) override;
};

}  // namespace win32
