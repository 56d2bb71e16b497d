// `kaptool taxid` run as a real process: arguments, standard input and exit statuses.
#include <gtest/gtest.h>

#include "testsupport/test_support.h"

namespace kap {
namespace {

using test::BuildPath;
using test::ProcessOptions;
using test::RunProcess;

TEST(KaptoolTaxId, ChecksArgumentsAndReportsEachResult) {
  auto result = RunProcess(
      {BuildPath("tools/kaptool"), "taxid", "es", "12.345.678-z", "A5881850A", "  ", "I1234567A"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.output,
            "0 TaxIdOk 12345678Z\n"
            "-4 TaxIdBadCheck\n"
            "0 TaxIdOk\n"
            "-3 TaxIdBadForm\n");

  result = RunProcess({BuildPath("tools/kaptool"), "taxid", "GB", "gd12", "980 7806 84"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, "0 TaxIdOk GD012\n0 TaxIdOk 980780684\n");

  // Current Bulgarian and Dutch forms.
  result = RunProcess({BuildPath("tools/kaptool"), "taxid", "bg", "175 074 752", "7523169263"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, "0 TaxIdOk 175074752\n0 TaxIdOk 7523169263\n");
  result = RunProcess({BuildPath("tools/kaptool"), "taxid", "NL", "000099998b57"});
  EXPECT_EQ(result.output, "0 TaxIdOk 000099998B57\n");
}

TEST(KaptoolTaxId, ReadsStandardInputWhenNoValuesAreGiven) {
  ProcessOptions options;
  options.input = "1234567L\r\nX1234567L\n";
  auto result = RunProcess({BuildPath("tools/kaptool"), "taxid", ""}, options);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, "0 TaxIdOk 01234567L\n0 TaxIdOk X1234567L\n");

  options.input = "1\n";
  result = RunProcess({BuildPath("tools/kaptool"), "taxid", "XX"}, options);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.output, "-1 TaxIdNoRule\n");
}

TEST(KaptoolTaxId, MissingCountryIsAUsageError) {
  auto result = RunProcess({BuildPath("tools/kaptool"), "taxid"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_NE(result.errors.find("usage: kaptool taxid"), std::string::npos);
}

}  // namespace
}  // namespace kap
