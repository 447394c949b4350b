#include "RequestGuard.h"

#include <gtest/gtest.h>

namespace settingsapp {
namespace {

constexpr std::uint16_t kPort = 41234;

RequestFacts get(std::string_view host) {
  RequestFacts facts;
  facts.method = "GET";
  facts.host = host;
  return facts;
}

TEST(RequestGuardTest, OnlyOurOwnHostNamesAreAnswered) {
  EXPECT_FALSE(checkRequest(get("127.0.0.1:41234"), kPort));
  EXPECT_FALSE(checkRequest(get("LocalHost:41234"), kPort));
  // DNS rebinding: a foreign name that resolves to 127.0.0.1 still says its own name.
  for (std::string_view host : {"", "attacker.example:41234", "127.0.0.1", "127.0.0.1:80",
                                "localhost:412345", "127.0.0.1.attacker.example:41234",
                                "[::1]:41234", "0.0.0.0:41234", "evil@127.0.0.1:41234"}) {
    auto refusal = checkRequest(get(host), kPort);
    ASSERT_TRUE(refusal) << host;
    EXPECT_EQ(refusal->status, 403);
  }
}

TEST(RequestGuardTest, ForeignOriginsAreRefusedOnEveryRequest) {
  RequestFacts facts = get("127.0.0.1:41234");
  facts.hasOrigin = true;
  for (std::string_view origin : {"http://127.0.0.1:41234", "http://localhost:41234"}) {
    facts.origin = origin;
    EXPECT_FALSE(checkRequest(facts, kPort)) << origin;
  }
  for (std::string_view origin :
       {"null", "", "https://127.0.0.1:41234", "http://127.0.0.1:1", "http://attacker.example",
        "http://127.0.0.1:41234/path", "file://"}) {
    facts.origin = origin;
    auto refusal = checkRequest(facts, kPort);
    ASSERT_TRUE(refusal) << origin;
    EXPECT_EQ(refusal->status, 403);
  }
}

TEST(RequestGuardTest, WebSocketHandshakeNeedsOurOrigin) {
  RequestFacts facts = get("127.0.0.1:41234");
  facts.websocketUpgrade = true;
  EXPECT_TRUE(checkRequest(facts, kPort));
  facts.hasOrigin = true;
  facts.origin = "http://127.0.0.1:41234";
  EXPECT_FALSE(checkRequest(facts, kPort));
}

TEST(RequestGuardTest, ActionsMustBeSameSiteJson) {
  RequestFacts facts = get("127.0.0.1:41234");
  facts.method = "POST";
  facts.contentType = "application/json; charset=utf-8";
  EXPECT_FALSE(checkRequest(facts, kPort));  // a script or curl without an Origin

  facts.secFetchSite = "cross-site";
  EXPECT_EQ(checkRequest(facts, kPort)->status, 403);
  facts.secFetchSite = "same-origin";
  EXPECT_FALSE(checkRequest(facts, kPort));

  // What an HTML form can send without asking first.
  for (std::string_view type :
       {"", "text/plain", "application/x-www-form-urlencoded", "multipart/form-data; boundary=x"}) {
    facts.contentType = type;
    auto refusal = checkRequest(facts, kPort);
    ASSERT_TRUE(refusal) << type;
    EXPECT_EQ(refusal->status, 415);
  }
}

TEST(RequestGuardTest, OnlyABodyEndingInChunkedHasAKnownLength) {
  RequestFacts facts = get("127.0.0.1:41234");
  facts.hasTransferEncoding = true;
  for (std::string_view list : {"chunked", " Chunked ", "chunked,", ", chunked"}) {
    facts.transferEncoding = list;
    EXPECT_FALSE(checkRequest(facts, kPort)) << list;
  }
  for (std::string_view list : {"", "gzip", "chunked, gzip", "chunked,identity", "chunkedx"}) {
    facts.transferEncoding = list;
    auto refusal = checkRequest(facts, kPort);
    ASSERT_TRUE(refusal) << list;
    EXPECT_EQ(refusal->status, 400) << list;
  }
  facts.transferEncoding = "gzip, chunked";
  EXPECT_EQ(checkRequest(facts, kPort)->status, 501);
}

}  // namespace
}  // namespace settingsapp
