// tavik-serve's command line.
#include "host/serve/serve_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavik::testing {
namespace {

OptionsOutcome Parse(std::vector<std::string> arguments, ServeOptions* options,
                     std::string* error) {
  return ParseServeOptions(arguments, options, error);
}

TEST(ServeOptions, DefaultsWithoutArguments) {
  ServeOptions options;
  std::string error;
  ASSERT_EQ(Parse({}, &options, &error), OptionsOutcome::kRun);
  EXPECT_EQ(options.port, 8080);
  EXPECT_EQ(options.bind_address, "127.0.0.1");
  EXPECT_EQ(options.mount, "/search");
  EXPECT_EQ(options.threads, 1024);
  EXPECT_TRUE(options.document_root.empty());
  EXPECT_TRUE(options.extension.empty());
  EXPECT_TRUE(options.access_log.empty());
  EXPECT_TRUE(options.trusted_proxies.empty());
  EXPECT_EQ(options.head_timeout_seconds, 10);
  EXPECT_EQ(options.body_timeout_seconds, 20);
  EXPECT_EQ(options.body_min_rate, 500);
  EXPECT_EQ(options.health_path, "/healthz");
  EXPECT_EQ(options.metrics_path, "/metrics");
  EXPECT_EQ(options.whole_answer_bytes, 4 << 20);
}

TEST(ServeOptions, EveryOptionInBothForms) {
  ServeOptions options;
  std::string error;
  ASSERT_EQ(Parse({"--port", "0", "--bind=0.0.0.0", "--docroot", "/srv/site",
                   "--extension=/lib/x.so", "--mount", "/find//", "--threads=4",
                   "--access-log", "-", "--trusted-proxy", "127.0.0.1",
                   "--trusted-proxy=10.0.0.0/8", "--head-timeout", "5",
                   "--body-timeout=7", "--body-min-rate", "0",
                   "--health-path=/ping/", "--metrics-path", "/stats",
                   "--whole-answer-limit", "0"},
                  &options, &error),
            OptionsOutcome::kRun)
      << error;
  EXPECT_EQ(options.port, 0);
  EXPECT_EQ(options.bind_address, "0.0.0.0");
  EXPECT_EQ(options.document_root, "/srv/site");
  EXPECT_EQ(options.extension, "/lib/x.so");
  EXPECT_EQ(options.mount, "/find");
  EXPECT_EQ(options.threads, 4);
  EXPECT_EQ(options.access_log, "-");
  ASSERT_EQ(options.trusted_proxies.size(), 2u);
  EXPECT_EQ(options.trusted_proxies[1].network, 0x0A000000u);
  EXPECT_EQ(options.head_timeout_seconds, 5);
  EXPECT_EQ(options.body_timeout_seconds, 7);
  EXPECT_EQ(options.body_min_rate, 0);
  EXPECT_EQ(options.health_path, "/ping");
  EXPECT_EQ(options.metrics_path, "/stats");
  EXPECT_EQ(options.whole_answer_bytes, 0);
}

TEST(ServeOptions, Help) {
  ServeOptions options;
  std::string error;
  EXPECT_EQ(Parse({"--port", "1", "--help"}, &options, &error),
            OptionsOutcome::kHelp);
  EXPECT_EQ(Parse({"-h"}, &options, &error), OptionsOutcome::kHelp);
  EXPECT_EQ(Parse({"--version", "--port", "x"}, &options, &error),
            OptionsOutcome::kVersion);
}

TEST(ServeOptions, BadArgumentsGiveOneLineReasons) {
  const std::vector<std::vector<std::string>> kBad = {
      {"--bogus"},
      {"--port"},
      {"--port", "65536"},
      {"--port", "-1"},
      {"--port", "80x"},
      {"--port="},
      {"--threads", "0"},
      {"--threads", "4097"},
      {"--bind", "localhost"},
      {"--bind", "::1"},
      {"--mount", "search"},
      {"--mount", "/"},
      {"--mount", "/a b"},
      {"--mount", "/a?b"},
      {"--docroot="},
      {"--docroot", ""},
      {"--docroot", "/a", "--docroot", "/a"},
      {"--extension"},
      {"--trusted-proxy", "localhost"},
      {"--trusted-proxy", "10.0.0.0/33"},
      {"--head-timeout", "0"},
      {"--body-timeout", "3601"},
      {"--body-min-rate", "-1"},
      {"--whole-answer-limit", "1073741825"},
      {"--whole-answer-limit", "4M"},
      {"stray"},
      {"-p"},
      {"--health-path", "healthz"},
      {"--metrics-path", "/search"},
      {"--metrics-path", "/search/metrics/"},
      {"--mount", "/find", "--health-path", "/find/h"},
      {"--health-path", "/x", "--metrics-path", "/x/"},
  };
  for (const auto& arguments : kBad) {
    ServeOptions options;
    std::string error;
    EXPECT_EQ(Parse(arguments, &options, &error), OptionsOutcome::kError)
        << arguments[0];
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace tavik::testing
