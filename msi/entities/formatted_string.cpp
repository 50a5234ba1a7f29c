#include "msi/entities/formatted_string.h"

#include <vector>

#include "msi/entities/directory.h"
#include "msi/entities/property.h"
#include "msi/entities/tree.h"
#include "msi/model/error.h"
#include "msi/model/package.h"
#include "platform/win32/windows.h"

namespace Msi {

namespace {

constexpr std::uint32_t kModule = 0x7024dedb;
// Deeper nesting than any real package uses; beyond it the recursion would
// only serve to exhaust the stack.
constexpr int kMaxDepth = 200;

class PropertyToken : public Token {
 public:
  using Token::Token;
  bool canBeNested() const override { return true; }
  bool expandsNested() const override { return true; }
  void resolve() override {
    std::u16string name = innerText();
    value_ = package_->propertyValue(name);
    if (!value_.empty()) return;
    if (IMsiProperty* p = package_->property(name, false)) {
      value_ = p->value();
      return;
    }
    if (MsiDirectory* d = package_->find<MsiDirectory>(name)) {
      value_ = d->targetPath();
      return;
    }
    throw Error(MSI_LOCATION, kModule, 101, u"the name " + name + u" is neither a property nor a directory");
  }
};

class FullFilePathToken : public Token {
 public:
  using Token::Token;
  void resolve() override { value_ = fileTargetPath(package_, innerText(), false); }
};

class FullShortFilePathToken : public Token {
 public:
  using Token::Token;
  void resolve() override { value_ = fileTargetPath(package_, innerText(), true); }
};

class ComponentPathToken : public Token {
 public:
  using Token::Token;
  void resolve() override { value_ = componentTargetPath(package_, innerText()); }
};

class EnvironmentVariableToken : public Token {
 public:
  using Token::Token;
  // An unset variable gives the empty text.
  void resolve() override {
    std::u16string name = innerText();
    std::vector<WCHAR> buffer(260, 0);
    for (;;) {
      DWORD length = GetEnvironmentVariableW(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
      if (length == 0) {
        value_.clear();
        return;
      }
      if (length < buffer.size()) {
        value_.assign(buffer.data(), length);
        return;
      }
      buffer.assign(length + 1, 0);
    }
  }
};

class BackSlashToken : public Token {
 public:
  using Token::Token;
  void resolve() override {
    std::u16string inner = innerText();
    value_ = inner.empty() ? std::u16string() : inner.substr(0, 1);
  }
};

class CompositToken : public Token {
 public:
  using Token::Token;
  bool expandsNested() const override { return true; }
  void nestedFound() override { hasNested_ = true; }
  std::u16string innerText() const override {
    if (hasNested_) return Token::innerText();
    std::size_t end = text_.size() - endDistance_;
    return text_.substr(start_, end - start_);
  }
  void resolve() override { value_ = innerText(); }

