#include "platform/settings-host/PSTableCell.h"

#include <exception>

#include "platform/foundation/Log.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UITableViewDelegate.h"

using platform::Value;

namespace {

// A getter that throws (a page's assertion, say) leaves its row empty instead of taking the
// whole page down.
Value currentValueOrNone(PSSpecifier& specifier) {
  try {
    return specifier.currentValue();
  } catch (const std::exception& e) {
    platform::NSLog("The getter of \"" + specifier.name() + "\" failed: " + e.what());
  } catch (...) {
    platform::NSLog("The getter of \"" + specifier.name() + "\" failed");
  }
  return {};
}

// Shows the getter's value on a switch, inverted for a "negate" row.
void showValueOf(PSSpecifier& specifier, UISwitch& toggle) {
  bool on = currentValueOrNone(specifier).boolValue().value_or(false);
  if (specifier.propertyForKey(PSKey::kNegate).boolValue().value_or(false)) on = !on;
  toggle.setOn(on);
}

}  // namespace

const platform::Class& PSTableCell::staticClass() {
  static const platform::Class* cls = [] {
    auto* c = new platform::Class("PSTableCell", &UITableViewCell::staticClass(),
                                  [] { return std::make_shared<PSTableCell>(); });
    c->addMethod("initWithSpecifier:", [](platform::Object& self, const platform::Arguments& args) {
      auto specifier = std::dynamic_pointer_cast<PSSpecifier>(args[0].objectValue());
      return Value::object(platform::receiver<PSTableCell>(self).initWithSpecifier(specifier));
    });
    c->addMethod("initWithStyle:reuseIdentifier:specifier:", [](platform::Object& self,
                                                                const platform::Arguments& args) {
      auto specifier = std::dynamic_pointer_cast<PSSpecifier>(args[2].objectValue());
      const auto style = static_cast<UITableViewCellStyle>(args[0].intValue().value_or(0));
      return Value::object(
          platform::receiver<PSTableCell>(self).initWithStyleReuseIdentifierSpecifier(
              style, args[1].stringValue(), specifier));
    });
    c->addMethod("preferredHeightForWidth:",
                 [](platform::Object& self, const platform::Arguments& args) {
                   return Value::real(platform::receiver<PSTableCell>(self).preferredHeightForWidth(
                       args[0].doubleValue().value_or(0)));
                 });
    c->addMethod("specifier", [](platform::Object& self, const platform::Arguments&) {
      return Value::object(platform::receiver<PSTableCell>(self).specifier());
    });
    platform::ClassRegistry::shared().registerClass(*c);
    return c;
  }();
  return *cls;
}

PSTableCell::PSTableCell(UITableViewCellStyle style, std::string reuseIdentifier)
    : UITableViewCell(style, std::move(reuseIdentifier)) {}

std::shared_ptr<PSTableCell> PSTableCell::cellWithStyleReuseIdentifierSpecifier(
    UITableViewCellStyle style, const std::string& reuseIdentifier,
    const PSSpecifierPtr& specifier) {
  auto cell = std::make_shared<PSTableCell>(style, reuseIdentifier);
  return cell->initWithStyleReuseIdentifierSpecifier(cell->style(), reuseIdentifier, specifier);
}

std::shared_ptr<PSTableCell> PSTableCell::initWithStyleReuseIdentifierSpecifier(
    UITableViewCellStyle style, const std::string& reuseIdentifier,
    const PSSpecifierPtr& specifier) {
  if (style != this->style() || reuseIdentifier != this->reuseIdentifier()) {
    platform::NSLog("PSTableCell: initialised as style " + std::to_string(style) + " \"" +
                    reuseIdentifier + "\" but constructed as style " +
                    std::to_string(this->style()) + " \"" + this->reuseIdentifier() +
                    "\"; the constructed ones stay");
  }
  refreshCellContentsWithSpecifier(specifier);
  auto self = weak_from_this().lock();
  return self ? std::dynamic_pointer_cast<PSTableCell>(self) : nullptr;
}

std::shared_ptr<PSTableCell> PSTableCell::initWithSpecifier(const PSSpecifierPtr& specifier) {
  return initWithStyleReuseIdentifierSpecifier(style(), reuseIdentifier(), specifier);
}

