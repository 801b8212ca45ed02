// --check on a database server: the right to write the label and the width of ARCHIVE are found
// without a row changing.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <iostream>

#include "check/check_report.h"
#include "check/table_checks.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/test_support.h"

namespace qz {
namespace {

struct LabelCase {
  const char* name;
  // Returns the data source the check uses.
  std::function<std::string(test::TestDataSource&)> prepare;
  const char* rightLine;
  const char* widthLine;
};

class LabelChecksTest : public ::testing::TestWithParam<test::DataSourceKind> {
 protected:
  void SetUp() override {
    test::ResetConfig();
    source_ = test::MakeDataSourceOrSkip(GetParam(), folder_.path());
  }

  test::TempDir folder_;
  std::unique_ptr<test::TestDataSource> source_;
};

bool HasLineStarting(const std::string& text, const std::string& start) {
  return text.rfind(start, 0) == 0 || text.find("\n" + start) != std::string::npos;
}

TEST_P(LabelChecksTest, RightAndWidthAreFoundWithoutAWrite) {
  const std::vector<LabelCase> cases = {
      {"every right, a wide column", [](test::TestDataSource& s) { return s.Dsn(); },
       "OK   right to label: ", "OK   width of "},
      {"an account that may only read", [](test::TestDataSource& s) { return *s.DsnOfReader(); },
       "FAIL right to label: ", "OK   width of "},
      {"ARCHIVE narrower than the label",
       [](test::TestDataSource& s) {
         std::string ddl = s.TableDdl("recording");
         ddl.replace(ddl.rfind("VARCHAR(255)"), 12, "VARCHAR(4)");
         s.Execute("DROP TABLE recording");
         s.Execute(ddl);
         return s.Dsn();
       },
       "OK   right to label: ", "FAIL width of "},
  };
  if (!source_) return;
  for (const LabelCase& each : cases) {
    SCOPED_TRACE(each.name);
    BackupSettings settings;
    settings.UseDSN = each.prepare(*source_);
    settings.GetDataFromTable = "recording";
    settings.ArchivePrefixForDBEntry = "DAT";
    settings.UpdateArchiveField = 1;
    source_->Insert(test::RecordingRow(each.name));
    std::ostringstream out;
    CheckReport report(out);

    CheckDataSource(settings, report, platform::SystemClock());
    std::cerr << out.str();

    EXPECT_TRUE(HasLineStarting(out.str(), each.rightLine)) << out.str();
    EXPECT_TRUE(HasLineStarting(out.str(), each.widthLine)) << out.str();
    if (HasLineStarting(out.str(), "FAIL right to label: ")) {
      EXPECT_NE(out.str().find("Grant it: GRANT UPDATE ("), std::string::npos) << out.str();
    }
    EXPECT_EQ(source_->ArchiveOf(each.name), std::vector<test::SqlValue>{""});
  }
}

INSTANTIATE_TEST_SUITE_P(Server, LabelChecksTest, ::testing::Values(QZ_TEST_DATA_SOURCE),
                         [](const ::testing::TestParamInfo<test::DataSourceKind>& info) {
                           return test::KindName(info.param);
                         });

}  // namespace
}  // namespace qz
