#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "platform/foundation/Env.h"
#include "platform/foundation/PropertyList.h"
#include "platform/settings-host/PSSpecifier.h"
#include "platform/settings-host/PagePlist.h"
#include "support/TestSupport.h"

using platform::Value;

namespace {

Value item(Value::Dictionary entries) {
  return Value(std::move(entries));
}

Value root(Value::Array items) {
  return Value(Value::Dictionary{{"title", Value("Page")}, {"items", Value(std::move(items))}});
}

Value::Array texts(std::vector<std::string> items) {
  Value::Array out;
  for (auto& text : items) out.emplace_back(std::move(text));
  return out;
}

Value strings(std::vector<std::string> items) {
  return Value(texts(std::move(items)));
}

// A target that records what its operations receive.
class ArityTarget : public platform::Object {
  HX_OBJECT_CLASS()

 public:
  std::vector<std::string> calls;
};

std::string describeArguments(const platform::Arguments& args) {
  std::string out;
  for (const Value& arg : args) {
    if (!out.empty()) out += ",";
    if (auto specifier = std::dynamic_pointer_cast<PSSpecifier>(arg.objectValue())) {
      out += "specifier:" + specifier->identifier();
    } else {
      out += arg.description();
    }
  }
  return out;
}

}  // namespace

const platform::Class& ArityTarget::staticClass() {
  static platform::Class* cls = [] {
    auto* c = new platform::Class("ArityTarget", &Object::staticClass(),
                                  [] { return std::make_shared<ArityTarget>(); });
    for (const char* selector :
         {"value", "value:", "setValue:", "setValue:forSpecifier:", "tap", "tap:"}) {
      c->addMethod(selector, [selector](platform::Object& self, const platform::Arguments& args) {
        platform::receiver<ArityTarget>(self).calls.push_back(std::string(selector) + "(" +
                                                              describeArguments(args) + ")");
        return Value("answer");
      });
    }
    return c;
  }();
  return *cls;
}

TEST(PagePlistTest, CellKindIsReadFromItsNameOrNumberOnly) {
  const struct {
    Value cell;
    std::optional<PSCellType> expected;
  } cases[] = {
      {Value("PSGroupCell"), PSGroupCell},   {Value("PSSwitchCell"), PSSwitchCell},
      {Value("PSButtonCell"), PSButtonCell}, {Value::integer(0), PSGroupCell},
      {Value::integer(6), PSSwitchCell},     {Value::integer(15), PSSpinnerCell},
      {Value::integer(16), std::nullopt},    {Value::integer(-1), std::nullopt},
      {Value::boolean(true), std::nullopt},  {Value::real(6.0), std::nullopt},
      {Value("PSBogusCell"), std::nullopt},  {Value("6"), std::nullopt},
      {Value("psswitchcell"), std::nullopt}, {Value(), std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::cellTypeFromValue(c.cell), c.expected) << c.cell.description();
  }
}

TEST(PagePlistTest, ItemsKeepEveryKeyAndBadItemsAreLeftOutWithOneLineEach) {
  LogCapture log;
  platform::PagePlist plist = platform::specifiersFromPlistValue(
      root({
          item({{"cell", Value("PSGroupCell")}, {"label", Value("Group")}}),
          item({{"cell", Value::integer(6)},
                {"label", Value("Switch")},
                {"enabled", Value::boolean(false)},
                {"customKey", Value::integer(7)}}),
          Value("not a dictionary"),
          item({{"cell", Value("PSBogusCell")}, {"label", Value("Bogus")}}),
          item({{"label", Value("No Kind")}}),
          item({{"cell", Value("PSLinkCell")},
                {"label", Value("Link")},
                {"id", Value("link")},
                {"detail", Value("NoSuchPage")}}),
      }),
      nullptr, nullptr, "Test.plist");

  ASSERT_EQ(plist.specifiers.size(), 3u);
  EXPECT_EQ(plist.title, "Page");
  const PSSpecifierPtr& toggle = plist.specifiers[1];
  EXPECT_EQ(toggle->cellType(), PSSwitchCell);
  EXPECT_EQ(toggle->identifier(), "Switch") << "the id defaults to the label";
  EXPECT_FALSE(toggle->isEnabled());
  EXPECT_EQ(toggle->propertyForKey("customKey"), Value::integer(7));
  EXPECT_TRUE(plist.specifiers[0]->isEnabled());

  const PSSpecifierPtr& link = plist.specifiers[2];
  EXPECT_EQ(link->identifier(), "link");
  EXPECT_EQ(link->detailControllerClass(), nullptr);
  EXPECT_EQ(link->detailControllerClassName(), "NoSuchPage");

  EXPECT_EQ(log.count("Test.plist item 2"), 1u) << "not a dictionary";
  EXPECT_EQ(log.count("Test.plist item 3 (\"Bogus\") has an unknown cell kind"), 1u);
  EXPECT_EQ(log.count("Test.plist item 4 (\"No Kind\") has no cell kind"), 1u);
  EXPECT_EQ(log.count("unknown class NoSuchPage"), 1u);
  EXPECT_EQ(log.lines().size(), 4u);
}

