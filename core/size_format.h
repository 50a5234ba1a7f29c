// Byte sizes in the largest fitting binary unit ("1.465 KB"), read back too,
// and durations as hours:minutes:seconds.
#pragma once

#include <cstdint>

#include "core/string.h"

namespace Processor {

class NumberFormat;

// Units: 0 bytes, 1 KB, 2 MB, 3 GB, 4 TB; 5 chooses automatically.
const char16_t* sizeUnitName(std::int32_t unit);

class SizeFormatImpl;

class SizeFormat {
 public:
  static SizeFormatImpl* create();

  virtual ~SizeFormat() = default;
  // Decimals -1 choose automatically, else 0 to 3. Replaces `out`; its length.
  virtual std::int32_t format(String& out, double size, std::int32_t unit, std::int32_t decimals) = 0;
  virtual double parse(const String& text, std::int32_t* stop, std::int32_t defaultUnit) = 0;
  virtual std::int32_t chooseUnit(double size, std::int32_t minimumUnit) = 0;
  virtual std::int32_t chooseDecimals(double size, std::int32_t unit, std::uint32_t maximumDecimals) = 0;
};

class SizeFormatImpl final : public SizeFormat {
 public:
  SizeFormatImpl();
  ~SizeFormatImpl() override;
  SizeFormatImpl(const SizeFormatImpl&) = delete;
  SizeFormatImpl& operator=(const SizeFormatImpl&) = delete;

  std::int32_t format(String& out, double size, std::int32_t unit, std::int32_t decimals) override;
  double parse(const String& text, std::int32_t* stop, std::int32_t defaultUnit) override;
  std::int32_t chooseUnit(double size, std::int32_t minimumUnit) override;
  std::int32_t chooseDecimals(double size, std::int32_t unit, std::uint32_t maximumDecimals) override;
  std::int32_t formatBuffer(char16_t* buffer, std::int32_t capacity, double size, std::int32_t unit,
                            std::int32_t decimals);

 private:
  NumberFormat* reader_;
  NumberFormat* formatters_[4];
  String upperNames_[5];
};

class TimeSpanFormat {
 public:
  static TimeSpanFormat* create();
  virtual ~TimeSpanFormat() = default;
  // Hours:minutes:seconds, with ".mmm" when `withMilliseconds`.
  virtual std::int32_t format(String& out, std::uint32_t milliseconds, bool withMilliseconds) = 0;
};

}  // namespace Processor
