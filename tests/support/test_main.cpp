// Every suite runs with its own configuration, registry and ODBC folders, so no test touches the
// user's ~/.config, /etc or the system's data sources.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace {

class IsolatedEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "qztest.XXXXXX").string();
    root_ = mkdtemp(pattern.data());
    for (const char* dir : {"/home", "/config", "/xdg", "/odbc"})
      std::filesystem::create_directories(root_ + dir);
    Set("QZ_TEST_ROOT", root_);
    Set("HOME", root_ + "/home");
    Set("XDG_CONFIG_HOME", root_ + "/config");
    Set("XDG_CONFIG_DIRS", root_ + "/xdg");
    Set("ODBCSYSINI", root_ + "/odbc");
    Set("ODBCINI", root_ + "/odbc/odbc.ini");
    // Window tests need no display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

 private:
  static void Set(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }
  std::string root_;
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new IsolatedEnvironment);
  return RUN_ALL_TESTS();
}
