// qvunpack's command line: its options, and the archive it names.
#include <gtest/gtest.h>

#include <vector>

#include "qvunpack/command_line.h"

TEST(UnpackCommandLine, OptionsAndOneName) {
  auto parse = [](std::vector<const char*> words) {
    words.insert(words.begin(), "qvunpack");
    CommandLineRefusal refusal;
    return parse_unpack_arguments(static_cast<int>(words.size()), const_cast<char**>(words.data()), refusal);
  };
  EXPECT_EQ(parse({"a", "b"}).archive, nullptr);  // one archive at a time
  UnpackOptions plain = parse({"b"});
  EXPECT_STREQ(plain.archive, "b");
  EXPECT_FALSE(plain.list_only);
  EXPECT_FALSE(plain.terse);
  UnpackOptions listing = parse({"-l", "backup"});
  EXPECT_STREQ(listing.archive, "backup");
  EXPECT_TRUE(listing.list_only);
  EXPECT_FALSE(listing.terse);
  UnpackOptions terse = parse({"backup", "-t"});
  EXPECT_STREQ(terse.archive, "backup");
  EXPECT_TRUE(terse.list_only);
  EXPECT_TRUE(terse.terse);
  EXPECT_STREQ(parse({"-"}).archive, "-");
  EXPECT_EQ(parse({"backup", "-x", "other"}).archive, nullptr);
  EXPECT_EQ(parse({"-L", "backup"}).archive, nullptr);
  // A letter beside a known one is no longer passed over: "-tx" is refused.
  UnpackOptions grouped = parse({"backup", "-tx"});
  EXPECT_EQ(grouped.archive, nullptr);
  EXPECT_TRUE(grouped.terse);
  EXPECT_TRUE(parse({"-lt", "backup"}).terse);
  EXPECT_EQ(parse({}).archive, nullptr);
}
