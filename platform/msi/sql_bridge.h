// What the msi layer needs to know of a statement before the engine sees it:
// its kind, its tables, and for every "?" marker the column it is compared with
// or assigned to. Literals that the engine mishandles (a literal in an UPDATE's
// SET list, a quoted number compared with an integer column) are turned into
// markers or plain numbers here.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace msi_layer {

enum class StatementKind { Select, Insert, Update, Delete, Create, Alter, Drop, Other };

struct MarkerSlot {
  int userField = 0;     // 1-based field of the caller's record, 0 for a literal
  std::string literal;   // the literal's value (unquoted) when userField is 0
  bool literalIsText = false;
  std::string table;     // the column the marker meets, when known
  std::string column;
};

struct SelectItem {
  std::string table;  // empty when unqualified
  std::string column; // "*" for all columns
};

struct Statement {
  StatementKind kind = StatementKind::Other;
  std::string sql;                 // the text handed to the engine
  std::vector<std::string> tables; // FROM / INTO / UPDATE / DELETE FROM tables, in order
  std::vector<MarkerSlot> markers; // one per "?" of `sql`, in order
  std::vector<SelectItem> selectItems;
  std::vector<std::string> insertColumns;
  std::vector<std::pair<std::string, std::string>> insertLiterals;  // INSERT's literal values by column
  std::vector<std::string> setColumns;  // UPDATE's SET list, in order
  int userMarkers = 0;             // "?" markers of the caller's text
  std::string error;               // non-empty: refuse the statement with this reason
};

// Type letter of a column ('s', 'l', 'i', 'v', ... as the engine reports types),
// or 0 when the table or column is unknown.
using ColumnTypeLookup = std::function<char(const std::string& table, const std::string& column)>;

Statement analyse(const std::string& sql, const ColumnTypeLookup& typeOf);

}  // namespace msi_layer
