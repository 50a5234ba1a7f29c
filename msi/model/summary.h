// The part of a package's summary information stream that the model uses.
#pragma once

#include <cstdint>
#include <string>

namespace Msi {

class MsiDatabaseInterface;

class IMsiSummary {
 public:
  virtual const std::u16string& author() const = 0;
  virtual const std::u16string& subject() const = 0;
  virtual const std::u16string& revisionNumber() const = 0;
  virtual void setAuthor(const std::u16string& text) = 0;
  virtual void setSubject(const std::u16string& text) = 0;
  virtual void setRevisionNumber(const std::u16string& text) = 0;
  virtual ~IMsiSummary() = default;
};

class IMsiSummaryEx {
 public:
  virtual const std::u16string& templateText() const = 0;
  virtual void setTemplateText(const std::u16string& text) = 0;
  virtual std::int32_t wordCount() const = 0;
  virtual void setWordCount(std::int32_t count) = 0;
  virtual std::int32_t pageCount() const = 0;
  virtual void setPageCount(std::int32_t count) = 0;
  virtual ~IMsiSummaryEx() = default;
};

class MsiSummary : public IMsiSummaryEx, public IMsiSummary {
 public:
  const std::u16string& author() const override { return author_; }
  const std::u16string& subject() const override { return subject_; }
  const std::u16string& revisionNumber() const override { return revisionNumber_; }
  void setAuthor(const std::u16string& text) override { author_ = text; }
  void setSubject(const std::u16string& text) override { subject_ = text; }
  void setRevisionNumber(const std::u16string& text) override { revisionNumber_ = text; }
  const std::u16string& templateText() const override { return template_; }
  void setTemplateText(const std::u16string& text) override { template_ = text; }
  std::int32_t wordCount() const override { return wordCount_; }
  void setWordCount(std::int32_t count) override { wordCount_ = count; }
  std::int32_t pageCount() const override { return pageCount_; }
  void setPageCount(std::int32_t count) override { pageCount_ = count; }

  // Reads nothing, silently, when the stream cannot be opened.
  void read(MsiDatabaseInterface& database);
  // Persists inside the database's transaction; the commit makes it permanent.
  void write(MsiDatabaseInterface& database);

 private:
  std::u16string author_;
  std::u16string subject_;
  std::u16string revisionNumber_;
  std::u16string template_;
  // The values a new package's stream gets unless set otherwise.
  std::int32_t pageCount_ = 200;
  std::int32_t wordCount_ = 4;
};

}  // namespace Msi
