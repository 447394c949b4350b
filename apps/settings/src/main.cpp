// halvex-settings: the Settings application, served as a web page on 127.0.0.1. The main
// thread runs the pages' loop: the pages, the plug-in, the store and the bus connection; after
// every dispatch the page on screen is compared with the last one sent, and a change is
// pushed; a change another program stored reaches the page the same way, through the store's
// announcement (StoreFollower). The web server runs on a thread of its own, so that a page waiting
// on the store (a lock another process holds) never keeps another client from its page.

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "DriverSession.h"
#include "Options.h"
#include "SettingsController.h"
#include "StoreFollower.h"
#include "WebServer.h"
#include "platform/Platform.h"
#include "platform/foundation/AsioRunLoop.h"
#include "platform/foundation/Env.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Process.h"
#include "platform/settings-host/SettingsDriver.h"
#include "platform/ui/UIScreen.h"

namespace {

constexpr const char* kProgram = "halvex-settings";

int usageError(const std::string& message) {
  std::cerr << kProgram << ": " << message << "\n" << settingsapp::usageText(kProgram);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // Everything below, the plug-in included, behaves as the Settings application.
  platform::setMainBundleIdentifier("com.apple.Preferences");

  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--version") {
      std::cout << kProgram << " " << HX_VERSION << "\n";
      return 0;
    }
  }
  settingsapp::ParsedOptions parsed =
      settingsapp::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.options) return usageError(parsed.error);
  const settingsapp::Options& options = *parsed.options;
  if (options.help) {
    std::cout << settingsapp::usageText(kProgram);
    return 0;
  }

  platform::Env& env = platform::defaultEnv();
  std::string resolved;
  if (options.root) {
    if (!env.isDirectory(*options.root) || !env.resolvePath(*options.root, resolved).isOk()) {
      return usageError("no device root at '" + *options.root + "'");
    }
    platform::setDeviceRoot(resolved);
  }
  if (options.home) {
    if (!env.isDirectory(*options.home)) env.createDirectories(*options.home, 0755);
    if (!env.isDirectory(*options.home) || !env.resolvePath(*options.home, resolved).isOk()) {
      return usageError("cannot use '" + *options.home + "' as the user home");
    }
    platform::setUserHome(resolved);
  }
  UIScreen::mainScreen()->setScale(options.scale);

  auto& loop = platform::RunLoop::main();
  auto& context = platform::asioContext(loop);

  platform::SettingsDriver driver(platform::deviceRoot());
  settingsapp::DriverSession session(driver, options.scale);
  settingsapp::SettingsController controller(session);
  settingsapp::StoreFollower follower(driver, platform::defaultPlatform());
  boost::asio::io_context network;
  settingsapp::WebServer server(network, context.get_executor(), controller);
  if (std::string failure = server.listen(options.port); !failure.empty()) {
    std::cerr << kProgram << ": " << failure << "\n";
    return 1;
  }
  auto networkWork = boost::asio::make_work_guard(network);
  std::thread networkThread([&network] {
    for (;;) {
      try {
        network.run();
        return;
      } catch (const std::exception& failure) {
        platform::NSLog(std::string("halvex-settings: ") + failure.what());
      }
    }
  });

  bool stopping = false;
  boost::asio::signal_set signals(context, SIGINT, SIGTERM);
  signals.async_wait([&](const boost::system::error_code& waitError, int) {
    if (waitError) return;
    stopping = true;
    server.close();
  });

  // Tests and scripts read this line to find the server.
  std::cout << server.url() << std::endl;

  auto guard = boost::asio::make_work_guard(context);
  context.restart();
  while (!stopping && !context.stopped()) {
    try {
      context.run_one();
      follower.noteTopPage();
      server.publishIfChanged();
    } catch (const std::exception& failure) {
      // A source on the loop failed; the others (and the person at the page) carry on.
      platform::NSLog(std::string("halvex-settings: ") + failure.what());
    }
  }
  signals.cancel();
  // The server closes its connections on its own thread, then that thread ends; the pages it
  // served outlive it.
  server.close();
  networkWork.reset();
  boost::asio::post(network, [&network] { network.stop(); });
  networkThread.join();
  return 0;
}
