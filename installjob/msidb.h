// Thin wrappers over the installer's database functions for reading packages:
// a database handle, queries with bound parameters returning texts, property
// look-up, and exceptions that name the failing call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/msi/msi.h"

namespace msier {

// Thrown by value; `code` is the installer's (Win32) error number.
struct system {
  explicit system(UINT c) : code(c) {}
  virtual ~system() = default;
  UINT code;
};

struct query : system {
  query(UINT c, std::u16string q) : system(c), text(std::move(q)) {}
  virtual const char16_t* name() const = 0;
  std::u16string text;
  std::u16string second;  // empty in every case here
};

#define KV_MSIER_QUERY(cls, call)                                     \
  struct cls : query {                                                \
    using query::query;                                               \
    const char16_t* name() const override { return call; }            \
  };
KV_MSIER_QUERY(query_openview, u"MsiDatabaseOpenView")
KV_MSIER_QUERY(query_execute, u"MsiViewExecute")
KV_MSIER_QUERY(query_strrec, u"MsiRecordSetString")
KV_MSIER_QUERY(query_binrec, u"MsiRecordSetStream")
KV_MSIER_QUERY(query_strread, u"MsiRecordGetString")
#undef KV_MSIER_QUERY

}  // namespace msier

class msidb {
 public:
  struct param {
    std::u16string value;
    bool isStream = false;  // value is then a file path
  };
  using params = std::vector<param>;
  using row = std::vector<std::u16string>;
  using rows = std::vector<row>;

  static void close_handle(MSIHANDLE h) {
    if (h) MsiCloseHandle(h);
  }
  static void reset_handle(MSIHANDLE& h) {
    close_handle(h);
    h = 0;
  }

  msidb() = default;
  msidb(const msidb&) = delete;
  msidb& operator=(const msidb&) = delete;
  virtual ~msidb();
  virtual void close();
  virtual void read_record(MSIHANDLE record, row& out, const std::u16string& query);

  // Throws msier::system with the installer's result when the database cannot be opened.
  void open(const std::u16string& path, bool readOnly);
  void read_query(const std::u16string& query, const params& parameters, rows& out);

  static std::u16string property_value(msidb& database, const std::u16string& name);

  MSIHANDLE handle = 0;

 private:
  void execute(MSIHANDLE view, const params& parameters, const std::u16string& query);
  void fetch(MSIHANDLE view, rows& out, const std::u16string& query);
};

// Commits before closing; used for every package opened read-only.
class msiquery : public msidb {
 public:
  ~msiquery() override;
  void close() override;
};

// Prints the installer's last error record to standard output.
void MsiAPIError();

namespace installjob {
// Where the wrappers append their failure lines; tests move it.
void setMsiApiLogPath(const std::u16string& path);
std::u16string msiApiLogPath();
}  // namespace installjob
