// The script file encoder over the POSIX file system.
#include <set>

#include "Doubles.h"
#include "encoder/CFileEncoder.h"

using Encoder = ScratchPlatform;

// A script and its encrypted form made when the pair was added, holding every byte value between them:
// files encrypted then decrypt the same way now, and the other way round.
TEST_F(Encoder, TheGoldenPairTurnsIntoEachOther) {
  const std::string golden = std::string(VSL_SOURCE_DIR) + "/tests/golden/all_bytes";
  const std::string plain = Scratch::ReadHost(golden + ".vsl"), encrypted = Scratch::ReadHost(golden + ".evs");
  ASSERT_EQ(std::set<char>(plain.begin(), plain.end()).size(), 256u);
  ASSERT_EQ(encrypted.size(), plain.size());
  CFileEncoder encoder;
  encoder.Encrypt(text::FromUtf8(golden + ".vsl"), dir.W("enc"));
  encoder.Decrypt(text::FromUtf8(golden + ".evs"), dir.W("dec"));
  EXPECT_TRUE(dir.Read("enc") == encrypted && dir.Read("dec") == plain);
  std::string bytes = plain;
  encoder.EncryptBytes(bytes);
  EXPECT_TRUE(bytes == encrypted);
  encoder.DecryptBytes(bytes);
  EXPECT_TRUE(bytes == plain);
}

TEST_F(Encoder, EmptyAndLongerTargetsAreReplacedWhole) {
  dir.Make("plain", std::string(512, 'p'));
  dir.Make("empty", "");
  CFileEncoder encoder;
  encoder.Encrypt(dir.W("empty"), dir.W("out"));
  EXPECT_TRUE(dir.Exists("out") && dir.Read("out").empty());
  for (bool encrypt : {true, false}) {  // an OUT longer than the result is replaced whole
    dir.Make("out", std::string(10000, 'x'));
    encrypt ? encoder.Encrypt(dir.W("empty"), dir.W("out")) : encoder.Decrypt(dir.W("plain"), dir.W("out"));
    EXPECT_EQ(dir.Read("out").size(), encrypt ? 0u : 512u) << encrypt;
  }
  EXPECT_THROW(encoder.Decrypt(dir.W("missing"), dir.W("out")), VslError);
  EXPECT_FALSE(dir.Exists("out"));
}

// The decrypted copy is private whatever the umask and whatever had its name (nothing, a readable file, a link).
TEST_F(Encoder, DecryptedFileIsPrivateToItsOwner) {
  dir.Make("src", "MsgBox \"secret\"");
  dir.Make("victim", "v");
  const mode_t old = ::umask(0);
  for (int before = 0; before < 3; ++before) {
    if (before == 1) dir.Make("out", "x", 0666);
    if (before == 2) ::symlink(dir.H("victim").c_str(), dir.H("out").c_str());
    CFileEncoder().Decrypt(dir.W("src"), dir.W("out"));
    struct stat st {};
    EXPECT_EQ(::lstat(dir.H("out").c_str(), &st), 0) << before;
    EXPECT_EQ(st.st_mode & (S_IFMT | 0777), S_IFREG | 0600u) << before;
    ::unlink(dir.H("out").c_str());
  }
  ::umask(old);
  ::symlink(dir.H("nowhere").c_str(), dir.H("dangling").c_str());
  for (const char* name : {"victim", "dangling"})  // private creation refuses a name in use
    EXPECT_THROW(platform::Fs().Open(dir.W(name), platform::OpenMode::CreatePrivate), VslError) << name;
  EXPECT_FALSE(dir.Exists("nowhere"));
  EXPECT_EQ(dir.Read("victim"), "v");
}