 private:
  bool hasNested_ = false;
};

// The index of the ] that closes the [ at `open`, or npos; no further than `limit`.
std::size_t matchingBracket(const std::u16string& text, std::size_t open, std::size_t limit) {
  int depth = 1;
  for (std::size_t i = open + 1; i < limit; ++i) {
    char16_t c = text[i];
    if (c == u'\\' && i + 1 < limit && (text[i + 1] == u'[' || text[i + 1] == u']') && i != 0 &&
        text[i - 1] != u'\\') {
      ++i;
      continue;
    }
    if (c == u'[') {
      ++depth;
    } else if (c == u']') {
      if (depth == 1) return i;
      --depth;
    }
  }
  return std::u16string::npos;
}

// The } that closes the { at `open` (groups nest), or npos.
std::size_t matchingBrace(const std::u16string& text, std::size_t open, std::size_t limit) {
  int depth = 1;
  for (std::size_t i = open + 1; i < limit; ++i) {
    if (text[i] == u'{') {
      ++depth;
    } else if (text[i] == u'}' && --depth == 0) {
      return i;
    }
  }
  return std::u16string::npos;
}

}  // namespace

std::u16string fileTargetPath(MsiPackage* package, const std::u16string& key, bool shortPath) {
  MsiFile* file = package->find<MsiFile>(key);
  if (!file) return {};
  return shortPath ? file->shortTargetPath() : file->targetPath();
}

std::u16string componentTargetPath(MsiPackage* package, const std::u16string& key) {
  MsiComponent* component = package->find<MsiComponent>(key);
  if (!component) return {};
  MsiDirectory* d = component->directory();
  return d ? d->targetPath() : std::u16string();
}

MsiFormattedString::MsiFormattedString(MsiPackage* package, const std::u16string& text)
    : package_(package), source_(text) {}

MsiFormattedString::~MsiFormattedString() = default;

const std::u16string& MsiFormattedString::format() {
  if (!result_.empty() || source_.empty()) return result_;
  result_ = source_;
  std::unique_ptr<Token> token = findToken(result_, 0, -1);
  while (token) {
    token->evaluate();
    std::size_t next = result_.size() - token->endDistance();
    token = findToken(result_, next, -1);
  }
  return result_;
}

std::unique_ptr<Token> MsiFormattedString::findToken(std::u16string& text, std::size_t start, std::ptrdiff_t count) {
  if (start > text.size()) return nullptr;
  if (count != -1 && count < minimumCount()) return nullptr;
  std::size_t limit = count == -1 ? text.size() : std::min(text.size(), start + static_cast<std::size_t>(count));
  for (std::size_t i = start; i < limit; ++i) {
    char16_t c = text[i];
    if (c == u'{') {
      std::size_t close = matchingBrace(text, i, limit);
      if (close != std::u16string::npos) return std::make_unique<CompositToken>(package_, text, i, close, i + 1, this);
      continue;
    }
    if (c != u'[') continue;
    if (i + 2 < limit && text[i + 1] == u'~' && text[i + 2] == u']') {
      i += 2;
      continue;
    }
    std::size_t close = matchingBracket(text, i, limit);
    if (close == std::u16string::npos) continue;
    char16_t kind = text[i + 1];
    switch (kind) {
      case u'\\':
        return std::make_unique<BackSlashToken>(package_, text, i, close, i + 2, this);
      case u'%':
        return std::make_unique<EnvironmentVariableToken>(package_, text, i, close, i + 2, this);
      case u'#':
        return std::make_unique<FullFilePathToken>(package_, text, i, close, i + 2, this);
      case u'!':
        if (shortFilePaths()) return std::make_unique<FullShortFilePathToken>(package_, text, i, close, i + 2, this);
        return std::make_unique<FullFilePathToken>(package_, text, i, close, i + 2, this);
      case u'$':
        return std::make_unique<ComponentPathToken>(package_, text, i, close, i + 2, this);
      default:
        return std::make_unique<PropertyToken>(package_, text, i, close, i + 1, this);
    }
  }
  return nullptr;
}

Token::Token(MsiPackage* package, std::u16string& text, std::size_t start, std::size_t close, std::size_t innerStart,
             ITokenFinder* finder)
    : package_(package),
      text_(text),
      start_(start),
      endDistance_(text.size() - close - 1),
      innerStart_(innerStart),
      closeDistance_(text.size() - close),
      finder_(finder) {}

std::u16string Token::innerText() const {
  std::size_t end = text_.size() - closeDistance_;
  return end > innerStart_ ? text_.substr(innerStart_, end - innerStart_) : std::u16string();
}

std::u16string Token::evaluate(int depth) {
  if (done_) return value_;
  if (depth > kMaxDepth) throw Error(MSI_LOCATION, kModule, 102, u"brackets nested too deep");
  bool emptyNested = false;
  auto innerEnd = [this] { return text_.size() - closeDistance_; };
  std::size_t from = innerStart_;
  std::unique_ptr<Token> nested =
      innerEnd() > from ? finder_->findToken(text_, from, static_cast<std::ptrdiff_t>(innerEnd() - from)) : nullptr;
  while (nested) {
    if (!nested->canBeNested()) break;
    if (expandsNested() && nested->evaluate(depth + 1).empty()) emptyNested = true;
    nestedFound();
    from = text_.size() - nested->endDistance();
    nested = innerEnd() > from ? finder_->findToken(text_, from, static_cast<std::ptrdiff_t>(innerEnd() - from))
                               : nullptr;
  }
  if (!emptyNested) {
    resolve();
    text_.replace(start_, text_.size() - endDistance_ - start_, value_);
    done_ = true;
  }
  return value_;
}

}  // namespace Msi
