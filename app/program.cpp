// Start-up and end of the owner program.
#include "app/owner_program.h"
#include "data/data_files.h"
#include "formengine/screen.h"
#include "platform/os.h"
#include "popups/popups.h"
#include "session/session.h"

namespace kap {

namespace {

bool IsAbsolute(const std::string& path) {
  return (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
         (path.size() > 1 && path[1] == ':');
}

// Alt+X and Alt+C in any field: what the pop-up returns is typed into the field.
std::string HotKey(int16_t hotKey) {
  if (hotKey == key::kAltX) return PopupCalculator();
  if (hotKey == key::kAltC) return PopupCalendar();
  return "";
}

}  // namespace

void OpenOwnerFiles(int16_t& status) {
  OwnerProgramState& program = OwnerProgram();
  const std::string& root = CurrentSession().RootDir;
  OpenDataFile(kOwnersFile, root + "DADES\\PropietV", program.OwnerRecord, status);
  OpenDataFile(kEstatesFile, root + "DADES\\FinquesV", program.EstateRecord, status);
  OpenDataFile(kCountriesFile, root + "TAULES\\UPaisos", program.CountryRecord, status);
}

int RunOwnerProgram(std::string* fatal) {
  ShowCursor(false);
  StartSession();
  Session& session = CurrentSession();
  Os& os = GetOs();
  if (!session.RootDir.empty()) {
    // Every path is built as RootDir + a relative part, which must still hold after the change
    // of directory.
    if (!IsAbsolute(session.RootDir)) session.RootDir = os.CurrentDir() + "/" + session.RootDir;
    os.ChangeDir(session.RootDir);
  }
  session.ProgramName = "VOWNMAIN";
  ChooseRecordEngine();

  FormFileError error;
  int16_t loaded = LoadFormFile(error);
  if (loaded == 0 && FormTable().FormCount < 3) {
    error.line = 0;
    error.problem = form_file::kMissingForm;
    loaded = -1;
  }
  if (loaded != 0) {
    std::string text = error.Text();
    RefuseWithMessage(text);
    if (fatal) *fatal = text;
    return 0;
  }

  int16_t status = 0;
  OpenOwnerFiles(status);
  SetFormHooks(&OwnerProgram().Hooks);
  SetHotKeyHandler(HotKey);
  RunOwnerCycle();
  SetHotKeyHandler(nullptr);
  SetFormHooks(nullptr);
  ResetDataFiles(status);
  return 0;
}

}  // namespace kap
