// The operating-system neutral part of the file interface.

#include <gtest/gtest.h>

#include "platform/files.h"

namespace orvel {
namespace {

TEST(MatchesPattern, WildcardsIgnoreCase) {
  EXPECT_TRUE(MatchesPattern("FW.KVF", "*.kvf"));
  EXPECT_TRUE(MatchesPattern(".kvf", "*.kvf"));
  EXPECT_TRUE(MatchesPattern("a.b.kvf", "*.kvf"));
  EXPECT_FALSE(MatchesPattern("a.kvf.bak", "*.kvf"));
  EXPECT_FALSE(MatchesPattern("akvf", "*.kvf"));
  EXPECT_TRUE(MatchesPattern("CDRWFW07.BIN", "CDRWFW0?.bin"));
  EXPECT_FALSE(MatchesPattern("CDRWFW7.BIN", "CDRWFW0?.bin"));
  EXPECT_TRUE(MatchesPattern("anything", "*"));
  EXPECT_TRUE(MatchesPattern("", "*"));
  EXPECT_FALSE(MatchesPattern("", "?"));
  EXPECT_TRUE(MatchesPattern("abcabcx", "*abc*x"));
  EXPECT_FALSE(MatchesPattern("abcabcy", "*abc*x"));
}

}  // namespace
}  // namespace orvel
