#include "platform/msi/compound.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

namespace msi_layer {
namespace {

constexpr std::uint32_t kEnd = 0xFFFFFFFEu;
constexpr std::uint32_t kNoStream = 0xFFFFFFFFu;
constexpr std::size_t kMiniSector = 64;
constexpr std::uint32_t kMiniCutoff = 4096;
constexpr std::size_t kMaxTreeDepth = 2048;  // the engine's reader recurses once per level

std::uint16_t u16(std::string_view b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}
std::uint32_t u32(std::string_view b, std::size_t at) {
  return static_cast<std::uint32_t>(u16(b, at)) | static_cast<std::uint32_t>(u16(b, at + 2)) << 16;
}

struct Entry {
  std::u16string name;
  int type = 0;
  std::uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
  std::uint32_t start = kEnd;
  std::uint64_t size = 0;
};

// The code pages the engine's string table accepts.
bool engineCodePage(std::uint32_t cp) {
  static const std::uint32_t known[] = {
      0,     37,    424,   437,   500,   737,   775,   850,   852,   855,   856,   857,   860,   861,   862,
      863,   864,   865,   866,   869,   874,   875,   878,   932,   936,   949,   950,   1006,  1026,  1250,
      1251,  1252,  1253,  1254,  1255,  1256,  1257,  1258,  1361,  10000, 10006, 10007, 10029, 10079, 10081,
      20127, 20866, 20932, 21866, 28591, 28592, 28593, 28594, 28595, 28596, 28597, 28598, 28599, 28600, 28603,
      28604, 28605, 28606, 65000, 65001};
  for (std::uint32_t k : known)
    if (k == cp) return true;
  return false;
}

// A table stream's name as the package stores it (the engine's name encoding).
std::u16string tableStreamName(const char* name) {
  auto code = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    if (c >= 'a' && c <= 'z') return c - 'a' + 36;
    if (c == '.') return 62;
    return 63;  // '_'
  };
  std::u16string out(1, u'\x4840');
  for (const char* p = name; *p;) {
    int a = code(*p++);
    if (*p) {
      int b = code(*p++);
      out += static_cast<char16_t>(0x3800 + a + (b << 6));
    } else {
      out += static_cast<char16_t>(0x4800 + a);
    }
  }
  return out;
}

class Checker {
 public:
  explicit Checker(std::string_view file) : f_(file) {}

  PackageCheck run() {
    PackageCheck result;
    result.compound = f_.size() >= 8 && f_.substr(0, 8) == std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    if (header() && fat() && directory() && miniFat() && tree() && streams() && stringPool()) {
      result.ok = true;
      result.codePage = codePage_;
    } else {
      result.problem = problem_;
    }
    return result;
  }

 private:
  bool bad(const std::string& what) {
    if (problem_.empty()) problem_ = what;
    return false;
  }

  std::string_view sector(std::uint32_t s) const { return f_.substr((static_cast<std::size_t>(s) + 1) << shift_, size_t{1} << shift_); }

  bool header() {
    static const unsigned char kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (f_.size() < 512) return bad("the file is too short for a compound file");
    for (int i = 0; i < 8; ++i)
      if (static_cast<unsigned char>(f_[i]) != kMagic[i]) return bad("not a compound file");
    if (u16(f_, 28) != 0xFFFE) return bad("bad byte order mark");
    std::uint16_t major = u16(f_, 26);
    shift_ = u16(f_, 30);
    if (!((major == 3 && shift_ == 9) || (major == 4 && shift_ == 12))) return bad("bad version or sector size");
    if (u16(f_, 32) != 6) return bad("bad mini sector size");
    if (u32(f_, 56) != kMiniCutoff) return bad("bad mini stream cutoff");
    sectorSize_ = std::size_t{1} << shift_;
    if (f_.size() < 2 * sectorSize_) return bad("the file holds no sectors");
    sectors_ = f_.size() / sectorSize_ - 1;
    if (sectors_ >= 0xFFFFFFFAu) return bad("too many sectors");
    used_.assign(sectors_, false);
    return true;
  }

