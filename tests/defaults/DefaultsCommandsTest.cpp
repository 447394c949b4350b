// halvex-defaults' exit status says what a write came to: stored, not stored, or stored but
// not durable, with the words for it on standard error.
#include "DefaultsCommands.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "PreferenceTestEnv.h"
#include "platform/foundation/Env.h"

namespace {

using Call = hxtest::PreferenceTestEnv::Call;

std::string contents(std::FILE* file) {
  std::string text(4096, '\0');
  std::rewind(file);
  text.resize(std::fread(text.data(), 1, text.size(), file));
  std::rewind(file);
  return text;
}

}  // namespace

TEST(DefaultsCommandsTest, ExitStatusSaysWhatAWriteCameTo) {
  auto memory = platform::newMemoryEnv(platform::defaultEnv());
  hxtest::PreferenceTestEnv env(*memory);
  platform::PreferenceStore store(env, "/home/Library/Preferences");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::tmpfile(), std::fclose);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> err(std::tmpfile(), std::fclose);
  defaults::DefaultsCommands commands(env, store, defaults::Output::Text, out.get(), err.get());
  const std::string domain = "com.example.outcome";

  EXPECT_EQ(commands.write(domain, "stored", {"-int", "1"}), 0);
  EXPECT_EQ(contents(err.get()), "");

  env.failCall(Call::FlushFolder, 1, -1);
  EXPECT_EQ(commands.write(domain, "notDurable", {"-int", "2"}), 3);
  EXPECT_NE(contents(err.get()).find("stored, but may not survive a power loss"),
            std::string::npos);
  env.clearFailures();

  env.failCall(Call::CreateTemporaryFile, 1, -1);
  EXPECT_EQ(commands.remove(domain, std::string("stored")), 1);
  EXPECT_NE(contents(err.get()).find("not stored"), std::string::npos);
  env.clearFailures();

  EXPECT_EQ(commands.read(domain, std::string("notDurable")), 0);
  EXPECT_EQ(commands.read(domain, std::string("stored")), 0);
}
