// A domain whose containers share each other was written out in full by the next write, over
// the size its reader takes: repeated containers now stay shared, and the builder tells before
// laying a document out whether the reader will take it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/BinaryPlist.h"
#include "platform/foundation/PropertyList.h"

namespace platform {
namespace {

// 200 rows of the same 100 distinct numbers under two keys, next to 8,000 bytes of data: 40,407
// objects counted as a tree.
Value sharedDomain() {
  Value::Array numbers;
  for (int i = 0; i < 100; ++i) numbers.push_back(Value::integer(1000 + i));
  const Value row = Value::array(numbers);
  const Value table = Value::array(Value::Array(200, row));
  return Value::dictionary(
      {{"a", table}, {"b", table}, {"blob", Value::data(Value::Bytes(8000, 7))}});
}

TEST(RepeatedContainersStaySharedTest, AWriteKeepsTheSharingOfWhatItRewrites) {
  const std::string original = serializePropertyList(sharedDomain()).value();
  EXPECT_LT(original.size(), 9000u);
  const auto document = BinaryPlistDocument::open(original);
  ASSERT_TRUE(document);

  // As the store rewrites a domain: each value decoded on its own (so no two share a Value),
  // one key changed, the root rebuilt.
  BinaryPlistBuilder builder;
  std::vector<std::pair<BinaryPlistBuilder::Ref, BinaryPlistBuilder::Ref>> entries;
  ASSERT_TRUE(document->forEachEntry(
      document->root(), [&](std::string_view key, bool, BinaryPlistDocument::Ref value) {
        const Value decoded = key == "blob" ? Value::integer(1) : document->decode(value).value();
        entries.emplace_back(builder.addString(key).value(), builder.add(decoded).value());
      }));
  const auto root = builder.addDictionary(entries);
  const BinaryPlistExtent extent = builder.extent(root);
  const std::string rewritten = builder.finish(root);
  EXPECT_EQ(extent.bytes, rewritten.size());
  EXPECT_EQ(extent.expandedObjects, 1u + 2u * (2u + 200u * 101u) + 2u);
  EXPECT_EQ(extent.depth, 3);
  EXPECT_LT(rewritten.size(), 1000u);

  // Without the data the same objects stand on too few bytes: the builder says so before
  // anything is laid out, as the reader refuses the document.
  EXPECT_TRUE(extent.refusal());
  EXPECT_FALSE(parsePropertyList(rewritten));
  const auto extentOf = [](std::uint64_t bytes, std::uint64_t objects, int depth) {
    return BinaryPlistExtent{bytes, objects, depth};
  };
  EXPECT_FALSE(extentOf(original.size(), 40407, 3).refusal(FileKind::InfoPlist));
  EXPECT_TRUE(extentOf((8u << 20) + 1, 1, 0).refusal(FileKind::PreferenceDomain));
  EXPECT_TRUE(extentOf(original.size(), 1, 513).refusal());
}

TEST(RepeatedContainersStaySharedTest, AValueTheSharedLayoutCannotCarryIsWrittenOutInFull) {
  Value domain = sharedDomain();
  domain.mutableDictionary().erase("blob");
  const auto written = serializePropertyList(domain);
  ASSERT_TRUE(written);
  EXPECT_GT(written->size(), 40000u);
  EXPECT_EQ(parsePropertyList(*written), domain);
}

}  // namespace
}  // namespace platform