  bool fat() {
    const std::uint32_t fatCount = u32(f_, 44);
    std::uint32_t difat = u32(f_, 68);
    const std::uint32_t difatCount = u32(f_, 72);
    if (fatCount > sectors_ || difatCount > sectors_) return bad("FAT larger than the file");
    std::vector<std::uint32_t> fatSectors;
    for (std::uint32_t i = 0; i < 109 && fatSectors.size() < fatCount; ++i) fatSectors.push_back(u32(f_, 76 + 4 * i));
    const std::size_t perDifat = sectorSize_ / 4 - 1;
    for (std::uint32_t d = 0; d < difatCount; ++d) {
      if (difat >= sectors_) return bad("DIFAT chain out of bounds");
      if (used_[difat]) return bad("DIFAT chain loops");
      used_[difat] = true;
      std::string_view s = sector(difat);
      for (std::size_t i = 0; i < perDifat && fatSectors.size() < fatCount; ++i) fatSectors.push_back(u32(s, 4 * i));
      difat = u32(s, 4 * perDifat);
    }
    if (fatSectors.size() != fatCount) return bad("DIFAT shorter than the FAT");
    fat_.reserve(fatCount * (sectorSize_ / 4));
    for (std::uint32_t s : fatSectors) {
      if (s >= sectors_) return bad("FAT sector out of bounds");
      if (used_[s]) return bad("FAT sector listed twice");
      used_[s] = true;
      std::string_view b = sector(s);
      for (std::size_t i = 0; i < sectorSize_ / 4; ++i) fat_.push_back(u32(b, 4 * i));
    }
    if (!allInBounds(fat_, sectors_)) return bad("a FAT entry points outside the file");
    return true;
  }

  // The engine's storage reader checks every entry of a sector table, also of
  // chains no stream uses, and reads the streams differently once one points
  // nowhere: each must be a sector or one of the four marks.
  static bool allInBounds(const std::vector<std::uint32_t>& table, std::size_t limit) {
    for (std::uint32_t s : table)
      if (s >= limit && s < 0xFFFFFFFCu) return false;
    return true;
  }

  // Follows a chain; every sector in bounds and owned by no other chain.
  bool chain(std::uint32_t start, const std::vector<std::uint32_t>& table, std::vector<bool>& used, std::size_t limit,
             std::vector<std::uint32_t>& out, const char* what) {
    out.clear();
    for (std::uint32_t s = start; s != kEnd;) {
      if (s >= limit || s >= table.size()) return bad(std::string(what) + ": chain out of bounds");
      if (used[s]) return bad(std::string(what) + ": chain loops or crosses another");
      used[s] = true;
      out.push_back(s);
      s = table[s];
    }
    return true;
  }

  bool directory() {
    std::vector<std::uint32_t> dirSectors;
    if (!chain(u32(f_, 48), fat_, used_, sectors_, dirSectors, "directory")) return false;
    if (dirSectors.empty()) return bad("no directory");
    for (std::uint32_t s : dirSectors) {
      std::string_view b = sector(s);
      for (std::size_t at = 0; at + 128 <= sectorSize_; at += 128) {
        std::string_view d = b.substr(at, 128);
        Entry e;
        e.type = static_cast<unsigned char>(d[66]);
        std::uint16_t nameBytes = u16(d, 64);
        if (e.type != 0) {
          if (nameBytes < 2 || nameBytes > 64 || nameBytes % 2) { entries_.push_back(Entry{}); bad_.push_back(true); continue; }
          for (std::size_t i = 0; i + 1 < nameBytes / 2u; ++i) e.name += static_cast<char16_t>(u16(d, 2 * i));
        }
        e.left = u32(d, 68);
        e.right = u32(d, 72);
        e.child = u32(d, 76);
        e.start = u32(d, 116);
        e.size = shift_ == 9 ? u32(d, 120) : (static_cast<std::uint64_t>(u32(d, 124)) << 32 | u32(d, 120));
        entries_.push_back(std::move(e));
        bad_.push_back(false);
      }
    }
    if (entries_[0].type != 5 || bad_[0]) return bad("the first directory entry is not the root");
    // The engine's storage reader gives the root's siblings no parent and
    // drops them, with what hangs below them.
    if (entries_[0].left != kNoStream || entries_[0].right != kNoStream) return bad("the root has siblings");
    return true;
  }

