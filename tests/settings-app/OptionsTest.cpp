#include "Options.h"

#include <gtest/gtest.h>

namespace settingsapp {
namespace {

TEST(OptionsTest, DefaultsAndBothSpellingsOfValues) {
  ParsedOptions parsed = parseOptions({});
  ASSERT_TRUE(parsed.options);
  EXPECT_EQ(parsed.options->port, kDefaultPort);
  EXPECT_EQ(parsed.options->scale, 2.0);
  EXPECT_FALSE(parsed.options->root);

  parsed = parseOptions({"--root", "/r", "--home=/h", "--port", "0", "--scale=3", "--port=9000"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  EXPECT_EQ(parsed.options->root, "/r");
  EXPECT_EQ(parsed.options->home, "/h");
  EXPECT_EQ(parsed.options->port, 9000);  // the later repetition wins
  EXPECT_EQ(parsed.options->scale, 3.0);
  EXPECT_TRUE(parseOptions({"--help"}).options->help);
}

TEST(OptionsTest, BadArgumentsAreRefusedNamingTheCulprit) {
  struct Case {
    std::vector<std::string> arguments;
    std::string mention;
  };
  const std::vector<Case> cases = {
      {{"--verbose"}, "--verbose"},    {{"serve"}, "serve"},
      {{"--port"}, "needs a value"},   {{"--port", "65536"}, "65536"},
      {{"--port", "-1"}, "-1"},        {{"--port", "80x"}, "80x"},
      {{"--port", ""}, "bad port"},    {{"--scale", "0.5"}, "0.5"},
      {{"--scale", "nan"}, "nan"},     {{"--scale=2x"}, "2x"},
      {{"--root="}, "needs a folder"}, {{"--home"}, "needs a value"},
  };
  for (const Case& c : cases) {
    ParsedOptions parsed = parseOptions(c.arguments);
    EXPECT_FALSE(parsed.options) << c.arguments[0];
    EXPECT_NE(parsed.error.find(c.mention), std::string::npos) << parsed.error;
  }
}

}  // namespace
}  // namespace settingsapp
