// The contract every row object follows: how it maps to and from a table row,
// how it is marked for writing and written, and its per-class live counts.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <typeinfo>

#include "msi/model/database.h"
#include "msi/model/recordset.h"
#include "msi/model/table.h"
#include "msi/model/table_access.h"

namespace Msi {

class IMsiObject {
 public:
  virtual ~IMsiObject() = default;
};

class IMsiStorable {
 public:
  virtual void save(int flags) = 0;
  virtual bool matches(const MsiRow& row) const = 0;

 protected:
  ~IMsiStorable() = default;
};

class StatisticsBase {
 public:
  virtual std::size_t size() const = 0;
  virtual std::int32_t count() const = 0;
  std::size_t bytes() const { return size() * static_cast<std::size_t>(count()); }
  virtual ~StatisticsBase() = default;
  virtual std::int32_t increment() = 0;
  virtual std::int32_t decrement() = 0;
};

// Type name to the statistics of that class; filled only, never read by the model.
std::map<std::string, StatisticsBase*>& statisticsRegistry();

template <class T>
class Statistics : public StatisticsBase {
 public:
  Statistics() {
    registerClass();
    ++liveCount_;
  }
  Statistics(const Statistics&) : Statistics() {}
  Statistics& operator=(const Statistics&) { return *this; }
  ~Statistics() override { --liveCount_; }

  std::size_t size() const override { return sizeof(T); }
  std::int32_t count() const override { return liveCount_; }
  std::int32_t increment() override { return ++liveCount_; }
  std::int32_t decrement() override { return --liveCount_; }

  static std::int32_t liveCount() { return liveCount_; }

 private:
  struct Registered {};
  explicit Statistics(Registered) {}
  // The registry keeps a per-class object that lives as long as the registry,
  // not the first entity (which may be gone long before).
  static void registerClass() {
    static bool done = [] {
      static Statistics<T> entry{Registered{}};
      statisticsRegistry()[typeid(const T*).name()] = &entry;
      return true;
    }();
    (void)done;
  }

  static inline std::int32_t liveCount_ = 0;
};

template <class TD, class T>
class MsiStorable : public IMsiStorable, public Statistics<T> {
 public:
  using Description = TD;

  explicit MsiStorable(MsiDatabaseInterface* database) : database_(database) {}
  MsiStorable(const MsiStorable& other) : IMsiStorable(), Statistics<T>(other), database_(other.database_) {}
  // Unmarks, so that a later object at the same address does not count as marked.
  virtual ~MsiStorable() {
    if (database_) database_->unmarkModified(this);
  }

  // Writes the row into the table cache when the object is marked (at once when
  // flags bit 0 is set), then runs afterSave in every case.
  void save(int flags) override {
    if (isModified()) {
      MsiTable& table = database_->table(tableName<TD>());
      MsiRow* row = table.newRow();
      try {
        writeTo(*row);
        table.store(row, (flags & 1) != 0);
      } catch (...) {
        // A half-filled row must not reach the database at the next commit.
        table.discardPending(row);
        throw;
      }
    }
    afterSave(flags);
  }

  virtual void markModified() {
    if (database_) database_->markModified(this);
  }
  virtual void unmarkModified() {
    if (database_) database_->unmarkModified(this);
  }
  virtual bool isModified() const { return database_ && database_->isModified(this); }
  virtual void loaded() {}
  virtual void writeTo(MsiRow& row) const = 0;
  virtual void loadFrom(const MsiRow& row) = 0;
  virtual std::u16string key() const = 0;
  virtual void afterSave(int flags) {}

  std::u16string getKey() const { return key(); }
  MsiDatabaseInterface* database() const { return database_; }

 protected:
  MsiDatabaseInterface* database_;
  std::unique_ptr<IMsiObject> owned_;
};

}  // namespace Msi
