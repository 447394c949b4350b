// Hand-made "bplist00" documents: what other writers produce, and what hostile or damaged
// files contain. Each must end as a value or as "unreadable".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PlistTestValues.h"
#include "platform/foundation/BinaryPlist.h"
#include "platform/foundation/PropertyList.h"

namespace platform {
namespace {

using testing_support::sameStorage;

// Lays out `objects` after the header, then a one-byte offset table and the trailer.
std::string binaryDocument(const std::vector<std::string>& objects, std::uint8_t top = 0) {
  std::string out = "bplist00";
  std::vector<std::size_t> offsets;
  for (const auto& object : objects) {
    offsets.push_back(out.size());
    out += object;
  }
  const std::size_t table = out.size();
  for (std::size_t offset : offsets) out += static_cast<char>(offset);
  std::string trailer(32, '\0');
  trailer[6] = 1;  // offset size
  trailer[7] = 1;  // reference size
  trailer[15] = static_cast<char>(objects.size());
  trailer[23] = static_cast<char>(top);
  trailer[31] = static_cast<char>(table);
  return out + trailer;
}

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

TEST(BinaryPlistTest, ReadsWhatOtherWritersProduce) {
  struct Case {
    const char* name;
    std::vector<std::string> objects;
    Value expected;
  };
  const std::vector<Case> cases = {
      {"one-byte integer is unsigned", {bytes({0x10, 0xFF})}, Value::integer(255)},
      {"four-byte integer", {bytes({0x12, 0xFF, 0xFF, 0xFF, 0xFF})}, Value::integer(4294967295)},
      {"eight-byte integer is signed",
       {bytes({0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
       Value::integer(-1)},
      {"sixteen-byte integer above INT64_MAX",
       {bytes({0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
       Value::unsignedInteger(18446744073709551615u)},
      {"sixteen-byte negative integer",
       {bytes({0x14, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
               0xFF, 0xFF, 0xFE})},
       Value::integer(-2)},
      {"single-precision real", {bytes({0x22, 0x3F, 0xC0, 0x00, 0x00})}, Value::real(1.5)},
      {"date", {bytes({0x33, 0xC0, 0x58, 0xE0, 0, 0, 0, 0, 0})}, Value::date(-99.5)},
      {"booleans",
       {bytes({0xA2, 1, 2}), bytes({0x09}), bytes({0x08})},
       Value::array({Value::boolean(true), Value::boolean(false)})},
      {"UTF-16 with a pair and a lone surrogate",
       {bytes({0x63, 0xD8, 0x3D, 0xDE, 0x00, 0xDC, 0x00})},
       Value("\xF0\x9F\x98\x80\xEF\xBF\xBD")},
      {"long data with an integer length",
       {bytes({0x4F, 0x10, 0x10}) + std::string(16, 'x')},
       Value::data(Value::Bytes(16, 'x'))},
      {"shared objects and duplicate keys (last wins)",
       {bytes({0xD2, 1, 1, 2, 3}), bytes({0x51, 'k'}), bytes({0x10, 1}), bytes({0x10, 2})},
       Value::dictionary({{"k", Value::integer(2)}})},
      {"top object other than the first", {bytes({0x10, 1}), bytes({0x51, 'x'})}, Value("x")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::uint8_t top = std::string(c.name).starts_with("top object") ? 1 : 0;
    const auto parsed = parsePropertyList(binaryDocument(c.objects, top));
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(sameStorage(*parsed, c.expected));
  }
}

TEST(BinaryPlistTest, DamagedOrHostileDocumentsAreUnreadable) {
  struct Case {
    const char* name;
    std::string document;
  };
  std::string badTrailer = binaryDocument({bytes({0x09})});
  badTrailer[badTrailer.size() - 26] = 0;  // reference size 0
  std::string farOffset = binaryDocument({bytes({0x09})});
  farOffset[farOffset.size() - 33] = 0x7F;  // offset beyond the table
  std::string hugeCount = binaryDocument({bytes({0x09})});
  hugeCount[hugeCount.size() - 17] = 0x7F;
  // Three offsets, all to the one byte there is: the table holds the count, the objects do not.
  std::string countPastObjects = binaryDocument({bytes({0x09}), bytes({}), bytes({})});
  const std::vector<Case> cases = {
      {"array containing itself", binaryDocument({bytes({0xA1, 0})})},
      {"two arrays containing each other", binaryDocument({bytes({0xA1, 1}), bytes({0xA1, 0})})},
      {"reference past the object count", binaryDocument({bytes({0xA1, 5})})},
      {"dictionary with a non-string key", binaryDocument({bytes({0xD1, 1, 1}), bytes({0x10, 1})})},
      {"128-bit integer beyond 64 bits",
       binaryDocument({bytes({0x14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0})})},
      {"integer wider than 16 bytes", binaryDocument({bytes({0x15, 0, 0})})},
      {"data longer than the file", binaryDocument({bytes({0x4F, 0x10, 0x7F, 1, 2})})},
      {"non-ASCII byte in an ASCII string", binaryDocument({bytes({0x51, 0xE9})})},
      {"null object", binaryDocument({bytes({0x00})})},
      {"UID", binaryDocument({bytes({0x80, 0x01})})},
      {"set", binaryDocument({bytes({0xC0})})},
      {"reference size zero", badTrailer},
      {"offset beyond the table", farOffset},
      {"object count beyond the table", hugeCount},
      {"object count beyond the objects", countPastObjects},
      {"date that is not a number", binaryDocument({bytes({0x33, 0x7F, 0xF8, 0, 0, 0, 0, 0, 0})})},
      {"infinite date", binaryDocument({bytes({0x33, 0xFF, 0xF0, 0, 0, 0, 0, 0, 0})})},
      {"header only", "bplist00"},
      {"other version", "bplist15" + binaryDocument({bytes({0x09})}).substr(8)},
  };
  for (const auto& c : cases) EXPECT_FALSE(parsePropertyList(c.document)) << c.name;
}

TEST(BinaryPlistTest, EveryTruncationIsUnreadable) {
  const Value domain =
      Value::dictionary({{"list", Value::array({Value("a"), Value::integer(-5), Value::date(1.5)})},
                         {"flag", Value::boolean(true)},
                         {"text", Value("\xC3\xA9t\xC3\xA9")}});
  const std::string document = serializePropertyList(domain).value();
  for (std::size_t n = 0; n < document.size(); ++n) {
    EXPECT_FALSE(parsePropertyList(document.substr(0, n))) << n;
  }
  // Flipping any single byte never crashes the reader.
  for (std::size_t i = 0; i < document.size(); ++i) {
    std::string damaged = document;
    damaged[i] = static_cast<char>(damaged[i] ^ 0xFF);
    (void)parsePropertyList(damaged);
  }
}

TEST(BinaryPlistTest, ExponentialSharingIsRefused) {
  // Each array holds its successor fifteen times: 15^40 objects if expanded.
  std::vector<std::string> objects;
  for (int i = 0; i < 40; ++i) {
    std::string array = bytes({0xAF, 0x10, 15});
    for (int j = 0; j < 15; ++j) array += static_cast<char>(i + 1);
    objects.push_back(array);
  }
  objects.push_back(bytes({0x09}));
  EXPECT_FALSE(parsePropertyList(binaryDocument(objects)));
  // Read in place, checked or copied into another document: the same refusal.
  const auto document = BinaryPlistDocument::open(binaryDocument(objects));
  ASSERT_TRUE(document);
  EXPECT_FALSE(document->validate(document->root()));
  EXPECT_FALSE(document->decode(document->root()));
  BinaryPlistBuilder builder;
  EXPECT_FALSE(builder.addFrom(*document, document->root()));
}

TEST(BinaryPlistTest, RepeatedValuesAreWrittenOnceAndCopiedDocumentsKeepTheirValues) {
  Value::Dictionary domain;
  for (int i = 0; i < 1000; ++i) {
    domain.emplace("app" + std::to_string(i), Value::dictionary({{"flag", Value::boolean(true)},
                                                                 {"level", Value::integer(2)},
                                                                 {"name", Value("\xC3\xA9")}}));
  }
  const std::string bytes = serializePropertyList(Value(domain)).value();
  const auto document = BinaryPlistDocument::open(bytes);
  ASSERT_TRUE(document);
  // The root, 1,000 keys, and the dictionary with its three keys and values once.
  EXPECT_EQ(document->objectCount(), 1u + 1000u + 1u + 6u);
  ASSERT_TRUE(document->validate(document->root()));
  EXPECT_TRUE(sameStorage(document->decode(document->root()).value(), Value(domain)));

  // Copied entry by entry next to new values, the sharing carries over.
  BinaryPlistBuilder builder;
  std::vector<std::pair<BinaryPlistBuilder::Ref, BinaryPlistBuilder::Ref>> entries;
  ASSERT_TRUE(document->forEachEntry(
      document->root(), [&](std::string_view key, bool inPlace, BinaryPlistDocument::Ref value) {
        EXPECT_TRUE(inPlace);
        entries.emplace_back(builder.addString(key).value(),
                             key == "app5" ? builder.add(Value::integer(2)).value()
                                           : builder.addFrom(*document, value).value());
      }));
  const auto copy = BinaryPlistDocument::open(builder.finish(builder.addDictionary(entries)));
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->objectCount(), 1u + 1000u + 1u + 6u);
  domain["app5"] = Value::integer(2);
  EXPECT_TRUE(sameStorage(copy->decode(copy->root()).value(), Value(domain)));
}

TEST(BinaryPlistTest, SharedContainersMayNotStandForMoreObjectsThanTheInputAllows) {
  // Four arrays, each holding its successor 63 times: 16 million objects in 300 bytes.
  std::vector<std::string> objects;
  for (int i = 0; i < 4; ++i) {
    std::string array = bytes({0xAF, 0x10, 63});
    array += std::string(63, static_cast<char>(i + 1));
    objects.push_back(array);
  }
  objects.push_back(bytes({0x09}));
  EXPECT_FALSE(parsePropertyList(binaryDocument(objects)));
  // Sharing that stays within bounds still reads.
  objects[1] = bytes({0xA2, 2, 2});
  objects[2] = bytes({0xA2, 3, 3});
  objects[3] = bytes({0xA1, 4});
  EXPECT_TRUE(parsePropertyList(binaryDocument(objects)));
}

TEST(BinaryPlistTest, ALargeRealDomainStaysReadable) {
  Value::Dictionary applications;
  for (int i = 0; i < 10000; ++i) {
    applications["com.example.application" + std::to_string(i)] =
        Value::dictionary({{"autoLaunch", Value::boolean(i % 2 == 0)},
                           {"backgroundBehavior", Value::unsignedInteger(4294967295u)},
                           {"preventTermination", Value::boolean(false)},
                           {"showActiveIndicator", Value::boolean(true)},
                           {"showInactiveIndicator", Value::boolean(i % 3 == 0)}});
  }
  const Value domain(std::move(applications));
  const std::string document = serializePropertyList(domain).value();
  EXPECT_EQ(parsePropertyList(document), domain);
}

}  // namespace
}  // namespace platform
