#include "archive/checksum_manifest.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "archive/manifest_name_index.h"
#include "tests/support/test_support.h"

namespace qz {
namespace {

using test::WriteFile;

int Sha256sumCheck(const test::TempDir& dir, const std::string& manifest) {
  return std::system(("cd '" + dir.str() + "' && sha256sum --quiet -c '" + manifest + "'").c_str());
}

TEST(ChecksumManifestTest, LinesOfNamesWithSpaceBackslashAndNewlinePassSha256sum) {
  test::TempDir dir;
  test::FakeClock clock;
  ChecksumManifests manifests(clock);
  for (std::string name : {"Rec 01.wav", "a\\b.wav", "n\nl.wav"}) {
    WriteFile(dir / name, "content of " + name);
    ASSERT_TRUE(manifests.AddRecording(dir.str() + "/", "DAT_7", name));
    auto entry =
        ParseManifestLine(ManifestLine(std::string(64, 'a'), name)
                              .substr(0, ManifestLine(std::string(64, 'a'), name).size() - 1));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, name);
  }
  // A row labelled again adds no second line.
  ASSERT_TRUE(manifests.AddRecording(dir.str(), "DAT_7", "Rec 01.wav"));
  EXPECT_EQ(test::ReadLines(dir / "DAT_7.sha256").size(), 3u);
  EXPECT_EQ(Sha256sumCheck(dir, "DAT_7.sha256"), 0);
}

TEST(ChecksumManifestTest, ReplacedFileDropsItsOlderLineFromEveryManifestOfTheDirectory) {
  test::TempDir dir;
  test::FakeClock clock;
  ChecksumManifests first(clock);
  WriteFile(dir / "a.wav", "old");
  WriteFile(dir / "b.wav", "other");
  ASSERT_TRUE(first.AddRecording(dir.str(), "DAT_6", "a.wav"));
  ASSERT_TRUE(first.AddRecording(dir.str(), "DAT_6", "b.wav"));
  WriteFile(dir / "a.wav", "new");
  // A torn last line left by a crash goes before the next append.
  std::string torn = test::ReadFile(dir / "DAT_6.sha256") + "0123";
  WriteFile(dir / "DAT_6.sha256", torn);
  ChecksumManifests second(clock);
  ASSERT_TRUE(second.AddRecording(dir.str(), "DAT_7", "a.wav"));
  ASSERT_TRUE(second.AddRecording(dir.str(), "DAT_6", "b.wav"));
  EXPECT_EQ(test::ReadLines(dir / "DAT_6.sha256").size(), 1u);
  EXPECT_EQ(Sha256sumCheck(dir, "DAT_6.sha256"), 0);
  EXPECT_EQ(Sha256sumCheck(dir, "DAT_7.sha256"), 0);
}

// The names of a directory's manifests are read once a run; what they list must still be found.
TEST(ChecksumManifestTest, ReplacedFileIsFoundAmongManifestsReadBeforeAndLinesAddedSince) {
  test::TempDir dir;
  test::FakeClock clock;
  const std::string escaped = "n\nl.wav";
  WriteFile(dir / escaped, "old");
  WriteFile(dir / "DAT_5.sha256", ManifestLine(std::string(64, 'b'), "x.wav") +
                                      ManifestLine(std::string(64, 'c'), escaped));
  ChecksumManifests run(clock);
  WriteFile(dir / "a.wav", "old");
  ASSERT_TRUE(run.AddRecording(dir.str(), "DAT_6", "a.wav"));
  WriteFile(dir / "a.wav", "new");
  ASSERT_TRUE(run.AddRecording(dir.str(), "DAT_7", "a.wav"));
  ASSERT_TRUE(run.AddRecording(dir.str(), "DAT_7", escaped));
  EXPECT_TRUE(test::ReadLines(dir / "DAT_6.sha256").empty());
  EXPECT_EQ(test::ReadLines(dir / "DAT_5.sha256").size(), 1u);  // x.wav's line stays
  EXPECT_EQ(Sha256sumCheck(dir, "DAT_7.sha256"), 0);
}

TEST(ManifestNameIndexTest, ListsTheNamesOfEveryManifestAndWhatIsAddedOrElseEveryName) {
  test::TempDir dir;
  WriteFile(dir / "a.sha256", ManifestLine(std::string(64, 'a'), "one.wav") + "not a line\n");
  WriteFile(dir / "b.sha256", ManifestLine(std::string(64, 'b'), "two\nlines.wav"));
  ManifestNameIndex index;
  ASSERT_TRUE(index.Load({(dir / "a.sha256").string(), (dir / "b.sha256").string()}));
  EXPECT_TRUE(index.MayList("one.wav"));
  EXPECT_TRUE(index.MayList("two\nlines.wav"));
  EXPECT_FALSE(index.MayList("three.wav"));
  EXPECT_FALSE(index.MayList("not a line"));
  index.Add("three.wav");
  EXPECT_TRUE(index.MayList("three.wav"));
  // A manifest that cannot be read leaves nothing ruled out.
  EXPECT_FALSE(index.Load({(dir / "absent.sha256").string()}));
  EXPECT_TRUE(index.MayList("four.wav"));
}

TEST(ChecksumManifestTest, UnwritableDirectoryFails) {
  test::TempDir dir;
  test::FakeClock clock;
  ChecksumManifests manifests(clock);
  EXPECT_FALSE(manifests.AddRecording(dir.str(), "DAT_1", "absent.wav"));
}

}  // namespace
}  // namespace qz
