#include "config/installation_owner.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "tests/support/test_support.h"

namespace qz {
namespace {

// Root is sent to the owner of the base directory, with a command it can paste; the owner itself
// goes ahead. Run as root, the base directory is handed to nobody (65534) for the case.
TEST(InstallationOwnerTest, RootIsSentToTheOwnerOfTheBaseDirectory) {
  test::ResetConfig();
  test::TempDir folder;
  test::PrepareToolInstallation(folder.path());
  uid_t owner = geteuid();
  if (owner == 0) {
    owner = 65534;
    ASSERT_EQ(chown((folder / "base").c_str(), owner, owner), 0);
  }
  const passwd* user = getpwuid(owner);
  ASSERT_NE(user, nullptr);
  const std::string name = user->pw_name;

  std::optional<std::string> refusal = RefuseAnotherUsersInstallation(0, "--verify DAT_7");
  ASSERT_TRUE(refusal);
  EXPECT_NE(refusal->find((folder / "base").string() + " belongs to user " + name + ";"),
            std::string::npos)
      << *refusal;
  EXPECT_TRUE(refusal->ends_with("\n  runuser -u " + name + " -- qzbackup --verify DAT_7\n"))
      << *refusal;
  EXPECT_FALSE(RefuseAnotherUsersInstallation(owner, "--check"));
}

}  // namespace
}  // namespace qz
