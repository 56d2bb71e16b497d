// End to end: the real vownmain in tmux at 80 x 25 on a fresh demo installation laid out by
// the real kaptool; the data files, the access log and the lock files are read afterwards.
#include <cstring>
#include <filesystem>

#include "app/tests/owner_fixture.h"

namespace kap::test {
namespace {

using std::chrono::milliseconds;

class DemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    demo_ = dir_.file("demo");
    ProcessResult built = RunProcess(
        {BuildPath("tools/kaptool"), "demo", "build", SourcePath("demo"), demo_});
    ASSERT_EQ(built.exitCode, 0) << built.errors;
  }
  void TearDown() override {
    int16_t status = 0;
    ResetDataFiles(status);
    ResetDataState();
    ResetLockState();
    ResetSession();
  }

  std::unique_ptr<Tmux> Start(const std::string& terminal = "T01") {
    std::map<std::string, std::string> env = {
        {"KAPROOT", demo_ + "/"},
        {"KAPTMP", demo_ + "/" + terminal},
        {"KAPTERM", demo_ + "/" + terminal},
    };
    auto tmux = std::make_unique<Tmux>(BuildPath("app/vownmain"), env, demo_);
    EXPECT_TRUE(tmux->WaitFor(terminal == "T02" ? "DEL PROPIETARIO:" : "CODI DEL PROPIETARI:"))
        << tmux->ScreenText();
    return tmux;
  }

  void Quit(Tmux& tmux) {
    tmux.SendKeys({"Escape"});
    int status = -1;
    ASSERT_TRUE(tmux.WaitExit(&status)) << tmux.ScreenText();
    EXPECT_EQ(status, 0);
  }

  // Waits until `text` has left the screen.
  bool WaitGone(Tmux& tmux, const std::string& text) {
    for (int i = 0; i < 300; ++i) {
      if (tmux.ScreenText().find(text) == std::string::npos) return true;
      std::this_thread::sleep_for(milliseconds(30));
    }
    return false;
  }

  // Opens the installation's files in this process to look at the records.
  void OpenFiles() {
    ResetSession();
    ResetDataState();
    CurrentSession().RootDir = demo_ + "/";
    int16_t status = 0;
    OpenOwnerFiles(status);
    ASSERT_EQ(status, 0);
  }
  int HeldLocks() {
    return test::HeldLocks(demo_, "PropietV") + test::HeldLocks(demo_, "FinquesV");
  }
  std::string Log() { return ReadFile(demo_ + "/db.log"); }

  TempDir dir_;
  std::string demo_;
};

TEST_F(DemoTest, RemovingAnOwnerReleasesExactlyTheEstatesOfItsSlots) {
  auto tmux = Start();
  tmux->SendText("5");
  tmux->SendKeys({"Enter"});
  ASSERT_TRUE(tmux->WaitFor("CONFIRMEU LA BAIXA")) << tmux->ScreenText();
  std::string screen = tmux->ScreenText();
  EXPECT_NE(screen.find("JORDI CASALS PLA"), std::string::npos) << screen;
  EXPECT_NE(screen.find("HAUREU D'ASSIGNAR LES SEVES FINQUES"), std::string::npos) << screen;
  tmux->SendText("s");
  ASSERT_TRUE(tmux->WaitFor("\u25c4SI\u25ba")) << tmux->ScreenText();
  tmux->SendKeys({"Enter"});
  ASSERT_TRUE(WaitGone(*tmux, "CONFIRMEU LA BAIXA")) << tmux->ScreenText();
  Quit(*tmux);

  OpenFiles();
  EXPECT_FALSE(OwnerExists("0005"));
  EXPECT_EQ(EstateOwner("0006"), "0000");  // slot 1
  EXPECT_EQ(EstateOwner("0007"), "0000");  // slot 5
  EXPECT_EQ(EstateOwner("0025"), "0005") << "names the owner but stands in no slot";
  EXPECT_EQ(EstateOwner("0001"), "0001");
  EXPECT_TRUE(OwnerExists("0004"));
  const std::string line = " 506" + std::string(11, ' ') + "3" + std::string(13, ' ') + "0 \r\n";
  EXPECT_EQ(Log(), line + line);
  EXPECT_EQ(HeldLocks(), 0);
}

TEST_F(DemoTest, AnsweringNoChangesNothingAndReleasesTheOwner) {
  auto tmux = Start();
  tmux->SendText("5");
  tmux->SendKeys({"Enter"});
  ASSERT_TRUE(tmux->WaitFor("CONFIRMEU LA BAIXA")) << tmux->ScreenText();
  EXPECT_EQ(HeldLocks(), 1) << "the owner is held while it is shown";
  tmux->SendKeys({"Enter"});
  ASSERT_TRUE(WaitGone(*tmux, "CONFIRMEU LA BAIXA")) << tmux->ScreenText();
  Quit(*tmux);

  OpenFiles();
  EXPECT_TRUE(OwnerExists("0005"));
  EXPECT_EQ(EstateOwner("0006"), "0005");
  EXPECT_EQ(EstateOwner("0007"), "0005");
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(HeldLocks(), 0);
}

