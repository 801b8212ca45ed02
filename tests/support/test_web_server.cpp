#include "tests/support/test_web_server.h"

#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "platform/process.h"

namespace qz::test {
namespace {

std::string ServerScript() {
  return QZ_HTTP_SERVER_SCRIPT;
}

std::string Quoted(const std::string& text) {
  return " \"" + text + "\"";
}

}  // namespace

TestWebServer::TestWebServer(std::optional<int> dieAfterBytes)
    : TestWebServer(Options{dieAfterBytes, std::nullopt, std::nullopt, std::nullopt}) {}

TestWebServer::TestWebServer(const Options& options) {
  std::filesystem::create_directories(dir_ / "www/ConfData");
  const std::string portFile = (dir_ / "port").string();
  std::string command =
      "python3" + Quoted(ServerScript()) + Quoted((dir_ / "www").string()) + Quoted(portFile);
  command += " --requests" + Quoted((dir_ / "requests").string());
  if (options.dieAfterBytes) command += " --die-after " + std::to_string(*options.dieAfterBytes);
  if (options.tlsCertificate)
    command += " --tls-cert" + Quoted(options.tlsCertificate->string()) + " --tls-key" +
               Quoted(options.tlsKey->string());
  if (options.basicAuth) command += " --basic-auth" + Quoted(*options.basicAuth);
  if (options.refuseHead) command += " --refuse-head";
  std::optional<pid_t> pid = platform::SpawnProcess(command);
  if (!pid) throw std::runtime_error("cannot start python3");
  pid_ = *pid;
  for (int i = 0; i < 2000 && port_ == 0; ++i) {
    if (platform::QueryExitCode(pid_)) throw std::runtime_error("web server ended at start");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    port_ = std::atoi(ReadFile(portFile).c_str());
  }
  if (port_ == 0) {
    platform::KillProcess(pid_);
    throw std::runtime_error("web server did not come up");
  }
}

TestWebServer::~TestWebServer() {
  platform::KillProcess(pid_);
}

std::vector<std::string> TestWebServer::Requests() const {
  return ReadLines(dir_ / "requests");
}

void TestWebServer::Publish(const std::string& name, const std::string& content) const {
  WriteFile(dir_ / "www/ConfData" / name, content);
}

}  // namespace qz::test
