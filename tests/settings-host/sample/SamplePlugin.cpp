// A small settings plug-in for the host's tests: switches bound to getters and setters kept
// in memory, link lists, a detail page, a button, a custom footer and a section of plain
// cells that the page makes itself. Every call the host makes shows up as a log line
// "sample: ...", which the tests read back.
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/foundation/Log.h"
#include "platform/settings-host/PSListController.h"
#include "platform/settings-host/PSListItemsController.h"
#include "platform/settings-host/PSTableCell.h"
#include "platform/settings-host/PluginAbi.h"
#include "platform/ui/UINavigationController.h"

#ifndef SAMPLE_API_VERSION
#define SAMPLE_API_VERSION HX_SETTINGS_PLUGIN_API_VERSION
#endif

using platform::Arguments;
using platform::Object;
using platform::Value;

namespace {

void note(const std::string& event) {
  platform::NSLog("sample: " + event);
}

struct SampleState {
  bool wifi = false;
  bool bluetooth = true;
  bool detailFlag = false;
  std::string mode = "1";
  Value level = Value::integer(2);
  std::string flavor = "v";
};

SampleState& state() {
  static SampleState* current = new SampleState();
  return *current;
}

std::string specifierId(const Value& value) {
  auto specifier = std::dynamic_pointer_cast<PSSpecifier>(value.objectValue());
  return specifier ? specifier->identifier() : "<none>";
}

class SampleDetailController : public PSListController {
  HX_OBJECT_CLASS()

 public:
  const std::vector<PSSpecifierPtr>& specifiers() override {
    if (!_specifiers) _specifiers = loadSpecifiersFromPlistNameTarget("Detail", this);
    return *_specifiers;
  }
  void setSpecifier(PSSpecifierPtr specifier) override {
    note("setSpecifier " + (specifier ? specifier->identifier() : std::string("<none>")) +
         (appeared_ ? " after appearing" : " before appearing"));
    PSListController::setSpecifier(std::move(specifier));
  }
  void viewWillAppear(bool animated) override {
    appeared_ = true;
    note("viewWillAppear " + title());
    PSListController::viewWillAppear(animated);
  }
  void willBecomeActive() override {
    note("willBecomeActive " + title());
    PSListController::willBecomeActive();
  }

 private:
  bool appeared_ = false;
};

class SampleRootController : public PSListController {
  HX_OBJECT_CLASS()

 public:
  static constexpr std::int64_t kAppsSection = 2;

  const std::vector<PSSpecifierPtr>& specifiers() override {
    if (!_specifiers) _specifiers = loadSpecifiersFromPlistNameTarget("Root", this);
    return *_specifiers;
  }
  std::int64_t tableViewNumberOfRowsInSection(UITableView& tableView,
                                              std::int64_t section) override {
    if (section == kAppsSection) return 2;
    return PSListController::tableViewNumberOfRowsInSection(tableView, section);
  }
  std::shared_ptr<UITableViewCell> tableViewCellForRowAtIndexPath(
      UITableView& tableView, const NSIndexPath& indexPath) override {
    if (indexPath.section != kAppsSection) {
      return PSListController::tableViewCellForRowAtIndexPath(tableView, indexPath);
    }
    auto cell = tableView.dequeueReusableCellWithIdentifier("SampleAppCell");
    if (!cell)
      cell = UITableViewCell::initWithStyleReuseIdentifier(UITableViewCellStyleDefault,
                                                           "SampleAppCell");
    cell->setAccessoryType(UITableViewCellAccessoryDisclosureIndicator);
    cell->textLabel()->setText(indexPath.row == 0 ? "Alpha" : "Beta");
    cell->imageView()->setImage(
        std::make_shared<UIImage>(2, 2, 1.0, std::vector<std::uint32_t>(4, 0xFF00FF00u)));
    return cell;
  }
  void tableViewDidSelectRowAtIndexPath(UITableView& tableView,
                                        const NSIndexPath& indexPath) override {
    if (indexPath.section != kAppsSection) {
      PSListController::tableViewDidSelectRowAtIndexPath(tableView, indexPath);
      return;
    }
    // Made in code, not from a link: its plist must still come from this bundle.
    auto page = std::make_shared<SampleDetailController>();
    page->setTitle(indexPath.row == 0 ? "Alpha" : "Beta");
    navigationController()->pushViewControllerAnimated(page, true);
  }
};

class SampleFlavorItems : public PSListItemsController {
  HX_OBJECT_CLASS()

 public:
  const std::vector<PSSpecifierPtr>& specifiers() override {
    if (!_specifiers) _specifiers = loadSpecifiersFromPlistNameTarget("Flavors", this);
    return *_specifiers;
  }
};

class SampleFooter : public PSTableCell {
  HX_OBJECT_CLASS()

 public:
  SampleFooter() : PSTableCell(UITableViewCellStyleDefault, "SampleFooter") {}
  std::shared_ptr<PSTableCell> initWithSpecifier(const PSSpecifierPtr& specifier) override {
    ++made;
    note("footer made for " + (specifier ? specifier->name() : std::string("<none>")));
    return initWithStyleReuseIdentifierSpecifier(UITableViewCellStyleDefault, "SampleFooter",
                                                 specifier);
  }
  double preferredHeightForWidth(double width) override { return width > 0 ? 123.0 : 0.0; }
  static inline int made = 0;
};

template <typename T>
platform::Class* makeClass(const char* name, const platform::Class& base) {
  return new platform::Class(name, &base, [] { return std::make_shared<T>(); });
}

}  // namespace

