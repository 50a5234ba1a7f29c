// One installer SQL statement with "?" markers, run through a view.
#pragma once

#include <string>
#include <vector>

#include "msi/model/column.h"
#include "msi/model/recordset.h"
#include "platform/msi/msi.h"

namespace Msi {

class MsiDatabaseInterface;

class MsiCommand {
 public:
  explicit MsiCommand(MsiDatabaseInterface* database) : database_(database) {}
  MsiCommand(const MsiCommand&) = delete;
  MsiCommand& operator=(const MsiCommand&) = delete;
  ~MsiCommand();

  void setText(const std::u16string& text) { text_ = text; }
  const std::u16string& text() const { return text_; }
  void bind(const std::u16string& value) { values_.push_back(value); }
  void setParameter(std::size_t index, const std::u16string& value);
  void clearParameters() { values_.clear(); }
  void reset();
  const std::vector<std::u16string>& parameters() const { return values_; }

  // open, execute, fetch, close; failures surface as 1145 with the step's
  // error as cause, and the view is closed again so the command stays usable.
  void run(MsiRecordset* recordset);

  void open();
  void execute(MsiRecordset* recordset);
  void fetch(MsiRecordset* recordset);
  void close();

  bool isOpen() const { return open_; }
  UINT lastResult() const { return lastResult_; }
  const MsiColumnList& columns() const { return columns_; }

 private:
  MsiDatabaseInterface* database_;
  std::u16string text_;
  MsiColumnList columns_;
  std::vector<std::u16string> values_;
  MSIHANDLE view_ = 0;
  bool open_ = false;
  UINT lastResult_ = 0;
  std::vector<WCHAR> buffer_;  // reused by fetch for every field
};

}  // namespace Msi
