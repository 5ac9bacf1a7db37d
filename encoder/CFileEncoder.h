// The script file encoder: a plain script becomes an encrypted (.EVS) file
// and back through a fixed byte-for-byte substitution. The encrypted file
// has exactly as many bytes as the plain one, with no header or check
// value. It hides a script from casual reading only: whoever has the table
// (vsltool, or one file in both forms) reads it, and nothing tells a
// damaged file from a good one.
#pragma once

#include <array>
#include <cstdint>
#include <string>

class CFileEncoder {
 public:
  // Fills both tables.
  CFileEncoder();

  // Writes the encrypted form of sSrcFile to sTargetFile. The target is
  // deleted first, so the two must be different files; it is then created
  // new with the usual rights.
  void Encrypt(const std::wstring& sSrcFile, const std::wstring& sTargetFile);
  // The same with the inverse table. The plain text is written to a new
  // file that only its owner can read (Fs().Open with CreatePrivate).
  void Decrypt(const std::wstring& sSrcFile, const std::wstring& sTargetFile);

  // The same substitutions on bytes in memory, in place.
  void EncryptBytes(std::string& bytes) const { Substitute(bytes, aEncTable); }
  void DecryptBytes(std::string& bytes) const { Substitute(bytes, aDecTable); }

 private:
  void Transform(const std::wstring& sSrcFile, const std::wstring& sTargetFile,
                 const std::array<std::int16_t, 256>& table, bool privateTarget);
  static void Substitute(std::string& bytes, const std::array<std::int16_t, 256>& table);
  // Deletes a file and ignores every failure.
  static void DeleteFileQuietly(const std::wstring& sFile);

  std::array<std::int16_t, 256> aEncTable;
  std::array<std::int16_t, 256> aDecTable;
};
