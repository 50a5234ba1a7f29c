// Texts of the installer's Formatted type: [name], [#file], [!file], [$component],
// [%variable], [\c] and {groups} expanded against one package. The stored text
// is never changed; format gives the expanded copy.
#pragma once

#include <memory>
#include <string>

namespace Msi {

class MsiPackage;
class Token;

class ITokenFinder {
 public:
  virtual ~ITokenFinder() = default;
  // The first token among the characters start .. start + count - 1 (count -1:
  // to the end), or null. A token always closes inside that range.
  virtual std::unique_ptr<Token> findToken(std::u16string& text, std::size_t start, std::ptrdiff_t count) = 0;
};

class MsiFormattedString : public ITokenFinder {
 public:
  MsiFormattedString(MsiPackage* package, const std::u16string& text);
  ~MsiFormattedString() override;

  // The expanded text. Msi::Error 101 (module 0x7024dedb) for a name that is
  // neither a property nor a directory, 102 for brackets nested too deep; the
  // object then keeps the partly expanded text.
  const std::u16string& format();

  std::unique_ptr<Token> findToken(std::u16string& text, std::size_t start, std::ptrdiff_t count) override;

 protected:
  // [!key]: the full path here, the short path in the Ext variant.
  virtual bool shortFilePaths() const { return false; }
  virtual std::ptrdiff_t minimumCount() const { return 2; }

 private:
  MsiPackage* package_;
  std::u16string source_;
  std::u16string result_;
};

class MsiFormattedStringExt : public MsiFormattedString {
 public:
  using MsiFormattedString::MsiFormattedString;

 protected:
  bool shortFilePaths() const override { return true; }
  std::ptrdiff_t minimumCount() const override { return 3; }
};

// One bracketed reference in the work text. Its distances count from the end of
// the text, so they stay right while tokens inside it change length.
class Token {
 public:
  Token(MsiPackage* package, std::u16string& text, std::size_t start, std::size_t close, std::size_t innerStart,
        ITokenFinder* finder);
  virtual ~Token() = default;

  virtual std::u16string innerText() const;
  virtual void resolve() = 0;
  virtual bool canBeNested() const { return false; }
  virtual bool expandsNested() const { return false; }
  virtual void nestedFound() {}

  // Resolves, replaces the token in the text and returns its value.
  std::u16string evaluate(int depth = 0);
  std::size_t endDistance() const { return endDistance_; }

 protected:
  MsiPackage* package_;
  std::u16string& text_;
  std::size_t start_;
  std::size_t endDistance_;
  std::size_t innerStart_;
  std::size_t closeDistance_;
  std::u16string value_;
  bool done_ = false;
  ITokenFinder* finder_;
};

// The target path of a file by key, as [#key] gives it; empty when unknown.
std::u16string fileTargetPath(MsiPackage* package, const std::u16string& key, bool shortPath);
// The target path of a component's directory, as [$key] gives it.
std::u16string componentTargetPath(MsiPackage* package, const std::u16string& key);

}  // namespace Msi
