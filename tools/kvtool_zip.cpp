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
                kvtool::member_bytes(it->name()).c_str());
  }
  std::printf("%12" PRIu64 " %12" PRIu64 "  total\n", total, stored);
  return 0;
}

int run_extract(const kvtool::arguments& args) {
  if (args.size() != 2 && args.size() != 3) return kvtool::usage_error("extract");
  const std::string& member = args[1];
  opened_archive a;
  if (!open_archive(args[0], a)) return 1;
  const std::u16string name = kvtool::member_name(member);
  std::unique_ptr<ri_file> in(a.zip->open_file(name.c_str(), false));
  if (!in) {
    if (a.zip->error_code() == fs_error::end_of_file) return kvtool::fail(member + ": no such member in " + args[0]);
    return kvtool::fail(member + ": cannot open: " + kvtool::describe(a.zip->error()));
  }
  const bool to_stdout = args.size() == 2 || args[2] == "-";
  std::ofstream file;
  if (!to_stdout) {
    file.open(args[2], std::ios::binary | std::ios::trunc);
    if (!file) return kvtool::fail(args[2] + ": cannot open for writing");
  }
  std::ostream& out = to_stdout ? std::cout : file;
  std::vector<char> buffer(1 << 20);
  for (;;) {
    std::uint32_t n = 0;
    in->read(buffer.data(), static_cast<std::uint32_t>(buffer.size()), n);
    if (n == 0) break;
    out.write(buffer.data(), n);
  }
  out.flush();
  std::string problem;
  if (in->Bad()) problem = member + ": " + kvtool::describe(in->error());
  else if (!out) problem = (to_stdout ? std::string("standard output") : args[2]) + ": write failed";
  if (!problem.empty()) {
    if (!to_stdout) {
      file.close();
      std::error_code ignored;
      fs::remove(args[2], ignored);  // leave no half-written member behind
    }
    return kvtool::fail(problem);
  }
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
                        kvtool::add_command({"extract", "ARCHIVE MEMBER [OUT]",
                                             "Writes a member to OUT (standard output when OUT is absent or '-'),\n"
                                             "checking its CRC. MEMBER ignores ASCII case; '\\' stands for '/'.",
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
