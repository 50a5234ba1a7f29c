// ZIP commands: list, extract, build, append.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "files/zip_file.h"
#include "files/zip_writer.h"
#include "platform/win32/windows.h"
#include "tools/kvtool.h"

namespace fs = std::filesystem;

namespace {

// Opens an archive (also one appended to another file); null after printing why.
struct opened_archive {
  std::unique_ptr<kvtool::stream_file> file;
  std::unique_ptr<zip_file> zip;
};

bool open_archive(const std::string& path, opened_archive& a) {
  std::string why;
  a.file = kvtool::open_input(path, why);
  if (!a.file) {
    kvtool::fail(why);
    return false;
  }
  a.zip = std::make_unique<zip_file>(a.file.get());
  if (a.zip->Bad()) {
    kvtool::fail(path + ": not a readable ZIP archive: " + kvtool::describe(a.zip->error()));
    return false;
  }
  return true;
}

bool read_whole(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  out = std::move(s).str();
  return !in.bad();
}

// A member name as bytes fit for a terminal: control characters (C0, DEL,
// and C1 in a name that is UTF-8) as \xNN; in a name that is not UTF-8,
// every byte from 0x80 as well.
std::string printable_name(const std::string& name) {
  auto valid_utf8 = [&] {
    for (std::size_t i = 0; i < name.size();) {
      const auto b = static_cast<unsigned char>(name[i]);
      const int need = b < 0x80 ? 0 : b >= 0xC2 && b <= 0xDF ? 1 : b >= 0xE0 && b <= 0xEF ? 2 : b >= 0xF0 && b <= 0xF4 ? 3 : -1;
      if (need < 0 || name.size() - i <= static_cast<std::size_t>(need)) return false;
      for (int k = 1; k <= need; ++k)
        if ((static_cast<unsigned char>(name[i + k]) & 0xC0) != 0x80) return false;
      i += 1 + need;
    }
    return true;
  };
  const bool utf8 = valid_utf8();
  std::string out;
  char hex[8];
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto b = static_cast<unsigned char>(name[i]);
    const bool c1 = utf8 && b == 0xC2 && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) < 0xA0;
    if (b < 0x20 || b == 0x7F || (!utf8 && b >= 0x80) || c1) {
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
      if (c1) {
        std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(name[++i]));
        out += hex;
      }
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

int run_list(const kvtool::arguments& args) {
  if (args.size() != 1) return kvtool::usage_error("list");
  opened_archive a;
  if (!open_archive(args[0], a)) return 1;
  std::printf("archive at offset %" PRId64 ", %u members\n", a.zip->archive_offset(), a.zip->entry_count());
  std::printf("%12s %12s  %s\n", "size", "stored", "name");
  std::uint64_t total = 0, stored = 0;
  std::unique_ptr<i_dir::iterator> it(a.zip->iterate());
  for (; it && it->Good(); it->next()) {
    total += it->size();
    stored += it->stored_size();
    std::printf("%12" PRIu64 " %12" PRIu64 "  %s\n", it->size(), it->stored_size(),
                printable_name(kvtool::member_bytes(it->name())).c_str());
  }
  std::printf("%12" PRIu64 " %12" PRIu64 "  total\n", total, stored);
  return 0;
}

// Copies a member to `out`; an empty result, or why it failed.
std::string copy_member(ri_file& in, std::ostream& out, const std::string& what) {
  std::vector<char> buffer(1 << 20);
  for (;;) {
    std::uint32_t n = 0;
    in.read(buffer.data(), static_cast<std::uint32_t>(buffer.size()), n);
    if (n == 0) break;
    out.write(buffer.data(), n);
  }
  out.flush();
  if (in.Bad()) return what + ": " + kvtool::describe(in.error());
  if (!out) return "write failed";
  return {};
}

// A new file beside `target` for writing it whole before it replaces the
// target: a failure leaves what was there before.
std::string file_beside(const fs::path& target) {
  std::error_code ec;
  for (int n = 0;; ++n) {
    fs::path p = target;
    p += ".kvtool-part" + (n ? std::to_string(n) : std::string());
    if (!fs::exists(fs::symlink_status(p, ec))) return p.string();
  }
}

// Writes member `in` to `target` through a file beside it.
std::string write_member(ri_file& in, const fs::path& target, const std::string& what) {
  const std::string part = file_beside(target);
  std::string problem;
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    if (!out) return part + ": cannot open for writing";
    problem = copy_member(in, out, what);
    out.close();
    if (problem.empty() && !out) problem = part + ": write failed";
  }
  std::error_code ec;
  if (problem.empty()) {
    fs::rename(part, target, ec);
    if (ec) problem = target.string() + ": cannot replace: " + ec.message();
  }
  if (!problem.empty()) fs::remove(part, ec);
  return problem;
}