  bool miniFat() {
    std::vector<std::uint32_t> sectors;
    if (!chain(u32(f_, 60), fat_, used_, sectors_, sectors, "mini FAT")) return false;
    if (sectors.size() != u32(f_, 64)) return bad("mini FAT length differs from the header");
    for (std::uint32_t s : sectors) {
      std::string_view b = sector(s);
      for (std::size_t i = 0; i < sectorSize_ / 4; ++i) miniFat_.push_back(u32(b, 4 * i));
    }
    const Entry& root = entries_[0];
    if (root.size > f_.size()) return bad("mini stream larger than the file");
    if (!chain(root.start, fat_, used_, sectors_, miniStream_, "mini stream")) return false;
    if (miniStream_.size() * sectorSize_ < root.size) return bad("mini stream shorter than its size");
    miniSectors_ = static_cast<std::size_t>(root.size / kMiniSector);
    miniUsed_.assign(miniSectors_, false);
    if (!allInBounds(miniFat_, miniSectors_)) return bad("a mini FAT entry points outside the mini stream");
    return true;
  }

  bool tree() {
    std::vector<bool> seen(entries_.size(), false);
    seen[0] = true;
    struct Item {
      std::uint32_t id;
      std::size_t depth;
      bool rootLevel;
    };
    std::vector<Item> stack;
    if (entries_[0].child != kNoStream) stack.push_back({entries_[0].child, 1, true});
    while (!stack.empty()) {
      Item it = stack.back();
      stack.pop_back();
      if (it.id >= entries_.size()) return bad("directory link out of bounds");
      if (seen[it.id]) return bad("directory tree loops");
      seen[it.id] = true;
      if (it.depth > kMaxTreeDepth) return bad("directory tree too deep");
      const Entry& e = entries_[it.id];
      if (bad_[it.id] || (e.type != 1 && e.type != 2)) return bad("bad directory entry");
      if (it.rootLevel && e.type == 2) rootStreams_.push_back(it.id);
      if (e.type == 2) streams_.push_back(it.id);
      if (e.type == 1 && e.child != kNoStream) stack.push_back({e.child, it.depth + 1, false});
      if (e.left != kNoStream) stack.push_back({e.left, it.depth + 1, it.rootLevel});
      if (e.right != kNoStream) stack.push_back({e.right, it.depth + 1, it.rootLevel});
    }
    return true;
  }

  bool streams() {
    for (std::uint32_t id : streams_) {
      const Entry& e = entries_[id];
      if (e.size == 0) continue;
      if (e.size > f_.size()) return bad("stream larger than the file");
      std::vector<std::uint32_t> sectors;
      if (e.size < kMiniCutoff) {
        if (!chain(e.start, miniFat_, miniUsed_, miniSectors_, sectors, "mini stream sector")) return false;
        if (sectors.size() * kMiniSector < e.size) return bad("stream shorter than its size");
      } else {
        if (!chain(e.start, fat_, used_, sectors_, sectors, "stream")) return false;
        if (sectors.size() * sectorSize_ < e.size) return bad("stream shorter than its size");
      }
      chains_.emplace_back(id, std::move(sectors));
    }
    return true;
  }

  std::string content(std::uint32_t id) const {
    const Entry& e = entries_[id];
    std::string out;
    for (const auto& [owner, sectors] : chains_) {
      if (owner != id) continue;
      for (std::uint32_t s : sectors) {
        if (e.size < kMiniCutoff) {
          std::size_t offset = s * kMiniSector;
          std::uint32_t host = miniStream_[offset / sectorSize_];
          out.append(sector(host).substr(offset % sectorSize_, kMiniSector));
        } else {
          out.append(sector(s));
        }
      }
    }
    out.resize(static_cast<std::size_t>(e.size));
    return out;
  }

