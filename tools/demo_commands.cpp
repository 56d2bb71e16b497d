// kaptool demo: lays out the demo installation from its readable sources (UTF-8 text, readable
// dictionaries, sample records as text) in the suite's formats.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/owner_program.h"
#include "data/data_files.h"
#include "format/format.h"
#include "platform/bytes.h"
#include "platform/console.h"
#include "platform/os.h"
#include "session/session.h"
#include "tools/commands.h"

namespace kap::tool {
namespace {

int RunDemo(const std::vector<std::string>& args);

const ToolCommand kDemoCommand{
    "demo", "lay out the demo installation from its readable sources",
    "usage: kaptool demo build SOURCE_DIR TARGET_DIR\n\n"
    "Turns the readable demo sources (the repository's demo/ folder) into an installation:\n"
    "FORMS\\VOWNMAIN.JPN and LOCALE\\VOWNMAIN.LNG in code page 850 with CR LF, the help files\n"
    "AJUDA\\*.HLP as 80-byte records ({h}, {u} and {r} become the colour toggles), the\n"
    "dictionaries ddf\\*.xdf, the owners, estates and countries files filled with the sample\n"
    "records, the terminal folders T01 and T02 and Vora.ini. TARGET_DIR must not hold an\n"
    "installation already (the files are created, never replaced).\n",
    RunDemo};

struct Failure {
  std::string text;
};

bool ReadWhole(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  *out = text.str();
  return true;
}

bool WriteWhole(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

bool MakeDir(const std::string& path) { return GetOs().MakeDir(path); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// UTF-8 text with any line ends into code page 850 with CR LF.
std::string SuiteText(const std::string& utf8) {
  std::string out;
  for (const std::string& line : Lines(utf8)) out += Utf8ToCp850(line) + "\r\n";
  return out;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Help text: one record of 80 bytes per line, the text space-padded to 78 bytes, then CR LF.
bool HelpFile(const std::string& source, const std::string& target, std::string* problem) {
  std::string text;
  if (!ReadWhole(source, &text)) {
    *problem = "cannot read " + source;
    return false;
  }
  std::string out;
  int number = 0;
  for (std::string line : Lines(text)) {
    ++number;
    line = Utf8ToCp850(line);
    line = ReplaceAll(line, "{h}", "\x1e");
    line = ReplaceAll(line, "{u}", "\x1f");
    line = ReplaceAll(line, "{r}", "\x10");
    if (line.size() > 78) {
      *problem = source + ", line " + std::to_string(number) + ": longer than 78 bytes";
      return false;
    }
    line.resize(78, ' ');
    out += line + "\r\n";
  }
  if (!WriteWhole(target, out)) {
    *problem = "cannot write " + target;
    return false;
  }
  return true;
}

bool CopyText(const std::string& source, const std::string& target, std::string* problem) {
  std::string text;
  if (!ReadWhole(source, &text)) {
    *problem = "cannot read " + source;
    return false;
  }
  if (!WriteWhole(target, SuiteText(text))) {
    *problem = "cannot write " + target;
    return false;
  }
  return true;
}

bool CompileDictionary(const std::string& source, const std::string& target, std::string* problem) {
  for (const ToolCommand* command : Commands()) {
    if (std::strcmp(command->name, "data") == 0) {
      if (command->run({"dictionary", source, target}) == 0) return true;
      *problem = "cannot compile " + source;
      return false;
    }
  }
  *problem = "kaptool has no data command to compile dictionaries";
  return false;
}

// --- Sample records ---

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t bar = line.find('|', start);
    size_t length = bar == std::string::npos ? std::string::npos : bar - start;
    fields.push_back(line.substr(start, length));
    if (bar == std::string::npos) return fields;
    start = bar + 1;
  }
}

void PutText(char* record, size_t offset, size_t length, const std::string& utf8) {
  std::string text = Utf8ToCp850(utf8);
  text.resize(length, ' ');
  std::memcpy(record + offset, text.data(), length);
}

void PutInt(char* record, size_t offset, size_t bytes, long value) {
  std::memcpy(record + offset, LittleEndianBytes32(static_cast<uint32_t>(value)).data(), bytes);
}

void PutPacked(char* record, size_t offset, size_t bytes, const std::string& digits) {
  std::string packed = PackDigits(digits);
  packed.resize(bytes, static_cast<char>(0x80));
  std::memcpy(record + offset, packed.data(), bytes);
}

bool Number(const std::string& text, long minimum, long maximum, long* value) {
  if (text.empty()) {
    *value = 0;
    return minimum <= 0 && 0 <= maximum;
  }
  char* end = nullptr;
  errno = 0;
  long n = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || n < minimum || n > maximum) return false;
  *value = n;
  return true;
}

bool Digits(const std::string& text, size_t count) {
  if (text.size() != count) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Reads the records of a sample file: lines of `fields` values separated by "|"; "#" starts a
// comment line. `fill` builds the record from the values and names its own problems.
bool LoadSample(const std::string& path, size_t fields, int16_t fileNumber, char* record,
                size_t recordLength,
                bool (*fill)(const std::vector<std::string>&, char*, std::string*),
                std::string* problem) {
  std::string text;
  if (!ReadWhole(path, &text)) {
    *problem = "cannot read " + path;
    return false;
  }
  int number = 0;
  for (const std::string& line : Lines(text)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> values = Split(line);
    std::string why;
    std::memset(record, ' ', recordLength);
    if (values.size() != fields) {
      why = "expected " + std::to_string(fields) + " values separated by |";
    } else if (fill(values, record, &why)) {
      int16_t status = 0;
      InsertRecord(fileNumber, status);
      if (status == 0) continue;
      why = "the record manager refused the record (status " + std::to_string(status) + ")";
    }
    *problem = path + ", line " + std::to_string(number) + ": " + why;
    return false;
  }
  return true;
}

bool FillOwner(const std::vector<std::string>& v, char* r, std::string* why) {
  if (!Digits(v[0], 4)) return (*why = "the owner code must be 4 digits", false);
  PutPacked(r, owner::kCode, 2, v[0]);
  PutText(r, owner::kText1, 30, v[1]);
  PutText(r, owner::kText2, 20, v[2]);
  PutText(r, owner::kText3, 30, v[3]);
  PutText(r, owner::kText4, 30, v[4]);
  PutText(r, owner::kText5, 30, v[5]);
  if (v[6].size() != 2) return (*why = "the country must be 2 letters", false);
  PutText(r, owner::kCountry, 2, v[6]);
  PutText(r, owner::kTaxId, 15, v[7]);
  if (!Digits(v[8], 8) || !Digits(v[9], 8)) return (*why = "dates are YYYYMMDD", false);
  PutPacked(r, owner::kDate8, 4, v[8]);
  PutPacked(r, owner::kDate9, 4, v[9]);
  const size_t longs[] = {owner::kLong10, owner::kLong15, owner::kLong11, owner::kLong12,
                          owner::kLong13};
  for (size_t i = 0; i < 5; ++i) {
    long n = 0;
    if (!Number(v[10 + i], -2147483647L, 2147483647L, &n))
      return (*why = "value " + std::to_string(11 + i) + " is not a 32-bit number", false);
    PutInt(r, longs[i], 4, n);
  }
  long retention = 0;
  if (!Number(v[15], -32768, 32767, &retention))
    return (*why = "the withholding is not a 16-bit number", false);
  PutInt(r, owner::kShort14, 2, retention);
  for (int slot = 0; slot < owner::kEstateSlots; ++slot) {
    size_t at = owner::kEstates + slot * owner::kSlotSize;
    PutPacked(r, at, 2, "0000");
    PutInt(r, at + 2, 2, 0);
  }
  std::istringstream estates(v[16]);
  std::string pair;
  while (estates >> pair) {
    size_t colon = pair.find(':');
    long slot = 0;
    if (colon == std::string::npos ||
        !Number(pair.substr(0, colon), 1, owner::kEstateSlots, &slot) ||
        !Digits(pair.substr(colon + 1), 4))
      return (*why = "estates are slot:code pairs, slots 1 to 20, codes of 4 digits", false);
    PutPacked(r, owner::kEstates + (slot - 1) * owner::kSlotSize, 2, pair.substr(colon + 1));
  }
  std::memset(r + 281, ' ', 40);
  return true;
}

constexpr size_t kEstateLength = 120;
constexpr size_t kCountryLength = 64;

bool FillEstate(const std::vector<std::string>& v, char* r, std::string* why) {
  if (!Digits(v[0], 4) || !Digits(v[1], 4)) return (*why = "codes must be 4 digits", false);
  PutPacked(r, estate::kCode, 2, v[0]);
  PutPacked(r, estate::kOwner, 2, v[1]);
  PutText(r, 8, 40, v[2]);
  PutText(r, 48, 30, v[3]);
  long surface = 0;
  if (!Number(v[4], 0, 2147483647L, &surface)) return (*why = "the surface is not a number", false);
  PutInt(r, 78, 4, surface);
  PutText(r, 82, 20, v[5]);
  return true;
}

bool FillCountry(const std::vector<std::string>& v, char* r, std::string* why) {
  if (v[0].size() != 2) return (*why = "the country code must be 2 letters", false);
  PutText(r, country::kCode, 2, v[0]);
  PutText(r, 2, 45, v[1]);
  PutText(r, country::kMember, 2, v[2]);
  return true;
}

bool LoadData(const std::string& source, const std::string& root, std::string* problem) {
  Session& session = CurrentSession();
  session.RootDir = root + "/";
  SetFatalHandler([](const std::string& message, int16_t) {
    std::fprintf(stderr, "kaptool demo: %s\n", Cp850ToUtf8(message).c_str());
    std::exit(1);
  });
  static char owners[kOwnerRecordLength], estates[kLargestRecord], countries[kLargestRecord];
  int16_t status = 0;
  OpenDataFile(kOwnersFile, session.RootDir + "DADES\\PropietV", owners, status);
  OpenDataFile(kEstatesFile, session.RootDir + "DADES\\FinquesV", estates, status);
  OpenDataFile(kCountriesFile, session.RootDir + "TAULES\\UPaisos", countries, status);
  bool ok = LoadSample(source + "/data/owners.txt", 17, kOwnersFile, owners, sizeof owners,
                       FillOwner, problem) &&
            LoadSample(source + "/data/estates.txt", 6, kEstatesFile, estates, kEstateLength,
                       FillEstate, problem) &&
            LoadSample(source + "/data/countries.txt", 3, kCountriesFile, countries, kCountryLength,
                       FillCountry, problem);
  ResetDataFiles(status);
  return ok;
}

std::string Absolute(const std::string& path) {
  if (std::filesystem::path(path).is_absolute()) return path;  // drive paths too, on Windows
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

int Build(const std::string& sourceArg, const std::string& targetArg) {
  const std::string source = Absolute(sourceArg);
  const std::string target = Absolute(targetArg);
  std::string problem;
  auto fail = [&](const std::string& text) {
    std::fprintf(stderr, "kaptool demo: %s\n", text.c_str());
    return 1;
  };
  struct stat info;
  if (stat((target + "/DADES").c_str(), &info) == 0)
    return fail(target + " already holds an installation");
  for (const char* dir :
       {"", "/FORMS", "/LOCALE", "/ddf", "/DADES", "/TAULES", "/AJUDA", "/LOCKS", "/T01", "/T02"}) {
    if (!MakeDir(target + dir)) return fail("cannot create " + target + dir);
  }
  const std::pair<const char*, const char*> texts[] = {
      {"/forms/VOWNMAIN.JPN", "/FORMS/VOWNMAIN.JPN"},
      {"/locale/VOWNMAIN.LNG", "/LOCALE/VOWNMAIN.LNG"},
      {"/root/Vora.ini", "/Vora.ini"},
      {"/T01/Sessio.ini", "/T01/Sessio.ini"},
      {"/T01/VoraTerm.ini", "/T01/VoraTerm.ini"},
      {"/T02/Sessio.ini", "/T02/Sessio.ini"},
      {"/T02/VoraTerm.ini", "/T02/VoraTerm.ini"},
  };
  for (const auto& [from, to] : texts) {
    if (!CopyText(source + from, target + to, &problem)) return fail(problem);
  }
  for (const char* topic : {"PROPBAIX", "UAUXMENU"}) {
    if (!HelpFile(source + "/help/" + topic + ".txt", target + "/AJUDA/" + topic + ".HLP",
                  &problem))
      return fail(problem);
  }
  for (const char* name : {"PropietV", "FinquesV", "UPaisos"}) {
    if (!CompileDictionary(source + "/ddf/" + name + ".txt", target + "/ddf/" + name + ".xdf",
                           &problem))
      return fail(problem);
  }
  // The access log goes to the current directory: keep the insertions of the samples out of
  // the installation's log.
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd) || chdir(target.c_str()) != 0) return fail("cannot enter " + target);
  bool loaded = LoadData(source, target, &problem);
  std::remove((target + "/db.log").c_str());
  if (chdir(cwd) != 0) return fail("cannot go back to " + std::string(cwd));
  if (!loaded) return fail(problem);
  std::printf("demo installation laid out in %s\n", target.c_str());
  return 0;
}

int RunDemo(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kDemoCommand.usage, stdout);
    return 0;
  }
  if (args.size() != 3 || args[0] != "build")
    return UsageError(kDemoCommand, "expected: build SOURCE_DIR TARGET_DIR");
  return Build(args[1], args[2]);
}

}  // namespace
}  // namespace kap::tool
