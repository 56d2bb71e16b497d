// `kaptool format` run as a program, on an installation of its own.
#include "format/tests/format_fixture.h"

namespace kap::test {
namespace {

class KaptoolFormatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(root_.file("Vora.ini"),
              "[Usuari]\r\nDecCaracter=,\r\nMilCaracter=.\r\nDatOrdre=DMA\r\nIdioma=CAT\r\n");
  }
  // The terminal's VoraTerm.ini names the session language.
  void SetTerminalLanguage(const std::string& language) {
    WriteFile(root_.file("VoraTerm.ini"), "[Sistema]\r\nIdioma=" + language + "\r\n");
  }
  ProcessResult Run(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {BuildPath("tools/kaptool"), "format"};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessOptions options;
    options.env = {{"KAPROOT", root_.path() + "/"}, {"KAPTMP", root_.path() + "/"}};
    options.timeout = std::chrono::milliseconds(20000);
    return RunProcess(argv, options);
  }

  TempDir root_;
};

TEST_F(KaptoolFormatTest, PrintsTheResultBetweenBrackets) {
  SetTerminalLanguage("OCI");
  const struct {
    std::vector<std::string> args;
    const char* output;
  } cases[] = {
      {{"number", "ZZ,ZZ9.99", "1234.5"}, "[ 1.234,50]\n"},
      {{"number", "ZZ9", "-12"}, "[-12]\n"},
      {{"money", "ZZ,ZZZ,ZZ9", "150"}, "[      1,50]\n"},
      {{"money", "--pesetas", "ZZ,ZZZ,ZZ9", "150"}, "[       250]\n"},
      {{"date", "20240101", "2", "dma"}, "[1 de g\xC3\xA8r deth 2024]\n"},  // UTF-8 out
      {{"date", "20240405", "0", "dma"}, "[5/4/2024  ]\n"},
      {{"date", "20240405", "-1", ""}, "[2024-04-05]\n"},
  };
  for (const auto& c : cases) {
    ProcessResult r = Run(c.args);
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    EXPECT_EQ(r.exitCode, 0) << shown << r.errors;
    EXPECT_EQ(r.output, c.output) << shown;
  }
}

TEST_F(KaptoolFormatTest, LanguageFallsBackToVoraIni) {
  ProcessResult r = Run({"date", "20240405", "2", "dma"});
  EXPECT_EQ(r.output, "[5 d'abril del 2024]\n");
}

TEST_F(KaptoolFormatTest, BadArgumentsAreUsageErrors) {
  const std::vector<std::string> cases[] = {
      {},
      {"number", "ZZ9"},
      {"number", "ZZ9", "nan"},
      {"money", "ZZ9", "1.5"},
      {"date", "2024045", "0", "dma"},
      {"date", "20240405", "99999", "dma"},
  };
  for (const auto& args : cases) {
    ProcessResult r = Run(args);
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    EXPECT_EQ(r.exitCode, 2) << shown;
    EXPECT_EQ(r.output, "") << shown;
    EXPECT_NE(r.errors.find("usage: kaptool format"), std::string::npos) << shown;
  }
}

}  // namespace
}  // namespace kap::test
