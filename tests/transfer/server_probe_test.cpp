#include "transfer/server_probe.h"

#include <gtest/gtest.h>

namespace qz {
namespace {

// What wget --spider -S prints, as the check reads it: the last status, and wget's own reason.
TEST(ServerProbeTest, ReadsTheLastStatusAndWgetsReason) {
  struct Case {
    const char* output;
    std::optional<int> exitCode;
    bool delivers;
    int status;
    const char* error;
  };
  const Case cases[] = {
      {"HTTP request sent, awaiting response... \n  HTTP/1.0 200 OK\n  Content-Length: 3\n"
       "Remote file exists.\n",
       0, true, 200, ""},
      {"  HTTP/1.0 401 Unauthorized\nAuthentication selected: Basic\n  HTTP/1.0 200 OK\n", 0, true,
       200, ""},
      {"  HTTP/1.0 404 File not found\nRemote file does not exist -- broken link!!!\n", 8, false,
       404, "Remote file does not exist -- broken link!!!"},
      {"Connecting to 127.0.0.1:9... failed: Connection refused.\n", 4, false, 0,
       "Connecting to 127.0.0.1:9... failed: Connection refused."},
      {"ERROR: cannot verify 127.0.0.1's certificate, issued by 'CN=x':\n"
       "  Unable to locally verify the issuer's authority.\n",
       5, false, 0, "ERROR: cannot verify 127.0.0.1's certificate, issued by 'CN=x':"},
      {"", 3, false, 0, "wget ended with exit code 3"},
      {"  HTTP/1.1 200 OK\n", std::nullopt, false, 200, "no answer in time"},
  };
  for (const Case& c : cases) {
    ServerAnswer answer = ReadProbeOutput(c.output, c.exitCode);
    EXPECT_EQ(answer.delivers, c.delivers) << c.output;
    EXPECT_EQ(answer.httpStatus, c.status) << c.output;
    EXPECT_EQ(answer.error, c.error) << c.output;
  }
}

TEST(ServerProbeTest, AsksForHeadersOnlyWithTheRunsUrlAsOneArgument) {
  BackupSettings settings;
  settings.WebDocDir = "ConfData";
  settings.DownloadScheme = "https";
  settings.DownloadTransferRateKbs = 2048;
  EXPECT_EQ(
      ProbeArguments(settings, "rec1:8443", "a b;$(x).wav", std::chrono::seconds(10)),
      (std::vector<std::string>{"wget", "--spider", "-S", "--limit-rate=2048", "--tries=1",
                                "--timeout=10", "https://rec1:8443/ConfData/a%20b%3B%24(x).wav"}));
}

}  // namespace
}  // namespace qz
