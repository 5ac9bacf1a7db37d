// The script file encoder over the POSIX file system.
#include <sys/stat.h>

#include <set>

#include "ToolsFixture.h"
#include "encoder/CFileEncoder.h"

namespace {

using EncoderTest = ToolsFixture;

std::string AllByteValues() {
  std::string bytes;
  for (int round = 0; round < 2; ++round)
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  return bytes;
}

TEST_F(EncoderTest, TablesArePermutationAndInverse) {
  CFileEncoder encoder;
  std::set<int> seen;
  for (int b = 0; b < 256; ++b) {
    const int e = encoder.EncTable()[static_cast<std::size_t>(b)];
    ASSERT_GE(e, 0);
    ASSERT_LE(e, 255);
    seen.insert(e);
    EXPECT_EQ(encoder.DecTable()[static_cast<std::size_t>(e)], b);
  }
  EXPECT_EQ(seen.size(), 256u);
}

TEST_F(EncoderTest, RoundTripOverEveryByteValue) {
  const std::string plain = AllByteValues();
  Write("plain", plain);
  CFileEncoder encoder;
  encoder.Encrypt(W("plain"), W("enc"));
  const std::string encrypted = Read("enc");
  ASSERT_EQ(encrypted.size(), plain.size());
  for (std::size_t i = 0; i < plain.size(); ++i)
    EXPECT_EQ(static_cast<std::uint8_t>(encrypted[i]),
              encoder.EncTable()[static_cast<std::uint8_t>(plain[i])]) << "byte " << i;
  encoder.Decrypt(W("enc"), W("back"));
  EXPECT_EQ(Read("back"), plain);
}

TEST_F(EncoderTest, EmptySourceGivesEmptyTarget) {
  Write("empty", "");
  CFileEncoder().Encrypt(W("empty"), W("out"));
  ASSERT_TRUE(Exists("out"));
  EXPECT_EQ(Read("out"), "");
}

TEST_F(EncoderTest, LongerTargetIsReplacedWhole) {
  Write("src", "short");
  for (bool encrypt : {true, false}) {
    Write("out", std::string(10000, 'x'));
    CFileEncoder encoder;
    if (encrypt)
      encoder.Encrypt(W("src"), W("out"));
    else
      encoder.Decrypt(W("src"), W("out"));
    EXPECT_EQ(Read("out").size(), 5u) << (encrypt ? "Encrypt" : "Decrypt");
  }
}

TEST_F(EncoderTest, MissingSourceRaisesAndTheTargetIsGone) {
  Write("out", "old");
  EXPECT_THROW(CFileEncoder().Decrypt(W("missing"), W("out")), VslError);
  EXPECT_FALSE(Exists("out"));
}

// The plain text of an encrypted script is for its owner alone, whatever
// the umask and whatever was at the target's name before.
TEST_F(EncoderTest, DecryptedFileIsPrivateToItsOwner) {
  Write("src", "MsgBox \"secret\"");
  const mode_t old = ::umask(0);
  struct Case {
    const char* name;
    std::function<void()> before;
  } cases[] = {
      {"new file", [] {}},
      {"world-readable file there", [&] { Write("out", "x"), ::chmod(H("out").c_str(), 0666); }},
      {"link to another file there",
       [&] { Write("victim", "v"), ::symlink(H("victim").c_str(), H("out").c_str()); }},
  };
  for (const auto& c : cases) {
    c.before();
    CFileEncoder().Decrypt(W("src"), W("out"));
    struct stat st {};
    ASSERT_EQ(::lstat(H("out").c_str(), &st), 0) << c.name;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << c.name;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << c.name;
    ::unlink(H("out").c_str());
  }
  ::umask(old);
  EXPECT_EQ(Read("victim"), "v");
}

TEST_F(EncoderTest, PrivateCreationRefusesAnExistingName) {
  Write("taken", "someone else's");
  ::symlink(H("nowhere").c_str(), H("dangling").c_str());
  for (const char* name : {"taken", "dangling"})
    EXPECT_THROW(platform::Fs().Open(W(name), platform::OpenMode::CreatePrivate), VslError) << name;
  EXPECT_FALSE(Exists("nowhere"));
  EXPECT_EQ(Read("taken"), "someone else's");
}

}  // namespace
