// Our property lists against two independent implementations: Python's plistlib (both
// directions, both formats) and libplist (reading what we write, and the reverse).
#include <plist/plist.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "PlistTestValues.h"
#include "platform/foundation/PropertyList.h"
#include "support/TestSupport.h"

namespace platform {
namespace {

using testing_support::sameStorage;

// check-<format> FILE: exits 0 when FILE holds the expected value with the same types.
// write-<format> FILE: writes the expected value.
constexpr const char* kPythonScript = R"PY(
import datetime, plistlib, sys
def expected(fraction):
    return {
        "uint32max": 4294967295, "minusOne": -1, "int64min": -2**63, "int64max": 2**63 - 1,
        "uint64max": 2**64 - 1, "yes": True, "no": False, "one": 1, "zero": 0,
        "": "empty key", "emptyString": "", "text": "caf\u00e9 \u65e5\u672c \U0001F600",
        "markup": "<a & b> \"q\"\nx\ttab", "real": 0.1, "data": b"\x00\x01\xff",
        "emptyData": b"", "emptyDict": {},
        "date": datetime.datetime(2020, 1, 2, 3, 4, 5, 250000 if fraction else 0),
        "nested": [{"inner": [1, "two", 2.5]}, []], "twice": [[1, "two"], [1, "two"]],
    }
def same(a, b, path="root"):
    if type(a) is not type(b):
        raise SystemExit(f"{path}: {type(a).__name__} vs {type(b).__name__}")
    if isinstance(a, dict):
        if set(a) != set(b):
            raise SystemExit(f"{path}: keys {sorted(a)} vs {sorted(b)}")
        for k in a:
            same(a[k], b[k], path + "." + k)
    elif isinstance(a, list):
        if len(a) != len(b):
            raise SystemExit(f"{path}: lengths {len(a)} vs {len(b)}")
        for i, (x, y) in enumerate(zip(a, b)):
            same(x, y, f"{path}[{i}]")
    elif a != b:
        raise SystemExit(f"{path}: {a!r} vs {b!r}")
mode, path = sys.argv[1], sys.argv[2]
binary = mode.endswith("binary")
if mode.startswith("check"):
    with open(path, "rb") as f:
        same(plistlib.load(f), expected(binary))
else:
    with open(path, "wb") as f:
        plistlib.dump(expected(binary), f, fmt=plistlib.FMT_BINARY if binary else plistlib.FMT_XML)
)PY";

Value expectedValue(bool fraction) {
  return Value::dictionary({
      {"uint32max", Value::integer(4294967295)},
      {"minusOne", Value::integer(-1)},
      {"int64min", Value::integer(std::numeric_limits<std::int64_t>::min())},
      {"int64max", Value::integer(std::numeric_limits<std::int64_t>::max())},
      {"uint64max", Value::unsignedInteger(std::numeric_limits<std::uint64_t>::max())},
      {"yes", Value::boolean(true)},
      {"no", Value::boolean(false)},
      {"one", Value::integer(1)},
      {"zero", Value::integer(0)},
      {"", Value("empty key")},
      {"emptyString", Value("")},
      {"text", Value("caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80")},
      {"markup", Value("<a & b> \"q\"\nx\ttab")},
      {"real", Value::real(0.1)},
      {"data", Value::data({0x00, 0x01, 0xFF})},
      {"emptyData", Value::data({})},
      {"emptyDict", Value::dictionary()},
      {"date", Value::date(fraction ? 599627045.25 : 599627045.0)},
      {"nested",
       Value::array({Value::dictionary({{"inner", Value::array({Value::integer(1), Value("two"),
                                                                Value::real(2.5)})}}),
                     Value::array()})},
      // Written once, referred to twice.
      {"twice", Value::array(Value::Array(2, Value::array({Value::integer(1), Value("two")})))},
  });
}

std::optional<std::string> findPython() {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    const std::size_t end = std::min(folders.find(':', start), folders.size());
    const std::string candidate = folders.substr(start, end - start) + "/python3";
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

int runPython(const std::string& python, const std::string& mode, const std::string& file) {
  auto child = hxtest::ChildProcess::program(python, {"-c", kPythonScript, mode, file});
  return child.wait().value_or(-1);
}

TEST(PlistInteropTest, PythonReadsWhatWeWriteAndWeReadWhatPythonWrites) {
  const auto python = findPython();
  if (!python) GTEST_SKIP() << "python3 is not installed";
  hxtest::TemporaryDirectory directory;
  Env& env = defaultEnv();
  for (PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
    const bool binary = format == PlistFormat::Binary;
    const std::string suffix = binary ? "binary" : "xml";
    SCOPED_TRACE(suffix);

    const std::string ours = directory / ("ours-" + suffix + ".plist");
    ASSERT_TRUE(writePropertyListFile(env, ours, expectedValue(binary), format).isOk());
    EXPECT_EQ(runPython(*python, "check-" + suffix, ours), 0);

    const std::string theirs = directory / ("theirs-" + suffix + ".plist");
    ASSERT_EQ(runPython(*python, "write-" + suffix, theirs), 0);
    const auto read = readPropertyListFile(env, theirs, platform::FileKind::PreferenceDomain,
                                           ValueKind::Dictionary);
    ASSERT_TRUE(read);
    EXPECT_TRUE(sameStorage(*read, expectedValue(binary)));
  }
}

struct PlistFree {
  void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

TEST(PlistInteropTest, LibplistReadsWhatWeWriteAndWeReadWhatItWrites) {
  const Value value = expectedValue(true);
  for (PlistFormat format : {PlistFormat::Binary, PlistFormat::Xml}) {
    const std::string bytes = serializePropertyList(value, format).value();
    plist_t raw = nullptr;
    if (format == PlistFormat::Binary) {
      plist_from_bin(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &raw);
    } else {
      plist_from_xml(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &raw);
    }
    PlistPtr root(raw);
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(plist_get_node_type(root.get()), PLIST_DICT);
    EXPECT_EQ(plist_dict_get_size(root.get()), value.dictionaryValue().size());
    std::uint64_t number = 0;
    plist_get_uint_val(plist_dict_get_item(root.get(), "uint32max"), &number);
    EXPECT_EQ(number, 4294967295u);
    char* text = nullptr;
    plist_get_string_val(plist_dict_get_item(root.get(), "text"), &text);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), value["text"].stringValue());
    std::free(text);
    std::uint8_t flag = 0;
    plist_get_bool_val(plist_dict_get_item(root.get(), "yes"), &flag);
    EXPECT_EQ(flag, 1);
  }

  PlistPtr dict(plist_new_dict());
  plist_dict_set_item(dict.get(), "count", plist_new_uint(4294967295u));
  plist_dict_set_item(dict.get(), "name", plist_new_string("\xC3\xA9t\xC3\xA9"));
  plist_dict_set_item(dict.get(), "on", plist_new_bool(1));
  plist_dict_set_item(dict.get(), "when", plist_new_date(100, 500000));
  plist_dict_set_item(dict.get(), "ratio", plist_new_real(0.5));
  const Value expected = Value::dictionary({{"count", Value::integer(4294967295)},
                                            {"name", Value("\xC3\xA9t\xC3\xA9")},
                                            {"on", Value::boolean(true)},
                                            {"when", Value::date(100.5)},
                                            {"ratio", Value::real(0.5)}});
  char* out = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(dict.get(), &out, &length);
  ASSERT_NE(out, nullptr);
  const auto fromBinary = parsePropertyList(std::string_view(out, length));
  plist_to_bin_free(out);
  ASSERT_TRUE(fromBinary);
  EXPECT_TRUE(sameStorage(*fromBinary, expected));

  plist_to_xml(dict.get(), &out, &length);
  ASSERT_NE(out, nullptr);
  const auto fromXml = parsePropertyList(std::string_view(out, length));
  plist_to_xml_free(out);
  ASSERT_TRUE(fromXml);
  EXPECT_EQ((*fromXml)["count"], Value::integer(4294967295));
  EXPECT_EQ((*fromXml)["name"], expected["name"]);
}

}  // namespace
}  // namespace platform
