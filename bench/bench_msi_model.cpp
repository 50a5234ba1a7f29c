// The installer object model against a raw libmsi program doing the same
// queries, and against `msiinfo export`.
//
//   read:   open read-only, read the installation tree, load Property and File,
//           1,000 property look-ups
//   change: open transacted, 10,000 property values changed, commit
//   linear: change + commit of N rows for growing N, and the model's own save of
//           N changed objects into the table cache (time per row should stay flat)
//   import: on packages of 5,000 Property rows and 10,000 / 50,000 File rows,
//           1,000 property look-ups + 1,000 changed rows committed through the
//           model (which never asks for the installation tree, so never reads
//           it), against `msibuild -i` importing the same 1,000 changed rows;
//           the sides alternate, each run on a fresh copy (copy not timed).
//           Goal: the model within 1.5x of msibuild.
//   `read`: the read side alone, model and raw libmsi alternating run by run.
//
// Every measured run is a whole child process (this program re-run in a worker
// mode), so the figures include start-up and clean-up on both sides, and the
// peak memory is the child's maximum resident set.
// Goal: the model within 1.5x of raw libmsi; saving N rows grows linearly.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <unordered_map>
#include <vector>

#include <libmsi.h>

#include "bench/bench_util.h"
#include "msi/entities/property.h"
#include "msi/model/package.h"

