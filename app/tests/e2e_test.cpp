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
    ProcessResult built =
        RunProcess({BuildPath("tools/kaptool"), "demo", "build", SourcePath("demo"), demo_});
    ASSERT_EQ(built.exitCode, 0) << built.errors;
  }
  void TearDown() override { CloseInstallationFiles(); }

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
  void OpenFiles() { OpenInstallationFiles(demo_); }
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
  for (const char* part :
       {"NO ES POT FER SERVIR", "/LOCKS", "TORNANT-HO A PROVAR", "[ESC] PER A EIXIR"}) {
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
  std::map<std::string, std::string> env = {{"KAPROOT", demo_ + "/"}, {"KAPTMP", demo_ + "/T01"}};
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

// What the operator sees while the program waits: read from the real terminal, where a message
// that was only written to the console's memory would never appear.
namespace kap::test {
namespace {

const char kLockWait[] = "FITXER BLOQUEJAT. ESPEREU UN MOMENT.";

class WaitTest : public DemoTest {
 protected:
  // Owner 5 (estates 0006 in slot 1 and 0007 in slot 5) on the key form, confirmed.
  void RemoveOwnerFive(Tmux& tmux) {
    tmux.SendText("5");
    tmux.SendKeys({"Enter"});
    ASSERT_TRUE(tmux.WaitFor("CONFIRMEU LA BAIXA")) << tmux.ScreenText();
    tmux.SendText("s");
    ASSERT_TRUE(tmux.WaitFor("\u25c4SI\u25ba")) << tmux.ScreenText();
    tmux.SendKeys({"Enter"});
  }
  // The message box for row 24 stands on rows 21 to 23, its text on row 22.
  static std::string MessageRow(Tmux& tmux) {
    std::vector<std::string> rows = tmux.Screen();
    return rows.size() >= 22 ? rows[21] : "";
  }
  void ExpectWaitOnRow24(Tmux& tmux) {
    bool seen = false;
    for (int i = 0; i < 300 && !seen; ++i) {
      seen = MessageRow(tmux).find(kLockWait) != std::string::npos;
      if (!seen) std::this_thread::sleep_for(milliseconds(30));
    }
    ASSERT_TRUE(seen) << tmux.ScreenText();
  }
  void ExpectRemoved() {
    OpenFiles();
    EXPECT_FALSE(OwnerExists("0005"));
    EXPECT_EQ(EstateOwner("0006"), "0000");
    EXPECT_EQ(EstateOwner("0007"), "0000");
    EXPECT_EQ(HeldLocks(), 0);
  }
  // Waits until the removal is over: the message is gone and the key form is back, blank.
  void ExpectWaitEnds(Tmux& tmux) {
    // The record manager's wait retries every 1 to 10 s.
    auto deadline = std::chrono::steady_clock::now() + milliseconds(15000);
    while (tmux.ScreenText().find(kLockWait) != std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(milliseconds(50));
    ASSERT_TRUE(WaitGone(tmux, kLockWait)) << tmux.ScreenText();
    ASSERT_TRUE(WaitGone(tmux, "CONFIRMEU LA BAIXA")) << tmux.ScreenText();
    EXPECT_EQ(MessageRow(tmux).find_first_not_of(' '), std::string::npos) << tmux.ScreenText();
  }
};

TEST_F(WaitTest, EstateHeldInItsLockFileShowsTheWaitOnTheTerminal) {
  // Another terminal holds estate 0006 until the file `release` appears.
  const std::string release = dir_.file("release");
  MakeDirs(dir_.file("other"));
  std::map<std::string, std::string> env = {{"KAPROOT", demo_ + "/"},
                                            {"KAPTMP", dir_.file("other")}};
  Tmux holder(BuildPath("tools/kaptool") + " lock hold FinquesV 0006 -- /bin/sh -c 'while [ ! -e " +
                  release + " ]; do sleep 0.05; done; echo released'",
              env, demo_);
  for (int i = 0; i < 300 && test::HeldLocks(demo_, "FinquesV") == 0; ++i)
    std::this_thread::sleep_for(milliseconds(30));
  ASSERT_EQ(test::HeldLocks(demo_, "FinquesV"), 1) << holder.ScreenText();

  auto tmux = Start();
  RemoveOwnerFive(*tmux);
  ExpectWaitOnRow24(*tmux);
  std::this_thread::sleep_for(milliseconds(1500));
  EXPECT_NE(MessageRow(*tmux).find(kLockWait), std::string::npos) << "still waiting";
  EXPECT_EQ(MessageRow(*tmux).find("[ESC]"), std::string::npos) << "no Esc during a removal";

  WriteFile(release, "1");
  ASSERT_TRUE(holder.WaitFor("released")) << holder.ScreenText();
  ExpectWaitEnds(*tmux);
  Quit(*tmux);
  ExpectRemoved();
}

TEST_F(WaitTest, EstateHeldInTheRecordManagerShowsTheWaitOnTheTerminal) {
  // A second process holds estate 0006 with a record lock of the record manager.
  const std::string held = dir_.file("held"), release = dir_.file("release");
  ResetSession();
  CurrentSession().RootDir = demo_ + "/";
  int child = HoldEstateInChild("0006", held, release);
  ASSERT_GT(child, 0);

  auto tmux = Start();
  RemoveOwnerFive(*tmux);
  ExpectWaitOnRow24(*tmux);
  WriteFile(release, "1");
  EXPECT_EQ(WaitChild(child), 0);
  ExpectWaitEnds(*tmux);  // the next attempt comes within about 10 s
  Quit(*tmux);
  ExpectRemoved();
}

}  // namespace
}  // namespace kap::test

namespace kap::test {
namespace {

TEST_F(DemoTest, KeyFormIsBlankAfterARemovalAndRefusesAnythingButDigits) {
  auto tmux = Start();
  tmux->SendText("12");
  tmux->SendKeys({"Enter"});
  ASSERT_TRUE(tmux->WaitFor("CONFIRMEU LA BAIXA")) << tmux->ScreenText();
  EXPECT_NE(tmux->ScreenText().find("ROSA FERRER MIR\u00d3"), std::string::npos);
  EXPECT_NE(tmux->ScreenText().find("\u25c4NO\u25ba"), std::string::npos) << "preset N";
  tmux->SendText("s");
  ASSERT_TRUE(tmux->WaitFor("\u25c4SI\u25ba")) << tmux->ScreenText();
  tmux->SendKeys({"Enter"});
  ASSERT_TRUE(WaitGone(*tmux, "CONFIRMEU LA BAIXA")) << tmux->ScreenText();
  tmux->WaitQuiet();
  const std::string keyRow = tmux->Screen()[4];
  EXPECT_EQ(keyRow.find("12"), std::string::npos) << keyRow;

  // Typed over the blank field, "3" is owner 0003, not 0032.
  tmux->SendText("3");
  tmux->SendKeys({"Enter"});
  ASSERT_TRUE(tmux->WaitFor("CONFIRMEU LA BAIXA")) << tmux->ScreenText();
  EXPECT_NE(tmux->ScreenText().find("JOAN SOLER VIDAL"), std::string::npos) << tmux->ScreenText();
  tmux->SendKeys({"Escape"});
  ASSERT_TRUE(WaitGone(*tmux, "CONFIRMEU LA BAIXA")) << tmux->ScreenText();

  // Anything but digits and blanks is refused in the field: no lookup, no message.
  for (const char* typed : {"-9  ", "x12 ", ".5  ", "5x  ", "1-2 "}) {
    tmux->SendKeys({"Home"});
    tmux->SendText(typed);
    tmux->SendKeys({"Enter"});
    tmux->WaitQuiet();
    std::string screen = tmux->ScreenText();
    EXPECT_EQ(screen.find("CONFIRMEU"), std::string::npos) << typed << "\n" << screen;
    EXPECT_EQ(screen.find("INEXISTENT"), std::string::npos) << typed << "\n" << screen;
  }
  EXPECT_EQ(HeldLocks(), 0);
  tmux->SendKeys({"Escape"});
  int status = -1;
  ASSERT_TRUE(tmux->WaitExit(&status)) << tmux->ScreenText();
}

}  // namespace
}  // namespace kap::test

// Start-up: what cannot work is refused at once with one line on stderr, before any lock.
namespace kap::test {
namespace {

class StartupTest : public DemoTest {
 protected:
  std::map<std::string, std::string> Env(const std::string& terminal = "T01") {
    return {{"KAPROOT", demo_ + "/"},
            {"KAPTMP", demo_ + "/" + terminal},
            {"KAPTERM", demo_ + "/" + terminal}};
  }
  // The screen's rows joined without breaks: a long stderr line wraps onto the next row.
  static std::string Joined(Tmux& tmux) {
    std::string text;
    // tmux's "Pane is dead" on the last row may scroll the first one off the screen.
    for (const std::string& row : tmux.Screen(5)) {
      if (row.find("Pane is dead") != std::string::npos) continue;
      text += row.substr(0, row.find_last_not_of(' ') + 1);
    }
    return text;
  }
  // Runs vownmain in tmux and returns the one line it printed; it must end with `code`.
  std::string Refusal(const std::map<std::string, std::string>& env, int code = 1,
                      const std::string& prefix = "", int rows = 25) {
    // The exit status goes through a file: tmux may not have it yet when the pane is dead.
    const std::string statusFile = dir_.file("status");
    std::remove(statusFile.c_str());
    Tmux tmux(prefix + BuildPath("app/vownmain") + "; echo $? > " + statusFile + "; sleep 1", env,
              demo_, 80, rows);
    EXPECT_TRUE(tmux.WaitExit(nullptr)) << tmux.ScreenText();
    EXPECT_EQ(ReadFile(statusFile), std::to_string(code) + "\n") << tmux.ScreenText();
    std::string text = Joined(tmux);
    EXPECT_EQ(text.find("vownmain:"), 0u) << text;
    EXPECT_EQ(text.find("vownmain:", 1), std::string::npos) << "one line: " << text;
    EXPECT_FALSE(FileExists(demo_ + "/" + "T01/LOCKS.TMP")) << "no lock was taken";
    return text;
  }
};

TEST_F(StartupTest, WhatCannotWorkIsRefusedWithOneLine) {
  struct Case {
    const char* what;
    std::function<std::map<std::string, std::string>()> env;
    std::string prefix;
    int rows;
    const char* expected;
  };
  const Case cases[] = {
      {"a terminal of 24 rows", [&] { return Env(); }, "", 24,
       "vownmain: the terminal is 80 x 24 characters; it needs at least 80 x 25"},
      {"no cursor addressing", [&] { return Env(); }, "TERM=dumb ", 25,
       "vownmain: the terminal type \"dumb\" cannot place the cursor"},
      {"a terminal folder that does not exist", [&] { return Env("T09"); }, "", 25,
       "(KAPTMP) does not exist or is not a folder"},
      {"no terminal folder",
       [&] {
         return std::map<std::string, std::string>{{"KAPROOT", demo_ + "/"}};
       },
       "", 25, "vownmain: no terminal folder: set KAPTMP or KAPTERM"},
  };
  for (const Case& c : cases) {
    std::string line = Refusal(c.env(), 1, c.prefix, c.rows);
    EXPECT_NE(line.find(c.expected), std::string::npos) << c.what << ": " << line;
  }
}

TEST_F(StartupTest, KapRootWithoutSeparatorWorks) {
  std::map<std::string, std::string> env = Env();
  env["KAPROOT"] = demo_;
  Tmux tmux(BuildPath("app/vownmain"), env, demo_);
  ASSERT_TRUE(tmux.WaitFor("CODI DEL PROPIETARI:")) << tmux.ScreenText();
  Quit(tmux);
}

TEST_F(StartupTest, LeftoverWindowStackIsDropped) {
  const std::string stack = demo_ + "/T01/WinPush.tmp";
  std::string leftover = std::string("\x05\x0c\x00\x00", 4) + std::string(3023, 'x');
  WriteFile(stack, leftover);
  auto tmux = Start();
  tmux->SendKeys({"F4"});
  ASSERT_TRUE(tmux->WaitFor("0001  PERE PUIG I FERRER")) << tmux->ScreenText();
  EXPECT_LT(ReadFile(stack).size(), 3027u) << "the list's window went on an empty stack";
  tmux->SendKeys({"Escape"});
  ASSERT_TRUE(WaitGone(*tmux, "0001  PERE PUIG")) << tmux->ScreenText();
  Quit(*tmux);
  EXPECT_FALSE(FileExists(stack));
}

TEST_F(StartupTest, AccessLogThatCannotBeWrittenIsToldOnceAndOnStderr) {
  MakeDirs(demo_ + "/db.log");  // not a file: no process can append to it, root included
  auto tmux = std::make_unique<Tmux>(BuildPath("app/vownmain"), Env(), demo_);
  ASSERT_TRUE(tmux->WaitFor("NO ES POT ESCRIURE EL REGISTRE D'ACCESSOS db.log"))
      << tmux->ScreenText();
  tmux->SendKeys({"Enter"});
  ASSERT_TRUE(WaitGone(*tmux, "REGISTRE D'ACCESSOS")) << tmux->ScreenText();
  tmux->SendText("5");
  tmux->SendKeys({"Enter"});
  ASSERT_TRUE(tmux->WaitFor("CONFIRMEU LA BAIXA")) << tmux->ScreenText();
  tmux->SendText("s");
  tmux->SendKeys({"Enter"});
  ASSERT_TRUE(WaitGone(*tmux, "CONFIRMEU LA BAIXA")) << tmux->ScreenText();
  tmux->WaitQuiet();
  EXPECT_EQ(tmux->ScreenText().find("REGISTRE D'ACCESSOS"), std::string::npos) << "told once";
  tmux->SendKeys({"Escape"});
  int status = -1;
  ASSERT_TRUE(tmux->WaitExit(&status)) << tmux->ScreenText();
  EXPECT_EQ(status, 0);
  EXPECT_NE(Joined(*tmux).find("vownmain: " + demo_ + "/db.log: Is a directory"), std::string::npos)
      << tmux->ScreenText();
}

// Links planted in the shared folders never redirect a write: each is refused where the
// operator sees it, and the file it points at keeps its contents.
TEST_F(StartupTest, SymbolicLinksAreRefusedAndTheirTargetsKept) {
  struct Case {
    std::string link;   // under the installation
    std::string shown;  // what the screen says
    bool typeOwner;     // the refusal comes when an owner is asked for
  } cases[] = {
      {"db.log", "NO ES POT ESCRIURE EL REGISTRE D'ACCESSOS db.log", false},
      {"DADES/PropietV.dat", "NO ES POT ACCEDIR AL FITXER", false},
      {"LOCKS/PROPIETV.lck", "SIMB\u00d2LIC. TORNANT-HO A PROVAR", true},
  };
  for (const Case& c : cases) {
    const std::string link = demo_ + "/" + c.link, target = demo_ + "/target";
    const bool existed = FileExists(link);
    if (existed) {
      std::filesystem::copy_file(link, target, std::filesystem::copy_options::overwrite_existing);
      std::filesystem::remove(link);
    } else {
      WriteFile(target, "someone else's file");
    }
    const std::string before = ReadFile(target);
    std::filesystem::create_symlink(target, link);
    auto tmux = std::make_unique<Tmux>(BuildPath("app/vownmain"), Env(), demo_);
    if (c.typeOwner) {
      ASSERT_TRUE(tmux->WaitFor("CODI DEL PROPIETARI:")) << tmux->ScreenText();
      tmux->SendText("5");
      tmux->SendKeys({"Enter"});
    }
    EXPECT_TRUE(tmux->WaitFor(c.shown)) << c.link << "\n" << tmux->ScreenText();
    for (int i = 0; i < 4 && !tmux->Exited(); ++i) {
      tmux->SendKeys({"Escape"});
      tmux->WaitQuiet();
    }
    EXPECT_TRUE(tmux->WaitExit(nullptr)) << c.link << "\n" << tmux->ScreenText();
    EXPECT_EQ(ReadFile(target), before) << c.link;
    std::filesystem::remove(link);
    if (existed)
      std::filesystem::rename(target, link);
    else
      std::filesystem::remove(target);
  }
}

TEST_F(StartupTest, DataFileThatCannotBeOpenedNamesFileAndCauseOnStderr) {
  WriteFile(demo_ + "/DADES/PropietV.dat", "not a data file");
  Tmux tmux(BuildPath("app/vownmain"), Env(), demo_);
  ASSERT_TRUE(tmux.WaitFor("NO ES POT ACCEDIR AL FITXER")) << tmux.ScreenText();
  tmux.SendKeys({"Enter"});
  int status = -1;
  ASSERT_TRUE(tmux.WaitExit(&status)) << tmux.ScreenText();
  EXPECT_EQ(status, 0);
  EXPECT_NE(Joined(tmux).find("vownmain: NO ES POT ACCEDIR AL FITXER " + demo_ +
                              "/DADES\\PropietV (30): not a data file"),
            std::string::npos)
      << tmux.ScreenText();
}

}  // namespace
}  // namespace kap::test

namespace kap::test {
namespace {

// The owners list at 80 x 25 in both languages: its title stands over its columns and nothing of
// the screen below shows through beside its frame.
TEST_F(DemoTest, OwnersListFitsItsScreenInBothLanguages) {
  for (const std::string terminal : {"T01", "T02"}) {
    auto tmux = Start(terminal);
    tmux->SendKeys({"F4"});
    ASSERT_TRUE(tmux->WaitFor("0001  PERE PUIG I FERRER")) << tmux->ScreenText();
    tmux->WaitQuiet();
    std::vector<std::string> rows = tmux->Screen();
    // Columns in characters (the frame is drawn in UTF-8).
    auto wide = [](const std::string& row) {
      std::u32string out;
      for (size_t i = 0; i < row.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(row[i]);
        if ((c & 0xC0) != 0x80) out.push_back(c);
      }
      return out;
    };
    int top = -1, bottom = -1;
    for (size_t r = 0; r < rows.size(); ++r) {
      if (rows[r].find("\u2554") != std::string::npos && top < 0) top = static_cast<int>(r);
      if (rows[r].find("\u255a") != std::string::npos) bottom = static_cast<int>(r);
    }
    ASSERT_GE(top, 0) << tmux->ScreenText();
    ASSERT_GT(bottom, top) << tmux->ScreenText();
    const std::string& first = rows[static_cast<size_t>(top) + 1];
    const size_t left = wide(first.substr(0, first.find("\u2551"))).size();
    const size_t right = wide(first.substr(0, first.rfind("\u2551"))).size();
    for (int r = top; r <= bottom; ++r) {
      std::u32string row = wide(rows[static_cast<size_t>(r)]);
      for (size_t c = 0; c < row.size(); ++c) {
        if (c >= left && c <= right) continue;
        EXPECT_EQ(row[c], U' ') << terminal << ": stray character at row " << r + 1 << ", column "
                                << c + 1 << "\n"
                                << tmux->ScreenText();
      }
    }
    // The title's second word starts where the names start in the rows.
    const std::string title = rows[static_cast<size_t>(top)];
    const std::string name = terminal == "T01" ? "NOM" : "NOMBRE";
    EXPECT_EQ(wide(title.substr(0, title.find(name))).size(),
              wide(first.substr(0, first.find("PERE PUIG"))).size())
        << tmux->ScreenText();
    tmux->SendKeys({"Escape"});
    ASSERT_TRUE(WaitGone(*tmux, "0001  PERE PUIG")) << tmux->ScreenText();
    Quit(*tmux);
  }
}

}  // namespace
}  // namespace kap::test
