// What the operator sees while a lock call waits: the waiting message, the message of a lock
// file that cannot be used, and Esc in mode "P".
#include "formengine/screen.h"
#include "locking/lock_internal.h"
#include "session/session.h"

namespace kap {

namespace {

struct LanguageTexts {
  const char* waitBase;
  const char* esc;
  const char* failure;  // before the path
  const char* retrying;
  const char* causes[9];  // by OsError
};

// Catalan, then Spanish, Galician and Aranese, as the library's own messages are chosen.
const LanguageTexts& Texts() {
  static const LanguageTexts kCatalan{
      "FITXER BLOQUEJAT. ESPEREU UN MOMENT",
      " O POLSEU [ESC] PER A EIXIR",
      "NO ES POT FER SERVIR ",
      ". TORNANT-HO A PROVAR",
      {"ERROR", "SENSE PERM\xD6S", "DISC PLE", "NOM\x90S LECTURA", "NO \x90S UNA CARPETA",
       "NO \x90S UN FITXER", "LA CARPETA NO EXISTEIX", "\x90S UN ENLLA\x80 SIMB\xE3LIC",
       "ERROR D'ACC\x90S"}};
  static const LanguageTexts kSpanish{
      "FICHERO BLOQUEADO. ESPERE UN MOMENTO",
      " O PULSE [ESC] PARA SALIR",
      "NO SE PUEDE USAR ",
      ". REINTENTANDO",
      {"ERROR", "SIN PERMISO", "DISCO LLENO", "SOLO LECTURA", "NO ES UNA CARPETA",
       "NO ES UN FICHERO", "LA CARPETA NO EXISTE", "ES UN ENLACE SIMB\xE0LICO", "ERROR DE ACCESO"}};
  static const LanguageTexts kGalician{
      "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO",
      " OU PULSE [ESC] PARA SAIR",
      "NON SE PODE USAR ",
      ". REINTENTANDO",
      {"ERRO", "SEN PERMISO", "DISCO CHEO", "S\xE0 LECTURA", "NON \x90 UN CARTAFOL",
       "NON \x90 UN FICHEIRO", "O CARTAFOL NON EXISTE", "\x90 UNHA LIGAZ\xE0N SIMB\xE0LICA",
       "ERRO DE ACCESO"}};
  static const LanguageTexts kAranese{
      "FICH\xD4R BLOQUEJAT. ESPERATZ UN MOMENT",
      " O POSSATZ [ESC] ENT\xB7 G\xD4SSER",
      "NON SE POT UTILIZAR ",
      ". TORNAM A ASSAJAR",
      {"ERROR", "SENS PERM\xD6S", "DISC PLEN", "SONQUE LECTURA", "NON \x90S UN REPERTORI",
       "NON \x90S UN FICH\xD4R", "ES REPERTORI NON EXIST\xD6S", "\x90S UN LIAM SIMB\xE3LIC",
       "ERROR D'ACC\x90S"}};
  const std::string language = CurrentSession().Language.substr(0, 3);
  if (language == "SPA") return kSpanish;
  if (language == "GLG") return kGalician;
  if (language == "OCI") return kAranese;
  return kCatalan;
}

void ShowOnScreen(const std::string& text) {
  locking::LockState& state = locking::Locks();
  if (state.customSink) {
    state.sink.show(text);
  } else {
    ShowMessage(24, text);
  }
}

void HideFromScreen() {
  locking::LockState& state = locking::Locks();
  if (state.customSink) {
    if (state.sink.hide) state.sink.hide();
  } else {
    PopWindow();
  }
}

}  // namespace

std::string LockWaitText(bool escOffered) {
  const LanguageTexts& texts = Texts();
  return std::string(texts.waitBase) + (escOffered ? texts.esc : "") + ".";
}

std::string LockFailureText(const std::string& path, OsError cause, bool escOffered) {
  const LanguageTexts& texts = Texts();
  const int index = static_cast<int>(cause);
  return std::string(texts.failure) + path + ": " +
         texts.causes[index >= 0 && index < 8 ? index : 7] + texts.retrying +
         (escOffered ? texts.esc : "") + ".";
}

namespace locking {

bool ModeIs(char letter) {
  const std::string& mode = Locks().waitMode;
  return !mode.empty() && (mode[0] == letter || mode[0] == letter - 'A' + 'a');
}

int64_t NowMinutes() { return MinutesSince1970(GetOs().Now()); }

LockWait::LockWait() : escOffered_(ModeIs('P')) {}

LockWait::~LockWait() {
  if (!shown_.empty()) HideFromScreen();
}

void LockWait::Show(const std::string& text) {
  if (text == shown_) return;
  const bool first = shown_.empty();
  if (!first) HideFromScreen();
  ShowOnScreen(text);
  shown_ = text;
  // Keys typed before the operator could read the message must not end the wait.
  if (first && escOffered_) FlushKeys();
}

void LockWait::ShowFailure(const std::string& path, OsError cause) {
  Show(LockFailureText(path, cause, escOffered_));
}

bool LockWait::Pause(int milliseconds) {
  GetOs().SleepMs(milliseconds);
  RenewHeldLocks();
  // Only a shown message offers Esc: keys typed ahead of a short busy wait are the form's.
  if (!escOffered_ || shown_.empty()) return true;
  int16_t key = 0, buttons = 0, row = 0, column = 0;
  ReadKey(key, buttons, row, column);
  return key != key::kEsc;
}

}  // namespace locking
}  // namespace kap