namespace {

constexpr int kLookups = 1000;
constexpr int kRuns = 5;

std::string propertyName(int i) {
  char b[32];
  std::snprintf(b, sizeof b, "P%06d", i);
  return b;
}

std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// --- worker modes (run in the child) -------------------------------------------

int modelRead(const char* path, int rows) {
  auto package = Msi::MsiPackage::open(u"Z:" + wide(path), true);
  // The installation tree is read on first use: ask for it, as a reader of the tree would.
  std::size_t tree = package->featureKeys().size();
  Msi::MsiTable& files = package->database()->table(u"File");
  files.load();
  std::size_t total = files.rowCount() + tree;
  for (int k = 0; k < kLookups; ++k) {
    Msi::IMsiProperty* p = package->property(wide(propertyName(static_cast<int>((k * 7919L) % rows))), false);
    total += p ? p->value().size() : 0;
  }
  return total > 0 ? 0 : 1;
}

void fetchAll(LibmsiDatabase* db, const char* sql, std::vector<std::vector<std::string>>& rows) {
  GError* err = nullptr;
  LibmsiQuery* q = libmsi_query_new(db, sql, &err);
  if (!q) std::exit(3);
  libmsi_query_execute(q, nullptr, &err);
  while (LibmsiRecord* rec = libmsi_query_fetch(q, &err)) {
    guint n = libmsi_record_get_field_count(rec);
    std::vector<std::string> row(n);
    for (guint f = 1; f <= n; ++f) {
      if (libmsi_record_is_null(rec, f)) continue;
      gchar* s = libmsi_record_get_string(rec, f);
      row[f - 1] = s ? s : "";
      g_free(s);
    }
    rows.push_back(std::move(row));
    g_object_unref(rec);
  }
  if (err) g_clear_error(&err);
  libmsi_query_close(q, nullptr);
  g_object_unref(q);
}

int rawRead(const char* path, int rows) {
  GError* err = nullptr;
  LibmsiDatabase* db = libmsi_database_new(path, LIBMSI_DB_FLAGS_READONLY, nullptr, &err);
  if (!db) return 3;
  std::vector<std::vector<std::string>> properties, files;
  fetchAll(db, "SELECT `Property`,`Value` FROM `Property`", properties);
  std::unordered_map<std::string, std::string> byName;
  for (auto& r : properties) byName.emplace(r[0], r[1]);
  fetchAll(db,
           "SELECT `File`,`Component_`,`FileName`,`FileSize`,`Attributes`,`Sequence`,`Version`,`Language` FROM "
           "`File`",
           files);
  std::size_t total = files.size();
  for (int k = 0; k < kLookups; ++k) {
    auto it = byName.find(propertyName(static_cast<int>((k * 7919L) % rows)));
    total += it == byName.end() ? 0 : it->second.size();
  }
  g_object_unref(db);
  return total > 0 ? 0 : 1;
}

int modelChange(const char* path, int count) {
  auto package = Msi::MsiPackage::open(u"Z:" + wide(path), false);
  for (int i = 0; i < count; ++i)
    package->property(wide(propertyName(i)), false)->setValue(wide("Changed " + std::to_string(i)));
  package->commit();
  return 0;
}

// 1,000 look-ups spread over the table, then the first `count` rows changed.
int modelLookupChange(const char* path, int count) {
  auto package = Msi::MsiPackage::open(u"Z:" + wide(path), false);
  std::size_t total = 0;
  for (int k = 0; k < kLookups; ++k) {
    Msi::IMsiProperty* p = package->property(wide(propertyName(static_cast<int>((k * 7919L) % 5000))), false);
    total += p ? p->value().size() : 0;
  }
  for (int i = 0; i < count; ++i)
    package->property(wide(propertyName(i)), false)->setValue(wide("Changed " + std::to_string(i)));
  package->commit();
  return total > 0 ? 0 : 1;
}

int rawChange(const char* path, int count) {
  GError* err = nullptr;
  LibmsiDatabase* db = libmsi_database_new(path, LIBMSI_DB_FLAGS_TRANSACT, nullptr, &err);
  if (!db) return 3;
  std::vector<std::vector<std::string>> properties;
  fetchAll(db, "SELECT `Property`,`Value` FROM `Property`", properties);  // the model reads them at open too
  for (int i = 0; i < count; ++i) {
    LibmsiQuery* q = libmsi_query_new(db, "UPDATE `Property` SET `Value` = ? WHERE `Property` = ?", &err);
    if (!q) return 4;
    LibmsiRecord* rec = libmsi_record_new(2);
    libmsi_record_set_string(rec, 1, ("Changed " + std::to_string(i)).c_str());
    libmsi_record_set_string(rec, 2, propertyName(i).c_str());
    if (!libmsi_query_execute(q, rec, &err)) return 5;
    libmsi_query_close(q, nullptr);
    g_object_unref(rec);
    g_object_unref(q);
  }
  if (!libmsi_database_commit(db, &err)) return 6;
  g_object_unref(db);
  return 0;
}

// --- driver ------------------------------------------------------------------

using Figure = bench::child_figure;

std::string which(const char* program) {
  for (const char* dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
    std::string p = std::string(dir) + program;
    if (::access(p.c_str(), X_OK) == 0) return p;
  }
  return program;
}

// Median time and largest peak over kRuns runs; `before` runs untimed first.
template <class Before>
Figure median(const std::vector<std::vector<std::string>>& commands, Before before) {
  std::vector<double> times;
  long peak = 0;
  for (int r = 0; r < kRuns; ++r) {
    before();
    double t = 0;
    for (const auto& c : commands) {
      Figure f = bench::run_forked(c);
      t += f.seconds;
      peak = std::max(peak, f.peakKb);
    }
    times.push_back(t);
  }
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], peak};
}
Figure median(const std::vector<std::vector<std::string>>& commands) {
  return median(commands, [] {});
}

void buildPackage(const std::string& path, const std::string& folder, int rows, int propertyRows = 0) {
  std::ofstream prop(folder + "/Property.idt");
  prop << "Property\tValue\ns72\tl0\nProperty\tProperty\n";
  for (int i = 0; i < (propertyRows ? propertyRows : rows); ++i) prop << propertyName(i) << "\tValue number " << i << "\n";
  prop.close();
  std::ofstream file(folder + "/File.idt");
  file << "File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence\n"
          "s72\ts72\tl255\ti4\tS72\tS20\tI2\ti4\nFile\tFile\n";
  for (int i = 0; i < rows; ++i)
    file << "F" << i << "\tC" << i % 100 << "\tF" << i << ".TXT|file number " << i << ".txt\t" << i * 10 << "\t1.0."
         << i % 50 << "\t1033\t512\t" << i + 1 << "\n";
  file.close();
  // msibuild takes one option per run.
  for (std::string option : {std::string("-s 'Bench Product' 'Korvane' 'Intel;1033' "
                                          "'{12345678-1234-1234-1234-123456789ABC}'"),
                             "-i '" + folder + "/Property.idt'", "-i '" + folder + "/File.idt'"}) {
    std::string cmd = "msibuild '" + path + "' " + option + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) {
      std::fprintf(stderr, "msibuild failed: %s\n", cmd.c_str());
      std::exit(1);
    }
  }
}

