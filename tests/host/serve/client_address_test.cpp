// Who a request came from, behind front servers the operator trusts.
#include "host/serve/client_address.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/fake_exchange.h"

namespace tavik::testing {
namespace {

TEST(ParseIpv4Network, AnAddressOrANetworkOfItsFirstBits) {
  struct Case {
    const char* text;
    bool valid;
    uint32_t network, mask;
  };
  const Case kCases[] = {
      {"127.0.0.1", true, 0x7F000001, 0xFFFFFFFF},
      {"10.1.2.3/8", true, 0x0A000000, 0xFF000000},
      {"192.168.7.9/23", true, 0xC0A80600, 0xFFFFFE00},
      {"1.2.3.4/32", true, 0x01020304, 0xFFFFFFFF},
      {"1.2.3.4/0", true, 0, 0},
      {"1.2.3.4/33", false, 0, 0},
      {"1.2.3.4/", false, 0, 0},
      {"1.2.3.4/-1", false, 0, 0},
      {"1.2.3.4/8x", false, 0, 0},
      {"1.2.3", false, 0, 0},
      {"::1", false, 0, 0},
      {"localhost", false, 0, 0},
      {"", false, 0, 0},
  };
  for (const Case& item : kCases) {
    Ipv4Network network;
    ASSERT_EQ(ParseIpv4Network(item.text, &network), item.valid) << item.text;
    if (!item.valid) continue;
    EXPECT_EQ(network.network, item.network) << item.text;
    EXPECT_EQ(network.mask, item.mask) << item.text;
  }
}

// The peer is the connection's; the fields are the request's
// X-Forwarded-For fields in order.
TEST(ClientAddress, TheRightMostEntryThatIsNoTrustedProxy) {
  std::vector<Ipv4Network> trusted(2);
  ASSERT_TRUE(ParseIpv4Network("127.0.0.1", &trusted[0]));
  ASSERT_TRUE(ParseIpv4Network("10.0.0.0/8", &trusted[1]));
  struct Case {
    const char* peer;
    std::vector<const char*> fields;
    const char* client;
  };
  const Case kCases[] = {
      {"127.0.0.1", {}, "127.0.0.1"},
      {"127.0.0.1", {"203.0.113.9"}, "203.0.113.9"},
      {"127.0.0.1", {" 203.0.113.9 ,\t10.0.0.7 "}, "203.0.113.9"},
      // What the client itself put in front is not looked at.
      {"127.0.0.1", {"1.1.1.1, 203.0.113.9"}, "203.0.113.9"},
      {"127.0.0.1", {"forged, 203.0.113.9"}, "203.0.113.9"},
      {"10.9.9.9", {"198.51.100.1", "203.0.113.9, 10.1.1.1"}, "203.0.113.9"},
      {"10.9.9.9", {"198.51.100.1", "10.1.1.1"}, "198.51.100.1"},
      {"127.0.0.1", {"2001:db8::7"}, "2001:db8::7"},
      // Every entry a proxy: the left-most is as far as anyone can tell.
      {"127.0.0.1", {"10.0.0.1, 127.0.0.1"}, "10.0.0.1"},
      // An entry that is no address, on the way: the peer stays.
      {"127.0.0.1", {"203.0.113.9:4711"}, "127.0.0.1"},
      {"127.0.0.1", {"203.0.113.9, unknown"}, "127.0.0.1"},
      {"127.0.0.1", {"203.0.113.9,"}, "127.0.0.1"},
      {"127.0.0.1", {""}, "127.0.0.1"},
      {"127.0.0.1", {"[2001:db8::7]"}, "127.0.0.1"},
      {"127.0.0.1", {"198.51.100.1", "10.0.0.1, x"}, "127.0.0.1"},
      // A peer that is not trusted cannot name the client.
      {"192.0.2.1", {"203.0.113.9"}, "192.0.2.1"},
  };
  for (const Case& item : kCases) {
    FakeRequest request("GET", "/search");
    request.Header("X-Other", "1.2.3.4");
    for (const char* field : item.fields) {
      request.Header("x-forwarded-for", field);
    }
    HttpRequestFacts facts = request.facts();
    EXPECT_EQ(ClientAddress(trusted, item.peer, facts), item.client)
        << item.peer << " " << (item.fields.empty() ? "" : item.fields.back());
  }
  FakeRequest request("GET", "/search");
  request.Header("X-Forwarded-For", "203.0.113.9");
  EXPECT_EQ(ClientAddress({}, "127.0.0.1", request.facts()), "127.0.0.1");
}

}  // namespace
}  // namespace tavik::testing
