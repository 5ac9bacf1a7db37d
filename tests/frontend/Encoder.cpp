// The script file encoder over the POSIX file system.
#include <sys/stat.h>

#include "Doubles.h"
#include "encoder/CFileEncoder.h"

namespace {

using Encoder = ScratchPlatform;

TEST_F(Encoder, RoundTripOverEveryByteValueEmptyAndLongerOut) {
  std::string plain;
  for (int b = 0; b < 512; ++b) plain.push_back(static_cast<char>(b));
  Write("plain", plain);
  CFileEncoder encoder;
  encoder.Encrypt(W("plain"), W("enc"));
  const std::string enc = Read("enc");
  ASSERT_EQ(enc.size(), plain.size());
  for (std::size_t i = 0; i < plain.size(); ++i)
    ASSERT_EQ(static_cast<std::uint8_t>(enc[i]), encoder.EncTable()[static_cast<std::uint8_t>(plain[i])]) << i;
  encoder.Decrypt(W("enc"), W("back"));
  EXPECT_EQ(Read("back"), plain);
  Write("empty", "");
  encoder.Encrypt(W("empty"), W("out"));
  EXPECT_TRUE(std::filesystem::exists(H("out")) && Read("out").empty());
  for (bool encrypt : {true, false}) {  // an OUT longer than the result is replaced whole
    Write("out", std::string(10000, 'x'));
    encrypt ? encoder.Encrypt(W("empty"), W("out")) : encoder.Decrypt(W("plain"), W("out"));
    EXPECT_EQ(Read("out").size(), encrypt ? 0u : 512u) << encrypt;
  }
  EXPECT_THROW(encoder.Decrypt(W("missing"), W("out")), VslError);
  EXPECT_FALSE(std::filesystem::exists(H("out")));
}

// The decrypted copy is for its owner alone, whatever the umask and whatever
// had its name before (nothing, a file others may read, a link); private
// creation itself refuses a name in use.
TEST_F(Encoder, DecryptedFileIsPrivateToItsOwner) {
  Write("src", "MsgBox \"secret\"");
  Write("victim", "v");
  const mode_t old = ::umask(0);
  for (int before = 0; before < 3; ++before) {
    if (before == 1) Write("out", "x"), ::chmod(H("out").c_str(), 0666);
    if (before == 2) ::symlink(H("victim").c_str(), H("out").c_str());
    CFileEncoder().Decrypt(W("src"), W("out"));
    struct stat st {};
    EXPECT_EQ(::lstat(H("out").c_str(), &st), 0) << before;
    EXPECT_EQ(st.st_mode & (S_IFMT | 0777), S_IFREG | 0600u) << before;
    ::unlink(H("out").c_str());
  }
  ::umask(old);
  ::symlink(H("nowhere").c_str(), H("dangling").c_str());
  for (const char* name : {"victim", "dangling"})
    EXPECT_THROW(platform::Fs().Open(W(name), platform::OpenMode::CreatePrivate), VslError) << name;
  EXPECT_FALSE(std::filesystem::exists(H("nowhere")));
  EXPECT_EQ(Read("victim"), "v");
}

}  // namespace