void copyFile(const std::string& from, const std::string& to) {
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

// The change side against msibuild importing the same changed rows, the two
// sides alternating run by run, each on a fresh copy of the package.
int importSide(const std::string& self, const std::string& dir) {
  const std::string msibuild = which("msibuild");
  const int changed = 1000;
  std::filesystem::create_directories(dir + "/changed");
  std::ofstream idt(dir + "/changed/Property.idt");
  idt << "Property\tValue\ns72\tl0\nProperty\tProperty\n";
  for (int i = 0; i < changed; ++i) idt << propertyName(i) << "\tChanged " << i << "\n";
  idt.close();
  std::printf("import: %d look-ups + %d changed rows committed, model vs msibuild -i (median of %d, alternating)\n",
              kLookups, changed, 2 * kRuns);
  std::printf("%-8s %12s %12s %8s %10s %10s\n", "files", "model ms", "msibuild ms", "ratio", "model MB", "msibuild MB");
  for (int files : {10000, 50000}) {
    std::string pkg = dir + "/a" + std::to_string(files) + ".msi";
    buildPackage(pkg, dir, files, 5000);
    std::string work = dir + "/work.msi";
    std::vector<double> model, raw;
    long modelPeak = 0, rawPeak = 0;
    for (int r = 0; r < 2 * kRuns; ++r) {
      bool modelFirst = r % 2 == 0;
      for (int side = 0; side < 2; ++side) {
        copyFile(pkg, work);
        bool isModel = (side == 0) == modelFirst;
        Figure f = isModel ? bench::run_forked({self, "model-lookup-change", work, std::to_string(changed)})
                           : bench::run_forked({msibuild, work, "-i", dir + "/changed/Property.idt"});
        (isModel ? model : raw).push_back(f.seconds);
        long& peak = isModel ? modelPeak : rawPeak;
        peak = std::max(peak, f.peakKb);
      }
    }
    std::sort(model.begin(), model.end());
    std::sort(raw.begin(), raw.end());
    double m = model[model.size() / 2], w = raw[raw.size() / 2];
    std::printf("%-8d %12.1f %12.1f %8.2f %10.1f %10.1f\n", files, m * 1e3, w * 1e3, m / w, modelPeak / 1024.0,
                rawPeak / 1024.0);
  }
  return 0;
}

// The read side alone, the model and raw libmsi alternating run by run on the
// same package (the tree, Property and File read, 1,000 look-ups).
int readSide(const std::string& self, const std::string& dir) {
  std::printf("read: open read-only, the tree, Property and File, %d look-ups, model vs raw libmsi (median of %d, "
              "alternating)\n",
              kLookups, 2 * kRuns);
  std::printf("%-8s %12s %12s %8s %10s %10s %8s\n", "rows", "model ms", "raw ms", "ratio", "model MB", "raw MB",
              "MB ratio");
  for (int rows : {10000, 50000}) {
    std::string pkg = dir + "/r" + std::to_string(rows) + ".msi";
    buildPackage(pkg, dir, rows);
    std::string n = std::to_string(rows);
    std::vector<double> model, raw;
    long modelPeak = 0, rawPeak = 0;
    for (int r = 0; r < 2 * kRuns; ++r) {
      bool modelFirst = r % 2 == 0;
      for (int side = 0; side < 2; ++side) {
        bool isModel = (side == 0) == modelFirst;
        Figure f = bench::run_forked({self, isModel ? "model-read" : "raw-read", pkg, n});
        (isModel ? model : raw).push_back(f.seconds);
        long& peak = isModel ? modelPeak : rawPeak;
        peak = std::max(peak, f.peakKb);
      }
    }
    std::sort(model.begin(), model.end());
    std::sort(raw.begin(), raw.end());
    double m = model[model.size() / 2], w = raw[raw.size() / 2];
    std::printf("%-8d %12.1f %12.1f %8.2f %10.1f %10.1f %8.2f\n", rows, m * 1e3, w * 1e3, m / w, modelPeak / 1024.0,
                rawPeak / 1024.0, static_cast<double>(modelPeak) / static_cast<double>(rawPeak));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4) {
    std::string mode = argv[1];
    int n = std::atoi(argv[3]);
    if (mode == "model-read") return modelRead(argv[2], n);
    if (mode == "raw-read") return rawRead(argv[2], n);
    if (mode == "model-change") return modelChange(argv[2], n);
    if (mode == "raw-change") return rawChange(argv[2], n);
    if (mode == "model-lookup-change") return modelLookupChange(argv[2], n);
    return 2;
  }
  bench::temp_folder tmp("bench-msi-");
  if (tmp.path.empty()) return 1;
  const std::string dir = tmp.path.string();
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string msiinfo = which("msiinfo");

  if (argc == 2 && std::string(argv[1]) == "import") return importSide(self, dir);
  if (argc == 2 && std::string(argv[1]) == "read") return readSide(self, dir);
  std::printf("read: open read-only, load Property and File, %d look-ups (median of %d processes)\n", kLookups, kRuns);
  std::printf("%-8s %12s %12s %12s %8s %8s %10s %10s %10s\n", "rows", "model ms", "raw ms", "msiinfo ms",
              "/raw", "/msiinfo", "model MB", "raw MB", "msiinfo MB");
  for (int rows : {10000, 50000}) {
    std::string pkg = dir + "/p" + std::to_string(rows) + ".msi";
    buildPackage(pkg, dir, rows);
    std::string n = std::to_string(rows);
    Figure model = median({{self, "model-read", pkg, n}});
    Figure raw = median({{self, "raw-read", pkg, n}});
    Figure info = median({{msiinfo, "export", pkg, "Property"}, {msiinfo, "export", pkg, "File"}});
    std::printf("%-8d %12.1f %12.1f %12.1f %8.2f %8.2f %10.1f %10.1f %10.1f\n", rows, model.seconds * 1e3,
                raw.seconds * 1e3, info.seconds * 1e3, model.seconds / raw.seconds, model.seconds / info.seconds,
                model.peakKb / 1024.0, raw.peakKb / 1024.0, info.peakKb / 1024.0);
  }

  std::printf("\nchange: open transacted, change N property values, commit (package of 50,000 rows)\n");
  std::printf("%-8s %12s %12s %8s %12s %10s %10s\n", "N", "model ms", "raw ms", "/raw", "+us/row", "model MB",
              "raw MB");
  Figure previous;
  int previousCount = 0;
  std::string base = dir + "/p50000.msi";
  std::string work = dir + "/work.msi";
  for (int count : {2500, 5000, 10000, 20000}) {
    std::string n = std::to_string(count);
    Figure model = median({{self, "model-change", work, n}}, [&] { copyFile(base, work); });
    Figure raw = median({{self, "raw-change", work, n}}, [&] { copyFile(base, work); });
    double marginal = previous.seconds > 0 ? (model.seconds - previous.seconds) * 1e6 / (count - previousCount) : 0;
    std::printf("%-8d %12.1f %12.1f %8.2f %12.1f %10.1f %10.1f\n", count, model.seconds * 1e3, raw.seconds * 1e3,
                model.seconds / raw.seconds, marginal, model.peakKb / 1024.0, raw.peakKb / 1024.0);
    previous = model;
    previousCount = count;
  }

  // The part the model adds on top of the engine: merging each saved object's
  // row into the cached table (by its key, not by a pass over the cache).
  std::printf("\nsave: N changed properties saved into the table cache, in process (package of 50,000 rows)\n");
  std::printf("%-8s %12s %12s\n", "N", "save ms", "us/row");
  copyFile(base, work);
  for (int count : {5000, 10000, 20000, 40000}) {
    auto package = Msi::MsiPackage::open(u"Z:" + wide(work), false);
    for (int i = 0; i < count; ++i) package->property(wide(propertyName(i)), false)->setValue(u"Changed");
    double t = bench::best_of(1, [&] { package->save(0); });
    std::printf("%-8d %12.1f %12.2f\n", count, t * 1e3, t * 1e6 / count);
  }
  return 0;
}