TEST(PagePlistTest, MalformedRootsGiveAnEmptyPageAndOneLine) {
  const Value roots[] = {
      Value("a string root"),
      Value(Value::Dictionary{{"title", Value("No items")}}),
      Value(Value::Dictionary{{"items", Value("not a list")}}),
  };
  for (const Value& bad : roots) {
    LogCapture log;
    platform::PagePlist plist =
        platform::specifiersFromPlistValue(bad, nullptr, nullptr, "Bad.plist");
    EXPECT_TRUE(plist.specifiers.empty()) << bad.description();
    EXPECT_EQ(log.count("Bad.plist"), 1u) << bad.description();
  }
}

TEST(PagePlistTest, TitleDictionaryPairsValuesWithTitlesAndKeepsKindsApart) {
  auto specifier = std::make_shared<PSSpecifier>();
  specifier->setValuesTitlesShortTitles(
      {Value::integer(1), Value("1"), Value::integer(2), Value::integer(1)},
      texts({"Number one", "Text one", "Two", "One again"}), texts({"N1", "T1", "2", "1'"}));
  const PSTitleDictionary& titles = specifier->titleDictionary();
  EXPECT_EQ(titles.count(), 3u) << "a repeated key keeps one entry";
  EXPECT_EQ(titles.objectForKey(Value::integer(1)), Value("One again")) << "the last title wins";
  EXPECT_EQ(titles.objectForKey(Value("1")), Value("Text one"));
  EXPECT_EQ(titles.objectForKey(Value("3")), Value());
  EXPECT_EQ(specifier->shortTitleDictionary().objectForKey(Value("1")), Value("T1"));
  EXPECT_EQ(titles.allKeysForObject(Value("Two")), std::vector<Value>{Value::integer(2)});

  LogCapture log;
  specifier->setProperties({{"cell", Value("PSLinkListCell")},
                            {"label", Value("Uneven")},
                            {"validValues", strings({"a", "b", "c"})},
                            {"validTitles", strings({"A", "B"})}});
  EXPECT_TRUE(specifier->titleDictionary().empty())
      << "unequal counts give no titles, not wrong ones";
  EXPECT_EQ(specifier->values().size(), 3u);
  EXPECT_EQ(log.count("differ in length"), 1u);
  EXPECT_EQ(specifier->cellType(), PSLinkListCell);
}