  // The string pool and its data must agree, or the engine reads the tables
  // with strings missing (a damaged package passes for an empty one).
  bool stringPool() {
    const std::u16string poolName = tableStreamName("_StringPool");
    const std::u16string dataName = tableStreamName("_StringData");
    std::uint32_t pool = kNoStream, data = kNoStream;
    for (std::uint32_t id : rootStreams_) {
      if (entries_[id].name == poolName) pool = id;
      if (entries_[id].name == dataName) data = id;
    }
    bool hasPool = false, hasData = false;
    for (const Entry& e : entries_) {
      if (e.type == 2 && e.name == poolName) hasPool = true;
      if (e.type == 2 && e.name == dataName) hasData = true;
    }
    if (pool == kNoStream || data == kNoStream) {
      if (hasPool || hasData) return bad("string pool unreachable");
      return bad("no string pool");
    }
    const std::string p = content(pool);
    const std::size_t dataSize = static_cast<std::size_t>(entries_[data].size);
    if (p.size() < 4 || p.size() % 4) return bad("string pool size is not a whole number of entries");
    codePage_ = u16(p, 0) | static_cast<std::uint32_t>(u16(p, 2) & 0x7FFF) << 16;
    if (!engineCodePage(codePage_)) return bad("unknown code page " + std::to_string(codePage_));
    const std::size_t count = p.size() / 4;
    strRefBytes_ = (u16(p, 2) & 0x8000) ? 3 : 2;
    present_.assign(count, false);
    std::size_t offset = 0;
    std::size_t id = 1;
    for (std::size_t i = 1; i < count; ++id) {
      std::uint32_t len = u16(p, 4 * i);
      std::uint32_t refs = u16(p, 4 * i + 2);
      if (len == 0 && refs == 0) {
        ++i;
        continue;
      }
      // The engine takes a slot without references for free and writes over
      // it, losing the text it read there.
      if (refs == 0) return bad("the string pool holds a text without references");
      present_[id] = true;
      spans_.resize(count);
      if (len == 0) {
        if (i + 1 >= count) return bad("string pool ends inside a long string");
        len = static_cast<std::uint32_t>(u16(p, 4 * i + 6)) << 16 | u16(p, 4 * i + 4);
        i += 2;
      } else {
        i += 1;
      }
      if (offset + len > dataSize) return bad("string pool reaches past its data");
      spans_[id] = {offset, len};
      offset += len;
    }
    if (offset != dataSize) return bad("string data longer than its pool");
    stringData_ = content(data);
    // The engine finds a string's id by its text: a second copy is never found.
    std::vector<std::string_view> texts;
    for (std::size_t i = 1; i < present_.size(); ++i)
      if (present_[i] && spans_[i].second) texts.emplace_back(stringData_.data() + spans_[i].first, spans_[i].second);
    std::sort(texts.begin(), texts.end());
    if (std::adjacent_find(texts.begin(), texts.end()) != texts.end()) return bad("the string pool holds a text twice");
    return catalogue() && summary();
  }

  std::uint32_t stringRef(const std::string& b, std::size_t at) const {
    std::uint32_t v = u16(b, at);
    if (strRefBytes_ == 3) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16;
    return v;
  }
  // A name of the catalogue: a string that exists, in plain ASCII (the engine
  // drops strings it cannot convert and then meets a null name).
  bool validString(std::uint32_t id) const {
    if (id == 0 || id >= present_.size() || !present_[id] || spans_[id].second == 0) return false;
    for (std::size_t i = 0; i < spans_[id].second; ++i) {
      unsigned char ch = static_cast<unsigned char>(stringData_[spans_[id].first + i]);
      if (ch < 0x21 || ch > 0x7E) return false;
    }
    return true;
  }

  // The type each summary property id is written with.
  static std::uint32_t summaryType(std::uint32_t pid) {
    switch (pid) {
      case 1: return 2;                                  // code page
      case 10: case 11: case 12: case 13: return 64;     // times
      case 14: case 15: case 16: case 19: return 3;      // counts, security
      case 17: return 71;                                // thumbnail
      default: return 30;                                // texts
    }
  }

