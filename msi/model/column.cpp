#include "msi/model/column.h"

#include <utility>

#include "msi/model/error.h"
#include "msi/model/text.h"

namespace Msi {
namespace {

constexpr std::uint32_t kModule = 0x82819ad0u;

bool contains(const std::u16string& text, const char16_t* word) { return text.find(word) != std::u16string::npos; }

// Every failure of a parser becomes 1132 with the failure as its cause.
template <class Parse>
MsiColumn parseWrapped(Parse parse) {
  try {
    return parse();
  } catch (const Error& inner) {
    DbError outer(MSI_LOCATION, kModule, 1132);
    outer.setCause(inner);
    throw outer;
  } catch (...) {
    throw DbError(MSI_LOCATION, kModule, 1132);
  }
}

}  // namespace

MsiColumn& MsiColumn::operator=(const MsiColumn& other) {
  name_ = other.name_;
  type_ = other.type_;
  size_ = other.size_;
  nullable_ = other.nullable_;
  localizable_ = other.localizable_;
  return *this;
}

MsiColumn MsiColumn::fromInstallerType(const std::u16string& text) {
  return parseWrapped([&] {
    MsiColumn c;
    char16_t first = text.empty() ? u'\0' : text[0];
    bool upper = first >= u'A' && first <= u'Z';
    std::u16string rest = text.empty() ? std::u16string() : text.substr(1);
    if (first == u's' || first == u'S') {
      c.type_ = String;
      c.size_ = toInt(rest);
    } else if (text == u"i2" || text == u"I2") {
      c.type_ = Short;
    } else if (text == u"i4" || text == u"I4") {
      c.type_ = Long;
    } else if (text == u"v0" || text == u"V0") {
      c.type_ = Object;
    } else if (first == u'g' || first == u'G') {
      c.type_ = TemporaryString;
      c.size_ = toInt(rest);
    } else if (first == u'j' || first == u'J') {
      c.type_ = TemporaryInteger;
    } else if (first == u'l' || first == u'L') {
      c.type_ = String;
      c.localizable_ = true;
      c.size_ = toInt(rest);
    } else {
      throw DbError(MSI_LOCATION, kModule, 1134);
    }
    c.nullable_ = upper;
    return c;
  });
}

MsiColumn MsiColumn::fromSqlDefinition(const std::u16string& text) {
  return parseWrapped([&] {
    MsiColumn c;
    c.nullable_ = !contains(text, u"NOT NULL");
    c.key_ = contains(text, u"PRIMARY KEY");
    if (contains(text, u"LONGCHAR")) {
      c.type_ = String;
      c.size_ = 0;
      c.localizable_ = contains(text, u"LOCALIZABLE");
      return c;
    }
    std::size_t p = text.find(u"CHARACTER");
    std::size_t keyword = 9;
    if (p == std::u16string::npos) p = text.find(u"CHAR"), keyword = 4;
    if (p != std::u16string::npos) {
      c.type_ = String;
      std::size_t close = text.find(u')');
      std::size_t start = p + keyword + 1;
      if (close == std::u16string::npos || close < start) throw DbError(MSI_LOCATION, kModule, 1133);
      std::u16string size = text.substr(start, close - start);
      if (!isNumber(size)) throw DbError(MSI_LOCATION, kModule, 1133);
      c.size_ = toInt(size);
      c.localizable_ = contains(text, u"LOCALIZABLE");
      return c;
    }
    if (contains(text, u"INT") || contains(text, u"SHORT"))
      c.type_ = Short;
    else if (contains(text, u"LONG"))
      c.type_ = Long;
    else if (contains(text, u"OBJECT"))
      c.type_ = Object;
    else
      throw DbError(MSI_LOCATION, kModule, 1133);
    return c;
  });
}

std::u16string MsiColumn::sqlDefinition() const {
  std::u16string s;
  switch (type_) {
    case String:
    case TemporaryString:
      s = size_ == 0 ? u"LONGCHAR" : u"CHAR(" + toString(size_) + u")";
      if (type_ == TemporaryString) s += u" TEMPORARY";
      break;
    case Short: s = u"SHORT"; break;
    case Long: s = u"LONG"; break;
    case Object: s = u"OBJECT"; break;
    default: throw DbError(MSI_LOCATION, kModule, 1132);
  }
  if (!nullable_) s += u" NOT NULL";
  if (localizable_) s += u" LOCALIZABLE";
  return s;
}

MsiColumnList::MsiColumnList(MsiColumnList&& other) noexcept
    : columns_(std::move(other.columns_)), owning_(other.owning_) {
  other.columns_.clear();
}

MsiColumnList& MsiColumnList::operator=(MsiColumnList&& other) noexcept {
  if (this != &other) {
    clear();
    columns_ = std::move(other.columns_);
    owning_ = other.owning_;
    other.columns_.clear();
  }
  return *this;
}

MsiColumnList::~MsiColumnList() { clear(); }

MsiColumn& MsiColumnList::at(std::size_t index) const {
  if (index >= columns_.size()) throw DbError(MSI_LOCATION, kModule, 1105);
  return *columns_[index];
}

MsiColumnList::const_iterator MsiColumnList::find(const std::u16string& name) const {
  for (auto it = columns_.begin(); it != columns_.end(); ++it)
    if ((*it)->hasName(name)) return it;
  return columns_.end();
}

void MsiColumnList::add(MsiColumn* column) {
  if (find(column->name()) != columns_.end()) throw DbError(MSI_LOCATION, kModule, 1135);
  columns_.push_back(column);
}

MsiColumnList MsiColumnList::keyColumns() const {
  MsiColumnList keys;
  keys.owning_ = false;
  for (MsiColumn* c : columns_)
    if (c->isKey()) keys.columns_.push_back(c);
  return keys;
}

void MsiColumnList::clear() {
  if (owning_)
    for (MsiColumn* c : columns_) delete c;
  columns_.clear();
}

void MsiColumnList::assign(const MsiColumnList& other) {
  clear();
  owning_ = true;
  columns_.reserve(other.columns_.size());
  for (const MsiColumn* c : other.columns_) columns_.push_back(new MsiColumn(*c));
}

}  // namespace Msi