TEST_F(DemoTest, EscOnTheKeyFormWritesNothing) {
  auto tmux = Start();
  Quit(*tmux);
  EXPECT_FALSE(FileExists(demo_ + "/db.log"));
  EXPECT_FALSE(FileExists(demo_ + "/LOCKS/PROPIETV.lck"));
  EXPECT_FALSE(FileExists(demo_ + "/LOCKS/PropietV.lck"));
}

TEST_F(DemoTest, UnknownCodeIsRefusedWithItsMessage) {
  auto tmux = Start();
  tmux->SendText("9999");
  tmux->SendKeys({"Enter"});
  ASSERT_TRUE(tmux->WaitFor("PROPIETARI INEXISTENT")) << tmux->ScreenText();
  tmux->SendKeys({"Enter"});
  ASSERT_TRUE(WaitGone(*tmux, "PROPIETARI INEXISTENT")) << tmux->ScreenText();
  EXPECT_EQ(tmux->ScreenText().find("CONFIRMEU"), std::string::npos);
  Quit(*tmux);
  EXPECT_EQ(HeldLocks(), 0);
}

TEST_F(DemoTest, F4ListsTheOwnersAndTheChoiceFillsTheKeyForm) {
  auto tmux = Start();
  tmux->SendKeys({"F4"});
  ASSERT_TRUE(tmux->WaitFor("0001  PERE PUIG I FERRER")) << tmux->ScreenText();
  EXPECT_NE(tmux->ScreenText().find("CODI  NOM"), std::string::npos) << tmux->ScreenText();
  tmux->SendKeys({"Down", "Down"});
  tmux->WaitQuiet();
  tmux->SendKeys({"Enter"});
  ASSERT_TRUE(WaitGone(*tmux, "0001  PERE PUIG")) << tmux->ScreenText();
  tmux->SendKeys({"Enter"});
  ASSERT_TRUE(tmux->WaitFor("CONFIRMEU LA BAIXA")) << tmux->ScreenText();
  EXPECT_NE(tmux->ScreenText().find("JOAN SOLER VIDAL"), std::string::npos) << tmux->ScreenText();
  tmux->SendKeys({"Escape"});
  ASSERT_TRUE(WaitGone(*tmux, "CONFIRMEU LA BAIXA")) << tmux->ScreenText();
  Quit(*tmux);
  EXPECT_EQ(Log(), "");
}

TEST_F(DemoTest, F1ShowsTheOptionsHelpAndF1InsideItTheGeneralHelp) {
  auto tmux = Start();
  tmux->SendKeys({"F1"});
  ASSERT_TRUE(tmux->WaitFor("Aquesta opci\u00f3 dona de baixa")) << tmux->ScreenText();
  tmux->SendKeys({"F1"});
  ASSERT_TRUE(tmux->WaitFor("AJUDA GENERAL")) << tmux->ScreenText();
  tmux->SendKeys({"Escape"});
  ASSERT_TRUE(WaitGone(*tmux, "AJUDA GENERAL")) << tmux->ScreenText();
  tmux->SendKeys({"Escape"});
  ASSERT_TRUE(WaitGone(*tmux, "Aquesta opci")) << tmux->ScreenText();
  Quit(*tmux);
}

TEST_F(DemoTest, AltCOpensTheCalendarFromTheKeyForm) {
  auto tmux = Start();
  tmux->SendKeys({"M-c"});
  ASSERT_TRUE(tmux->WaitFor("DL DT DC DJ DV DS DG")) << tmux->ScreenText();
  tmux->SendKeys({"Escape"});
  ASSERT_TRUE(WaitGone(*tmux, "DL DT DC DJ DV DS DG")) << tmux->ScreenText();
  // Nothing chosen: the key form goes on as before and Esc still ends the program.
  Quit(*tmux);
  EXPECT_FALSE(FileExists(demo_ + "/LOCKS/PROPIETV.lck"));
}

TEST_F(DemoTest, SpanishSessionShowsSpanishTexts) {
  auto tmux = Start("T02");
  EXPECT_NE(tmux->ScreenText().find("C\u00d3DIGO DEL PROPIETARIO:"), std::string::npos);
  tmux->SendText("5");
  tmux->SendKeys({"Enter"});
  ASSERT_TRUE(tmux->WaitFor("CONFIRME LA BAJA")) << tmux->ScreenText();
  std::string screen = tmux->ScreenText();
  EXPECT_NE(screen.find("NOMBRE:"), std::string::npos) << screen;
  EXPECT_NE(screen.find("DEBER\u00c1 ASIGNAR SUS FINCAS"), std::string::npos) << screen;
  EXPECT_NE(screen.find("\u25c4NO\u25ba"), std::string::npos) << screen;
  tmux->SendKeys({"Escape"});
  ASSERT_TRUE(WaitGone(*tmux, "CONFIRME LA BAJA")) << tmux->ScreenText();
  Quit(*tmux);
}

