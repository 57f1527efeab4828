// Password storage: hashes, plain text left by an imported database, and
// generated passwords.
#include <gtest/gtest.h>

#include <cctype>

#include "core/password.h"

namespace desk {
namespace {

using namespace desk::password;

TEST(Password, HashVerifiesOnlyTheSamePassword) {
  std::string h = hash("机密 secret", Cost::min);
  EXPECT_TRUE(is_hash(h));
  EXPECT_EQ(h.find("机密"), std::string::npos);
  Check ok = verify(h, "机密 secret");
  EXPECT_TRUE(ok.ok);
  EXPECT_FALSE(ok.rehash);
  EXPECT_FALSE(verify(h, "机密 Secret").ok);
  EXPECT_FALSE(verify(h, "").ok);
  EXPECT_FALSE(verify(h, h).ok);
  // A fresh salt each time.
  EXPECT_NE(hash("same", Cost::min), hash("same", Cost::min));
  // A damaged hash matches nothing.
  EXPECT_FALSE(verify(h.substr(0, h.size() - 4), "机密 secret").ok);
  EXPECT_FALSE(verify("$argon2id$", "").ok);
}

TEST(Password, PlainTextMatchesExactlyAndAsksForARehash) {
  Check c = verify("abc123", "abc123");
  EXPECT_TRUE(c.ok);
  EXPECT_TRUE(c.rehash);
  for (const char* typed : {"abc12", "abc1234", "ABC123", ""}) {
    Check bad = verify("abc123", typed);
    EXPECT_FALSE(bad.ok) << typed;
    EXPECT_FALSE(bad.rehash) << typed;
  }
}

TEST(Password, EmptyPasswords) {
  std::string h = hash("", Cost::min);
  EXPECT_TRUE(verify(h, "").ok);
  EXPECT_FALSE(verify(h, "x").ok);
  // An imported account without a password opens with an empty one only.
  EXPECT_TRUE(verify("", "").ok);
  EXPECT_TRUE(verify("", "").rehash);
  EXPECT_FALSE(verify("", "x").ok);
}

TEST(Password, GeneratedPasswordsAreUnambiguousLettersAndDigits) {
  std::string a = generate(40);
  EXPECT_EQ(a.size(), 40u);
  EXPECT_NE(a, generate(40));
  for (char c : a) {
    EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << c;
    EXPECT_EQ(std::string("lo01IO").find(c), std::string::npos) << c;
  }
}

}  // namespace
}  // namespace desk
