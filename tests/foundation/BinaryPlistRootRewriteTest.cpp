// Rewriting a few entries of a large root dictionary in place of a rebuild: the result must read
// as the rebuilt document would, to us and to another reader, and must not grow without bound.
#include <plist/plist.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "PlistTestValues.h"
#include "platform/foundation/BinaryPlist.h"
#include "platform/foundation/PropertyList.h"

namespace platform {
namespace {

using testing_support::sameStorage;
using Changes = std::map<std::string, Value, std::less<>>;

Value::Dictionary applications(int count) {
  Value::Dictionary domain;
  for (int i = 0; i < count; ++i) {
    domain.emplace("app" + std::to_string(i),
                   Value::dictionary({{"autoLaunch", Value::boolean(i % 2 == 0)},
                                      {"backgroundBehavior", Value::integer(i % 3)}}));
  }
  domain.emplace("backgrounding", Value::array({Value("app1"), Value("app2")}));
  return domain;
}

std::optional<std::string> rewrite(const std::string& bytes, const Changes& changes) {
  const auto document = BinaryPlistDocument::open(bytes);
  if (!document) return std::nullopt;
  std::vector<std::pair<std::string_view, const Value*>> entries;
  for (const auto& [key, value] : changes) {
    entries.emplace_back(key, value.isNone() ? nullptr : &value);
  }
  std::uint64_t kept = 0;
  auto rewritten = document->withRootEntries(entries, FileKind::PreferenceDomain, kept);
  // What is said to be kept is: the next read may take it from the last one.
  if (rewritten && bytes.compare(0, kept, *rewritten, 0, kept) != 0) ADD_FAILURE() << "not kept";
  return rewritten;
}

// The result as another reader sees it: how many entries its root holds.
std::uint32_t entriesSeenByLibplist(const std::string& bytes) {
  plist_t root = nullptr;
  plist_from_bin(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
  if (root == nullptr) return 0;
  const std::uint32_t size = plist_dict_get_size(root);
  plist_free(root);
  return size;
}

TEST(BinaryPlistRootRewriteTest, ReplacesAddsAndRemovesEntriesAsARebuildWould) {
  Value::Dictionary domain = applications(300);
  const std::string bytes = serializePropertyList(Value(domain)).value();
  const Changes changes = {
      {"aaa", Value("first")},                                                // before every key
      {"app150", Value::dictionary({{"autoLaunch", Value::boolean(true)}})},  // replaced
      {"app151x", Value::array({Value::integer(-1), Value("app1")})},         // between two keys
      {"app7", Value()},                                                      // removed
      {"missing", Value()},                                                   // nothing to remove
      {"zzz", Value::real(0.5)},                                              // after every key
  };
  const auto rewritten = rewrite(bytes, changes);
  ASSERT_TRUE(rewritten);
  for (const auto& [key, value] : changes) {
    if (value.isNone()) {
      domain.erase(key);
    } else {
      domain.insert_or_assign(key, value);
    }
  }
  const auto document = BinaryPlistDocument::open(*rewritten);
  ASSERT_TRUE(document);
  ASSERT_TRUE(document->validate(document->root()));
  EXPECT_TRUE(sameStorage(document->decode(document->root()).value(), Value(domain)));
  // Keys stay in byte order, so a key is still found by binary search.
  EXPECT_TRUE(document->findInSortedDictionary(document->root(), "app151x"));
  EXPECT_FALSE(document->findInSortedDictionary(document->root(), "app7"));
  EXPECT_EQ(entriesSeenByLibplist(*rewritten), domain.size());

  // Rewritten again, from what the first rewrite left.
  const auto again = rewrite(*rewritten, {{"aaa", Value()}, {"app0", Value::boolean(false)}});
  ASSERT_TRUE(again);
  domain.erase("aaa");
  domain["app0"] = Value::boolean(false);
  EXPECT_TRUE(sameStorage(parsePropertyList(*again).value(), Value(domain)));
}

TEST(BinaryPlistRootRewriteTest, RepeatedRewritesOfOneEntryStayWithinABoundedSize) {
  Value::Dictionary domain = applications(1000);
  std::string bytes = serializePropertyList(Value(domain)).value();
  const std::size_t built = bytes.size();
  int rebuilds = 0;
  for (int i = 0; i < 3000; ++i) {
    const Value settings = Value::dictionary(
        {{"autoLaunch", Value::boolean(i % 2 == 0)}, {"backgroundBehavior", Value::integer(i)}});
    domain["app5"] = settings;
    if (auto rewritten = rewrite(bytes, {{"app5", settings}})) {
      bytes = std::move(*rewritten);
    } else {
      // What the caller does when the rewrite declines: the document built whole.
      ++rebuilds;
      bytes = serializePropertyList(Value(domain)).value();
    }
    ASSERT_LT(bytes.size(), built + built / 4) << "after " << i + 1 << " rewrites";
  }
  EXPECT_GT(rebuilds, 0);
  EXPECT_LT(rebuilds, 300);
  EXPECT_TRUE(sameStorage(parsePropertyList(bytes).value(), Value(domain)));
}

TEST(BinaryPlistRootRewriteTest, ADocumentLaidOutOtherwiseIsLeftToARebuild) {
  // The root first, its key and value after it: another writer's layout.
  const std::string other = "bplist00\xD1\x01\x02\x51k\x09" + std::string(1, '\x08') +
                            std::string(1, '\x0B') + std::string(1, '\x0D') + std::string(6, '\0') +
                            "\x01\x01" + std::string(7, '\0') + "\x03" + std::string(8, '\0') +
                            std::string(7, '\0') + "\x0E";
  ASSERT_TRUE(parsePropertyList(other));
  EXPECT_FALSE(rewrite(other, {{"k", Value::boolean(false)}}));
}

}  // namespace
}  // namespace platform