double PSTableCell::preferredHeightForWidth(double /*width*/) {
  return UITableViewAutomaticDimension;
}

std::shared_ptr<UISwitch> PSTableCell::control() const {
  return std::dynamic_pointer_cast<UISwitch>(accessoryView());
}

void PSTableCell::refreshCellContentsWithSpecifier(const PSSpecifierPtr& specifier) {
  specifier_ = specifier;
  if (!specifier) return;
  enabled_ = specifier->isEnabled();
  const PSCellType type = specifier->cellType();

  // Only rows that show something ask for the label, so that a footer cell's view tree
  // holds only what it adds itself.
  if (type != PSGroupCell || !specifier->name().empty()) {
    textLabel()->setText(specifier->name());
    textLabel()->setTextColor(enabled_ ? UIColor::blackColor()
                                       : UIColor::colorWithWhiteAlpha(0.56, 1));
  }
  const Value icon = specifier->propertyForKey("iconImage");
  if (auto image = std::dynamic_pointer_cast<UIImage>(icon.objectValue())) {
    imageView()->setImage(image);
  } else if (existingImageView()) {
    existingImageView()->setImage(nullptr);
  }

  std::string detail;
  bool showsDetail = false;
  UITableViewCellAccessoryType accessory = UITableViewCellAccessoryNone;
  std::shared_ptr<UISwitch> toggle;
  switch (type) {
    case PSSwitchCell: {
      toggle = control() ? control() : std::make_shared<UISwitch>();
      showValueOf(*specifier, *toggle);
      toggle->setEnabled(enabled_);
      break;
    }
    case PSLinkListCell: {
      const Value value = currentValueOrNone(*specifier);
      Value title = specifier->shortTitleDictionary().objectForKey(value);
      if (!title.isString()) title = specifier->titleDictionary().objectForKey(value);
      detail = title.isString() ? title.stringValue() : "";
      showsDetail = true;
      accessory = UITableViewCellAccessoryDisclosureIndicator;
      break;
    }
    case PSLinkCell:
      accessory = UITableViewCellAccessoryDisclosureIndicator;
      break;
    case PSTitleValueCell:
    case PSEditTextCell:
    case PSSecureEditTextCell: {
      const Value value = currentValueOrNone(*specifier);
      if (value.isString()) {
        detail = value.stringValue();
      } else if (value.isNumber()) {
        detail = value.description();
      }
      if (type == PSSecureEditTextCell) detail.assign(detail.size(), '*');
      showsDetail = true;
      break;
    }
    default:
      break;
  }
  setAccessoryView(toggle);
  setAccessoryType(accessory);
  if (showsDetail && detailTextLabel()) detailTextLabel()->setText(detail);
  const bool selectable = enabled_ && (type == PSLinkCell || type == PSLinkListCell ||
                                       type == PSButtonCell || type == PSListItemCell);
  setSelectionStyle(selectable ? UITableViewCellSelectionStyleDefault
                               : UITableViewCellSelectionStyleNone);
}

bool PSTableCell::controlValueChanged(const Value& shownValue) {
  auto toggle = control();
  if (!specifier_ || !toggle || !enabled_ || !specifier_->isEnabled()) return false;
  bool on = shownValue.boolValue().value_or(false);
  toggle->setOn(on);
  if (specifier_->propertyForKey(PSKey::kNegate).boolValue().value_or(false)) on = !on;
  // Whatever the setter did (stored the value, failed to, threw), the switch then shows what
  // the getter reads back: a change that was not stored must not stay on screen as if it were.
  const PSSpecifierPtr specifier = specifier_;
  struct ShowStored {
    PSTableCell& cell;
    const PSSpecifierPtr& specifier;
    ~ShowStored() {
      auto toggle = cell.control();
      if (toggle && cell.specifier_ == specifier) showValueOf(*specifier, *toggle);
    }
  } showStored{*this, specifier};
  return specifier->performSetterWithValue(Value::boolean(on));
}

[[maybe_unused]] static const platform::Class& kPSTableCellClass = PSTableCell::staticClass();
