#include "platform/win32/Registry.h"

#include <algorithm>
#include <vector>

namespace win32 {

using platform::RegKey;

namespace {

HKEY Native(RegKey key) {
  if (key == platform::kHKeyLocalMachine) return HKEY_LOCAL_MACHINE;
  return reinterpret_cast<HKEY>(key);
}

RegKey Portable(HKEY key) { return reinterpret_cast<RegKey>(key); }

}  // namespace

long Win32Registry::OpenKey(RegKey parent, const std::wstring& subKey, std::uint32_t access, RegKey* result) {
  if (result == nullptr) return kErrorInvalidParameter;
  *result = 0;
  std::string name;
  if (!ToAnsi(subKey, &name)) return kErrorInvalidParameter;
  HKEY opened = nullptr;
  const LONG rc = ::RegOpenKeyExA(Native(parent), name.c_str(), 0, access, &opened);
  if (rc == ERROR_SUCCESS) *result = Portable(opened);
  return rc;
}

long Win32Registry::CreateKey(RegKey parent, const std::wstring& subKey, RegKey* result) {
  if (result == nullptr) return kErrorInvalidParameter;
  *result = 0;
  std::string name;
  if (!ToAnsi(subKey, &name)) return kErrorInvalidParameter;
  HKEY created = nullptr;
  const LONG rc = ::RegCreateKeyA(Native(parent), name.c_str(), &created);
  if (rc == ERROR_SUCCESS) *result = Portable(created);
  return rc;
}

long Win32Registry::QueryValue(RegKey key, const std::wstring& name, std::uint32_t* type, std::uint8_t* data,
                               std::uint32_t* size) {
  std::string value;
  if (!ToAnsi(name, &value)) return kErrorInvalidParameter;
  DWORD t = 0;
  DWORD s = size != nullptr ? *size : 0;
  const LONG rc = ::RegQueryValueExA(Native(key), value.c_str(), nullptr, &t, data, size != nullptr ? &s : nullptr);
  if (type != nullptr) *type = t;
  if (size != nullptr) *size = s;
  return rc;
}

long Win32Registry::SetValue(RegKey key, const std::wstring& name, std::uint32_t type, const std::uint8_t* data,
                             std::uint32_t size) {
  std::string value;
  if (!ToAnsi(name, &value)) return kErrorInvalidParameter;
  return ::RegSetValueExA(Native(key), value.c_str(), 0, type, data, size);
}

long Win32Registry::QueryString(RegKey key, const std::wstring& name, std::uint32_t bufferBytes, std::wstring* text) {
  if (text == nullptr) return kErrorInvalidParameter;
  std::vector<std::uint8_t> buffer(bufferBytes);
  std::uint32_t size = bufferBytes;
  std::uint32_t type = 0;
  const long rc = QueryValue(key, name, &type, buffer.empty() ? nullptr : buffer.data(), &size);
  if (rc != ERROR_SUCCESS) return rc;
  if (buffer.empty() && size > 0) return ERROR_MORE_DATA;
  if (type != REG_SZ) return platform::kErrorUnsupportedType;
  // The text is what comes before its NUL (a value stored without one ends
  // with its data).
  std::size_t n = 0;
  while (n < size && buffer[n] != 0) ++n;
  *text = FromAnsi(std::string_view(reinterpret_cast<const char*>(buffer.data()), n));
  return ERROR_SUCCESS;
}

long Win32Registry::SetString(RegKey key, const std::wstring& name, const std::wstring& text) {
  std::string bytes = ToAnsiLossy(text);
  bytes.push_back('\0');
  return SetValue(key, name, REG_SZ, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                  static_cast<std::uint32_t>(bytes.size()));
}

long Win32Registry::EnumValue(RegKey key, std::uint32_t index, std::wstring* name, std::uint32_t* type,
                              std::vector<std::uint8_t>* data) {
  // Buffers as large as the key's longest name and data, as the key reports
  // them; a value that grew meanwhile is read again with larger ones.
  DWORD nameChars = 0, dataBytes = 0;
  LONG rc = ::RegQueryInfoKeyA(Native(key), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &nameChars, &dataBytes, nullptr, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  for (;;) {
    std::vector<char> nameBuffer(nameChars + 1);
    std::vector<std::uint8_t> dataBuffer(dataBytes + 1);
    DWORD nameLength = static_cast<DWORD>(nameBuffer.size());
    DWORD dataLength = static_cast<DWORD>(dataBuffer.size());
    DWORD t = 0;
    rc = ::RegEnumValueA(Native(key), index, nameBuffer.data(), &nameLength, nullptr, &t, dataBuffer.data(),
                         &dataLength);
    if (rc == ERROR_MORE_DATA) {
      nameChars = nameChars * 2 + 256;
      dataBytes = std::max<DWORD>(dataBytes * 2, dataLength);
      continue;
    }
    if (rc != ERROR_SUCCESS) return rc;
    if (name != nullptr) *name = FromAnsi(std::string_view(nameBuffer.data(), nameLength));
    if (type != nullptr) *type = t;
    if (data != nullptr) data->assign(dataBuffer.begin(), dataBuffer.begin() + dataLength);
    return ERROR_SUCCESS;
  }
}

std::string Win32Registry::EncodeText(const std::wstring& text) { return ToAnsiLossy(text); }

std::wstring Win32Registry::DecodeText(std::string_view bytes) { return FromAnsi(bytes); }

long Win32Registry::EnumKey(RegKey key, std::uint32_t index, std::uint32_t capacity, std::wstring* name) {
  if (name == nullptr || capacity == 0) return kErrorInvalidParameter;
  std::vector<char> buffer(capacity);
  DWORD length = capacity;
  const LONG rc = ::RegEnumKeyExA(Native(key), index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
  if (rc == ERROR_SUCCESS) *name = FromAnsi(std::string_view(buffer.data(), length));
  return rc;
}

long Win32Registry::DeleteKey(RegKey parent, const std::wstring& subKey) {
  std::string name;
  if (!ToAnsi(subKey, &name)) return kErrorInvalidParameter;
  return ::RegDeleteKeyA(Native(parent), name.c_str());
}

long Win32Registry::DeleteValue(RegKey key, const std::wstring& name) {
  std::string value;
  if (!ToAnsi(name, &value)) return kErrorInvalidParameter;
  return ::RegDeleteValueA(Native(key), value.c_str());
}

long Win32Registry::CloseKey(RegKey key) {
  if (key == platform::kHKeyLocalMachine) return ERROR_SUCCESS;
  return ::RegCloseKey(Native(key));
}

void Win32Registry::Transact(const std::function<void()>& work) { work(); }

}  // namespace win32
