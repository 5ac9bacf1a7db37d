// The script file encoder over the POSIX file system.
#include "Doubles.h"
#include "encoder/CFileEncoder.h"

using Encoder = ScratchPlatform;

TEST_F(Encoder, RoundTripOverEveryByteValueEmptyAndLongerOut) {
  std::string plain;
  for (int b = 0; b < 512; ++b) plain.push_back(static_cast<char>(b));
  dir.Make("plain", plain);
  CFileEncoder encoder;
  encoder.Encrypt(dir.W("plain"), dir.W("enc"));
  const std::string enc = dir.Read("enc");
  ASSERT_EQ(enc.size(), plain.size());
  for (std::size_t i = 0; i < plain.size(); ++i)
    ASSERT_EQ(static_cast<std::uint8_t>(enc[i]), encoder.EncTable()[static_cast<std::uint8_t>(plain[i])]) << i;
  encoder.Decrypt(dir.W("enc"), dir.W("back"));
  EXPECT_EQ(dir.Read("back"), plain);
  dir.Make("empty", "");
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