  // The summary information stream, read by the engine without bounds.
  bool summary() {
    std::uint32_t id = kNoStream;
    const std::u16string name = u"\x05SummaryInformation";
    for (std::uint32_t r : rootStreams_)
      if (entries_[r].name == name) id = r;
    if (id == kNoStream || entries_[id].size == 0) return true;
    const std::string b = content(id);
    if (b.size() < 48 || u16(b, 0) != 0xFFFE) return bad("summary information without its header");
    static const unsigned char kFormat[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                              0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
    if (std::memcmp(b.data() + 28, kFormat, 16) != 0) return true;  // the engine skips it
    const std::size_t at = u32(b, 44);
    if (at > b.size() || b.size() - at < 8) return bad("summary section outside the stream");
    const std::uint32_t sectionSize = u32(b, at);
    const std::uint32_t count = u32(b, at + 4);
    if (sectionSize > b.size() - at) return bad("summary section longer than the stream");
    if (count > 20) return bad("too many summary properties");
    if (8 + 8 * static_cast<std::size_t>(count) > sectionSize) return bad("summary property list outside its section");
    const std::string_view section(b.data() + at, sectionSize);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t pid = u32(section, 8 + 8 * i);
      std::uint32_t offset = u32(section, 12 + 8 * i);
      if (pid >= 20) return pid & 0x80000000u ? bad("bad summary property id") : true;  // the engine stops here
      if (offset > sectionSize - 4 || offset + 4 > sectionSize - 4) return bad("summary property outside its section");
      const std::uint32_t type = u32(section, offset);
      offset += 4;
      // The engine converts a value stored under another type than its id's own,
      // and that conversion does not hold up: take only each id's own type.
      const std::uint32_t own = summaryType(pid);
      const bool numbers = (type == 2 || type == 3) && (own == 2 || own == 3);
      if (pid != 0 && (type == 2 || type == 3 || type == 30 || type == 64) && type != own && !numbers)
        return bad("summary property stored under a type not its own");
      if (type == 30) {  // a counted text
        const std::uint32_t len = u32(section, offset);
        offset += 4;
        if (len == 0 || len > sectionSize - offset) return bad("summary text outside its section");
      } else if (type == 64) {
        if (offset > sectionSize - 8) return bad("summary time outside its section");
      } else if (type != 2 && type != 3) {
        return true;  // the engine stops at a type it does not know
      }
    }
    return true;
  }

  const Entry* rootStream(const char* table, std::uint32_t& id) const {
    const std::u16string name = tableStreamName(table);
    for (std::uint32_t r : rootStreams_)
      if (entries_[r].name == name) return id = r, &entries_[r];
    return nullptr;
  }

  std::string text(std::uint32_t id) const { return stringData_.substr(spans_[id].first, spans_[id].second); }

  // A table or column name as the engine's statements take it between
  // backquotes: a letter or underscore, then letters, digits, underscores and
  // periods. Anything else (a backquote, a quote, a blank) ends or breaks the
  // quoted name in the engine's parser.
  bool identifier(std::uint32_t id, std::size_t longest) const {
    if (!validString(id) || spans_[id].second > longest) return false;
    const std::string name = text(id);
    auto letter = [](unsigned char ch) { return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || ch == '_'; };
    if (!letter(name[0])) return false;
    for (unsigned char ch : name)
      if (!letter(ch) && !(ch >= '0' && ch <= '9') && ch != '.') return false;
    return true;
  }

  // A stored column type: valid, neither temporary nor unknown, and an integer
  // two or four bytes wide (the engine sizes rows by it).
  static bool columnType(std::uint32_t type) {
    constexpr std::uint32_t kValid = 0x0100, kString = 0x0800, kTemporary = 0x4000, kUnknown = 0x8000;
    if (!(type & kValid) || (type & (kTemporary | kUnknown))) return false;
    if (type & kString) return true;
    const std::uint32_t size = type & 0xFF;
    return size == 2 || size == 4;
  }

