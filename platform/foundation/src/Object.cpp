#include "platform/foundation/Object.h"

#include <algorithm>

namespace platform {

Class::Class(std::string name, const Class* base, std::function<ObjectPtr()> factory)
    : name_(std::move(name)), base_(base), factory_(std::move(factory)) {}

bool Class::isSubclassOf(const Class& other) const {
  for (const Class* c = this; c != nullptr; c = c->base_) {
    if (c == &other) return true;
  }
  return false;
}

void Class::addMethod(std::string selector, Method method) {
  methods_[std::move(selector)] = std::move(method);
}

const Method* Class::findMethod(std::string_view selector) const {
  for (const Class* c = this; c != nullptr; c = c->base_) {
    auto it = c->methods_.find(std::string(selector));
    if (it != c->methods_.end()) return &it->second;
  }
  return nullptr;
}

ObjectPtr Class::create() const { return factory_ ? factory_() : nullptr; }

std::size_t Class::argumentCount(std::string_view selector) {
  return static_cast<std::size_t>(std::count(selector.begin(), selector.end(), ':'));
}

ClassRegistry& ClassRegistry::shared() {
  static ClassRegistry* registry = new ClassRegistry();  // process lifetime, never destroyed
  return *registry;
}

void ClassRegistry::registerClass(const Class& cls) { classes_.emplace(cls.name(), &cls); }

void ClassRegistry::unregisterClass(std::string_view name) { classes_.erase(std::string(name)); }

const Class* ClassRegistry::lookup(std::string_view name) const {
  auto it = classes_.find(std::string(name));
  return it == classes_.end() ? nullptr : it->second;
}

std::vector<std::string> ClassRegistry::classNames() const {
  std::vector<std::string> names;
  names.reserve(classes_.size());
  for (const auto& entry : classes_) names.push_back(entry.first);
  return names;
}

const Class& Object::staticClass() {
  static const Class* cls = [] {
    auto* c = new Class("NSObject", nullptr, [] { return std::make_shared<Object>(); });
    c->addMethod("respondsToSelector:", [](Object& self, const Arguments& args) {
      return Value::boolean(self.respondsToSelector(args.at(0).stringValue()));
    });
    ClassRegistry::shared().registerClass(*c);
    return c;
  }();
  return *cls;
}

const Class& Object::objectClass() const { return staticClass(); }

bool Object::respondsToSelector(std::string_view selector) const {
  return objectClass().findMethod(selector) != nullptr;
}

Value Object::performSelector(std::string_view selector, const Arguments& arguments) {
  const Method* method = objectClass().findMethod(selector);
  if (method == nullptr) return {};
  Arguments args(arguments);
  args.resize(Class::argumentCount(selector));
  return (*method)(*this, args);
}

Value Object::valueForKey(std::string_view key) {
  if (key.find(':') != std::string_view::npos || !respondsToSelector(key)) return {};
  return performSelector(key);
}

}  // namespace platform
