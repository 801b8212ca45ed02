#include "archive/pending_labels.h"

#include <gtest/gtest.h>

#include "platform/sha256_file.h"
#include "tests/support/test_support.h"

namespace qz {
namespace {

// Another installation reads the notes as the file stands: a forgotten row is forgotten there
// too, and a row still noted survives every forgotten row's line and the file's rewrite.
TEST(PendingLabelsTest, AnotherReaderSeesForgottenRowsGoneAndLiveOnesKept) {
  test::TempDir dir;
  test::FakeClock clock;
  PendingLabels writer(clock), reader(clock);
  writer.Use(dir.str());
  reader.Use(dir.str());
  const auto key = [](int n) { return platform::Sha256OfText("row " + std::to_string(n)); };
  const std::string digest = platform::Sha256OfText("recording");
  ASSERT_TRUE(writer.Add(key(0), digest));  // another installation's row awaiting its label
  for (int n = 1; n <= 100; ++n) {          // enough to rewrite the file at least once
    ASSERT_TRUE(writer.Add(key(n), digest));
    writer.Remove(key(n));
    ASSERT_FALSE(reader.DigestOf(key(n))) << n;
  }
  EXPECT_EQ(reader.DigestOf(key(0)), digest);
  EXPECT_LT(test::ReadLines(dir / ".qzpending").size(), 100u);
  writer.Remove(key(0));
  EXPECT_FALSE(reader.DigestOf(key(0)));
  writer.RemoveIfEmpty();
  EXPECT_FALSE(std::filesystem::exists(dir / ".qzpending"));
}

}  // namespace
}  // namespace qz
