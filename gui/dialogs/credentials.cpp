#include "gui/dialogs/credentials.h"

#include <atomic>
#include <string>

#include "files/remove_tree.h"
#include "gui/app/korvane_app.h"

using namespace FX;

namespace {

FXKorvaneApp* g_app = nullptr;
FXKorvaneApp* g_previousApp = nullptr;
access_retry_fn g_previousHandler = nullptr;
bool g_installed = false;
// One prompt at a time: a second refused thread is not asked and does not retry.
std::atomic<bool> g_asking{false};
FXKCredentialsForm* g_dialog = nullptr;
int g_depth = 0;

FXKorvaneApp* g_directApp = nullptr;
access_retry_fn g_directPrevious = nullptr;
bool g_directInstalled = false;
std::atomic<bool> g_directAsking{false};

// Asks on the GUI thread; the calling thread waits for the answer.
int askOnGuiThread(FXKorvaneApp* app, i_dir* dir, const char16_t* userName, bool direct) {
  if (!app) Processor::throwNullReference();
  struct Call {
    FXKorvaneApp* app;
    file_object* object;
    const char16_t* user;
    bool direct;
    bool result;
  } call{app, dir, userName ? userName : u"", direct, false};
  app->executeSync(
      [](void* p) -> int {
        auto* c = static_cast<Call*>(p);
        c->result = c->direct ? c->app->askCredentials(c->object, c->user) : c->app->onAccessDenied(c->object, c->user);
        return c->result ? 1 : 0;
      },
      &call);
  return call.result ? 1 : 0;
}

int directHandler(i_dir* dir, const char16_t* userName) {
  if (g_directAsking.exchange(true)) return 0;
  struct Reset {
    ~Reset() { g_directAsking = false; }
  } reset;
  return askOnGuiThread(g_directApp, dir, userName, true);
}

int retryHandler(i_dir* dir, const char16_t* userName) {
  if (g_asking.exchange(true)) return 0;
  struct Reset {
    ~Reset() { g_asking = false; }
  } reset;
  return askOnGuiThread(g_app, dir, userName, false);
}

// The object's path as it names itself, or empty.
std::u16string objectName(file_object* object) {
  dir_control_request request{control_code("GSYP"), {nullptr}, nullptr, nullptr};
  object->control(&request);
  const bool named = object->Good() && request.pointer3;
  object->clear_error();
  return named ? std::u16string(static_cast<const char16_t*>(request.pointer3)) : std::u16string();
}

}  // namespace

void FXKInstallCredentialHandler(FXKorvaneApp* app) {
  if (g_installed) return;
  g_previousApp = g_app;
  g_app = app;
  g_previousHandler = set_access_retry_handler(&retryHandler, true);
  g_installed = true;
}

void FXKRemoveCredentialHandler() {
  if (!g_installed) return;
  set_access_retry_handler(g_previousHandler, true);
  g_app = g_previousApp;
  g_previousApp = nullptr;
  g_previousHandler = nullptr;
  g_installed = false;
}

void FXKInstallDirectCredentialHandler(FXKorvaneApp* app) {
  if (g_directInstalled) return;
  g_directApp = app;
  g_directPrevious = set_access_retry_handler(&directHandler, true);
  g_directInstalled = true;
}

void FXKRemoveDirectCredentialHandler() {
  if (!g_directInstalled) return;
  set_access_retry_handler(g_directPrevious, true);
  g_directApp = nullptr;
  g_directPrevious = nullptr;
  g_directInstalled = false;
}

bool FXKorvaneApp::askCredentials(file_object* object, const char16_t* userName) {
  return FXKAskCredentials(this, object, userName);
}

bool FXKorvaneApp::onAccessDenied(file_object* object, const char16_t* userName) {
  return askCredentials(object, userName);
}

void FXKorvaneApp::installCredentialCallback() { FXKInstallDirectCredentialHandler(this); }
void FXKorvaneApp::removeCredentialCallback() { FXKRemoveDirectCredentialHandler(); }

bool FXKAskCredentials(FXKorvaneApp* app, file_object* object, const char16_t* userName) {
  if (!app || !object) return false;
  if (g_depth == 0) app->beginSuperMode();
  ++g_depth;
  struct Leave {
    FXKorvaneApp* app;
    ~Leave() {
      if (--g_depth > 0) return;
      if (g_dialog) {
        g_dialog->dialogBox()->destroy();
        delete g_dialog;
        g_dialog = nullptr;
      }
      app->endSuperMode();
    }
  } leave{app};

  if (!g_dialog) {
    FXKorvaneApp::PasswordDialogHook make = FXKorvaneApp::passwordDialogHook();
    if (!make) return false;
    const std::u16string text = u"Connect to " + objectName(object);
    FXWindow* owner = app->getMainWindow() ? static_cast<FXWindow*>(app->getMainWindow()) : app->getRootWindow();
    g_dialog = make(owner, FXWString(u"Connect"), FXWString(text.c_str()), 0x14320000, 1, false);
    if (!g_dialog) return false;
  }
  FXDialogBox* box = g_dialog->dialogBox();
  if (box->id()) return false;  // asked again from within the prompt
  g_dialog->setUserName(FXWString(userName ? userName : u""));
  if (!box->execute(PLACEMENT_SCREEN)) return false;
  const std::u16string user = g_dialog->getUserName().text();
  const std::u16string password = g_dialog->getPassword().text();
  dir_control_request request{control_code("SPWD"), {user.c_str()}, password.c_str(), nullptr};
  object->control(&request);
  return true;
}
