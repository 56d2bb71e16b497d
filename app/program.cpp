// Start-up and end of the owner program.
#include "app/owner_program.h"
#include "data/data_files.h"
#include "formengine/screen.h"
#include "platform/console.h"
#include "platform/os.h"
#include "platform/record_manager.h"
#include "popups/popups.h"
#include "session/session.h"

namespace kap {

namespace {

bool IsAbsolute(const std::string& path) {
  return (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
         (path.size() > 1 && path[1] == ':');
}

// True when `dir` (ending in a separator) names an existing folder.
bool FolderExists(const std::string& dir) { return GetOs().FileExists(dir + "."); }

std::string Shown(const std::string& dir) { return Cp850ToUtf8(dir); }

}  // namespace

std::string StatusCause(int16_t status) {
  switch (status) {
    case 2:
      return "the file cannot be read or written";
    case 11:
      return "the name is not valid";
    case 12:
      return "no such file";
    case 18:
      return "the disk is full";
    case 20:
      return RecordServerProblem().empty() ? "the record manager is not running"
                                           : RecordServerProblem();
    case 22:
      return "its records are longer than the program's";
    case 25:
      return "the file cannot be created (its dictionary in ddf is missing or refused)";
    case 30:
      return "not a data file";
    case 46:
      return "access denied";
    case 85:
      return "locked by another program";
    default:
      return "record manager status " + std::to_string(status);
  }
}

std::string StartupRefusal() {
  StartSession();
  const Session& session = CurrentSession();
  Os& os = GetOs();
  if (session.WorkDir.empty())
    return "no terminal folder: set KAPTMP or KAPTERM, or Dir in the [Terminal] section of "
           "Sessio.ini";
  const std::string workFrom = os.GetEnv("KAPTMP").empty() ? "the terminal folder" : "KAPTMP";
  if (!FolderExists(session.WorkDir))
    return "the terminal's working folder " + Shown(session.WorkDir) + " (" + workFrom +
           ") does not exist or is not a folder";
  if (!session.TerminalDir.empty() && !FolderExists(session.TerminalDir))
    return "the terminal folder " + Shown(session.TerminalDir) +
           " (KAPTERM or Sessio.ini's Dir) does not exist or is not a folder";
  return "";
}

void OpenOwnerFiles(int16_t& status) {
  OwnerProgramState& program = OwnerProgram();
  const std::string& root = CurrentSession().RootDir;
  OpenDataFile(kOwnersFile, root + "DADES\\PropietV", program.OwnerRecord, status);
  OpenDataFile(kEstatesFile, root + "DADES\\FinquesV", program.EstateRecord, status);
  OpenDataFile(kCountriesFile, root + "TAULES\\UPaisos", program.CountryRecord, status);
}

namespace {

// The files, hooks and hot keys of the owner cycle, closed however the cycle is left: an
// exception thrown from a console or a hook must not leave them to the next caller.
struct OwnerCycleScope {
  int16_t status = 0;
  OwnerCycleScope() {
    OpenOwnerFiles(status);
    SetFormHooks(&OwnerProgram().Hooks);
    RegisterPopupHotKeys();  // Alt+X and Alt+C in any field
  }
  ~OwnerCycleScope() {
    SetHotKeyHandler(nullptr);
    SetFormHooks(nullptr);
    ResetDataFiles(status);
  }
  OwnerCycleScope(const OwnerCycleScope&) = delete;
  OwnerCycleScope& operator=(const OwnerCycleScope&) = delete;
};

}  // namespace

int RunOwnerProgram(std::string* fatal) {
  ShowCursor(false);
  StartSession();
  Session& session = CurrentSession();
  Os& os = GetOs();
  if (!session.RootDir.empty()) {
    // Every path is built as RootDir + a relative part, which must still hold after the change
    // of directory.
    if (!IsAbsolute(session.RootDir)) session.RootDir = os.CurrentDir() + "/" + session.RootDir;
  }
  // The terminal's folders, too, must name the same folders after the change of directory.
  for (std::string* dir : {&session.WorkDir, &session.TerminalDir})
    if (!dir->empty() && !IsAbsolute(*dir)) *dir = os.CurrentDir() + "/" + *dir;
  if (!session.RootDir.empty()) os.ChangeDir(session.RootDir);
  session.ProgramName = "VOWNMAIN";
  // Windows a killed run left in the stack are nobody's to close.
  ClearWindowStack();
  CheckAccessLog();
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
    if (fatal) {
      *fatal = text;
      if (error.problem == form_file::kUnreadable)
        *fatal += os.FileExists(error.file) ? " (the file cannot be read)" : " (no such file)";
    }
    return 0;
  }

  OwnerCycleScope scope;
  RunOwnerCycle();
  return 0;
}

}  // namespace kap
