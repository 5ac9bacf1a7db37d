// The script file encoder over the POSIX file system.
#include <set>

#include "Doubles.h"
#include "encoder/CFileEncoder.h"

using Encoder = ScratchPlatform;

// A script and its encrypted form made when the pair was added, holding every byte value between them:
// files encrypted then decrypt the same way now, and the other way round.
TEST_F(Encoder, TheGoldenPairTurnsIntoEachOther) {
  const std::string golden = std::string(VSL_SOURCE_DIR) + "/tests/golden/all_bytes";
  auto read = [&](const char* e) { return fs.Open(text::FromUtf8(golden + e), platform::OpenMode::Read)->ReadAll(); };
  const std::string plain = read(".vsl"), encrypted = read(".evs");
  ASSERT_EQ(std::set<char>(plain.begin(), plain.end()).size(), 256u);
  ASSERT_EQ(encrypted.size(), plain.size());
  CFileEncoder encoder;
  encoder.Encrypt(text::FromUtf8(golden + ".vsl"), m.Path(L"enc"));
  encoder.Decrypt(text::FromUtf8(golden + ".evs"), m.Path(L"dec"));
  EXPECT_TRUE(m.Read(L"enc") == encrypted && m.Read(L"dec") == plain);
  std::string bytes = plain;
  encoder.EncryptBytes(bytes);
  EXPECT_TRUE(bytes == encrypted);
  encoder.DecryptBytes(bytes);
  EXPECT_TRUE(bytes == plain);
}

TEST_F(Encoder, EmptyAndLongerTargetsAreReplacedWhole) {
  MakeTree(m, {{L"plain", std::string(512, 'p')}, {L"empty", ""}});
  CFileEncoder encoder;
  encoder.Encrypt(m.Path(L"empty"), m.Path(L"out"));
  EXPECT_TRUE(m.Exists(L"out") && m.Read(L"out").empty());
  for (bool encrypt : {true, false}) {  // an OUT longer than the result is replaced whole
    m.Write(L"out", std::string(10000, 'x'));
    encrypt ? encoder.Encrypt(m.Path(L"empty"), m.Path(L"out")) : encoder.Decrypt(m.Path(L"plain"), m.Path(L"out"));
    EXPECT_EQ(m.Read(L"out").size(), encrypt ? 0u : 512u) << encrypt;
  }
  EXPECT_THROW(encoder.Decrypt(m.Path(L"missing"), m.Path(L"out")), VslError);
  EXPECT_FALSE(m.Exists(L"out"));
}

// The decrypted copy is private whatever the umask and whatever had its name (nothing, a readable file, a link);
// an encrypted file is not.
TEST_F(Encoder, DecryptedFileIsPrivateToItsOwner) {
  MakeTree(m, {{L"src", "MsgBox \"secret\""}, {L"victim", "v"}});
  const mode_t old = ::umask(0);
  for (int before = 0; before < 3; ++before) {
    if (before == 1) m.Write(L"out", "x");
    if (before == 2) ::symlink(m.HostPath(L"victim").c_str(), m.HostPath(L"out").c_str());
    CFileEncoder().Decrypt(m.Path(L"src"), m.Path(L"out"));
    struct stat st {};
    EXPECT_EQ(::lstat(m.HostPath(L"out").c_str(), &st), 0) << before;
    EXPECT_EQ(st.st_mode & (S_IFMT | 0777), S_IFREG | 0600u) << before;
    ::unlink(m.HostPath(L"out").c_str());
  }
  CFileEncoder().Encrypt(m.Path(L"src"), m.Path(L"enc"));  // an encrypted file is made as any other file
  struct stat st {};
  EXPECT_TRUE(::stat(m.HostPath(L"enc").c_str(), &st) == 0 && (st.st_mode & 0777) == 0666);
  ::umask(old);
  ::symlink(m.HostPath(L"nowhere").c_str(), m.HostPath(L"dangling").c_str());
  for (const wchar_t* name : {L"victim", L"dangling"})  // private creation refuses a name in use
    EXPECT_THROW(platform::Fs().Open(m.Path(name), platform::OpenMode::CreatePrivate), VslError) << name;
  EXPECT_FALSE(m.Exists(L"nowhere"));
  EXPECT_EQ(m.Read(L"victim"), "v");
}
