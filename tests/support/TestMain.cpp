// main() of every test program: runs a child scenario when started with --hx-child=<name>,
// otherwise hands over to GoogleTest (so test discovery keeps working).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace hxtest {

std::map<std::string, ChildScenario>& childScenarios() {
  static auto* scenarios = new std::map<std::string, ChildScenario>();
  return *scenarios;
}

ChildScenarioRegistrar::ChildScenarioRegistrar(const std::string& name, ChildScenario scenario) {
  childScenarios()[name] = std::move(scenario);
}

}  // namespace hxtest

int main(int argc, char** argv) {
  constexpr const char* kSwitch = "--hx-child=";
  if (argc > 1 && std::strncmp(argv[1], kSwitch, std::strlen(kSwitch)) == 0) {
    const std::string name = argv[1] + std::strlen(kSwitch);
    auto it = hxtest::childScenarios().find(name);
    if (it == hxtest::childScenarios().end()) {
      std::fprintf(stderr, "unknown child scenario: %s\n", name.c_str());
      return 127;
    }
    std::vector<std::string> arguments(argv + 2, argv + argc);
    int status = it->second(arguments);
    std::fflush(stdout);
    return status;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