// The path below DIR that a member name asks for, '\' also separating; empty
// when it would land outside DIR: "..", an absolute name, a drive letter.
// Names ending in a separator are folders.
bool member_path(const std::string& name, fs::path& out, bool& folder) {
  if (name.empty() || name.find('\0') != std::string::npos) return false;
  if (name[0] == '/' || name[0] == '\\') return false;
  if (name.size() >= 2 && name[1] == ':') return false;  // C:, C:\, C:name
  folder = name.back() == '/' || name.back() == '\\';
  out.clear();
  std::size_t start = 0;
  while (start <= name.size()) {
    const std::size_t end = std::min(name.find_first_of("/\\", start), name.size());
    const std::string part = name.substr(start, end - start);
    if (part == "..") return false;
    if (!part.empty() && part != ".") out /= part;
    start = end + 1;
  }
  return !out.empty();
}

// Whether the terminal shows progress: standard error is a character device.
bool progress_wanted() {
  HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
  return h && h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_CHAR;
}

int extract_all(const std::string& archive, const std::string& dir) {
  opened_archive a;
  if (!open_archive(archive, a)) return 1;
  struct planned {
    std::uint32_t index;
    std::string name;
    fs::path path;
    bool folder;
  };
  std::vector<planned> plan;
  int refused = 0;
  std::unique_ptr<i_dir::iterator> it(a.zip->iterate());
  for (std::uint32_t i = 0; it && it->Good(); it->next(), ++i) {
    planned p{i, kvtool::member_bytes(it->name()), {}, false};
    if (!member_path(p.name, p.path, p.folder)) {
      kvtool::fail("'" + printable_name(p.name) + "': refused, it would land outside " + dir);
      ++refused;
      continue;
    }
    plan.push_back(std::move(p));
  }
  if (refused) return kvtool::fail(archive + ": nothing extracted");

  std::error_code ec;
  const fs::path root(dir);
  fs::create_directories(root, ec);
  if (!fs::is_directory(root, ec)) return kvtool::fail(dir + ": not a folder");
  const bool progress = progress_wanted();
  std::string problem;
  std::size_t done = 0;
  for (const planned& p : plan) {
    if (progress) {
      std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", done + 1, plan.size(), printable_name(p.name).c_str());
      std::fflush(stderr);
    }
    // No folder on the way may be a link, which could lead outside.
    fs::path at = root;
    const fs::path parent = p.folder ? p.path : p.path.parent_path();
    for (const fs::path& part : parent) {
      at /= part;
      const fs::file_status st = fs::symlink_status(at, ec);
      if (fs::is_symlink(st)) problem = at.string() + ": a link where a folder belongs";
      else if (!fs::exists(st) && !fs::create_directory(at, ec)) problem = at.string() + ": cannot create: " + ec.message();
      else if (fs::exists(st) && !fs::is_directory(st)) problem = at.string() + ": not a folder";
      if (!problem.empty()) break;
    }
    if (problem.empty() && !p.folder) {
      const fs::path target = root / p.path;
      if (fs::is_symlink(fs::symlink_status(target, ec)) || fs::is_directory(fs::symlink_status(target, ec))) {
        problem = target.string() + ": is a link or a folder";
      } else {
        zip_identifier id(p.index, a.zip->entry_count() - p.index);
        std::unique_ptr<ri_file> in(a.zip->open_file(&id, false));
        if (!in) problem = printable_name(p.name) + ": cannot open: " + kvtool::describe(a.zip->error());
        else problem = write_member(*in, target, printable_name(p.name));
      }
    }
    if (!problem.empty()) break;
    ++done;
  }
  if (progress) std::fprintf(stderr, "\r\033[K");
  if (!problem.empty()) return kvtool::fail(problem);
  std::printf("%s: %zu members extracted into %s\n", archive.c_str(), done, dir.c_str());
  return 0;
}

int run_extract(const kvtool::arguments& args) {
  if (args.size() == 2) return extract_all(args[0], args[1]);
  if (args.size() != 3) return kvtool::usage_error("extract");
  const std::string& member = args[1];
  opened_archive a;
  if (!open_archive(args[0], a)) return 1;
  const std::u16string name = kvtool::member_name(member);
  std::unique_ptr<ri_file> in(a.zip->open_file(name.c_str(), false));
  if (!in) {
    if (a.zip->error_code() == fs_error::end_of_file) return kvtool::fail(member + ": no such member in " + args[0]);
    return kvtool::fail(member + ": cannot open: " + kvtool::describe(a.zip->error()));
  }
  std::string problem;
  if (args[2] == "-") {
    problem = copy_member(*in, std::cout, member);
    if (problem == "write failed") problem = "standard output: write failed";
  } else {
    problem = write_member(*in, args[2], member);
  }
  if (!problem.empty()) return kvtool::fail(problem);
  return 0;
}

