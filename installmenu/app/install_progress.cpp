#include "installmenu/app/install_progress.h"

#include "core/catalogue.h"
#include "core/message_format.h"
#include "gui/app/korvane_app.h"

using namespace FX;

namespace {

FXWString wide(const Processor::String& s) {
  return FXWString(std::u16string(reinterpret_cast<const char16_t*>(s.getBuffer()), static_cast<std::size_t>(s.length())));
}

class InstallProgressDialog : public FXKProgressDialog {
  FXDECLARE(InstallProgressDialog)

 public:
  enum { ID_CANCEL_JOB = 69 };

  InstallProgressDialog(FXWindow* owner, const FXWString& title, Processor::Cancelable* cancel, bool downloading)
      : FXKProgressDialog(owner, title, 0x24320000), cancel_(cancel), downloading_(downloading), title_(title) {
    auto* row = new FXHorizontalFrame(contentFrame(), LAYOUT_RIGHT, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
    row->setPadBottom(0);
    const FXWString label(Common::catalogueText(2224, u"\u2382Cancel"));
    // The catalogue marks the accelerator with U+2382; FOX marks it with '&'.
    std::u16string text = label.text();
    for (char16_t& c : text)
      if (c == u'\u2382') c = u'&';
    auto* button = new FXButton(row, FXWString(text.c_str()).toUtf8().c_str(), nullptr, this, ID_CANCEL_JOB, 0x106008,
                                0, 0, 0, 0, 2, 2, 2, 2);
    button->setPadLeft(12);
    button->setPadRight(12);
  }

  void create() override {
    FXKProgressDialog::create();
    setText(preparationText());
    if (FXWindow* focus = firstFocusable(this)) focus->setFocus();
  }

  void setProgress(int value) override {
    FXKProgressBase::setProgress(value);
    if (!downloading_) return;
    const Processor::String pattern(Common::catalogueText(2317, u"Downloading. {0}% completed."));
    setText(wide(Processor::formatMessage1(pattern, Processor::Variant(static_cast<std::int32_t>(value)))));
  }

  void setCancelable(Processor::Cancelable* cancel) { cancel_ = cancel; }
  void setDownloading(bool downloading) {
    if (downloading == downloading_) return;
    downloading_ = downloading;
    if (id()) setText(preparationText());
  }

  // The Cancel button and the close box: the job is asked to stop; the busy
  // state closes the window when it ends.
  long onCancel(FXObject*, FXSelector, void*) {
    if (cancel_) cancel_->cancel();
    return 1;
  }

 protected:
  InstallProgressDialog() = default;

 private:
  FXWString preparationText() const {
    return downloading_ ? FXWString(Common::catalogueText(2316, u"Preparing for downloading...")) : title_;
  }
  static FXWindow* firstFocusable(FXWindow* parent) {
    for (FXWindow* child = parent->getFirst(); child; child = child->getNext()) {
      if (child->canFocus()) return child;
      if (FXWindow* inner = firstFocusable(child)) return inner;
    }
    return nullptr;
  }

  Processor::Cancelable* cancel_ = nullptr;
  bool downloading_ = false;
  FXWString title_;
};

FXDEFMAP(InstallProgressDialog) InstallProgressDialogMap[] = {
    FXMAPFUNC(SEL_COMMAND, InstallProgressDialog::ID_CANCEL_JOB, InstallProgressDialog::onCancel),
    FXMAPFUNC(SEL_CLOSE, 0, InstallProgressDialog::onCancel),
};
FXIMPLEMENT(InstallProgressDialog, FXKProgressDialog, InstallProgressDialogMap, ARRAYNUMBER(InstallProgressDialogMap))

}  // namespace

FXKProgressDialog* createInstallProgressDialog(FXWindow* owner, const FXWString& title, Processor::Cancelable* cancel,
                                               bool downloading) {
  return new InstallProgressDialog(owner, title, cancel, downloading);
}

bool setInstallProgressCancelable(FXTopWindow* window, Processor::Cancelable* cancel) {
  auto* dialog = dynamic_cast<InstallProgressDialog*>(window);
  if (!dialog) return false;
  dialog->setCancelable(cancel);
  return true;
}

bool setInstallProgressDownloading(FXTopWindow* window, bool downloading) {
  auto* dialog = dynamic_cast<InstallProgressDialog*>(window);
  if (!dialog) return false;
  dialog->setDownloading(downloading);
  return true;
}

FXKBusyScope::FXKBusyScope(FXKorvaneApp* app) : app_(app) {
  app_->beginWaitCursor(1);
  app_->beginProgressSync();
}

FXKBusyScope::~FXKBusyScope() {
  app_->endProgressSync(0);
  app_->endWaitCursor(0);
}
