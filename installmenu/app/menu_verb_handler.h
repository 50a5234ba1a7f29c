// The verb handler behind the install menu's items: "install", "execute",
// "extract" and "show" act on the main window's current item (its target is
// the first non-empty of "file:href", "file:dynamic_href" and "link:url").
//
// How the program wires it in (the whole seam): the application, before it
// builds its main window, sets
//   FXKInstallMenuShell::setVerbHandlerFactory(&makeInstallVerbHandler);
// the window then asks it for the four handlers (and owns them); after the
// window is shown, the application calls scheduleTestVerb(window), a no-op
// unless a test asks for a verb. Other windows (tests) implement
// FXKInstallVerbHost themselves and call registerInstallVerbs.
//
// Pulls in no toolkit header.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/messenger.h"
#include "core/verb.h"

namespace FX {
class FXWindow;
}
class FXKShellWindow;
class FXKShellItemInfo;
class FXKInstallMenuShell;
class FXKorvaneApp;

class FXKInstallVerbHost {
 public:
  virtual ~FXKInstallVerbHost() = default;
  // The update road (items "update_*").
  virtual void startUpdateCheck() = 0;
  virtual void startDownload() = 0;
  // Keeps the newest job's cancel flag, deleting the one it had; answers it.
  virtual Processor::Cancelable* adoptCancelable(std::unique_ptr<Processor::Cancelable> flag) = 0;
  // The path given with "/package_file"; empty when none.
  virtual std::u16string packageFile() = 0;
};

// A verb handler of a FOX window: the verb's argument is not used, and an
// update is the control's update with no extra flags.
class FXKVerbHandler : public Processor::VerbHandler {
 public:
  std::int32_t execute(const char*) final { return execute(); }
  void update(Processor::VerbControl* control) final { update(control, 0); }
  virtual std::int32_t execute() = 0;
  virtual void update(Processor::VerbControl* control, std::uint32_t flags) = 0;
};

class FXKInstallExecute : public FXKVerbHandler {
 public:
  enum Kind : std::int32_t { Install = 0, Extract = 1, Execute = 2, Show = 3 };

  FXKInstallExecute(FXKShellWindow* shell, FXKInstallVerbHost* host, Kind kind)
      : shell_(shell), host_(host), kind_(kind) {}
  // Owns its host.
  FXKInstallExecute(FXKShellWindow* shell, std::unique_ptr<FXKInstallVerbHost> host, Kind kind)
      : shell_(shell), host_(host.get()), ownedHost_(std::move(host)), kind_(kind) {}

  // 1 when a file action was carried out to its end (a cancelled file choice
  // included), else 0.
  std::int32_t execute() override;
  // Labels ("install", "show") and enables the control for the current item.
  void update(Processor::VerbControl* control, std::uint32_t flags) override;

  Kind kind() const { return kind_; }

 private:
  std::int32_t install(const std::u16string& target, bool dynamic);
  std::int32_t extract(const std::u16string& target, bool dynamic);
  std::int32_t show(const std::u16string& target);
  FXKorvaneApp* app() const;

  FXKShellWindow* shell_;
  FXKInstallVerbHost* host_;
  std::unique_ptr<FXKInstallVerbHost> ownedHost_;
  Kind kind_;
};

// Shows the main window again however an install ends, an escaping error
// included, unless dismissed (the user chose to restart the computer).
class FXKMainWindowReturn {
 public:
  explicit FXKMainWindowReturn(FX::FXWindow* window);
  ~FXKMainWindowReturn();
  FXKMainWindowReturn(const FXKMainWindowReturn&) = delete;
  FXKMainWindowReturn& operator=(const FXKMainWindowReturn&) = delete;
  void dismiss() { dismissed_ = true; }

 private:
  FX::FXWindow* window_;
  bool dismissed_ = false;
};

// The item's target and whether it came from "file:dynamic_href".
std::u16string installTarget(const FXKShellItemInfo& item, bool& dynamic);

// The handler of one kind (0 install, 1 extract, 2 execute, 3 show) for the
// install menu's main window.
Processor::VerbHandler* makeInstallVerbHandler(FXKInstallMenuShell* shell, int kind);

// Registers "install", "execute", "extract" and "show", in that order.
void registerInstallVerbs(FXKShellWindow* shell, FXKInstallVerbHost* host);

// Tests only: when the environment names a verb (KV_INSTALLMENU_TEST_VERB),
// runs it on the current item once the event loop turns (queued through
// executeAsync); KV_INSTALLMENU_TEST_ITEM names the item to make current
// first. Nothing otherwise.
void scheduleTestVerb(FXKShellWindow* shell);

// The extra installer properties of a menu install: "CUSTOM_XML=" with the
// customization file's path when the configuration has
// customization/file_list, the listed archive members copied beside it.
// Empty otherwise. Wide end to end.
std::u16string customizationProperties();
