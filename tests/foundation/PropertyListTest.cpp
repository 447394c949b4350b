#include "platform/foundation/PropertyList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "PlistTestValues.h"
#include "support/TestSupport.h"

namespace platform {
namespace {

using testing_support::sameStorage;

constexpr std::int64_t kInt64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::uint64_t kUInt64Max = std::numeric_limits<std::uint64_t>::max();

std::string xmlDocument(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n" +
         body + "\n</plist>\n";
}

Value sampleDomain() {
  return Value::dictionary({
      {"uint32max", Value::unsignedInteger(4294967295u)},
      {"minusOne", Value::integer(-1)},
      {"int64min", Value::integer(kInt64Min)},
      {"int64max", Value::integer(kInt64Max)},
      {"uint64max", Value::unsignedInteger(kUInt64Max)},
      {"small", Value::integer(200)},
      {"yes", Value::boolean(true)},
      {"no", Value::boolean(false)},
      {"one", Value::integer(1)},
      {"zero", Value::integer(0)},
      {"", Value("empty key")},
      {"emptyString", Value("")},
      {"text", Value("caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80")},
      {"markup", Value("<a & b> \"quoted\" 'single'\r\nnext\tline")},
      {"real", Value::real(0.1)},
      {"negativeReal", Value::real(-2.5e-300)},
      {"data", Value::data({0x00, 0x01, 0xFF, 0x80})},
      {"emptyData", Value::data({})},
      {"longData", Value::data(Value::Bytes(200, 0xAB))},
      {"wholeDate", Value::date(600000000)},
      {"emptyArray", Value::array()},
      {"emptyDict", Value::dictionary()},
      {"nested", Value::array({Value::dictionary(
                                   {{"inner", Value::array({Value::integer(1), Value("two")})}}),
                               Value::array({Value::array()})})},
  });
}

TEST(PropertyListTest, RoundTripsKeepValuesAndStorageInBothFormats) {
  const Value domain = sampleDomain();
  for (PlistFormat format : {PlistFormat::Binary, PlistFormat::Xml}) {
    SCOPED_TRACE(format == PlistFormat::Binary ? "binary" : "xml");
    const auto bytes = serializePropertyList(domain, format);
    ASSERT_TRUE(bytes);
    const auto back = parsePropertyList(*bytes);
    ASSERT_TRUE(back);
    EXPECT_TRUE(sameStorage(*back, domain));
    EXPECT_EQ((*back)["uint32max"].intValue(), -1);
    EXPECT_EQ((*back)["uint32max"].integerValue(), 4294967295);
  }
  // Scalars and a long array as roots (reference widths above one byte).
  Value::Array many;
  for (int i = 0; i < 300; ++i) many.push_back(Value::integer(i * 1000));
  for (const Value& root :
       {Value::integer(7), Value("root"), Value::boolean(false), Value::array(std::move(many))}) {
    for (PlistFormat format : {PlistFormat::Binary, PlistFormat::Xml}) {
      const auto back = parsePropertyList(serializePropertyList(root, format).value());
      ASSERT_TRUE(back);
      EXPECT_TRUE(sameStorage(*back, root));
    }
  }
}

TEST(PropertyListTest, DatesKeepFractionsInBinaryAndWholeSecondsInXml) {
  const std::vector<double> dates = {0.25, 600000000.678, -99.5, -1e10 + 0.125, 5e9 + 0.5};
  for (double date : dates) {
    SCOPED_TRACE(date);
    const auto binary = parsePropertyList(*serializePropertyList(Value::date(date)));
    ASSERT_TRUE(binary);
    EXPECT_EQ(binary->dateValue(), date);
    const auto xml = parsePropertyList(*serializePropertyList(Value::date(date), PlistFormat::Xml));
    ASSERT_TRUE(xml);
    EXPECT_EQ(xml->dateValue(), std::floor(date));
  }
  const auto text = serializePropertyList(Value::date(-99.5), PlistFormat::Xml);
  EXPECT_NE(text->find("<date>2000-12-31T23:58:20Z</date>"), std::string::npos);
  // No point in time: neither format writes it, as no reader takes it back.
  for (double date : {double(NAN), std::numeric_limits<double>::infinity()}) {
    for (PlistFormat format : {PlistFormat::Binary, PlistFormat::Xml}) {
      EXPECT_FALSE(serializePropertyList(Value::array({Value::date(date)}), format));
    }
  }
}

TEST(PropertyListTest, SpecialRealsRoundTrip) {
  const double inf = std::numeric_limits<double>::infinity();
  for (PlistFormat format : {PlistFormat::Binary, PlistFormat::Xml}) {
    for (double number : {inf, -inf, 1e308, 5e-324, -0.0}) {
      const auto back = parsePropertyList(*serializePropertyList(Value::real(number), format));
      ASSERT_TRUE(back);
      EXPECT_EQ(back->realValue(), number);
      EXPECT_EQ(std::signbit(back->realValue()), std::signbit(number));
    }
    const auto nan = parsePropertyList(*serializePropertyList(Value::real(NAN), format));
    ASSERT_TRUE(nan);
    EXPECT_TRUE(std::isnan(nan->realValue()));
  }
}

TEST(PropertyListTest, XmlScalarsFollowThePlatformRules) {
  struct Case {
    std::string body;
    std::optional<Value> expected;
  };
  const std::optional<Value> unreadable;
  const std::vector<Case> cases = {
      {"<integer>010</integer>", Value::integer(10)},
      {"<integer>0x1F</integer>", Value::integer(31)},
      {"<integer>-0x10</integer>", Value::integer(-16)},
      {"<integer> -  5</integer>", Value::integer(-5)},
      {"<integer>+7</integer>", Value::integer(7)},
      {"<integer>4294967295</integer>", Value::integer(4294967295)},
      {"<integer>-9223372036854775808</integer>", Value::integer(kInt64Min)},
      {"<integer>18446744073709551615</integer>", Value::unsignedInteger(kUInt64Max)},
      {"<integer>0000000000000000000000001</integer>", Value::integer(1)},
      {"<integer>12abc</integer>", unreadable},
      {"<integer> 7 </integer>", unreadable},
      {"<integer></integer>", unreadable},
      {"<integer/>", unreadable},
      {"<integer>0x</integer>", unreadable},
      {"<integer>1.5</integer>", unreadable},
      {"<integer>99999999999999999999</integer>", unreadable},
      {"<integer>18446744073709551616</integer>", unreadable},
      {"<integer>-99999999999999999999</integer>", unreadable},
      {"<integer>-9223372036854775809</integer>", unreadable},
      {"<real>1.5</real>", Value::real(1.5)},
      {"<real>010.5</real>", Value::real(10.5)},
      {"<real>-Infinity</real>", Value::real(-std::numeric_limits<double>::infinity())},
      {"<real>+INF</real>", Value::real(std::numeric_limits<double>::infinity())},
      {"<real>1.5x</real>", unreadable},
      {"<real></real>", unreadable},
      {"<real>0x10</real>", unreadable},
      {"<real>1.5 </real>", unreadable},
      {"<date>2001-01-01T00:00:05Z</date>", Value::date(5)},
      {"<date>1970-01-01T00:00:00Z</date>", Value::date(-978307200)},
      {"<date>2024-02-29T12:00:00Z</date>", Value::date(730900800)},
      {"<date>2001-01-01T00:00:05.678Z</date>", unreadable},
      {"<date>2023-02-29T00:00:00Z</date>", unreadable},
      {"<date>garbage</date>", unreadable},
      {"<date></date>", unreadable},
      {"<data>AAH/\n\tgA==</data>", Value::data({0x00, 0x01, 0xFF, 0x80})},
      {"<data></data>", Value::data({})},
      {"<data>AA\xC3\xA9</data>", unreadable},
      {"<true/>", Value::boolean(true)},
      {"<false></false>", Value::boolean(false)},
      {"<string>&lt;&amp;&gt;&quot;&apos;&#233;&#x1F600;</string>",
       Value("<&>\"'\xC3\xA9\xF0\x9F\x98\x80")},
      {"<string><![CDATA[<raw>]]> and <!-- note -->text</string>", Value("<raw> and text")},
      {"<string>&foo;</string>", unreadable},
      {"<string>&#0;</string>", unreadable},
      {"<string>&#xD800;</string>", unreadable},
      {"<string>a<b/>c</string>", unreadable},
      {"<string>bad \xC3</string>", unreadable},
      {"<string>bell \x07</string>", unreadable},
      {"<unknown>1</unknown>", unreadable},
      {"<key>k</key>", unreadable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    const auto parsed = parsePropertyList(xmlDocument(c.body));
    ASSERT_EQ(parsed.has_value(), c.expected.has_value());
    if (parsed) {
      EXPECT_TRUE(sameStorage(*parsed, *c.expected));
    }
  }
}

TEST(PropertyListTest, XmlStructureErrorsMakeTheDocumentUnreadable) {
  const std::vector<std::string> unreadable = {
      xmlDocument("<dict><key>a</key></dict>"),
      xmlDocument("<dict><key>a</key><integer>1</integer><key>b</key></dict>"),
      xmlDocument("<dict><integer>1</integer><integer>2</integer></dict>"),
      xmlDocument("<true/><false/>"),
      xmlDocument("<array><true/>"),
      xmlDocument(""),
      "<plist version=\"1.0\"><true/></plist><false/>",
      "<plist version=\"1.0\"><true/></plist>trailing",
      "<plist version=\"1.0\"><array><true/></dict></plist>",
      "<plist/>",
      "",
      "   ",
      "not a plist",
      "<?xml version=\"1.0\"?>",
  };
  for (const auto& document : unreadable) {
    EXPECT_FALSE(parsePropertyList(document)) << document;
    // Every prefix of a broken or valid document is handled without a crash.
    for (std::size_t n = 0; n < document.size(); ++n)
      (void)parsePropertyList(document.substr(0, n));
  }
  const std::string valid =
      xmlDocument("<dict><key>a</key><array><integer>1</integer></array></dict>");
  // Any cut before the end of </plist> loses part of the document.
  for (std::size_t n = 0; n < valid.find("</plist>") + 8; ++n) {
    EXPECT_FALSE(parsePropertyList(valid.substr(0, n))) << n;
  }
}

TEST(PropertyListTest, XmlStructureAcceptsWhatWellFormedFilesContain) {
  const auto parsed = parsePropertyList(
      "\xEF\xBB\xBF<?xml version=\"1.0\"?><!-- c --><!DOCTYPE plist [ <!ENTITY x \"y\"> ]>"
      "<plist version='1.0'>\n<dict>\n\t<key/>\n\t<string/>\n\t<!-- between -->"
      "<key>dup</key><integer>1</integer><key>dup</key><integer>2</integer>"
      "<key>e</key><dict/><key>a</key><array/></dict></plist>\n<!-- after -->\n");
  ASSERT_TRUE(parsed);
  EXPECT_TRUE(sameStorage(*parsed, Value::dictionary({{"", Value("")},
                                                      {"dup", Value::integer(2)},
                                                      {"e", Value::dictionary()},
                                                      {"a", Value::array()}})));
  // A root element without the <plist> wrapper is accepted.
  EXPECT_TRUE(sameStorage(parsePropertyList("<array><true/></array>").value(),
                          Value::array({Value::boolean(true)})));
}

TEST(PropertyListTest, DeepNestingIsRefusedWithoutExhaustingTheStack) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<array>";
  EXPECT_FALSE(parsePropertyList(xmlDocument(deep)));

  Value nested = Value::array();
  for (int i = 0; i < 600; ++i) nested = Value::array({nested});
  EXPECT_FALSE(serializePropertyList(nested, PlistFormat::Xml));
  EXPECT_FALSE(serializePropertyList(nested, PlistFormat::Binary));

  Value shallow = Value::array();
  for (int i = 0; i < 100; ++i) shallow = Value::array({shallow});
  for (PlistFormat format : {PlistFormat::Binary, PlistFormat::Xml}) {
    const auto back = parsePropertyList(serializePropertyList(shallow, format).value());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, shallow);
  }
}

TEST(PropertyListTest, ValuesThatAreNoPropertyListAreNotSerialised) {
  const std::vector<Value> refused = {
      Value(),
      Value::null(),
      Value::object(nullptr),
      Value::array({Value::integer(1), Value::null()}),
      Value::dictionary({{"a", Value()}}),
      Value("bad \xC3"),
      Value::dictionary({{"bad \xFF key", Value::integer(1)}}),
      Value("overlong \xC0\xAF"),
  };
  for (const Value& value : refused) {
    EXPECT_FALSE(serializePropertyList(value, PlistFormat::Binary)) << value.description();
    EXPECT_FALSE(serializePropertyList(value, PlistFormat::Xml)) << value.description();
  }
  // Control characters are fine in binary but cannot be carried by XML.
  const Value control("bell \x07 and nul " + std::string(1, '\0'));
  EXPECT_FALSE(serializePropertyList(control, PlistFormat::Xml));
  const auto binary = serializePropertyList(control, PlistFormat::Binary);
  ASSERT_TRUE(binary);
  EXPECT_EQ(parsePropertyList(*binary), control);
  EXPECT_FALSE(serializePropertyList(Value::date(1e12), PlistFormat::Xml));
}

TEST(PropertyListTest, FilesFallBackToNothingAndWritesKeepTheOldFileOnFailure) {
  auto env = newMemoryEnv(defaultEnv());
  ASSERT_TRUE(env->createDirectories("/prefs", 0700).isOk());
  EXPECT_FALSE(
      readPropertyListFile(*env, "/prefs/missing.plist", platform::FileKind::PreferenceDomain));

  const Value domain = Value::dictionary({{"key", Value::integer(3)}});
  ASSERT_TRUE(writePropertyListFile(*env, "/prefs/d.plist", domain).isOk());
  EXPECT_EQ(readPropertyListFile(*env, "/prefs/d.plist", platform::FileKind::PreferenceDomain,
                                 ValueKind::Dictionary),
            domain);
  EXPECT_FALSE(readPropertyListFile(*env, "/prefs/d.plist", platform::FileKind::PreferenceDomain,
                                    ValueKind::Array));

  const Status refused = writePropertyListFile(*env, "/prefs/d.plist", Value::null());
  EXPECT_EQ(refused.code(), Status::Code::InvalidArgument);
  EXPECT_EQ(readPropertyListFile(*env, "/prefs/d.plist", platform::FileKind::PreferenceDomain),
            domain);

  ASSERT_TRUE(env->writeFileAtomically("/prefs/garbage.plist", "bplist00garbage", 0600).isOk());
  EXPECT_FALSE(
      readPropertyListFile(*env, "/prefs/garbage.plist", platform::FileKind::PreferenceDomain));
  ASSERT_TRUE(writePropertyListFile(*env, "/prefs/x.plist", domain, PlistFormat::Xml).isOk());
  std::string text;
  ASSERT_TRUE(env->readFile("/prefs/x.plist", platform::FileKind::PreferenceDomain, text).isOk());
  EXPECT_TRUE(text.starts_with("<?xml"));
  EXPECT_EQ(readPropertyListFile(*env, "/prefs/x.plist", platform::FileKind::PreferenceDomain,
                                 ValueKind::Dictionary),
            domain);
}

}  // namespace
}  // namespace platform
