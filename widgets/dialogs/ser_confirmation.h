// The Feedback Confirmation: what the knowledge-base page will be sent,
// listed as parameter and value rows, with "Always send without
// confirmation" when the report names its registry location. Includes FOX.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "widgets/dialogs/operation_dialog.h"

class FXKSimpleList;

class FXKSERConfirmationDialog : public FXKOperationDialog {
  FXDECLARE(FXKSERConfirmationDialog)

 public:
  enum { ID_LIST = 71, ID_ALWAYS_SEND = 72 };
  // The map stays the caller's and must outlive the dialog.
  FXKSERConfirmationDialog(FX::FXWindow* owner, FX::FXIcon* icon,
                           const std::map<std::uint32_t, std::string>* reportFields);

  void create() override;
  FX::FXint getDefaultWidth() override { return 420; }
  FX::FXint getMinimalWidth() override { return 420; }
  virtual FX::FXint getMinimalHeight() { return 280; }

  bool isAlwaysSend() const;
  FXKSimpleList* fieldList() const { return fieldList_; }
  FX::FXCheckButton* alwaysSendCheck() const { return alwaysSendCheck_; }
  // The rows as (caption, value), in list order; built before create too.
  static std::vector<std::pair<FXWString, FXWString>> rows(const std::map<std::uint32_t, std::string>& fields);

 protected:
  FXKSERConfirmationDialog() = default;

 private:
  FXKSimpleList* fieldList_ = nullptr;
  const std::map<std::uint32_t, std::string>* reportFields_ = nullptr;
  FX::FXCheckButton* alwaysSendCheck_ = nullptr;
  bool built_ = false;
};
