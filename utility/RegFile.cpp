#include "utility/RegFile.h"

#include <cwchar>

#include "platform/Platform.h"
#include "platform/Text.h"

namespace regfile {

namespace {

constexpr const wchar_t* kHeader4 = L"REGEDIT4";
constexpr const wchar_t* kHeader5 = L"Windows Registry Editor Version 5.00";
// Hex data is wrapped after this many characters on a line, as the
// registry editor wraps it.
constexpr std::size_t kWrapColumn = 76;

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring_view TrimRight(std::wstring_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::wstring_view TrimLeft(std::wstring_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

bool StartsWithNoCase(std::wstring_view s, std::wstring_view prefix) {
  return s.size() >= prefix.size() && text::EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

// Reads a quoted string at the start of `s` (which begins with the opening
// quote), undoing \\ and \"; `s` is left after the closing quote. An error
// message when it is malformed, else "".
std::wstring ReadQuoted(std::wstring_view& s, std::wstring* out) {
  out->clear();
  std::size_t i = 1;
  for (; i < s.size(); ++i) {
    const wchar_t c = s[i];
    if (c == L'"') {
      s.remove_prefix(i + 1);
      return L"";
    }
    if (c == L'\\') {
      if (i + 1 < s.size() && (s[i + 1] == L'\\' || s[i + 1] == L'"')) {
        out->push_back(s[++i]);
        continue;
      }
      return L"a backslash in a quoted string must be doubled or stand before a quote";
    }
    out->push_back(c);
  }
  return L"the quoted string has no closing quote";
}

// Reads comma-separated hex bytes ("01,ff, 2a"); an error message or "".
std::wstring ReadHexBytes(std::wstring_view s, std::vector<std::uint8_t>* bytes) {
  bytes->clear();
  s = TrimRight(TrimLeft(s));
  if (s.empty()) return L"";
  while (true) {
    s = TrimLeft(s);
    std::size_t n = 0;
    int value = 0;
    // A byte has at most two digits: the value of a longer run is never
    // needed (nor could it be held).
    while (n < s.size() && HexDigit(s[n]) >= 0 && n < 3) value = value * 16 + HexDigit(s[n++]);
    if (n == 0 || n > 2) return L"hex data must be bytes of one or two hex digits separated by commas";
    bytes->push_back(static_cast<std::uint8_t>(value));
    s = TrimLeft(s.substr(n));
    if (s.empty()) return L"";
    if (s.front() != L',') return L"hex data must be bytes of one or two hex digits separated by commas";
    s.remove_prefix(1);
  }
}

// The text of a REG_EXPAND_SZ given in hex: UTF-16LE in a version 5 file.
// A REGEDIT4 file may hold either that or narrow text (UTF-8 here): data of
// even length ending in two NUL bytes is UTF-16LE, as narrow text ends in one
// NUL after a character that is not NUL. A terminating NUL is dropped.
std::wstring HexText(Format format, const std::vector<std::uint8_t>& bytes) {
  const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  const bool utf16 = format == Format::Version5 ||
                     (view.size() >= 2 && view.size() % 2 == 0 && view.ends_with(std::string_view("\0\0", 2)));
  std::wstring text = utf16 ? text::FromUtf16Le(view) : text::FromUtf8(view);
  if (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

std::vector<std::uint8_t> TextBytes(Format format, const std::wstring& text) {
  std::wstring withNul = text;
  withNul.push_back(L'\0');
  const std::string bytes = format == Format::Version5 ? text::ToUtf16Le(withNul) : text::ToUtf8(withNul);
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

std::wstring Quoted(const std::wstring& s) {
  std::wstring out = L"\"";
  for (wchar_t c : s) {
    if (c == L'\\' || c == L'"') out.push_back(L'\\');
    out.push_back(c);
  }
  return out + L"\"";
}

bool HasLineBreak(const std::wstring& s) { return s.find_first_of(L"\r\n") != std::wstring::npos; }

// "hex:" or "hex(N):" and the bytes, wrapped as the registry editor wraps
// them: a trailing backslash, the next line indented by two blanks.
std::wstring HexData(std::wstring line, std::uint32_t type, const std::vector<std::uint8_t>& bytes) {
  std::wstring out;
  if (type == platform::kRegBinary) {
    line += L"hex:";
  } else {
    wchar_t head[16];
    std::swprintf(head, 16, L"hex(%x):", static_cast<unsigned>(type));
    line += head;
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    wchar_t hex[4];
    std::swprintf(hex, 4, L"%02x", static_cast<unsigned>(bytes[i]));
    line += hex;
    if (i + 1 == bytes.size()) break;
    line += L',';
    if (line.size() >= kWrapColumn) {
      out += line + L"\\\n";
      line = L"  ";
    }
  }
  return out + line;
}

std::wstring ValueLine(const Value& v) {
  std::wstring line = (v.name.empty() ? std::wstring(L"@") : Quoted(v.name)) + L"=";
  if (v.remove) return line + L"-";
  if (v.HoldsText()) {
    if (v.type == platform::kRegSz && !HasLineBreak(v.text)) return line + Quoted(v.text);
    // A REG_SZ with a line break cannot stand between quotes: it goes as
    // hex(1) with the UTF-8 bytes stored on POSIX. A REG_EXPAND_SZ is
    // written in UTF-16LE, as the registry editor writes it.
    const Format bytesFormat = v.type == platform::kRegSz ? Format::Regedit4 : Format::Version5;
    return HexData(line, v.type, TextBytes(bytesFormat, v.text));
  }
  if (v.type == platform::kRegDword && v.bytes.size() == 4) {
    wchar_t hex[16];
    const std::uint32_t d = static_cast<std::uint32_t>(v.bytes[0]) | static_cast<std::uint32_t>(v.bytes[1]) << 8 |
                            static_cast<std::uint32_t>(v.bytes[2]) << 16 | static_cast<std::uint32_t>(v.bytes[3]) << 24;
    std::swprintf(hex, 16, L"dword:%08x", static_cast<unsigned>(d));
    return line + hex;
  }
  return HexData(line, v.type, v.bytes);
}

}  // namespace

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

Reader::Reader(Events events) : events_(std::move(events)) {}

void Reader::Feed(std::string_view bytes) {
  if (stopped_) return;
  if (!encodingKnown_) {
    // The byte order mark decides: up to three bytes are needed to see it.
    pending_.append(bytes);
    if (pending_.size() < 3 && !pending_.starts_with("\xFF\xFE")) return;
    std::string start;
    start.swap(pending_);
    StartWith(start);
    return;
  }
  Split(bytes);
}

void Reader::StartWith(std::string_view bytes) {
  encodingKnown_ = true;
  if (bytes.starts_with("\xFF\xFE")) {
    utf16_ = true;
    bytes.remove_prefix(2);
  } else if (bytes.starts_with("\xEF\xBB\xBF")) {
    bytes.remove_prefix(3);
  }
  Split(bytes);
}

void Reader::Split(std::string_view bytes) {
  // Lines end with CR LF, LF or CR: in UTF-16LE as whole code units, in
  // UTF-8 as single bytes, which are never part of a longer character. A
  // piece may end inside a code unit, and between the CR and the LF of a
  // line end.
  const std::size_t unit = utf16_ ? 2 : 1;
  std::size_t start = 0;
  std::size_t i = 0;
  if (utf16_ && pending_.size() % 2 == 1 && !bytes.empty()) {
    // The half of a code unit that the last piece ended with.
    pending_.push_back(bytes[0]);
    start = i = 1;
    const char low = pending_[pending_.size() - 2];
    const bool lineEnd = pending_.back() == '\0' && (low == '\r' || low == '\n');
    if (lineEnd) pending_.resize(pending_.size() - 2);
    if (lineEnd && !(low == '\n' && afterCr_)) EndLine();
    afterCr_ = lineEnd && low == '\r';
    if (stopped_) return;
  }
  for (; i + unit <= bytes.size(); i += unit) {
    const char c = bytes[i];
    if ((c != '\r' && c != '\n') || (utf16_ && bytes[i + 1] != '\0')) {
      afterCr_ = false;
      continue;
    }
    if (c == '\n' && afterCr_) {
      // The LF of a CR LF: the line ended at the CR.
      afterCr_ = false;
      start = i + unit;
      continue;
    }
    pending_.append(bytes.substr(start, i - start));
    EndLine();
    afterCr_ = c == '\r';
    start = i + unit;
    if (stopped_) return;
  }
  pending_.append(bytes.substr(start));
  // Only half of a code unit may follow the CR for an LF still to come.
  afterCr_ = afterCr_ && pending_.size() < unit;
  // Before its first line a registry file has blank lines only: a long
  // line there shows that this is no registry file, without reading on.
  if (!headerSeen_ && pending_.size() > kLongestHeaderLine) {
    Fail(line_ + 1, NotARegistryFile());
    stopped_ = true;
  }
}

void Reader::EndLine() {
  const std::wstring text = utf16_ ? text::FromUtf16Le(pending_) : text::FromUtf8(pending_);
  pending_.clear();
  Line(++line_, text);
}

void Reader::Finish() {
  if (!stopped_) {
    if (!encodingKnown_) {
      std::string start;
      start.swap(pending_);
      StartWith(start);
    }
    if (!stopped_ && !pending_.empty()) EndLine();
  }
  if (!stopped_ && continuing_) {
    Fail(value_.line, L"the hex data continues past the end of the file");
    continuing_ = false;
  }
  if (!stopped_ && !headerSeen_) Fail(line_ + 1, NotARegistryFile());
  stopped_ = true;
}

std::wstring Reader::NotARegistryFile() {
  return std::wstring(L"not a registry file: it must start with ") + kHeader4 + L" or " + kHeader5;
}

void Reader::Fail(std::int32_t line, std::wstring message) {
  if (events_.error) events_.error({line, std::move(message)});
}

void Reader::Line(std::int32_t line, std::wstring_view text) {
  if (!headerSeen_) {
    const std::wstring_view first = TrimRight(text);
    if (first.empty()) return;
    if (first == kHeader4) {
      format_ = Format::Regedit4;
    } else if (first == kHeader5) {
      format_ = Format::Version5;
    } else {
      Fail(line, NotARegistryFile());
      stopped_ = true;
      return;
    }
    headerSeen_ = true;
    return;
  }
  if (continuing_) {
    // Hex data goes on after a trailing backslash, whatever the line holds.
    joined_ += TrimRight(TrimLeft(text));
    if (!joined_.empty() && joined_.back() == L'\\') {
      joined_.pop_back();
      return;
    }
    continuing_ = false;
    EndValue();
    return;
  }
  std::wstring_view s = TrimRight(TrimLeft(text));
  if (s.empty() || s.front() == L';') return;
  if (s.front() == L'[') {
    KeyLine(line, s);
  } else if (s.front() == L'"' || s.front() == L'@') {
    ValueLine(line, s);
  } else {
    Fail(line, L"expecting a [key], a \"name\"= or @= value line, or a ; comment");
  }
}

void Reader::KeyLine(std::int32_t line, std::wstring_view s) {
  haveSection_ = false;
  if (s.back() != L']') return Fail(line, L"a key line must end with ]");
  std::wstring_view name = s.substr(1, s.size() - 2);
  Section section;
  section.line = line;
  if (!name.empty() && name.front() == L'-') {
    section.remove = true;
    name.remove_prefix(1);
  }
  if (!KeyBelowRoot(std::wstring(name), &section.path))
    return Fail(line, L"only keys below HKEY_LOCAL_MACHINE can be imported: " + std::wstring(name));
  if (!StartsWithNoCase(name, kRootName))
    return Fail(line, L"the key must be named with its root, HKEY_LOCAL_MACHINE\\...: " + std::wstring(name));
  if (section.path.find(L"\\\\") != std::wstring::npos || (!section.path.empty() && section.path.front() == L'\\'))
    return Fail(line, L"the key path has an empty name in it: " + std::wstring(name));
  if (section.remove && section.path.empty()) return Fail(line, L"HKEY_LOCAL_MACHINE itself cannot be deleted");
  section_ = std::move(section);
  haveSection_ = true;
  if (events_.section) events_.section(section_);
}

void Reader::ValueLine(std::int32_t line, std::wstring_view s) {
  value_ = Value();
  value_.line = line;
  if (s.front() == L'@') {
    s.remove_prefix(1);
  } else if (std::wstring error = ReadQuoted(s, &value_.name); !error.empty()) {
    return Fail(line, L"value name: " + error);
  }
  s = TrimLeft(s);
  if (s.empty() || s.front() != L'=') return Fail(line, L"expecting = after the value name");
  s = TrimLeft(s.substr(1));
  joined_ = s;
  // Hex data continues on the lines after a trailing backslash.
  if (StartsWithNoCase(s, L"hex") && !joined_.empty() && joined_.back() == L'\\') {
    joined_.pop_back();
    continuing_ = true;
    return;
  }
  EndValue();
}

void Reader::EndValue() {
  const std::wstring data = std::move(joined_);
  joined_.clear();
  if (std::wstring error = ValueData(data, &value_); !error.empty()) return Fail(value_.line, error);
  if (!haveSection_) return Fail(value_.line, L"a value line must follow a [key] line");
  if (section_.remove) return Fail(value_.line, L"a value line cannot follow a [-key] line that deletes the key");
  if (events_.value) events_.value(section_, value_);
}

std::wstring Reader::ValueData(std::wstring_view s, Value* value) const {
  if (s == L"-") {
    value->remove = true;
    return L"";
  }
  if (!s.empty() && s.front() == L'"') {
    value->type = platform::kRegSz;
    if (std::wstring error = ReadQuoted(s, &value->text); !error.empty()) return L"value data: " + error;
    if (!TrimLeft(s).empty()) return L"text after the closing quote of the value";
    return L"";
  }
  if (StartsWithNoCase(s, L"dword:")) {
    s.remove_prefix(6);
    std::uint32_t v = 0;
    if (s.empty() || s.size() > 8) return L"dword: takes one to eight hex digits";
    for (wchar_t c : s) {
      if (HexDigit(c) < 0) return L"dword: takes one to eight hex digits";
      v = v * 16 + static_cast<std::uint32_t>(HexDigit(c));
    }
    value->type = platform::kRegDword;
    value->bytes = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                    static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    return L"";
  }
  if (StartsWithNoCase(s, L"hex")) {
    s.remove_prefix(3);
    value->type = platform::kRegBinary;
    if (!s.empty() && s.front() == L'(') {
      const std::size_t close = s.find(L')');
      if (close == std::wstring_view::npos || close == 1 || close > 9) return L"hex(N): needs a hex type number";
      std::uint32_t type = 0;
      for (wchar_t c : s.substr(1, close - 1)) {
        if (HexDigit(c) < 0) return L"hex(N): needs a hex type number";
        type = type * 16 + static_cast<std::uint32_t>(HexDigit(c));
      }
      value->type = type;
      s.remove_prefix(close + 1);
    }
    if (s.empty() || s.front() != L':') return L"expecting : after hex";
    std::vector<std::uint8_t> bytes;
    if (std::wstring error = ReadHexBytes(s.substr(1), &bytes); !error.empty()) return error;
    if (value->type == platform::kRegExpandSz) {
      value->text = HexText(format_, bytes);
    } else {
      value->raw = value->type == platform::kRegSz;
      value->bytes = std::move(bytes);
    }
    return L"";
  }
  return L"unknown value data: expecting \"text\", dword:, hex:, hex(N): or -";
}

bool Value::HoldsText() const { return (type == platform::kRegSz || type == platform::kRegExpandSz) && !raw; }

File Parse(std::string_view bytes, std::vector<Error>* errors) {
  File file;
  Reader::Events events;
  events.section = [&](const Section& section) { file.sections.push_back(section); };
  events.value = [&](const Section&, const Value& value) { file.sections.back().values.push_back(value); };
  events.error = [&](const Error& error) { errors->push_back(error); };
  Reader reader(std::move(events));
  reader.Feed(bytes);
  reader.Finish();
  file.format = reader.FileFormat();
  return file;
}

std::wstring HeaderText(Format format) {
  return std::wstring(format == Format::Version5 ? kHeader5 : kHeader4) + L"\n";
}

std::wstring SectionText(const Section& section, std::vector<Error>* errors) {
  if (HasLineBreak(section.path)) {
    errors->push_back({0, L"a key name holds a line break and cannot be written: " + section.path});
    return L"";
  }
  std::wstring out = L"\n[";
  if (section.remove) out += L"-";
  out += kRootName;
  if (!section.path.empty()) out += L"\\" + section.path;
  out += L"]\n";
  for (const Value& v : section.values) {
    if (HasLineBreak(v.name)) {
      errors->push_back({0, L"a value name in " + section.path + L" holds a line break and cannot be written"});
      continue;
    }
    out += ValueLine(v) + L"\n";
  }
  return out;
}

std::wstring ToText(const File& file, std::vector<Error>* errors) {
  std::wstring out = HeaderText(file.format);
  for (const Section& section : file.sections) out += SectionText(section, errors);
  return out;
}

bool KeyBelowRoot(const std::wstring& name, std::wstring* path) {
  std::wstring_view s(name);
  while (!s.empty() && s.back() == L'\\') s.remove_suffix(1);
  const std::size_t sep = s.find(L'\\');
  const std::wstring_view root = s.substr(0, sep);
  if (text::EqualsNoCase(root, kRootName) || text::EqualsNoCase(root, L"HKLM")) {
    *path = sep == std::wstring_view::npos ? std::wstring() : std::wstring(s.substr(sep + 1));
    return true;
  }
  if (StartsWithNoCase(root, L"HKEY_") || text::EqualsNoCase(root, L"HKCU") || text::EqualsNoCase(root, L"HKCR") ||
      text::EqualsNoCase(root, L"HKU") || text::EqualsNoCase(root, L"HKCC"))
    return false;
  *path = std::wstring(s);
  return true;
}

}  // namespace regfile