  // The engine trusts the table catalogue: every name a table or column name,
  // each table listed once and with columns, its columns numbered 1..n without
  // gaps or repeats, named once each and of a type it can size.
  bool catalogue() {
    std::uint32_t id = 0;
    std::map<std::string, bool> tables;  // name -> has columns
    if (rootStream("_Tables", id)) {
      const std::string t = content(id);
      if (t.size() % strRefBytes_) return bad("_Tables is not a whole number of rows");
      for (std::size_t at = 0; at < t.size(); at += strRefBytes_) {
        const std::uint32_t name = stringRef(t, at);
        if (!validString(name)) return bad("_Tables names a string that does not exist");
        if (!identifier(name, 31)) return bad("_Tables holds a name that is not a table name");
        const std::string n = text(name);
        if (n == "_Tables" || n == "_Columns" || n == "_Streams" || n == "_Storages")
          return bad("_Tables lists the catalogue itself");
        if (!tables.emplace(n, false).second) return bad("_Tables lists a table twice");
      }
    }
    if (rootStream("_Columns", id)) {
      const std::string c = content(id);
      const std::size_t rowSize = 2 * strRefBytes_ + 4;
      if (c.size() % rowSize) return bad("_Columns is not a whole number of rows");
      const std::size_t rows = c.size() / rowSize;
      std::map<std::string, std::vector<unsigned>> numbers;
      std::map<std::string, std::vector<std::string>> names;
      for (std::size_t r = 0; r < rows; ++r) {
        std::uint32_t table = stringRef(c, r * strRefBytes_);
        unsigned number = u16(c, rows * strRefBytes_ + 2 * r) ^ 0x8000u;
        std::uint32_t name = stringRef(c, rows * (strRefBytes_ + 2) + r * strRefBytes_);
        std::uint32_t type = u16(c, rows * (2 * strRefBytes_ + 2) + 2 * r) ^ 0x8000u;
        if (!validString(table) || !validString(name)) return bad("_Columns names a string that does not exist");
        if (!identifier(table, 31) || !identifier(name, 64)) return bad("_Columns holds a name that is not a table or column name");
        auto listed = tables.find(text(table));
        if (listed == tables.end()) return bad("_Columns describes a table _Tables does not list");
        listed->second = true;
        if (!columnType(type)) return bad("_Columns gives a column an invalid type");
        numbers[listed->first].push_back(number);
        names[listed->first].push_back(text(name));
      }
      for (auto& [table, list] : numbers) {
        std::sort(list.begin(), list.end());
        for (std::size_t i = 0; i < list.size(); ++i)
          if (list[i] != i + 1) return bad("a table's columns are not numbered 1 to n");
      }
      for (auto& [table, list] : names) {
        std::sort(list.begin(), list.end());
        if (std::adjacent_find(list.begin(), list.end()) != list.end()) return bad("a table has two columns of one name");
      }
    }
    for (const auto& [table, described] : tables)
      if (!described) return bad("_Tables lists a table _Columns gives no columns");
    return true;
  }

  std::string_view f_;
  std::string problem_;
  unsigned shift_ = 9;
  std::size_t sectorSize_ = 512;
  std::size_t sectors_ = 0;
  std::vector<bool> used_;
  std::vector<std::uint32_t> fat_, miniFat_, miniStream_;
  std::size_t miniSectors_ = 0;
  std::vector<bool> miniUsed_;
  std::vector<Entry> entries_;
  std::vector<bool> bad_;
  std::vector<std::uint32_t> rootStreams_, streams_;
  std::vector<std::pair<std::uint32_t, std::vector<std::uint32_t>>> chains_;
  std::uint32_t codePage_ = 0;
  unsigned strRefBytes_ = 2;
  std::vector<bool> present_;
  std::vector<std::pair<std::size_t, std::size_t>> spans_;
  std::string stringData_;
};

}  // namespace

PackageCheck checkPackageBytes(std::string_view file) { return Checker(file).run(); }

PackageCheck checkPackageFile(const std::string& path) {
  PackageCheck result;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    result.problem = "cannot be read";
    return result;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    result.problem = "not a file";
    return result;
  }
  if (st.st_size == 0) {
    ::close(fd);
    result.problem = "the file is empty";
    return result;
  }
  void* map = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
  if (map == MAP_FAILED) {
    result.problem = "cannot be read";
    return result;
  }
  result = checkPackageBytes(std::string_view(static_cast<const char*>(map), static_cast<std::size_t>(st.st_size)));
  ::munmap(map, static_cast<std::size_t>(st.st_size));
  return result;
}

}  // namespace msi_layer
