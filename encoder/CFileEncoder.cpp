#include "encoder/CFileEncoder.h"

#include <memory>

#include "platform/Platform.h"

namespace {

// A fixed permutation of the byte values: kEnc[b] is the encrypted value of
// b. Files encrypted by this table are what .EVS scripts of this system
// hold, so it never changes: tests/golden holds a script and its encrypted
// form, with every byte value, that pin it.
constexpr std::int16_t kEnc[256] = {
    120, 161, 214,  24,   8, 239, 167, 250,  91, 121,  88,  10,  37,   9, 129, 135,
     50, 254, 147, 136, 192, 115, 230, 116,  36, 241, 203, 207,  12,  62,  15,  56,
     55, 178, 206, 100,  69, 122, 139,  44, 221, 110,  61, 249,  17,  96, 113,  82,
     43, 211, 202,   3,  77, 134, 117, 170, 127, 166,  42,  14, 123, 172, 247, 228,
    126, 105,   0, 235,  32, 128,  35,  63, 200,   6, 197, 102,  19, 180,  84, 150,
    173,  41, 144,  87,  72,  78, 114,  29,   2, 201, 233,  27, 155,  26, 198, 163,
     73,  94, 238, 237, 103, 231, 234, 246, 212, 109, 162, 252, 104, 229,  66,  71,
    242,  57,  98,   5, 154,  86, 157, 188, 146, 142, 151, 179, 224,  25,  53, 232,
    169, 199,  79,  75, 216, 253, 186,  81, 210, 145, 208, 125,  85,  23,  83, 181,
    191,  13, 160, 171, 153,  28,  21, 218, 107, 187, 195, 209, 183,  90, 219,  39,
    131, 174,   4, 138, 130, 182,  31, 215,  67,  80, 245,  65, 190,  34, 168,  49,
    164, 149, 177, 226,  46, 225, 176, 204,  33,  59, 124, 193,  89, 196, 244, 119,
    132, 137,  51,  45,  54,  22,  20, 185, 251, 112,  93,  18, 106,  70, 141,  60,
    118,  47,  99, 236, 220,  11, 205, 189, 175, 184, 101,  52,  68, 158, 240,  97,
      1,  38, 243,  76,  58, 223, 159,  64,  74,  92, 248,  48, 255, 111, 148, 227,
    222, 156, 133, 217,  16, 143,  40,   7,  95,  30, 140, 213, 194, 152, 108, 165,
};

// Its inverse: kDec[kEnc[b]] == b for every byte value b.
constexpr std::int16_t kDec[256] = {
     66, 224,  88,  51, 162, 115,  73, 247,   4,  13,  11, 213,  28, 145,  59,  30,
    244,  44, 203,  76, 198, 150, 197, 141,   3, 125,  93,  91, 149,  87, 249, 166,
     68, 184, 173,  70,  24,  12, 225, 159, 246,  81,  58,  48,  39, 195, 180, 209,
    235, 175,  16, 194, 219, 126, 196,  32,  31, 113, 228, 185, 207,  42,  29,  71,
    231, 171, 110, 168, 220,  36, 205, 111,  84,  96, 232, 131, 227,  52,  85, 130,
    169, 135,  47, 142,  78, 140, 117,  83,  10, 188, 157,   8, 233, 202,  97, 248,
     45, 223, 114, 210,  35, 218,  75, 100, 108,  65, 204, 152, 254, 105,  41, 237,
    201,  46,  86,  21,  23,  54, 208, 191,   0,   9,  37,  60, 186, 139,  64,  56,
     69,  14, 164, 160, 192, 242,  53,  15,  19, 193, 163,  38, 250, 206, 121, 245,
     82, 137, 120,  18, 238, 177,  79, 122, 253, 148, 116,  92, 241, 118, 221, 230,
    146,   1, 106,  95, 176, 255,  57,   6, 174, 128,  55, 147,  61,  80, 161, 216,
    182, 178,  33, 123,  77, 143, 165, 156, 217, 199, 134, 153, 119, 215, 172, 144,
     20, 187, 252, 154, 189,  74,  94, 129,  72,  89,  50,  26, 183, 214,  34,  27,
    138, 155, 136,  49, 104, 251,   2, 167, 132, 243, 151, 158, 212,  40, 240, 229,
    124, 181, 179, 239,  63, 109,  22, 101, 127,  90, 102,  67, 211,  99,  98,   5,
    222,  25, 112, 226, 190, 170, 103,  62, 234,  43,   7, 200, 107, 133,  17, 236,
};

}  // namespace

CFileEncoder::CFileEncoder() {
  for (int b = 0; b < 256; ++b) {
    aEncTable[static_cast<std::size_t>(b)] = kEnc[b];
    aDecTable[static_cast<std::size_t>(b)] = kDec[b];
  }
}

void CFileEncoder::Encrypt(const std::wstring& sSrcFile, const std::wstring& sTargetFile) {
  Transform(sSrcFile, sTargetFile, aEncTable, false);
}

void CFileEncoder::Decrypt(const std::wstring& sSrcFile, const std::wstring& sTargetFile) {
  Transform(sSrcFile, sTargetFile, aDecTable, true);
}

void CFileEncoder::Transform(const std::wstring& sSrcFile, const std::wstring& sTargetFile,
                             const std::array<std::int16_t, 256>& table, bool privateTarget) {
  // No part of an older, longer target may survive; and a target created
  // new cannot be a file or a link that someone else left under its name.
  DeleteFileQuietly(sTargetFile);
  platform::FileSystem& fs = platform::Fs();
  std::unique_ptr<platform::File> source = fs.Open(sSrcFile, platform::OpenMode::Read);
  std::unique_ptr<platform::File> target =
      fs.Open(sTargetFile, privateTarget ? platform::OpenMode::CreatePrivate : platform::OpenMode::Write);
  std::string buffer = source->ReadAll();
  Substitute(buffer, table);
  target->Write(buffer);
}

void CFileEncoder::Substitute(std::string& bytes, const std::array<std::int16_t, 256>& table) {
  for (char& c : bytes) c = static_cast<char>(static_cast<std::uint8_t>(table[static_cast<std::uint8_t>(c)]));
}

void CFileEncoder::DeleteFileQuietly(const std::wstring& sFile) {
  try {
    platform::Fs().RemoveFile(sFile);
  } catch (const VslError&) {
    // No such file, no access: the caller finds out when it opens the file.
  }
}
