// Defines the runtime classes of the UI model: built once on first use, registered by name
// so that plists can name them, and kept for the life of the process.
#pragma once

#include <functional>

#include "platform/foundation/Object.h"

namespace platform::uidetail {

// Builds the class `name` over `base`, lets `bind` add its operations, registers it and
// returns it. Call from a function-local static so that it runs once.
inline const Class& defineClass(const char* name, const Class& base,
                                std::function<ObjectPtr()> factory,
                                const std::function<void(Class&)>& bind = {}) {
  auto* cls = new Class(name, &base, std::move(factory));  // process lifetime, never destroyed
  if (bind) bind(*cls);
  ClassRegistry::shared().registerClass(*cls);
  return *cls;
}

}  // namespace platform::uidetail