const platform::Class& SampleDetailController::staticClass() {
  static platform::Class* cls = [] {
    auto* c = makeClass<SampleDetailController>("SampleDetailController",
                                                PSListController::staticClass());
    c->addMethod("detailFlag",
                 [](Object&, const Arguments&) { return Value::boolean(state().detailFlag); });
    c->addMethod("setDetailFlag:", [](Object&, const Arguments& args) {
      state().detailFlag = args[0].boolValue().value_or(false);
      note("setDetailFlag: " + args[0].description());
      return Value();
    });
    return c;
  }();
  return *cls;
}

const platform::Class& SampleRootController::staticClass() {
  static platform::Class* cls = [] {
    auto* c =
        makeClass<SampleRootController>("SampleRootController", PSListController::staticClass());
    c->addMethod("wifi", [](Object&, const Arguments&) { return Value::boolean(state().wifi); });
    c->addMethod("setWifi:", [](Object&, const Arguments& args) {
      state().wifi = args[0].boolValue().value_or(false);
      note("setWifi: " + args[0].description());
      return Value();
    });
    c->addMethod("bluetooth:", [](Object&, const Arguments& args) {
      note("bluetooth: " + specifierId(args[0]));
      return Value::boolean(state().bluetooth);
    });
    c->addMethod("setBluetooth:forSpecifier:", [](Object&, const Arguments& args) {
      state().bluetooth = args[0].boolValue().value_or(false);
      note("setBluetooth: " + args[0].description() + " forSpecifier: " + specifierId(args[1]));
      return Value();
    });
    c->addMethod("locked", [](Object&, const Arguments&) { return Value::boolean(true); });
    c->addMethod("setLocked:", [](Object&, const Arguments& args) {
      note("setLocked: " + args[0].description());
      return Value();
    });
    c->addMethod("mode", [](Object&, const Arguments&) { return Value(state().mode); });
    c->addMethod("setMode:forSpecifier:", [](Object&, const Arguments& args) {
      note("setMode: " + args[0].description() + " forSpecifier: " + specifierId(args[1]));
      // Maps the title back to its value, as the pages of the system do.
      auto specifier = std::dynamic_pointer_cast<PSSpecifier>(args[1].objectValue());
      auto keys = specifier->titleDictionary().allKeysForObject(args[0]);
      state().mode = keys.empty() ? "0" : keys.front().stringValue();
      return Value();
    });
    c->addMethod("level", [](Object&, const Arguments&) { return state().level; });
    c->addMethod("setLevel:", [](Object&, const Arguments& args) {
      state().level = args[0];
      note("setLevel: " + std::string(platform::valueKindName(args[0].kind())) + " " +
           args[0].description());
      return Value();
    });
    c->addMethod("flavor", [](Object&, const Arguments&) { return Value(state().flavor); });
    c->addMethod("setFlavor:forSpecifier:", [](Object&, const Arguments& args) {
      note("setFlavor: " + args[0].description());
      auto specifier = std::dynamic_pointer_cast<PSSpecifier>(args[1].objectValue());
      auto keys = specifier->titleDictionary().allKeysForObject(args[0]);
      state().flavor = keys.empty() ? "" : keys.front().stringValue();
      return Value();
    });
    c->addMethod("version", [](Object&, const Arguments&) { return Value("1.0"); });
    c->addMethod("explode", [](Object&, const Arguments&) -> Value {
      throw std::runtime_error("the getter exploded");
    });
    c->addMethod("reset", [](Object& self, const Arguments&) {
      state() = SampleState();
      note("reset");
      platform::receiver<SampleRootController>(self).reloadSpecifiers();
      return Value();
    });
    // What another process's notification would do: change a value and redraw its row.
    c->addMethod("externalWifiOn", [](Object& self, const Arguments&) {
      state().wifi = true;
      platform::receiver<SampleRootController>(self).reloadSpecifierIDAnimated("wifi", true);
      return Value();
    });
    return c;
  }();
  return *cls;
}

const platform::Class& SampleFlavorItems::staticClass() {
  static platform::Class* cls =
      makeClass<SampleFlavorItems>("SampleFlavorItems", PSListItemsController::staticClass());
  return *cls;
}

const platform::Class& SampleFooter::staticClass() {
  static platform::Class* cls = makeClass<SampleFooter>("SampleFooter", PSTableCell::staticClass());
  return *cls;
}

namespace {

void registerClasses() {
#if defined(SAMPLE_REGISTER_THROWS)
  throw std::runtime_error("registration refused");
#elif defined(SAMPLE_REGISTER_NOTHING)
#else
  auto& registry = platform::ClassRegistry::shared();
  registry.registerClass(SampleRootController::staticClass());
  registry.registerClass(SampleDetailController::staticClass());
  registry.registerClass(SampleFlavorItems::staticClass());
  registry.registerClass(SampleFooter::staticClass());
#endif
}

const HXSettingsPluginInfo kInfo = {SAMPLE_API_VERSION, "Sample", &registerClasses};

}  // namespace

extern "C" HX_SETTINGS_PLUGIN_EXPORT const HXSettingsPluginInfo* hx_settings_plugin_entry(void) {
  return &kInfo;
}