TEST(PagePlistTest, LabelsFooterTitlesAndPageTitleAreLocalised) {
  hxtest::TemporaryDirectory bundle;
  const Value plist(Value::Dictionary{
      {"title", Value("Title")},
      {"items", Value(Value::Array{
                    item({{"cell", Value("PSGroupCell")},
                          {"label", Value("Group")},
                          {"footerText", Value("Foot")}}),
                    item({{"cell", Value("PSLinkListCell")},
                          {"label", Value("Choice")},
                          {"validValues", strings({"a", "b"})},
                          {"validTitles", strings({"Alpha", "Untranslated"})},
                          {"shortTitles", strings({"Alpha", "B"})},
                          {"get", Value("Choice")}}),
                })},
  });
  ASSERT_TRUE(platform::writePropertyListFile(platform::defaultEnv(), bundle / "Foo.plist", plist,
                                              platform::PlistFormat::Xml)
                  .isOk());
  hxtest::writeFile(bundle / "en.lproj/Foo.strings",
                    "/* localised */\n\"Title\" = \"Titel\";\n\"Group\" = \"Gruppe\";\n"
                    "\"Foot\" = \"Fuß\";\n\"Choice\" = \"Wahl\";\n\"Alpha\" = \"Älpha\";\n");

  platform::PagePlist loaded =
      platform::loadPagePlist(platform::defaultEnv(), bundle.path(), "Foo", nullptr);
  ASSERT_EQ(loaded.specifiers.size(), 2u);
  EXPECT_EQ(loaded.title, "Titel");
  EXPECT_EQ(loaded.specifiers[0]->name(), "Gruppe");
  EXPECT_EQ(loaded.specifiers[0]->propertyForKey("footerText"), Value("Fuß"));
  const PSSpecifierPtr& choice = loaded.specifiers[1];
  EXPECT_EQ(choice->name(), "Wahl");
  EXPECT_EQ(choice->getter(), "Choice") << "selectors are never localised";
  EXPECT_EQ(choice->titleDictionary().objectForKey(Value("a")), Value("Älpha"));
  EXPECT_EQ(choice->titleDictionary().objectForKey(Value("b")), Value("Untranslated"));
  EXPECT_EQ(choice->shortTitleDictionary().objectForKey(Value("a")), Value("Älpha"));

  // A broken table leaves the texts as they are and says so.
  hxtest::writeFile(bundle / "en.lproj/Foo.strings", "\"Title\" = \"unterminated");
  LogCapture log;
  loaded = platform::loadPagePlist(platform::defaultEnv(), bundle.path(), "Foo", nullptr);
  EXPECT_EQ(loaded.title, "Title");
  EXPECT_EQ(log.count("Foo.strings"), 1u);

  // A missing or corrupt plist is an empty page, not a failure.
  hxtest::writeFile(bundle / "Bar.plist", "<plist><dict><key>items</key>");
  EXPECT_TRUE(platform::loadPagePlist(platform::defaultEnv(), bundle.path(), "Bar", nullptr)
                  .specifiers.empty());
  EXPECT_TRUE(platform::loadPagePlist(platform::defaultEnv(), bundle.path(), "Gone", nullptr)
                  .specifiers.empty());
  EXPECT_EQ(log.count("not a well-formed property list"), 1u);
  EXPECT_EQ(log.count("no such file"), 1u);
}

TEST(PagePlistTest, GettersSettersAndActionsTakeAsManyArgumentsAsTheirColons) {
  auto target = std::make_shared<ArityTarget>();
  auto make = [&](Value::Dictionary properties) {
    auto specifier = std::make_shared<PSSpecifier>();
    properties["id"] = Value("row");
    specifier->setProperties(std::move(properties));
    specifier->setTarget(target.get());
    return specifier;
  };

  EXPECT_EQ(make({{"get", Value("value")}})->performGetter(), Value("answer"));
  EXPECT_TRUE(make({{"set", Value("setValue:")}})->performSetterWithValue(Value::boolean(true)));
  EXPECT_TRUE(make({{"set", Value("setValue:forSpecifier:")}})->performSetterWithValue(Value("2")));
  make({{"get", Value("value:")}})->performGetter();
  EXPECT_TRUE(make({{"action", Value("tap")}})->performAction());
  EXPECT_TRUE(make({{"action", Value("tap:")}})->performAction());
  EXPECT_EQ(target->calls, (std::vector<std::string>{
                               "value()", "setValue:(1)", "setValue:forSpecifier:(2,specifier:row)",
                               "value:(specifier:row)", "tap()", "tap:(specifier:row)"}));

  // Unknown selectors and no selector at all: nothing is called, nothing crashes.
  target->calls.clear();
  auto unknown = make({{"get", Value("nope")},
                       {"set", Value("setNope:")},
                       {"action", Value("nope")},
                       {"default", Value("fallback")}});
  EXPECT_EQ(unknown->performGetter(), Value());
  EXPECT_EQ(unknown->currentValue(), Value("fallback"));
  EXPECT_FALSE(unknown->performSetterWithValue(Value::boolean(true)));
  EXPECT_FALSE(unknown->performAction());
  EXPECT_FALSE(make({})->performAction());
  EXPECT_TRUE(target->calls.empty());

  // The target is not owned: once it is gone the row is inert.
  auto orphan = make({{"get", Value("value")}, {"set", Value("setValue:")}});
  target.reset();
  EXPECT_EQ(orphan->target(), nullptr);
  EXPECT_EQ(orphan->performGetter(), Value());
  EXPECT_FALSE(orphan->performSetterWithValue(Value::boolean(true)));
}
