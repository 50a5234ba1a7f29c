#include "widgets/dialogs/ser_confirmation.h"

#include "widgets/simple_list.h"

using namespace FX;

namespace {
FXWString widened(const std::string& bytes) {
  std::u16string s;
  s.reserve(bytes.size());
  for (unsigned char c : bytes) s.push_back(static_cast<char16_t>(c));
  return FXWString(s.c_str());
}

// The captions of the fields listed as they are, in code order.
const char16_t* captionOf(std::uint32_t code) {
  switch (code) {
    case 1: return u"Platform type";
    case 2: return u"Platform architecture";
    case 3: return u"Platform kernel version";
    case 4: return u"Platform language code";
    case 5: return u"Product name";
    case 10: return u"Product language code";
    case 12: return u"System manufacturer";
    case 13: return u"System model";
    default: return nullptr;
  }
}
}  // namespace

FXIMPLEMENT(FXKSERConfirmationDialog, FXKOperationDialog, nullptr, 0)

FXKSERConfirmationDialog::FXKSERConfirmationDialog(FXWindow* owner, FXIcon* icon,
                                                   const std::map<std::uint32_t, std::string>* reportFields)
    : FXKOperationDialog(owner, FXWString(u"Feedback Confirmation"),
                         FXWString(u"The following information will be sent via the Internet. Click OK to confirm."),
                         icon, 0x14320000, 0, 0),
      reportFields_(reportFields) {}

std::vector<std::pair<FXWString, FXWString>> FXKSERConfirmationDialog::rows(
    const std::map<std::uint32_t, std::string>& fields) {
  std::vector<std::pair<FXWString, FXWString>> out;
  for (const auto& [code, value] : fields) {
    const char16_t* caption = captionOf(code);
    if (caption && !value.empty()) out.emplace_back(FXWString(caption), FXWString::fromUtf8(value.c_str()));
  }
  auto error = fields.find(15);
  if (error != fields.end()) out.emplace_back(FXWString(u"Error code"), widened(error->second));
  auto version = fields.find(8);
  if (version != fields.end()) {
    FXWString text = widened(version->second);
    auto build = fields.find(9);
    if (build != fields.end()) text = text + FXWString(u".") + widened(build->second);
    out.emplace_back(FXWString(u"Product version"), text);
  }
  return out;
}

void FXKSERConfirmationDialog::create() {
  if (!built_) {
    built_ = true;
    auto* outer = new FXVerticalFrame(contentFrame() == bodyFrame() ? contentFrame() : bodyFrame(),
                                      LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10);
    outer->setBackColor(bodyFrame()->getBackColor());
    createButtons(BUTTON_OK | BUTTON_CANCEL, BUTTON_OK);
    auto* inner = new FXVerticalFrame(outer, 0x3c00, 0, 0, 0, 0, DEFAULT_PAD, DEFAULT_PAD, DEFAULT_PAD, DEFAULT_PAD,
                                      4, 4);
    inner->setBackColor(outer->getBackColor());
    fieldList_ = new FXKSimpleList(inner, LAYOUT_FILL_X | LAYOUT_FILL_Y, this, ID_LIST);
    fieldList_->setSelectionMode(3);
    const FXint nameKey = fieldList_->addColumn(FXWString(u"Parameter name"), 0x1920, 0);
    const FXint valueKey = fieldList_->addColumn(FXWString(u"Value"), 0x1920, 0);
    const FXint group = 1;
    fieldList_->addGroup(group, FXWString());
    if (reportFields_) {
      for (const auto& [caption, value] : rows(*reportFields_)) {
        FXKSimpleRow* row = fieldList_->addRowToGroup(group, caption);
        if (!row) continue;
        row->setColumnText(nameKey, caption);
        row->setColumnText(valueKey, value);
      }
      if (reportFields_->count(17)) {
        alwaysSendCheck_ = new FXCheckButton(outer, "Always send without confirmation", this, ID_ALWAYS_SEND,
                                             FXuint(CHECKBUTTON_NORMAL) | LAYOUT_CENTER_Y, 0, 0, 0, 0, 2, 2, 2, 2);
        alwaysSendCheck_->setBackColor(outer->getBackColor());
      }
    }
  }
  FXKOperationDialog::create();
  resize(getDefaultWidth(), 280);
}

bool FXKSERConfirmationDialog::isAlwaysSend() const {
  return alwaysSendCheck_ && alwaysSendCheck_->getCheck() == TRUE;
}
