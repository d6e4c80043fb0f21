#include "platform/SystemProxy.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace {

TEST(SystemProxyTest, ReadsTheFirstSetVariableAsHostAndPort) {
  struct Case {
    const char* http;   // http_proxy
    const char* HTTP;   // HTTP_PROXY
    const char* all;    // all_proxy
    bool found;
    const char* address;
  };
  const Case cases[] = {
      {nullptr, nullptr, nullptr, false, ""},
      {"", "", "", false, ""},
      {"proxy:8080", nullptr, nullptr, true, "proxy:8080"},
      {"http://proxy.lan:3128/", nullptr, nullptr, true, "proxy.lan:3128"},
      {"http://user:pw@proxy:3128", nullptr, nullptr, true, "proxy:3128"},
      {nullptr, "HTTP://upper:80", nullptr, true, "upper:80"},
      {"", nullptr, "socks5://all:1080", true, "all:1080"},
      {"first:1", "second:2", "third:3", true, "first:1"},
      {"proxyhost", nullptr, nullptr, true, "proxyhost"},
  };
  for (const Case& c : cases) {
    const char* names[] = {"http_proxy", "HTTP_PROXY", "all_proxy"};
    const char* values[] = {c.http, c.HTTP, c.all};
    for (int i = 0; i < 3; ++i) {
      if (values[i]) {
        setenv(names[i], values[i], 1);
      } else {
        unsetenv(names[i]);
      }
    }
    std::string address;
    EXPECT_EQ(platform::SystemProxy(address), c.found) << c.address;
    EXPECT_EQ(address, c.address);
  }
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy"}) unsetenv(name);
}

}  // namespace
