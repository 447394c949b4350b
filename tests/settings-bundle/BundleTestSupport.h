// The settings bundle as a person meets it: the real plug-in on a copy of the sample device,
// a private session bus and a fresh home for the test process, driven through the list-page
// driver in the Settings host's identity.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "FaultInjectionEnv.h"
#include "platform/settings-host/SettingsDriver.h"
#include "support/TestSupport.h"

namespace hxtest {

// Where the process's device copy and home are (set up once per test program).
const std::string& bundleDeviceRoot();
const std::string& bundleUserHome();
// The Env under the process's platform (the store's and the workspace's), which passes every
// call through until a test makes it fail.
FaultInjectionEnv& faultEnv();
// How many notifications the process's platform has posted so far.
std::uint64_t postCount();

// Clears what the tests store in the domain, so each test starts from the defaults.
void resetDomain();

// The index of the first row titled `title` in `section`, or -1.
std::int64_t rowIndex(const platform::SettingsPage& page, std::size_t section,
                      const std::string& title);
std::vector<std::string> rowTitles(const platform::SettingsPage& page, std::size_t section);

// Turns the run loop until `condition` holds or `timeout` passes.
bool pumpUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// halvex-springboard with the test's device and home (and bus, through the environment).
ChildProcess springboard(const std::vector<std::string>& arguments);
// Runs halvex-springboard to completion and returns its exit status.
int runSpringboard(const std::vector<std::string>& arguments);

// A listener process that has been seen to hear our posts: it is started and probed with
// global writes until a line arrives, then drained.
ChildProcess readyListener();

}  // namespace hxtest
