// A real web server on 127.0.0.1 for the tests that download, serving a folder of its own.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace qz::test {

class TestWebServer {
 public:
  struct Options {
    std::optional<int> dieAfterBytes;
    // HTTPS with this certificate (PEM) and its key instead of HTTP.
    std::optional<std::filesystem::path> tlsCertificate;
    std::optional<std::filesystem::path> tlsKey;
    // "user:password": requests without these credentials get 401.
    std::optional<std::string> basicAuth;
    // HEAD gets 405, as from servers that serve files to GET alone.
    bool refuseHead = false;
  };

  // With `dieAfterBytes` the server sends that much of every file and then kills itself.
  explicit TestWebServer(std::optional<int> dieAfterBytes = std::nullopt);
  explicit TestWebServer(const Options& options);
  ~TestWebServer();
  TestWebServer(const TestWebServer&) = delete;
  TestWebServer& operator=(const TestWebServer&) = delete;

  // "127.0.0.1:port", the server name as a table row would carry it.
  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
  // Publishes a file under /ConfData.
  void Publish(const std::string& name, const std::string& content) const;
  // Every request received so far, of any method, as "METHOD 'path'", oldest first.
  std::vector<std::string> Requests() const;

 private:
  TempDir dir_;
  pid_t pid_ = 0;
  int port_ = 0;
};

}  // namespace qz::test
