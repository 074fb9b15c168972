// --http and its company on talmir880-scpi's command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "programs/talmir880-scpi/options.hpp"

namespace talmir880::programs {
namespace {

TEST(WebOptions, OffUnlessAskedABarePortOnLoopback) {
  EXPECT_FALSE(parse_server_options({}).options->http);
  struct Case {
    std::vector<std::string> args;
    std::string host;
    int port;
  };
  for (const Case& c : std::vector<Case>{{{"--http", "8080"}, "127.0.0.1", 8080},
                                         {{"--http=0"}, "127.0.0.1", 0},
                                         {{"--http", "0.0.0.0:80"}, "0.0.0.0", 80},
                                         {{"--http", "[::]:8080"}, "::", 8080}}) {
    const ParsedServerOptions parsed = parse_server_options(c.args);
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_TRUE(parsed.options->http);
    EXPECT_EQ(parsed.options->http_host, c.host);
    EXPECT_EQ(parsed.options->http_port, c.port);
  }
  EXPECT_FALSE(parse_server_options({"--http", "8080", "--no-http"}).options->http);
  EXPECT_EQ(parse_server_options({"--http", "1", "--http-password-file", "/p"})
                .options->http_password_file,
            "/p");
  const ParsedServerOptions tls =
      parse_server_options({"--https", "[::1]:8443", "--tls-certificate", "/c", "--tls-key", "/k"});
  ASSERT_TRUE(tls.options) << tls.error;
  EXPECT_TRUE(tls.options->https);
  EXPECT_FALSE(tls.options->http) << "instead of --http";
  EXPECT_EQ(tls.options->https_host, "::1");
  EXPECT_EQ(tls.options->https_port, 8443);
  EXPECT_EQ(tls.options->tls_key, "/k");
}

TEST(WebOptions, RefusedForms) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  for (const Case& c : std::vector<Case>{
           {{"--http"}, "--http needs a value"},
           {{"--http", "web"}, "--http takes [HOST:]PORT (an IPv6 host in brackets), not web"},
           {{"--http", "70000"}, "--http takes [HOST:]PORT (an IPv6 host in brackets), not 70000"},
           {{"--http", "8080", "--stdio"}, "--http and --stdio exclude each other"},
           {{"--http-password-file", "/p"}, "--http-password-file needs --http or --https"},
           {{"--https", "8443", "--stdio"}, "--https and --stdio exclude each other"},
           {{"--https", "8443", "--tls-key", "/k"}, "--tls-certificate and --tls-key go together"},
           {{"--http", "80", "--tls-certificate", "/c", "--tls-key", "/k"},
            "--tls-certificate and --tls-key need --https"},
           {{"--no-http=1"}, "--no-http takes no value"}}) {
    const ParsedServerOptions parsed = parse_server_options(c.args);
    EXPECT_FALSE(parsed.options);
    EXPECT_EQ(parsed.error, c.error);
  }
}

}  // namespace
}  // namespace talmir880::programs
