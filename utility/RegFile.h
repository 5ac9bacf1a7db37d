// Registry files (.reg) as the Windows registry editor writes them, parsed
// and formatted without touching a registry.
//
// A file starts with "REGEDIT4" or "Windows Registry Editor Version 5.00";
// it is read as UTF-16LE when it starts with that byte order mark (as
// Windows writes version 5 files), otherwise as UTF-8 (a UTF-8 byte order
// mark is skipped). Lines end with CR LF, LF or CR. Then:
//
//   ; comment
//   [HKEY_LOCAL_MACHINE\Software\Key]      creates the key; the values
//                                          below it go into it
//   [-HKEY_LOCAL_MACHINE\Software\Key]     deletes the key and its subtree
//   "name"="text"   @="text"               a string value (REG_SZ); @ is the
//                                          key's default value; \\ and \"
//                                          stand for \ and " in names and text
//   "name"=dword:0000002a                  a REG_DWORD, up to 8 hex digits
//   "name"=hex:01,ff                       a REG_BINARY
//   "name"=hex(2):25,00,...                a REG_EXPAND_SZ, its text UTF-16LE
//                                          ending in a NUL (written so); in a
//                                          REGEDIT4 file also narrow text
//                                          (UTF-8) ending in a NUL
//   "name"=hex(N):..                       any other type N (hex digits),
//                                          hex(1) included: the bytes stored
//                                          as they are
//   "name"=-                               deletes the value
//
// Hex data continues on the next line after a trailing backslash. Only keys
// below HKEY_LOCAL_MACHINE are accepted: the registry has no other root.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace regfile {

enum class Format { Regedit4, Version5 };

constexpr const wchar_t* kRootName = L"HKEY_LOCAL_MACHINE";

struct Value {
  std::int32_t line = 0;  // where the value's line starts
  std::wstring name;      // "" for the default value (@)
  bool remove = false;    // "name"=-
  std::uint32_t type = 0;
  // A REG_SZ or REG_EXPAND_SZ value is held as text (without a terminating
  // NUL), unless it is `raw`: a REG_SZ given as hex(1), or one whose data is
  // no clean text. Every other value is held as its bytes, as stored (a
  // REG_DWORD little-endian).
  bool raw = false;
  std::wstring text;
  std::vector<std::uint8_t> bytes;
  bool HoldsText() const;
};

struct Section {
  std::int32_t line = 0;
  std::wstring path;  // below HKEY_LOCAL_MACHINE; "" is HKEY_LOCAL_MACHINE itself
  bool remove = false;
  std::vector<Value> values;
};

struct File {
  Format format = Format::Regedit4;
  std::vector<Section> sections;
};

struct Error {
  std::int32_t line = 0;
  std::wstring message;
};

// Reads a file as a stream, handing over what it holds as it goes: each
// [key] or [-key] line as a section (without values), then each of its
// value lines, and every malformed line as an error (the file is usable
// only when there are none). The bytes come in pieces of any size through
// Feed, then Finish; memory holds one line at a time.
class Reader {
 public:
  struct Events {
    std::function<void(const Section&)> section;
    std::function<void(const Section&, const Value&)> value;
    std::function<void(const Error&)> error;
  };
  explicit Reader(Events events);
  void Feed(std::string_view bytes);
  void Finish();
  // True once nothing more will be read: after Finish, or when the start
  // shows that this is no registry file.
  bool Stopped() const { return stopped_; }
  Format FileFormat() const { return format_; }

 private:
  // Before the first line only blank lines may come; a line longer than this
  // there shows that the file is no registry file.
  static constexpr std::size_t kLongestHeaderLine = 4096;

  static std::wstring NotARegistryFile();
  void StartWith(std::string_view bytes);
  void Split(std::string_view bytes);
  void EndLine();
  void Fail(std::int32_t line, std::wstring message);
  void Line(std::int32_t line, std::wstring_view text);
  void KeyLine(std::int32_t line, std::wstring_view s);
  void ValueLine(std::int32_t line, std::wstring_view s);
  void EndValue();
  std::wstring ValueData(std::wstring_view s, Value* value) const;

  Events events_;
  bool encodingKnown_ = false;
  bool utf16_ = false;
  std::string pending_;     // the bytes of the line not ended yet
  bool afterCr_ = false;    // the last line ended with CR: an LF next is part of its end
  std::int32_t line_ = 0;   // lines ended so far
  bool headerSeen_ = false;
  bool stopped_ = false;
  Format format_ = Format::Regedit4;
  bool haveSection_ = false;  // value lines go into section_
  Section section_;
  bool continuing_ = false;   // value_'s hex data goes on on the next line
  Value value_;
  std::wstring joined_;       // value_'s data so far
};

// Parses a whole file. Every malformed line adds an error; the file is
// usable only when there are none.
File Parse(std::string_view bytes, std::vector<Error>* errors);

// Writes the file's text (lines ending in LF), keys and values in the order
// given. A REG_EXPAND_SZ is written as hex(2) of its UTF-16LE text with the
// NUL. A REG_SZ text that holds a line break cannot stand between quotes
// and is written as hex(1) of its UTF-8 bytes with the NUL; a name that
// holds a line break cannot be written at all and is reported in `errors`
// (with line 0).
std::wstring ToText(const File& file, std::vector<Error>* errors);
// The same in pieces, for a file written as it is read: the first line,
// then each section's text.
std::wstring HeaderText(Format format);
std::wstring SectionText(const Section& section, std::vector<Error>* errors);

// The path below HKEY_LOCAL_MACHINE that a key name given by a user means:
// "Software\X", "HKEY_LOCAL_MACHINE\Software\X" and "HKLM\Software\X" all
// give "Software\X". False for a name under another root.
bool KeyBelowRoot(const std::wstring& name, std::wstring* path);

}  // namespace regfile
