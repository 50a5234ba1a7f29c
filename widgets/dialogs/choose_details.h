// The "Choose Columns" dialog of the list views: the columns of a header with
// check boxes, moved up and down by the user; OK applies the order and the
// shown state to the header.
//
// Stands on FXDialogBox with its own header line and buttons until the
// framework's operation dialog is there to carry them.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <fx.h>

#include <vector>

class FXKHeader;
class FXKSimpleList;
class FXKSimpleRow;

class FXKChooseDetailsDialog : public FX::FXDialogBox {
  FXDECLARE(FXKChooseDetailsDialog)

 public:
  enum { ID_LIST = 71, ID_MOVE_UP = 72, ID_MOVE_DOWN = 73 };

  FXKChooseDetailsDialog(FX::FXWindow* owner, FXKHeader* header);
  ~FXKChooseDetailsDialog() override;

  virtual FX::FXint getMinimalWidth() { return 300; }
  virtual FX::FXint getMinimalHeight() { return 350; }
  FX::FXint getDefaultWidth() override;
  FX::FXint getDefaultHeight() override;
  // Run by OK: applies the list to the header; always accepts.
  virtual bool canAccept();

  FXKSimpleList* columnList() const { return list_; }
  FX::FXButton* moveUpButton() const { return up_; }
  FX::FXButton* moveDownButton() const { return down_; }
  FX::FXButton* okButton() const { return ok_; }
  FX::FXButton* cancelButton() const { return cancel_; }
  // The column key each row stands for, top to bottom.
  std::vector<FX::FXint> rowKeys() const;
  FXKSimpleRow* row(int index) const { return lines_[static_cast<std::size_t>(index)].row; }
  int rowCount() const { return static_cast<int>(lines_.size()); }
  bool isRowChecked(int index) const;
  bool isRowLocked(int index) const;

  long onCmdMoveUp(FX::FXObject*, FX::FXSelector, void*);
  long onCmdMoveDown(FX::FXObject*, FX::FXSelector, void*);
  long onCmdOK(FX::FXObject*, FX::FXSelector, void*);

 protected:
  FXKChooseDetailsDialog() = default;

 private:
  struct Line {
    FXKSimpleRow* row;
    FX::FXint key;  // the header column the row stands for
  };
  int currentIndex() const;
  void exchange(int a, int b);

  FXKHeader* header_ = nullptr;
  FXKSimpleList* list_ = nullptr;
  FX::FXButton* up_ = nullptr;
  FX::FXButton* down_ = nullptr;
  FX::FXButton* ok_ = nullptr;
  FX::FXButton* cancel_ = nullptr;
  std::vector<Line> lines_;
};