TEST_F(DemoTest, SecondTerminalWaitsForTheOwnerTheFirstOneShows) {
  auto first = Start("T01");
  auto second = Start("T02");
  first->SendText("5");
  first->SendKeys({"Enter"});
  ASSERT_TRUE(first->WaitFor("CONFIRMEU LA BAIXA")) << first->ScreenText();
  second->SendText("5");
  second->SendKeys({"Enter"});
  ASSERT_TRUE(second->WaitFor("FICHERO BLOQUEADO. ESPERE UN MOMENTO O PULSE [ESC] PARA SALIR."))
      << second->ScreenText();
  EXPECT_EQ(second->ScreenText().find("CONFIRME LA BAJA"), std::string::npos);

  first->SendKeys({"Enter"});  // answers no
  ASSERT_TRUE(second->WaitFor("CONFIRME LA BAJA", milliseconds(15000))) << second->ScreenText();
  EXPECT_NE(second->ScreenText().find("JORDI CASALS PLA"), std::string::npos);
  EXPECT_EQ(HeldLocks(), 1) << "now held by the second terminal only";
  second->SendKeys({"Escape"});
  ASSERT_TRUE(WaitGone(*second, "CONFIRME LA BAJA")) << second->ScreenText();
  Quit(*second);
  Quit(*first);
  EXPECT_EQ(HeldLocks(), 0);
}

TEST_F(DemoTest, UnusableLocksFolderIsToldOnTheKeyFormAndEscLeavesTheWait) {
  // LOCKS is a plain file: no lock file can be made under it.
  std::filesystem::remove_all(demo_ + "/LOCKS");
  WriteFile(demo_ + "/LOCKS", "not a folder");
  auto tmux = Start("T01");
  tmux->SendText("5");
  tmux->SendKeys({"Enter"});
  ASSERT_TRUE(tmux->WaitFor("NO \u00c9S UNA CARPETA")) << tmux->ScreenText();
  const std::string screen = tmux->ScreenText();
  for (const char* part : {"NO ES POT FER SERVIR", "/LOCKS", "TORNANT-HO A PROVAR",
                           "[ESC] PER A EIXIR"}) {
    EXPECT_NE(screen.find(part), std::string::npos) << part << " in\n" << screen;
  }
  tmux->SendKeys({"Escape"});
  ASSERT_TRUE(WaitGone(*tmux, "NO \u00c9S UNA CARPETA")) << tmux->ScreenText();
  // Back on the key form, the owner neither shown nor locked.
  EXPECT_NE(tmux->ScreenText().find("CODI DEL PROPIETARI:"), std::string::npos)
      << tmux->ScreenText();
  EXPECT_EQ(tmux->ScreenText().find("CONFIRMEU LA BAIXA"), std::string::npos);
  Quit(*tmux);
  EXPECT_EQ(ReadFile(demo_ + "/LOCKS"), "not a folder");
}

TEST_F(DemoTest, BrokenFormFileEndsTheProgramNamingFileAndLine) {
  WriteFile(demo_ + "/FORMS/VOWNMAIN.JPN", "3,15\r\n\"d,1b\",1,0,0,0,0,0\r\n5,20,\"CODI\",4\r\n");
  std::map<std::string, std::string> env = {{"KAPROOT", demo_ + "/"},
                                            {"KAPTMP", demo_ + "/T01"}};
  Tmux tmux(BuildPath("app/vownmain"), env, demo_);
  ASSERT_TRUE(tmux.WaitFor("L\u00cdNIA 3")) << tmux.ScreenText();
  EXPECT_NE(tmux.ScreenText().find("VOWNMAIN.JPN"), std::string::npos) << tmux.ScreenText();
  tmux.SendKeys({"Enter"});
  int status = -1;
  ASSERT_TRUE(tmux.WaitExit(&status)) << tmux.ScreenText();
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace kap::test

namespace kap::test {
namespace {

TEST(DemoBuild, RefusesBadSamplesAndExistingInstallations) {
  TempDir dir;
  ASSERT_EQ(RunProcess({"/bin/cp", "-r", SourcePath("demo"), dir.file("src")}).exitCode, 0);
  std::string owners = ReadFile(dir.file("src/data/owners.txt"));
  WriteFile(dir.file("src/data/owners.txt"), owners + "0099|TOO FEW|VALUES\n");
  const std::string kaptool = BuildPath("tools/kaptool");
  ProcessResult bad = RunProcess({kaptool, "demo", "build", dir.file("src"), dir.file("a")});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.errors.find("owners.txt, line "), std::string::npos) << bad.errors;

  ProcessResult good = RunProcess({kaptool, "demo", "build", SourcePath("demo"), dir.file("b")});
  ASSERT_EQ(good.exitCode, 0) << good.errors;
  EXPECT_FALSE(FileExists(dir.file("b/db.log"))) << "the sample inserts are not logged";
  ProcessResult again = RunProcess({kaptool, "demo", "build", SourcePath("demo"), dir.file("b")});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_NE(again.errors.find("already holds an installation"), std::string::npos);
}

}  // namespace
}  // namespace kap::test
