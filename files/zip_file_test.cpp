#include "files/zip_file.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "files/test_memory_input.h"
#include "files/zip_writer.h"

namespace {

struct member {
  std::string name;
  std::string data;
  zip_writer::method how = zip_writer::method::deflate;
};

std::string build_zip(const std::vector<member>& members, std::string_view comment = {},
                      std::uint64_t offset_base = 0) {
  std::ostringstream out;
  zip_writer w(out, offset_base);
  for (const member& m : members) EXPECT_TRUE(w.add(m.name, m.data, m.how)) << w.error();
  EXPECT_TRUE(w.finish(comment)) << w.error();
  return out.str();
}

// Text-like bytes that deflate well but not trivially.
std::string payload(std::size_t n, unsigned seed) {
  static const char* words[] = {"archive ", "member ", "deflate ", "stored ", "central ", "directory\n", "0123 "};
  std::string s;
  unsigned x = seed * 2654435761u + 1;
  while (s.size() < n) {
    x = x * 1103515245u + 12345u;
    s += words[(x >> 16) % 7];
    if ((x >> 8) % 5 == 0) s.push_back(static_cast<char>(x >> 24));
  }
  s.resize(n);
  return s;
}

std::string raw_deflate(const std::string& data) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::uint32_t crc_of(const std::string& s) {
  return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

std::uint32_t get32(const std::string& b, std::size_t at) {
  return zip_format::get32(reinterpret_cast<const std::uint8_t*>(b.data()) + at);
}
void put16(std::string& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& b, std::size_t at, std::uint32_t v) {
  put16(b, at, v & 0xFFFF);
  put16(b, at + 2, v >> 16);
}

// Field positions of one archive written by zip_writer (no comment, relative offsets).
struct layout {
  std::size_t end;
  std::size_t directory;
  std::vector<std::size_t> central;  // each central entry
  std::vector<std::size_t> local;    // each local header
};
layout layout_of(const std::string& z) {
  layout l{};
  l.end = z.rfind(std::string("PK\x05\x06", 4));
  l.directory = get32(z, l.end + 16);
  std::size_t at = l.directory;
  const std::uint32_t count = get32(z, l.end + 8) & 0xFFFF;
  for (std::uint32_t i = 0; i < count; ++i) {
    l.central.push_back(at);
    l.local.push_back(get32(z, at + 42));
    at += 46 + (get32(z, at + 28) & 0xFFFF) + (get32(z, at + 30) & 0xFFFF) + (get32(z, at + 32) & 0xFFFF);
  }
  return l;
}

// Sets a 32-bit field of member `i` in both its local header and its central
// entry (local offsets 14 crc, 18 compressed, 22 size; central 16, 20, 24).
void patch_both(std::string& z, std::size_t i, std::size_t local_field, std::uint32_t value) {
  const layout l = layout_of(z);
  put32(z, l.local[i] + local_field, value);
  put32(z, l.central[i] + local_field + 2, value);
}

struct archive_fixture {
  explicit archive_fixture(std::string bytes) : file(std::move(bytes)), zip(&file) {}
  fs_test::memory_input file;
  zip_file zip;
};

// Reads a whole member in chunks of `chunk` bytes, then once more to reach
// the CRC check. Returns the bytes; `error` gets the member's final error code.
std::string read_all(ri_file* f, std::uint32_t chunk, std::uint32_t& error) {
  std::string out;
  std::vector<char> buf(chunk);
  for (;;) {
    std::uint32_t n = 0;
    f->read(buf.data(), chunk, n);
    if (n == 0) break;
    out.append(buf.data(), n);
  }
  error = f->error_code();
  return out;
}

std::vector<std::string> list_names(zip_file& zip) {
  std::vector<std::string> names;
  std::unique_ptr<i_dir::iterator> it(zip.iterate());
  if (!it) return names;
  for (; it->Good(); it->next()) {
    std::string n;
    for (const char16_t* p = it->name(); *p; ++p) n.push_back(static_cast<char>(*p));
    names.push_back(n);
  }
  EXPECT_EQ(it->error_code(), fs_error::end_of_file);
  return names;
}

// ---------------------------------------------------------------- placement

struct placement_case {
  const char* what;
  std::size_t prefix;
  std::size_t comment;
  bool absolute_offsets;
  std::int64_t expected_offset;
  bool found;
  std::size_t trailing = 0;  // bytes after the comment
};

// Names the case in test listings (the default prints the raw bytes).
void PrintTo(const placement_case& c, std::ostream* os) { *os << c.what; }

class ZipPlacement : public ::testing::TestWithParam<placement_case> {};

TEST_P(ZipPlacement, FindsListsAndReadsWithCrcChecked) {
  const placement_case& c = GetParam();
  const std::vector<member> members = {
      {"readme.txt", "hello, archive\n", zip_writer::method::stored},
      {"docs/big.bin", payload(300000, 1), zip_writer::method::deflate},
      {"empty", "", zip_writer::method::stored},
      {"data/table.dat", payload(70000, 2), zip_writer::method::stored},
  };
  std::string bytes(c.prefix, '\0');
  for (std::size_t i = 0; i < c.prefix; ++i) bytes[i] = static_cast<char>(i * 7 + (i >> 9));
  bytes += build_zip(members, std::string(c.comment, 'c'), c.absolute_offsets ? c.prefix : 0);
  bytes.append(c.trailing, 't');
  archive_fixture a(std::move(bytes));
  if (!c.found) {
    EXPECT_EQ(a.zip.error_code(), fs_error::corrupted);
    EXPECT_EQ(a.zip.iterate(), nullptr);
    EXPECT_EQ(a.zip.open_file(u"readme.txt", false), nullptr);
    return;
  }
  ASSERT_TRUE(a.zip.Good()) << c.what;
  EXPECT_EQ(a.zip.archive_offset(), c.expected_offset);
  EXPECT_EQ(list_names(a.zip),
            (std::vector<std::string>{"readme.txt", "docs/big.bin", "empty", "data/table.dat"}));
  for (const member& m : members) {
    std::u16string name(m.name.begin(), m.name.end());
    std::unique_ptr<ri_file> f(a.zip.open_file(name.c_str(), false));
    ASSERT_TRUE(f) << m.name;
    EXPECT_EQ(f->size(), m.data.size());
    std::uint32_t error = 0;
    EXPECT_EQ(read_all(f.get(), 65536, error), m.data) << m.name;
    EXPECT_EQ(error, 0u) << m.name;  // the read past the end compared the CRC
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZipPlacement,
    ::testing::Values(
        placement_case{"plain", 0, 0, false, 0, true},
        placement_case{"appended after 1,000,000 bytes", 1000000, 0, false, 1000000, true},
        placement_case{"appended with absolute offsets", 1000000, 0, true, 0, true},
        placement_case{"65,000-byte comment", 0, 65000, false, 0, true},
        placement_case{"65,514-byte comment", 5000, 65514, false, 5000, true},
        placement_case{"longest comment", 5000, 65535, false, 5000, true},
        placement_case{"longest comment in a file of just the archive", 0, 65535, false, 0, true},
        placement_case{"end record more than 65,557 bytes before the end", 5000, 65535, false, 0, false, 1}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(ZipFile, RefusesFilesWithoutAnArchive) {
  std::string only_end(22, '\0');
  put32(only_end, 0, zip_format::end_signature);
  const std::string empty_archive = build_zip({});
  for (const std::string& bytes : {std::string(), std::string("PK"), only_end, empty_archive, payload(5000, 3)}) {
    archive_fixture a(bytes);
    EXPECT_EQ(a.zip.error_code(), fs_error::corrupted) << bytes.size();
    EXPECT_EQ(a.zip.iterate(), nullptr);
    EXPECT_EQ(a.zip.error_code(), fs_error::corrupted);
  }
}

// ---------------------------------------------------------------- names

TEST(ZipFile, NamesMatchIgnoringAsciiCaseWithBackslashAsSlash) {
  archive_fixture a(build_zip({{"docs/readme.txt", "R"}, {"win\\style.txt", "W"}, {"Caf\xc9.txt", "C"}}));
  ASSERT_TRUE(a.zip.Good());
  struct {
    const char16_t* request;
    const char* expected;  // null: no match
  } cases[] = {
      {u"docs/readme.txt", "R"},
      {u"DOCS\\readme.txt", "R"},
      {u"Docs\\README.TXT", "R"},
      {u"/docs/readme.txt", nullptr},   // no leading separator unless stored
      {u"docs/readme.tx", nullptr},
      {u"docs/readme.txt2", nullptr},
      {u"readme.txt", nullptr},         // names are full paths from the root
      {u"win\\style.txt", nullptr},     // a stored '\' never matches
      {u"win/style.txt", nullptr},
      {u"Caf\u00c9.txt", "C"},          // each stored byte is one unit
      {u"caf\u00e9.txt", nullptr},      // only ASCII letters fold
  };
  for (const auto& c : cases) {
    std::unique_ptr<ri_file> f(a.zip.open_file(c.request, false));
    if (!c.expected) {
      EXPECT_FALSE(f);
      EXPECT_EQ(a.zip.error_code(), fs_error::end_of_file);
      continue;
    }
    ASSERT_TRUE(f);
    EXPECT_TRUE(a.zip.Good());
    char ch = 0;
    std::uint32_t n = 0;
    f->read(&ch, 1, n);
    EXPECT_EQ(std::string(1, ch), c.expected);
  }
  std::unique_ptr<zip_iterator> it(a.zip.find_entry(u"CAF\u00c9.TXT"));
  ASSERT_TRUE(it);
  EXPECT_EQ(std::u16string(it->name()), u"Caf\u00c9.txt");
}

// ---------------------------------------------------------------- damage

struct damage_case {
  const char* what;
  std::function<void(std::string&)> damage;
  enum stage { construct, open, read } where;
  std::uint32_t code;
  const char16_t* target = u"victim";
};

// The member damaged is the second one, "victim" (deflated unless a case says).
std::string damage_base() {
  return build_zip({{"first", payload(1000, 4), zip_writer::method::stored},
                    {"victim", payload(200000, 5), zip_writer::method::deflate},
                    {"last", "tail", zip_writer::method::stored}});
}

// Replaces the victim's compressed data with `data` (same length or shorter;
// sizes in both headers follow).
void replace_victim_data(std::string& z, const std::string& data) {
  const layout l = layout_of(z);
  const std::size_t body = l.local[1] + 30 + 6;  // "victim"
  const std::uint32_t old = get32(z, l.local[1] + 18);
  ASSERT_LE(data.size(), old);
  z.replace(body, data.size(), data);
  patch_both(z, 1, 18, static_cast<std::uint32_t>(data.size()));
}

std::vector<damage_case> damage_cases() {
  using S = damage_case::stage;
  return {
      {"CRC mismatch", [](std::string& z) { patch_both(z, 1, 14, crc_of(payload(200000, 5)) ^ 1); }, S::read,
       fs_error::corrupted},
      {"truncated deflate stream",
       [](std::string& z) { replace_victim_data(z, raw_deflate(payload(200000, 5)).substr(0, 3000)); }, S::read,
       fs_error::corrupted},
      {"garbage instead of deflate data",
       [](std::string& z) { replace_victim_data(z, std::string(2000, '\xff')); }, S::read, fs_error::corrupted},
      {"deflate stream ends before the stated size",
       [](std::string& z) { replace_victim_data(z, raw_deflate(payload(150000, 5))); }, S::read,
       fs_error::corrupted},
      {"name length runs past the directory",
       [](std::string& z) { put16(z, layout_of(z).central[2] + 28, 0xFFFF); }, S::construct, fs_error::corrupted},
      {"extra length runs past the directory",
       [](std::string& z) { put16(z, layout_of(z).central[1] + 30, 0x8000); }, S::construct, fs_error::corrupted},
      {"count claims more entries than the directory holds",
       [](std::string& z) {
         const layout l = layout_of(z);
         put16(z, l.end + 8, 4);
         put16(z, l.end + 10, 4);
       },
       S::construct, fs_error::corrupted},
      {"directory larger than the space before the end record",
       [](std::string& z) { put32(z, layout_of(z).end + 12, 0x7FFFFFFF); }, S::construct, fs_error::corrupted},
      {"second disk", [](std::string& z) { put16(z, layout_of(z).end + 4, 1); }, S::construct, fs_error::corrupted},
      {"entry counts disagree", [](std::string& z) { put16(z, layout_of(z).end + 8, 2); }, S::construct,
       fs_error::corrupted},
      {"method 12", [](std::string& z) {
         const layout l = layout_of(z);
         put16(z, l.local[1] + 8, 12);
         put16(z, l.central[1] + 10, 12);
       },
       S::open, fs_error::not_supported},
      {"local header sizes disagree", [](std::string& z) { put32(z, layout_of(z).local[1] + 22, 5); }, S::open,
       fs_error::corrupted},
      {"local method disagrees", [](std::string& z) { put16(z, layout_of(z).local[1] + 8, 0); }, S::open,
       fs_error::corrupted},
      {"no local signature", [](std::string& z) { z[layout_of(z).local[1]] = 'X'; }, S::open, fs_error::corrupted},
      {"local header beyond the file", [](std::string& z) { put32(z, layout_of(z).central[1] + 42, 0x7FFFFFF0); },
       S::open, fs_error::read},
      {"stored data shorter than its size",
       [](std::string& z) {
         const layout l = layout_of(z);
         put32(z, l.local[0] + 18, 10);
         put32(z, l.central[0] + 20, 10);
       },
       S::read, fs_error::corrupted, u"first"},
  };
}

TEST(ZipFile, DamagedArchivesAreRefusedWithoutCrashing) {
  for (const damage_case& c : damage_cases()) {
    SCOPED_TRACE(c.what);
    std::string z = damage_base();
    c.damage(z);
    archive_fixture a(z);
    if (c.where == damage_case::construct) {
      EXPECT_EQ(a.zip.error_code(), c.code);
      EXPECT_EQ(a.zip.iterate(), nullptr);
      EXPECT_EQ(a.zip.open_file(u"last", false), nullptr);
      continue;
    }
    ASSERT_TRUE(a.zip.Good());
    std::unique_ptr<ri_file> f(a.zip.open_file(c.target, false));
    if (c.where == damage_case::open) {
      EXPECT_FALSE(f);
      EXPECT_EQ(a.zip.error_code(), c.code);
    } else {
      ASSERT_TRUE(f);
      std::uint32_t error = 0;
      read_all(f.get(), 4096, error);
      EXPECT_EQ(error, c.code);
      // The error is sticky: further reads deliver nothing.
      char b[16];
      std::uint32_t n = 1;
      f->read(b, sizeof b, n);
      EXPECT_EQ(n, 0u);
    }
    // Other members stay readable.
    std::unique_ptr<ri_file> last(a.zip.open_file(u"last", false));
    ASSERT_TRUE(last);
    std::uint32_t error = 0;
    EXPECT_EQ(read_all(last.get(), 100, error), "tail");
    EXPECT_EQ(error, 0u);
  }
}

// Small reads are served from a block made ahead, large ones straight into
// the caller's buffer: damage shows the same either way, and only at its place.
TEST(ZipFile, DamagedMembersFailAlikeInSmallAndLargeReads) {
  for (const damage_case& c : damage_cases()) {
    if (c.where != damage_case::read) continue;
    for (std::uint32_t chunk : {1u, 4096u, 65535u, 1u << 20}) {
      SCOPED_TRACE(std::string(c.what) + ", reads of " + std::to_string(chunk));
      std::string z = damage_base();
      c.damage(z);
      archive_fixture a(z);
      std::unique_ptr<ri_file> f(a.zip.open_file(c.target, false));
      ASSERT_TRUE(f);
      std::uint32_t error = 0;
      const std::string got = read_all(f.get(), chunk, error);
      EXPECT_EQ(error, c.code);
      // A wrong CRC is known only once every byte has been handed over.
      if (std::string(c.what) == "CRC mismatch") {
        EXPECT_EQ(got, payload(200000, 5));
      }
    }
  }
}

TEST(ZipFile, DataDescriptorFlagExcusesLocalSizes) {
  std::string z = damage_base();
  const layout l = layout_of(z);
  put16(z, l.local[1] + 6, 0x0008);
  put32(z, l.local[1] + 14, 0);
  put32(z, l.local[1] + 18, 0);
  put32(z, l.local[1] + 22, 0);
  archive_fixture a(z);
  std::unique_ptr<ri_file> f(a.zip.open_file(u"victim", false));
  ASSERT_TRUE(f);
  std::uint32_t error = 0;
  EXPECT_EQ(read_all(f.get(), 8192, error), payload(200000, 5));
  EXPECT_EQ(error, 0u);
}

TEST(ZipFile, ArchiveReadFailureIsAReadErrorAndLeavesTheFileUsable) {
  std::string z = damage_base();
  const std::size_t victim = layout_of(z).local[1];
  archive_fixture a(z);
  ASSERT_TRUE(a.zip.Good());
  std::unique_ptr<ri_file> f(a.zip.open_file(u"victim", false));
  ASSERT_TRUE(f);
  a.file.fail_from = victim + 1000;
  std::uint32_t error = 0;
  read_all(f.get(), 4096, error);
  EXPECT_EQ(error, fs_error::read);
  EXPECT_EQ(f->error().cause().code(), fs_error::read);  // the archive file's own error
  EXPECT_TRUE(a.file.Good());
  a.file.fail_from = UINT64_MAX;
  std::unique_ptr<ri_file> first(a.zip.open_file(u"first", false));
  ASSERT_TRUE(first);
  EXPECT_EQ(read_all(first.get(), 333, error), payload(1000, 4));
  EXPECT_EQ(error, 0u);
}

// ---------------------------------------------------------------- reading

TEST(ZipFile, ChunkSizesAndAlternatingMembersDeliverTheSameBytes) {
  const std::string a_data = payload(100000, 6), b_data = payload(90000, 7);
  archive_fixture a(build_zip({{"a", a_data, zip_writer::method::deflate}, {"b", b_data, zip_writer::method::stored}}));
  for (std::uint32_t chunk : {1u, 7u, 4096u, 32768u, 1u << 20}) {
    std::unique_ptr<ri_file> fa(a.zip.open_file(u"a", false)), fb(a.zip.open_file(u"b", false));
    ASSERT_TRUE(fa && fb);
    std::string ra, rb;
    std::vector<char> buf(chunk);
    for (bool more = true; more;) {
      more = false;
      for (auto [f, out] : {std::pair{fa.get(), &ra}, std::pair{fb.get(), &rb}}) {
        std::uint32_t n = 0;
        f->read(buf.data(), chunk, n);
        out->append(buf.data(), n);
        more |= n != 0;
      }
    }
    EXPECT_EQ(ra, a_data) << chunk;
    EXPECT_EQ(rb, b_data) << chunk;
    EXPECT_TRUE(fa->Good() && fb->Good()) << chunk;
  }
}

TEST(ZipFile, MembersCannotSeek) {
  archive_fixture a(build_zip({{"m", "content"}}));
  std::unique_ptr<ri_file> f(a.zip.open_file(u"m", false));
  ASSERT_TRUE(f);
  EXPECT_EQ(f->size(), 7u);
  f->rewind();
  EXPECT_EQ(f->error_code(), fs_error::not_supported);
  std::uint32_t n = 1;
  char b[8];
  f->read(b, sizeof b, n);
  EXPECT_EQ(n, 0u);
  f.reset(a.zip.open_file(u"m", false));
  f->seek_set(3);
  EXPECT_EQ(f->error_code(), fs_error::not_supported);
  int code = 0;
  f.reset(a.zip.open_file(u"m", false));
  f->control(&code);
  EXPECT_EQ(f->error_code(), fs_error::not_supported);
}

// ---------------------------------------------------------------- directory

TEST(ZipFile, IteratorsAndIdentifiers) {
  archive_fixture a(build_zip({{"one", "1"}, {"two", "22", zip_writer::method::stored}, {"three", "333"}}));
  std::unique_ptr<i_dir::iterator> it(a.zip.iterate());
  ASSERT_TRUE(it);
  it->next();
  EXPECT_EQ(std::u16string(it->name()), u"two");
  EXPECT_EQ(it->size(), 2u);
  EXPECT_EQ(it->stored_size(), 2u);
  EXPECT_EQ(it->kind(), entry_kind::file);
  EXPECT_EQ(it->attributes(), -1);
  EXPECT_EQ(it->write_time(), 0);
  std::unique_ptr<file_identifier> id(it->identifier());
  std::unique_ptr<file_identifier> copy(id->clone());
  EXPECT_EQ(a.zip.compare_names(id.get(), copy.get()), 0);

  std::unique_ptr<i_dir::iterator> first(a.zip.iterate());
  std::unique_ptr<file_identifier> first_id(first->identifier());
  EXPECT_EQ(a.zip.compare_names(id.get(), first_id.get()), 1);
  EXPECT_EQ(a.zip.compare_names(id.get(), nullptr), 1);

  std::unique_ptr<i_dir::iterator> again(a.zip.iterate(id.get()));
  ASSERT_TRUE(again);
  EXPECT_EQ(std::u16string(again->name()), u"two");
  again->next();
  EXPECT_EQ(std::u16string(again->name()), u"three");
  again->next();
  EXPECT_EQ(again->error_code(), fs_error::end_of_file);
  EXPECT_EQ(again->name(), nullptr);
  EXPECT_EQ(again->size(), 0u);

  std::unique_ptr<ri_file> by_id(a.zip.open_file(id.get(), false));
  std::unique_ptr<ri_file> by_iterator(a.zip.open_file(it.get(), false));
  ASSERT_TRUE(by_id && by_iterator);
  EXPECT_EQ(by_id->size(), 2u);
  EXPECT_EQ(by_iterator->size(), 2u);

  EXPECT_EQ(a.zip.iterate(static_cast<const file_identifier*>(nullptr)), nullptr);
  EXPECT_EQ(a.zip.error_code(), fs_error::not_found);
  EXPECT_EQ(a.zip.open_file(static_cast<const file_identifier*>(nullptr), false), nullptr);
  EXPECT_EQ(a.zip.error_code(), fs_error::open);
  EXPECT_EQ(a.zip.open_file(again.get(), false), nullptr);  // iterator in error
  EXPECT_EQ(a.zip.error_code(), fs_error::open);
  // A stray identifier names no entry here rather than memory elsewhere.
  zip_identifier stray(1000, 3);
  EXPECT_EQ(a.zip.open_file(&stray, false), nullptr);
  EXPECT_EQ(a.zip.error_code(), fs_error::open);
  std::unique_ptr<i_dir::iterator> ok(a.zip.iterate());
  EXPECT_TRUE(a.zip.Good());  // a successful operation clears the error
}

TEST(ZipFile, DirectoryOperations) {
  archive_fixture a(build_zip({{"x/y", "xy"}}, "", 0));
  std::unique_ptr<ri_dir> self(a.zip.open_dir(u"."));
  ASSERT_TRUE(self);
  EXPECT_EQ(a.zip.relation(self.get()), 2);
  EXPECT_EQ(a.zip.relation(&a.zip), 0);
  EXPECT_EQ(a.zip.relation(nullptr), 2);
  std::unique_ptr<ri_file> f(self->open_file(u"X\\Y", false));
  ASSERT_TRUE(f);
  EXPECT_EQ(f->size(), 2u);

  const char16_t* path = u"x/y";
  std::unique_ptr<ri_dir> parent(a.zip.open_parent(&path));
  ASSERT_TRUE(parent);
  EXPECT_EQ(std::u16string(path), u"x/y");

  EXPECT_EQ(a.zip.open_dir(u"x"), nullptr);
  EXPECT_EQ(a.zip.error_code(), fs_error::not_supported);
  EXPECT_EQ(a.zip.iterate_self(), nullptr);
  EXPECT_EQ(a.zip.error_code(), fs_error::not_supported);
  std::unique_ptr<i_dir::iterator> it(a.zip.iterate());
  EXPECT_EQ(a.zip.open_dir(it.get()), nullptr);
  EXPECT_EQ(a.zip.error_code(), fs_error::not_supported);
  EXPECT_EQ(a.zip.drive_kind(), entry_kind::unknown);
  EXPECT_EQ(a.zip.path(), nullptr);
  EXPECT_FALSE(a.zip.is_system_dir());
}

// ---------------------------------------------------------------- ZIP64

// What Info-ZIP's `echo x | zip - -` wrote: one stored member "-" holding "x\n",
// whose local header carries saturated sizes and a ZIP64 extra block, and a
// ZIP64 end record and locator before the end record.
const unsigned char info_zip_from_pipe[] = {
    0x50, 0x4b, 0x03, 0x04, 0x2d, 0x00, 0x00, 0x00, 0x00, 0x00, 0x47, 0x86, 0x8a, 0x5d, 0x1f, 0x08, 0xea, 0x46,
    0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01, 0x00, 0x14, 0x00, 0x2d, 0x01, 0x00, 0x10, 0x00, 0x02,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x78, 0x0a, 0x50,
    0x4b, 0x01, 0x02, 0x1e, 0x03, 0x2d, 0x00, 0x00, 0x00, 0x00, 0x00, 0x47, 0x86, 0x8a, 0x5d, 0x1f, 0x08, 0xea,
    0x46, 0x02, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,
    0x00, 0x00, 0x00, 0x80, 0x11, 0x00, 0x00, 0x00, 0x00, 0x2d, 0x50, 0x4b, 0x06, 0x06, 0x2c, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x1e, 0x03, 0x2d, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2f, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x35, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x50, 0x4b, 0x06, 0x07, 0x00, 0x00,
    0x00, 0x00, 0x64, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x50, 0x4b, 0x05, 0x06,
    0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x2f, 0x00, 0x00, 0x00, 0x35, 0x00, 0x00, 0x00, 0x00, 0x00};

TEST(ZipFile, ReadsInfoZipOutputWrittenFromAPipe) {
  const std::string pipe(reinterpret_cast<const char*>(info_zip_from_pipe), sizeof info_zip_from_pipe);
  for (std::size_t prefix : {0, 777}) {
    SCOPED_TRACE(prefix);
    archive_fixture a(std::string(prefix, 'p') + pipe);
    ASSERT_TRUE(a.zip.Good());
    EXPECT_EQ(a.zip.archive_offset(), static_cast<std::int64_t>(prefix));
    EXPECT_EQ(list_names(a.zip), std::vector<std::string>{"-"});
    std::unique_ptr<ri_file> f(a.zip.open_file(u"-", false));
    ASSERT_TRUE(f) << a.zip.error_code();
    std::uint32_t error = 0;
    EXPECT_EQ(read_all(f.get(), 100, error), "x\n");
    EXPECT_EQ(error, 0u);
  }
}

void put64(std::string& b, std::size_t at, std::uint64_t v) {
  put32(b, at, static_cast<std::uint32_t>(v));
  put32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}
std::string le(std::size_t n, std::uint64_t v) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

// An archive laid out by hand after the format's description: `count` stored
// members "m/<i>" holding "<i>", every central entry with saturated sizes and
// offset and a ZIP64 extra block, a ZIP64 end record and locator, and an end
// record whose fields are all saturated.
std::string zip64_archive(std::uint32_t count) {
  std::string body, central;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::string name = "m/" + std::to_string(i), data = std::to_string(i);
    const std::uint32_t crc = crc_of(data);
    const std::uint64_t offset = body.size();
    body += le(4, zip_format::local_signature) + le(2, 45) + le(2, 0) + le(2, 0) + le(4, 0) + le(4, crc) +
            le(4, data.size()) + le(4, data.size()) + le(2, name.size()) + le(2, 0) + name + data;
    central += le(4, zip_format::central_signature) + le(2, 45) + le(2, 45) + le(2, 0) + le(2, 0) + le(4, 0) +
               le(4, crc) + le(4, 0xFFFFFFFFu) + le(4, 0xFFFFFFFFu) + le(2, name.size()) + le(2, 28) + le(2, 0) +
               le(2, 0) + le(2, 0) + le(4, 0) + le(4, 0xFFFFFFFFu) + name + le(2, 1) + le(2, 24) +
               le(8, data.size()) + le(8, data.size()) + le(8, offset);
  }
  const std::uint64_t directory = body.size(), zip64_end = body.size() + central.size();
  std::string z = body + central;
  z += le(4, zip_format::zip64_end_signature) + le(8, 44) + le(2, 45) + le(2, 45) + le(4, 0) + le(4, 0) +
       le(8, count) + le(8, count) + le(8, central.size()) + le(8, directory);
  z += le(4, zip_format::zip64_locator_signature) + le(4, 0) + le(8, zip64_end) + le(4, 1);
  z += le(4, zip_format::end_signature) + le(2, 0xFFFF) + le(2, 0xFFFF) + le(2, 0xFFFF) + le(2, 0xFFFF) +
       le(4, 0xFFFFFFFFu) + le(4, 0xFFFFFFFFu) + le(2, 0);
  return z;
}

TEST(ZipFile, ReadsZip64DirectoriesOfMoreThan65535Members) {
  const std::uint32_t count = 70000;
  archive_fixture a(zip64_archive(count));
  ASSERT_TRUE(a.zip.Good()) << a.zip.error_code();
  EXPECT_EQ(a.zip.entry_count(), count);
  std::uint32_t listed = 0;
  std::unique_ptr<i_dir::iterator> it(a.zip.iterate());
  for (; it && it->Good(); it->next()) {
    const std::string n = "m/" + std::to_string(listed);
    ASSERT_EQ(std::u16string(it->name()), std::u16string(n.begin(), n.end()));
    ASSERT_EQ(it->size(), n.size() - 2);
    ++listed;
  }
  EXPECT_EQ(listed, count);
  for (std::uint32_t i : {0u, 65535u, 65536u, count - 1}) {
    const std::string n = "M\\" + std::to_string(i);
    std::unique_ptr<ri_file> f(a.zip.open_file(std::u16string(n.begin(), n.end()).c_str(), false));
    ASSERT_TRUE(f) << i;
    std::uint32_t error = 0;
    EXPECT_EQ(read_all(f.get(), 64, error), std::to_string(i));
    EXPECT_EQ(error, 0u);
  }
}

TEST(ZipFile, Zip64RecordsThatDoNotHoldTogetherAreRefused) {
  struct {
    const char* what;
    std::function<void(std::string&)> damage;
  } cases[] = {
      {"no locator before a saturated end record",
       [](std::string& z) { put32(z, z.size() - 22 - 20, 0); }},
      {"no ZIP64 end record where the locator points",
       [](std::string& z) {
         put32(z, z.size() - 22 - 20 - 56, 0);
         put64(z, z.size() - 22 - 20 + 8, 3);
       }},
      {"ZIP64 extra block missing the offset",
       [](std::string& z) {
         const std::size_t first_entry = get32(z, z.size() - 22 - 20 - 56 + 48);
         put16(z, first_entry + 46 + 3 + 2, 16);  // the block's own length
       }},
      {"second disk in the ZIP64 end record", [](std::string& z) { put32(z, z.size() - 22 - 20 - 56 + 16, 1); }},
      {"entry count beyond what the directory can hold",
       [](std::string& z) {
         put64(z, z.size() - 22 - 20 - 56 + 24, 1ull << 40);
         put64(z, z.size() - 22 - 20 - 56 + 32, 1ull << 40);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string z = zip64_archive(3);
    c.damage(z);
    archive_fixture a(z);
    EXPECT_EQ(a.zip.error_code(), fs_error::corrupted);
  }
}

TEST(ZipFile, EveryCentralEntryNeedsItsSignature) {
  std::string z = build_zip({{"a", "1"}, {"b", "2"}, {"c", "3"}});
  put32(z, layout_of(z).central[2], 0x12345678);
  archive_fixture a(z);
  EXPECT_EQ(a.zip.error_code(), fs_error::corrupted);
}

TEST(ZipFile, EncryptedMembersAreNotSupportedAndDeliverNothing) {
  for (bool in_central : {true, false}) {
    SCOPED_TRACE(in_central);
    std::string z = damage_base();
    const layout l = layout_of(z);
    put16(z, l.local[1] + 6, 0x0001);
    if (in_central) put16(z, l.central[1] + 8, 0x0001);
    archive_fixture a(z);
    ASSERT_TRUE(a.zip.Good());
    std::unique_ptr<ri_file> f(a.zip.open_file(u"victim", false));
    EXPECT_FALSE(f);
    EXPECT_EQ(a.zip.error_code(), fs_error::not_supported);
    std::unique_ptr<ri_file> last(a.zip.open_file(u"last", false));
    EXPECT_TRUE(last);
  }
}

TEST(ZipFile, TheFirstOfEqualNamesIsFoundAmongManyMembers) {
  std::vector<member> members;
  for (int i = 0; i < 3000; ++i) members.push_back({"dir/file" + std::to_string(i) + ".txt", std::to_string(i)});
  members.push_back({"DIR/FILE7.TXT", "second"});
  members.push_back({"back\\slash", "b"});
  members.push_back({"dir/\xe9t\xe9", "e"});
  archive_fixture a(build_zip(members));
  ASSERT_TRUE(a.zip.Good());
  struct {
    const char16_t* request;
    const char* expected;
  } cases[] = {{u"Dir\\File7.txt", "7"}, {u"dir/file2999.txt", "2999"}, {u"dir/file3000.txt", nullptr},
               {u"back\\slash", nullptr}, {u"back/slash", nullptr}, {u"dir/\u00e9t\u00e9", "e"},
               {u"dir/\u00c9t\u00e9", nullptr}, {u"dir/\u0100", nullptr}, {u"", nullptr}};
  for (const auto& c : cases) {
    std::unique_ptr<ri_file> f(a.zip.open_file(c.request, false));
    if (!c.expected) {
      EXPECT_FALSE(f);
      EXPECT_EQ(a.zip.error_code(), fs_error::end_of_file);
      continue;
    }
    ASSERT_TRUE(f);
    std::uint32_t error = 0;
    EXPECT_EQ(read_all(f.get(), 64, error), c.expected);
  }
}

}  // namespace
