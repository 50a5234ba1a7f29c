#include "platform/msi/sql_bridge.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <deque>

namespace msi_layer {
namespace {

enum class Tok { Ident, Quoted, String, Number, Marker, Punct, End };

struct Token {
  Tok type;
  std::string text;  // name without backquotes, literal without quotes, or the punctuation
  std::size_t begin, end;
};

std::string upper(const std::string& s) {
  std::string r = s;
  for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return r;
}

// Characters the engine's tokenizer takes into an identifier.
bool idChar(unsigned char c) { return std::isalnum(c) || c == '_' || c == '-' || c == 0x05 || c >= 0x80; }

bool engineKeyword(const std::string& word) {
  static const char* const kWords[] = {"ADD",       "ALTER",  "AND",    "BY",       "CHAR",        "CHARACTER",
                                       "CREATE",    "DELETE", "DISTINCT", "DROP",   "FREE",        "FROM",
                                       "HOLD",      "INSERT", "INT",    "INTEGER",  "INTO",        "IS",
                                       "KEY",       "LIKE",   "LOCALIZABLE", "LONG", "LONGCHAR",   "NOT",
                                       "NULL",      "OBJECT", "OR",     "ORDER",    "PRIMARY",     "SELECT",
                                       "SET",       "SHORT",  "TABLE",  "TEMPORARY", "UPDATE",     "VALUES",
                                       "WHERE"};
  for (const char* k : kWords)
    if (word.size() == std::strlen(k) && std::equal(word.begin(), word.end(), k, [](char a, char b) {
          return std::toupper(static_cast<unsigned char>(a)) == b;
        }))
      return true;
  return false;
}

// Splits the text as the engine's tokenizer does; `error` names the first
// thing it would reject or mishandle (an open quote makes it copy gigabytes, a
// final '-' makes it loop, a final '!' makes it read past the text).
std::vector<Token> lex(const std::string& s, std::string& error) {
  std::vector<Token> out;
  std::size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == ' ' || c == '\t' || c == '\n' || c == '\f') {
      ++i;
      continue;
    }
    std::size_t b = i;
    if (c == '`' || c == '\'') {
      std::size_t e = s.find(static_cast<char>(c), i + 1);
      if (e == std::string::npos) {
        error = c == '`' ? "a name without its closing backquote" : "a text without its closing quote";
        return out;
      }
      // The engine's parser crashes on an empty name.
      if (c == '`' && e == i + 1) {
        error = "an empty name";
        return out;
      }
      out.push_back({c == '`' ? Tok::Quoted : Tok::String, s.substr(i + 1, e - i - 1), b, e + 1});
      i = e + 1;
    } else if (c == '[') {
      std::size_t e = s.find(']', i + 1);
      if (e == std::string::npos) {
        error = "a name without its closing bracket";
        return out;
      }
      if (e == i + 1) {
        error = "an empty name";
        return out;
      }
      out.push_back({Tok::Quoted, s.substr(i + 1, e - i - 1), b, e + 1});
      i = e + 1;
    } else if (std::isdigit(c) || (c == '-' && i + 1 < n && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
      ++i;
      while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
      out.push_back({Tok::Number, s.substr(b, i - b), b, i});
    } else if (c == '-') {
      if (i + 1 == n) {
        error = "a text ending in '-'";
        return out;
      }
      out.push_back({Tok::Punct, "-", b, ++i});
    } else if (idChar(c)) {
      while (i < n && idChar(static_cast<unsigned char>(s[i]))) ++i;
      out.push_back({Tok::Ident, s.substr(b, i - b), b, i});
      // The engine swallows a backquote right after a name that is not one of
      // its keywords.
      if (i < n && s[i] == '`' && !engineKeyword(out.back().text)) ++i;
    } else if (c == '?') {
      out.push_back({Tok::Marker, "?", b, ++i});
    } else if ((c == '<' || c == '>' || c == '!') && i + 1 < n && (s[i + 1] == '=' || (c == '<' && s[i + 1] == '>'))) {
      out.push_back({Tok::Punct, c == '!' ? std::string("<>") : s.substr(i, 2), b, i + 2});
      i += 2;
    } else if (std::strchr("()*=<>,.", c) != nullptr) {
      out.push_back({Tok::Punct, std::string(1, static_cast<char>(c)), b, ++i});
    } else {
      error = "the character '" + std::string(1, static_cast<char>(c)) + "' has no place in a statement";
      return out;
    }
  }
  // Spare end tokens: every look-ahead of the analyser stays inside the list.
  for (int k = 0; k < 4; ++k) out.push_back({Tok::End, "", n, n});
  return out;
}

bool isKeyword(const std::string& word) {
  static const char* const kWords[] = {"SELECT", "FROM", "WHERE", "AND", "OR", "NOT", "NULL", "IS", "ORDER", "BY",
                                       "DISTINCT", "INSERT", "INTO", "VALUES", "UPDATE", "SET", "DELETE",
                                       "CREATE", "TABLE", "ALTER", "ADD", "DROP", "PRIMARY", "KEY", "TEMPORARY",
                                       "HOLD", "FREE", "LOCALIZABLE"};
  std::string u = upper(word);
  return std::any_of(std::begin(kWords), std::end(kWords), [&](const char* k) { return u == k; });
}

bool isName(const Token& t) { return t.type == Tok::Quoted || (t.type == Tok::Ident && !isKeyword(t.text)); }
bool isWord(const Token& t, const char* w) { return t.type == Tok::Ident && upper(t.text) == w; }
bool isComparison(const Token& t) {
  return t.type == Tok::Punct &&
         (t.text == "=" || t.text == "<>" || t.text == "<" || t.text == ">" || t.text == "<=" || t.text == ">=");
}
bool isOperand(const Token& t) { return t.type == Tok::Marker || t.type == Tok::String || t.type == Tok::Number; }

bool isInteger(const std::string& text) {
  if (text.empty() || text.size() > 11) return false;
  std::size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  for (; i < text.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  long long v = std::atoll(text.c_str());
  return v >= -2147483647LL - 1 && v <= 2147483647LL;
}

class Analyser {
 public:
  Analyser(const std::string& sql, const ColumnTypeLookup& typeOf) : sql_(sql), typeOf_(typeOf) {}

  Statement run() {
    std::string error;
    toks_ = lex(sql_, error);
    st_.sql = sql_;
    if (!error.empty()) {
      st_.error = error;
      return st_;
    }
    if (toks_.front().type == Tok::End) {
      st_.error = "an empty statement";
      return st_;
    }
    for (const Token& t : toks_)
      if (t.type == Tok::Marker) ++st_.userMarkers;
    replacement_.assign(toks_.size(), nullptr);
    slotOf_.assign(toks_.size(), MarkerSlot{});
    std::string first = upper(toks_[0].text);
    if (first == "SELECT") {
      st_.kind = StatementKind::Select;
      select();
    } else if (first == "INSERT") {
      st_.kind = StatementKind::Insert;
      insert();
    } else if (first == "UPDATE") {
      st_.kind = StatementKind::Update;
      update();
    } else if (first == "DELETE") {
      st_.kind = StatementKind::Delete;
      del();
    } else if (first == "CREATE") {
      st_.kind = StatementKind::Create;
    } else if (first == "ALTER") {
      st_.kind = StatementKind::Alter;
    } else if (first == "DROP") {
      st_.kind = StatementKind::Drop;
    }
    finish();
    return st_;
  }

 private:
  // Reads a column reference at `i` (name or name.name); returns the index past it.
  std::size_t colref(std::size_t i, std::string& table, std::string& column) {
    if (!isName(toks_[i])) return i;
    if (toks_[i + 1].type == Tok::Punct && toks_[i + 1].text == "." && isName(toks_[i + 2])) {
      table = toks_[i].text;
      column = toks_[i + 2].text;
      return i + 3;
    }
    table.clear();
    column = toks_[i].text;
    return i + 1;
  }

  std::string tableOf(const std::string& table, const std::string& column) {
    if (!table.empty()) return table;
    if (st_.tables.size() == 1) return st_.tables[0];
    for (const std::string& t : st_.tables)
      if (typeOf_ && typeOf_(t, column)) return t;
    return {};
  }

  char typeLetter(const std::string& table, const std::string& column) {
    if (!typeOf_ || table.empty()) return 0;
    return static_cast<char>(std::tolower(static_cast<unsigned char>(typeOf_(table, column))));
  }

  void tableList(std::size_t& i) {
    while (isName(toks_[i])) {
      st_.tables.push_back(toks_[i].text);
      ++i;
      if (toks_[i].type == Tok::Punct && toks_[i].text == ",")
        ++i;
      else
        break;
    }
  }

  void select() {
    std::size_t i = 1;
    if (isWord(toks_[i], "DISTINCT")) ++i;
    while (toks_[i].type != Tok::End && !isWord(toks_[i], "FROM")) {
      if (toks_[i].type == Tok::Punct && toks_[i].text == "*") {
        st_.selectItems.push_back({"", "*"});
        ++i;
      } else {
        SelectItem item;
        std::size_t j = colref(i, item.table, item.column);
        if (j == i) {
          ++i;  // a literal or something the engine will judge
          continue;
        }
        st_.selectItems.push_back(item);
        i = j;
      }
      if (toks_[i].type == Tok::Punct && toks_[i].text == ",") ++i;
    }
    if (!isWord(toks_[i], "FROM")) return;
    ++i;
    tableList(i);
    if (isWord(toks_[i], "WHERE")) where(i + 1);
  }

  void insert() {
    std::size_t i = 1;
    if (!isWord(toks_[i], "INTO")) return;
    ++i;
    if (!isName(toks_[i])) return;
    st_.tables.push_back(toks_[i++].text);
    if (!(toks_[i].type == Tok::Punct && toks_[i].text == "(")) return;
    ++i;
    while (isName(toks_[i])) {
      st_.insertColumns.push_back(toks_[i++].text);
      if (toks_[i].type == Tok::Punct && toks_[i].text == ",") ++i;
    }
    while (toks_[i].type != Tok::End && !isWord(toks_[i], "VALUES")) ++i;
    if (toks_[i].type == Tok::End) return;
    ++i;
    if (!(toks_[i].type == Tok::Punct && toks_[i].text == "(")) {
      st_.error = "VALUES without a list of values";
      return;
    }
    ++i;
    std::size_t position = 0;
    for (; toks_[i].type != Tok::End && !(toks_[i].type == Tok::Punct && toks_[i].text == ")"); ++i) {
      if (toks_[i].type == Tok::Punct && toks_[i].text == ",") {
        ++position;
        continue;
      }
      if (toks_[i].type == Tok::Marker && position < st_.insertColumns.size()) {
        slotOf_[i].table = st_.tables[0];
        slotOf_[i].column = st_.insertColumns[position];
      } else if ((toks_[i].type == Tok::String || toks_[i].type == Tok::Number) &&
                 position < st_.insertColumns.size()) {
        st_.insertLiterals.emplace_back(st_.insertColumns[position], toks_[i].text);
      }
    }
  }

  void update() {
    std::size_t i = 1;
    if (!isName(toks_[i])) return;
    st_.tables.push_back(toks_[i++].text);
    if (!isWord(toks_[i], "SET")) return;
    ++i;
    while (toks_[i].type != Tok::End && !isWord(toks_[i], "WHERE")) {
      std::string table, column;
      std::size_t j = colref(i, table, column);
      if (j == i || !(toks_[j].type == Tok::Punct && toks_[j].text == "=") || !isOperand(toks_[j + 1])) {
        ++i;
        continue;
      }
      st_.setColumns.push_back(column);
      std::size_t v = j + 1;
      slotOf_[v].table = tableOf(table, column);
      slotOf_[v].column = column;
      // A literal beside markers makes the engine crash or change nothing, so
      // every SET value travels as a marker.
      if (toks_[v].type != Tok::Marker) {
        literalSlots_.push_back(v);
        slotOf_[v].literal = toks_[v].text;
        slotOf_[v].literalIsText = toks_[v].type == Tok::String;
      }
      i = v + 1;
      if (toks_[i].type == Tok::Punct && toks_[i].text == ",") ++i;
    }
    if (isWord(toks_[i], "WHERE")) where(i + 1);
  }

  void del() {
    std::size_t i = 1;
    if (!isWord(toks_[i], "FROM")) return;
    ++i;
    tableList(i);
    if (isWord(toks_[i], "WHERE")) where(i + 1);
  }

  void where(std::size_t i) {
    for (; toks_[i].type != Tok::End && !isWord(toks_[i], "ORDER"); ++i) {
      std::string table, column;
      std::size_t j = colref(i, table, column);
      std::size_t operand = 0;
      if (j != i && isComparison(toks_[j]) && isOperand(toks_[j + 1])) {
        operand = j + 1;
      } else if (isOperand(toks_[i]) && isComparison(toks_[i + 1])) {
        std::size_t k = colref(i + 2, table, column);
        if (k == i + 2) continue;
        operand = i;
      } else {
        if (j != i) i = j - 1;
        continue;
      }
      std::string t = tableOf(table, column);
      slotOf_[operand].table = t;
      slotOf_[operand].column = column;
      if (toks_[operand].type == Tok::String && (typeLetter(t, column) == 'i' || typeLetter(t, column) == 'j')) {
        // The engine compares a quoted number with an integer column as never
        // equal, silently; the number itself compares as meant.
        if (!isInteger(toks_[operand].text)) {
          st_.error = "text compared with the integer column " + column;
          return;
        }
        numberText_.push_back(toks_[operand].text);
        replacement_[operand] = &numberText_.back();
      }
      if (operand > i) i = operand;
    }
  }

  void finish() {
    if (!st_.error.empty()) return;
    static const std::string kMarker = "?";
    for (std::size_t v : literalSlots_) replacement_[v] = &kMarker;
    std::string out;
    std::size_t pos = 0;
    int userField = 0;
    for (std::size_t i = 0; i < toks_.size(); ++i) {
      const Token& t = toks_[i];
      if (t.type == Tok::End) break;
      bool literalMarker = std::find(literalSlots_.begin(), literalSlots_.end(), i) != literalSlots_.end();
      if (t.type == Tok::Marker || literalMarker) {
        MarkerSlot slot = slotOf_[i];
        if (t.type == Tok::Marker) slot.userField = ++userField;
        st_.markers.push_back(slot);
      }
      if (replacement_[i]) {
        out.append(sql_, pos, t.begin - pos);
        out += *replacement_[i];
        pos = t.end;
      }
    }
    out.append(sql_, pos, std::string::npos);
    st_.sql = out;
  }

  const std::string& sql_;
  const ColumnTypeLookup& typeOf_;
  std::vector<Token> toks_;
  std::vector<const std::string*> replacement_;
  std::vector<MarkerSlot> slotOf_;
  std::vector<std::size_t> literalSlots_;
  std::deque<std::string> numberText_;
  Statement st_;
};

}  // namespace

Statement analyse(const std::string& sql, const ColumnTypeLookup& typeOf) {
  Analyser a(sql, typeOf);
  return a.run();
}

}  // namespace msi_layer
