#include "installmenu/app/menu_verb_handler.h"

#include <fx.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "core/catalogue.h"
#include "core/resource_archive.h"
#include "core/utilities.h"
#include "files/remove_tree.h"
#include "files/windows_dir.h"
#include "files/zip_file.h"
#include "gui/app/korvane_app.h"
#include "gui/app/verb_processor.h"
#include "gui/dialogs/file_dialog.h"
#include "installjob/package_installer.h"
#include "installmenu/app/install_menu_app.h"
#include "installmenu/app/install_progress.h"
#include "widgets/dialogs/messenger.h"
#include "widgets/browser.h"
#include "widgets/shell/shell_browser.h"
#include "widgets/shell/shell_items.h"
#include "widgets/shell/shell_window.h"
#include "xml/product_configuration.h"
#include "xml/xml_node.h"

using namespace FX;

namespace {

std::u16string text(const Processor::String& s) {
  return std::u16string(s.getBuffer(), static_cast<std::size_t>(s.length()));
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool endsWithIgnoringCase(const std::u16string& s, std::u16string_view suffix) {
  if (s.size() < suffix.size()) return false;
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    char16_t c = s[s.size() - suffix.size() + i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    if (c != suffix[i]) return false;
  }
  return true;
}

// The folder part of a Windows path (with its separator) and the name after it.
bool splitPath(const std::u16string& path, std::u16string& folder, std::u16string& name) {
  const std::size_t cut = path.find_last_of(u"\\/");
  if (cut == std::u16string::npos || cut + 1 == path.size()) return false;
  folder = path.substr(0, cut + 1);
  name = path.substr(cut + 1);
  return true;
}

bool folderExists(const std::u16string& folder) {
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// One folder per process for the customization files, removed with its
// content when the process ends; made again should it have gone.
class CustomizationFolder {
 public:
  ~CustomizationFolder() { remove(); }
  // Empty when it cannot be made.
  std::u16string path() {
    std::lock_guard<std::mutex> hold(lock_);
    if (!path_.empty() && folderExists(path_)) return path_;
    path_.clear();
    WCHAR temp[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, temp);
    if (n == 0 || n >= MAX_PATH) return path_;
    std::u16string folder(reinterpret_cast<const char16_t*>(temp), n);
    if (folder.back() != u'\\') folder += u'\\';
    Processor::String guid;
    Processor::newGuidText(guid);
    for (char16_t c : text(guid))
      if (c != u'-' && c != u'{' && c != u'}') folder += c;
    folder += u'\\';
    if (CreateDirectoryW(folder.c_str(), nullptr)) path_ = folder;
    return path_;
  }

 private:
  void remove() {
    if (path_.empty()) return;
    if (win32_dir* cwd = current_dir()) {
      std::unique_ptr<win32_dir> dir(cwd->open_dir_path(path_.c_str()));
      if (dir) remove_tree(dir.get(), false);
    }
  }
  std::mutex lock_;
  std::u16string path_;
};

CustomizationFolder& customizationFolder() {
  static CustomizationFolder folder;
  return folder;
}

// Copies an archive member into a new file; a missing member leaves the file empty.
void copyMemberTo(const std::u16string& member, const std::u16string& path) {
  win32_dir* cwd = current_dir();
  if (!cwd) return;
  std::unique_ptr<ro_file> out(cwd->create_file(path.c_str(), false, nullptr));
  cwd->clear_error();
  if (!out) return;
  zip_file* archive = Common::programArchive();
  if (!archive) return;
  std::unique_ptr<ri_file> in(archive->open_file(member.c_str(), false));
  archive->clear_error();
  if (!in) return;
  Processor::copyFileReporting(out.get(), in.get(), 0, nullptr, nullptr, nullptr);
}

}  // namespace

FXKMainWindowReturn::FXKMainWindowReturn(FX::FXWindow* window) : window_(window) {}

FXKMainWindowReturn::~FXKMainWindowReturn() {
  if (!dismissed_ && window_ && !window_->shown()) window_->show();
}

std::u16string installTarget(const FXKShellItemInfo& item, bool& dynamic) {
  dynamic = false;
  FXWString target = item.getAttribute("file:href");
  if (!target.empty()) return target.str();
  target = item.getAttribute("file:dynamic_href");
  if (!target.empty()) {
    dynamic = true;
    return target.str();
  }
  return item.getAttribute("link:url").str();
}

std::u16string customizationProperties() {
  xml_document* document = Common::productConfiguration();
  const xml_node* root = document ? document->root() : nullptr;
  const xml_node* customization = root ? root->find_child("customization") : nullptr;
  const xml_node* list = customization ? customization->find_child("file_list") : nullptr;
  if (!list) return {};
  const std::u16string folder = customizationFolder().path();
  std::u16string properties = u"CUSTOM_XML=\"" + folder + u"customization_res.xml\"";
  if (folder.empty()) return properties;
  for (const xml_node* child : list->children()) {
    std::u16string name;
    for (const xml_text& piece : child->pieces()) name += std::u16string(piece);
    if (name.empty()) continue;
    copyMemberTo(name, folder + name);
  }
  return properties;
}

FXKorvaneApp* FXKInstallExecute::app() const { return dynamic_cast<FXKorvaneApp*>(shell_->getApp()); }

void FXKInstallExecute::update(Processor::VerbControl* control, std::uint32_t) {
  const FXKShellItemInfo* item = shell_->getCurrentItemInfo();
  if (!item) {
    control->enable(false);
    return;
  }
  bool dynamic = false;
  const std::u16string target = installTarget(*item, dynamic);
  const bool updateItem = startsWith(item->verb, "update_");
  if (kind_ == Install || kind_ == Show) {
    FXWString title = item->getAttribute("default_verb_title");
    if (title.empty()) title = FXWString(Common::catalogueText(2314, u"Install"));
    control->setText(title.text());
  }
  if (target.empty()) {
    control->enable(false);
    return;
  }
  if (kind_ != Extract) {
    control->enable(true);
    return;
  }
  if (updateItem) {
    control->enable(false);
    return;
  }
  installjob::PackageInstaller job(target, installjob::MenuJob);
  control->enable(dynamic || job.isAvailable());
}

std::int32_t FXKInstallExecute::execute() {
  const FXKShellItemInfo* item = shell_->getCurrentItemInfo();
  if (!item) return 0;
  const std::string& name = item->verb;
  if (name == "separator" || name == "update_checking" || name == "update_downloading") return 0;
  if (name == "update_unavailable" || name == "update_proposal" || name == "update_error") {
    host_->startUpdateCheck();
    return 0;
  }
  if (name == "update_available" || name == "update_download_error") {
    host_->startDownload();
    return 0;
  }
  bool dynamic = false;
  const std::u16string target = installTarget(*item, dynamic);
  if (kind_ != Show) {
    if (FXKorvaneApp* a = app()) {
      Processor::ProgressInfo report;
      report.flags = 0x84;
      report.text = Processor::String(Common::catalogueText(2315, u"Preparing to install..."));
      a->updateProgress(report);
    }
  }
  switch (kind_) {
    case Show: return show(target);
    case Install:
    case Execute: return install(target, dynamic);
    case Extract: return extract(target, dynamic);
  }
  return 0;
}

std::int32_t FXKInstallExecute::show(const std::u16string& target) {
  Processor::runCommand(Processor::String(target.c_str()), Processor::String(), nullptr, 0, nullptr, nullptr, false);
  return 1;
}

namespace {

// The job's messenger, progress sink and a fresh cancel flag (the window
// keeps it; the application hands it to its busy window).
struct JobTools {
  Processor::RefPtr<FXKMessenger> messenger;
  Processor::RefPtr<Processor::Progress> progress;
  Processor::Cancelable* cancel = nullptr;
};

JobTools equip(installjob::PackageInstaller& job, FXKShellWindow* shell, FXKInstallVerbHost* host,
               FXKorvaneApp* app, bool dynamic) {
  JobTools tools;
  tools.messenger = Processor::makeRef<FXKMessenger>(shell);
  tools.cancel = host->adoptCancelable(std::make_unique<Processor::Cancelable>());
  if (app) tools.progress = app->getProgress();
  job.setMessenger(tools.messenger.get());
  job.setProgress(tools.progress.get());
  job.setCancelable(tools.cancel);
  if (auto* menu = dynamic_cast<FXKInstallMenuApp*>(app)) menu->setCancelable(tools.cancel);
  if (dynamic) job.setPackageFile(host->packageFile());
  return tools;
}

}  // namespace

std::int32_t FXKInstallExecute::install(const std::u16string& target, bool dynamic) {
  installjob::PackageInstaller job(target, installjob::MenuJob);
  JobTools tools = equip(job, shell_, host_, app(), dynamic);
  FXKMainWindowReturn back(shell_);
  shell_->hide();
  {
    std::unique_ptr<FXKBusyScope> busy(app() ? new FXKBusyScope(app()) : nullptr);
    if (job.prepare() != 0) return 0;  // the job has said why
  }
  const std::u16string properties = customizationProperties();
  job.run(true, properties.c_str());
  if (job.restartChosen()) back.dismiss();
  return 1;
}

std::int32_t FXKInstallExecute::extract(const std::u16string& target, bool dynamic) {
  FXWString chosen(target.c_str());
  if (!FXKShowFileDialog(shell_, chosen, FXWString(), 5)) return 1;
  std::u16string folder, name;
  if (!splitPath(chosen.str(), folder, name) || !folderExists(folder)) return 1;
  std::unique_ptr<FXKBusyScope> busy(app() ? new FXKBusyScope(app()) : nullptr);
  installjob::PackageInstaller job(target, installjob::MenuJob);
  JobTools tools = equip(job, shell_, host_, app(), dynamic);
  // A pattern names no member: it becomes the installed language's package
  // name first, as preparation makes it.
  if (dynamic && endsWithIgnoringCase(target, u".msp") && job.resolvePatchTarget().code() != 0) return 1;
  job.extract(installjob::FileTarget{folder, name});
  return 1;
}

namespace {

// The main window as the handlers' host.
class MenuShellHost : public FXKInstallVerbHost {
 public:
  explicit MenuShellHost(FXKInstallMenuShell* shell) : shell_(shell) {}
  void startUpdateCheck() override { shell_->startUpdateCheck(); }
  void startDownload() override { shell_->startDownload(); }
  Processor::Cancelable* adoptCancelable(std::unique_ptr<Processor::Cancelable> flag) override {
    Processor::Cancelable* kept = flag.release();
    shell_->setJobCancelable(kept);
    return kept;
  }
  std::u16string packageFile() override {
    auto* app = dynamic_cast<FXKInstallMenuApp*>(shell_->getApp());
    return app ? app->getPackageFile().str() : std::u16string();
  }

 private:
  FXKInstallMenuShell* shell_;
};

}  // namespace

Processor::VerbHandler* makeInstallVerbHandler(FXKInstallMenuShell* shell, int kind) {
  if (kind < FXKInstallExecute::Install || kind > FXKInstallExecute::Show) return nullptr;
  return new FXKInstallExecute(shell, std::make_unique<MenuShellHost>(shell), static_cast<FXKInstallExecute::Kind>(kind));
}

void registerInstallVerbs(FXKShellWindow* shell, FXKInstallVerbHost* host) {
  shell->setVerbHandler("install", new FXKInstallExecute(shell, host, FXKInstallExecute::Install));
  shell->setVerbHandler("execute", new FXKInstallExecute(shell, host, FXKInstallExecute::Execute));
  shell->setVerbHandler("extract", new FXKInstallExecute(shell, host, FXKInstallExecute::Extract));
  shell->setVerbHandler("show", new FXKInstallExecute(shell, host, FXKInstallExecute::Show));
}

namespace {

struct TestVerb {
  FXKShellWindow* shell;
  std::string verb, item;
};

int runTestVerb(void* argument) {
  std::unique_ptr<TestVerb> request(static_cast<TestVerb*>(argument));
  if (!request->item.empty()) {
    for (FXKShellItemInfo* info : request->shell->getItemInfos()) {
      if (info->verb != request->item) continue;
      FXKShellBrowserItem item(info->verb, info->id, info->separator, info->usesSelection);
      request->shell->getBrowser()->selectItem(&item, true, false);
      break;
    }
  }
  if (FXKVerbProcessor* processor = request->shell->getVerbProcessor())
    return processor->execute(request->verb.c_str(), nullptr);
  return 0;
}

}  // namespace

void scheduleTestVerb(FXKShellWindow* shell) {
  const char* verb = std::getenv("KV_INSTALLMENU_TEST_VERB");
  if (!verb || !*verb || !shell) return;
  auto* app = dynamic_cast<FXKorvaneApp*>(shell->getApp());
  if (!app) return;
  const char* item = std::getenv("KV_INSTALLMENU_TEST_ITEM");
  app->executeAsync(&runTestVerb, new TestVerb{shell, verb, item ? item : ""});
}