// Member name => file on disk, in the order they go into the archive.
bool collect(const kvtool::arguments& items, std::vector<std::pair<std::string, std::string>>& out) {
  std::map<std::string, std::string> seen;
  auto add = [&](std::string name, std::string path) {
    if (name.empty() || name.front() == '/') {
      kvtool::fail("'" + name + "': member names are relative paths");
      return false;
    }
    if (!seen.emplace(name, path).second) {
      kvtool::fail("'" + name + "' given twice (" + seen[name] + ", " + path + ")");
      return false;
    }
    out.emplace_back(std::move(name), std::move(path));
    return true;
  };
  for (const std::string& item : items) {
    const std::size_t eq = item.find('=');
    std::error_code ec;
    if (eq != std::string::npos && eq != 0) {
      if (!add(item.substr(0, eq), item.substr(eq + 1))) return false;
    } else if (fs::is_directory(item, ec)) {
      std::vector<std::pair<std::string, std::string>> found;
      for (auto it = fs::recursive_directory_iterator(item, ec); !ec && it != fs::recursive_directory_iterator();
           it.increment(ec))
        if (it->is_regular_file(ec))
          found.emplace_back(fs::relative(it->path(), item, ec).generic_string(), it->path().string());
      if (ec) return kvtool::fail(item + ": cannot list: " + ec.message()), false;
      std::sort(found.begin(), found.end());  // same tree, same archive
      for (auto& [name, path] : found)
        if (!add(name, path)) return false;
    } else if (fs::is_regular_file(item, ec)) {
      if (!add(fs::path(item).filename().string(), item)) return false;
    } else {
      return kvtool::fail(item + ": no such file or directory"), false;
    }
  }
  return true;
}

int run_build(const kvtool::arguments& args) {
  if (args.size() < 2) return kvtool::usage_error("build");
  const std::string& target = args[0];
  std::vector<std::pair<std::string, std::string>> members;
  if (!collect(kvtool::arguments(args.begin() + 1, args.end()), members)) return 1;
  if (members.empty()) return kvtool::fail("nothing to put into " + target);
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  if (!out) return kvtool::fail(target + ": cannot open for writing");
  zip_writer w(out);
  std::string problem;
  for (const auto& [name, path] : members) {
    std::string data;
    if (!read_whole(path, data)) {
      problem = path + ": cannot read";
      break;
    }
    if (!w.add(name, data, zip_writer::method::automatic)) {
      problem = target + ": " + w.error();
      break;
    }
  }
  if (problem.empty() && !w.finish()) problem = target + ": " + w.error();
  out.close();
  if (problem.empty() && !out) problem = target + ": write failed";
  if (!problem.empty()) {
    std::error_code ignored;
    fs::remove(target, ignored);
    return kvtool::fail(problem);
  }
  std::printf("%s: %zu members, %" PRIu64 " bytes\n", target.c_str(), members.size(), w.bytes_written());
  return 0;
}

int run_append(const kvtool::arguments& args) {
  if (args.size() != 2) return kvtool::usage_error("append");
  const std::string& program = args[0];
  const std::string& archive = args[1];
  {
    opened_archive check;
    if (!open_archive(archive, check)) return 1;
    if (check.zip->archive_offset() != 0)
      return kvtool::fail(archive + ": has data before the archive; append a plain ZIP file");
  }
  std::string bytes;
  if (!read_whole(archive, bytes)) return kvtool::fail(archive + ": cannot read");
  std::error_code ec;
  const std::uintmax_t before = fs::file_size(program, ec);
  if (ec) return kvtool::fail(program + ": " + ec.message());
  {
    std::ofstream out(program, std::ios::binary | std::ios::app);
    if (!out) return kvtool::fail(program + ": cannot open for writing");
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      fs::resize_file(program, before, ec);  // put the program back as it was
      return kvtool::fail(program + ": write failed");
    }
  }
  opened_archive result;
  if (!open_archive(program, result)) return 1;
  if (result.zip->archive_offset() != static_cast<std::int64_t>(before))
    return kvtool::fail(program + ": the appended archive is found at offset " +
                        std::to_string(result.zip->archive_offset()) + ", expected " + std::to_string(before));
  std::printf("%s: appended %zu bytes (%u members) at offset %ju\n", program.c_str(), bytes.size(),
              result.zip->entry_count(), before);
  return 0;
}

const bool registered = kvtool::add_command({"list", "ARCHIVE",
                                             "Lists the members of a ZIP archive, also one appended to a program.",
                                             run_list}) &&
                        kvtool::add_command({"extract", "ARCHIVE DIR | ARCHIVE MEMBER OUT",
                                             "Writes every member into folder DIR (made when missing), refusing\n"
                                             "the archive when a name would land outside it ('..', an absolute\n"
                                             "name, a drive letter); or one member to OUT ('-': standard output).\n"
                                             "CRCs are checked; a file is replaced only once its new contents are\n"
                                             "whole. MEMBER ignores ASCII case; '\\' stands for '/'.",
                                             run_extract}) &&
                        kvtool::add_command({"build", "OUT.zip ITEM...",
                                             "Writes a ZIP archive. An ITEM is NAME=PATH (member NAME from file PATH),\n"
                                             "a directory (its files, named by their paths inside it) or a file\n"
                                             "(named by its file name). Members are deflated unless that does not help.",
                                             run_build}) &&
                        kvtool::add_command({"append", "PROGRAM ZIP",
                                             "Appends the ZIP archive to the program file, where the program's\n"
                                             "archive reader finds it.",
                                             run_append});

}  // namespace
