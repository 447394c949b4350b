// The small object runtime: classes by name with a base class and a table of operations by
// selector text, so that plists can name getters, setters, actions, detail pages and footer
// classes. Objects are reference-counted (std::shared_ptr); main thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/foundation/Export.h"
#include "platform/foundation/Value.h"

namespace platform {

class Object;
using ObjectPtr = std::shared_ptr<Object>;
using Arguments = std::vector<Value>;
// An operation bound by selector text. `self` is the receiver; the argument count is the
// selector's colon count. Returns None for operations that return nothing.
using Method = std::function<Value(Object& self, const Arguments& arguments)>;

class HX_PLATFORM_EXPORT Class {
 public:
  // `base` must outlive this class (classes live for the process). `factory` makes a new
  // instance with the class's plain initialiser (init); empty for classes that need arguments.
  Class(std::string name, const Class* base, std::function<ObjectPtr()> factory = {});
  Class(const Class&) = delete;
  Class& operator=(const Class&) = delete;

  const std::string& name() const { return name_; }
  const Class* base() const { return base_; }
  bool isSubclassOf(const Class& other) const;  // true for the class itself

  // Registers an operation under its exact selector text; a later registration replaces it.
  void addMethod(std::string selector, Method method);
  // The operation for the selector on this class or its nearest base; nullptr when none.
  const Method* findMethod(std::string_view selector) const;
  // A new instance through the factory, or nullptr when the class has none.
  ObjectPtr create() const;

  // Selector arity: the number of colons in the selector text.
  static std::size_t argumentCount(std::string_view selector);

 private:
  const std::string name_;
  const Class* const base_;
  const std::function<ObjectPtr()> factory_;
  std::unordered_map<std::string, Method> methods_;
};

// Classes by name, for plists that name a class. A name registered twice keeps the first
// class unless the second comes from `replace`. Main thread only.
class HX_PLATFORM_EXPORT ClassRegistry {
 public:
  static ClassRegistry& shared();
  void registerClass(const Class& cls);
  void unregisterClass(std::string_view name);
  const Class* lookup(std::string_view name) const;
  // Every registered name, in no particular order (a plug-in loader compares two snapshots to
  // learn which classes a bundle brought).
  std::vector<std::string> classNames() const;

 private:
  std::unordered_map<std::string, const Class*> classes_;
};

class HX_PLATFORM_EXPORT Object : public std::enable_shared_from_this<Object> {
 public:
  Object() = default;
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  // The runtime class of this object; subclasses override through HX_OBJECT_CLASS.
  virtual const Class& objectClass() const;
  static const Class& staticClass();

  bool respondsToSelector(std::string_view selector) const;
  bool isKindOfClass(const Class& cls) const { return objectClass().isSubclassOf(cls); }
  // Calls the operation bound to `selector`; None when the object does not respond. The
  // argument list is padded with None or cut to the selector's arity.
  Value performSelector(std::string_view selector, const Arguments& arguments = {});
  // Key-value lookup: the getter named `key`, when the object responds to it; else None.
  virtual Value valueForKey(std::string_view key);

  template <typename T>
  std::shared_ptr<T> sharedAs() {
    return std::dynamic_pointer_cast<T>(shared_from_this());
  }
};

// Declares the class object of a runtime class inside its C++ class definition.
#define HX_OBJECT_CLASS()                                 \
 public:                                                  \
  static const ::platform::Class& staticClass();          \
  const ::platform::Class& objectClass() const override { \
    return staticClass();                                 \
  }                                                       \
                                                          \
 private:

// Helpers to bind a C++ member function as a runtime operation.
template <typename T>
T& receiver(Object& self) {
  return dynamic_cast<T&>(self);
}

}  // namespace platform
