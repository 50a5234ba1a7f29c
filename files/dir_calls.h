// What the NT and 9x directories share beneath their calls: making iterators
// (the search of every entry, of one name, of an identifier, of the directory
// itself), handing them over, making directory objects and the common course
// of an entry operation. Each twin supplies its calls: the text its paths are
// in, the path forms, the share test, the iterator classes and what a call
// runs under. Only the two directories' sources include this.
#pragma once

#include <new>
#include <string>

#include "files/path.h"
#include "files/security_info.h"
#include "files/win9x_dir.h"
#include "files/winnt_dir.h"

// Wide calls on "\\?\" long paths, under the network token where the path
// is a network one and with WOW64 redirection off.
struct winnt_dir::wide_calls {
  using dir = winnt_dir;
  using text = std::u16string;
  using iterator = winnt_dir::iterator;
  using share_iterator = winnt_dir::share_iterator;
  static constexpr bool volume_paths = true;

  static bool path(const dir& d, text& out, const char16_t* name) { return d.long_path(out, name); }
  static bool own_path(const dir& d, text& out) { return d.own_long_path(out); }
  static bool identifier_path(dir& d, const file_identifier* id, text& out) {
    const char16_t* name = d.id_name(id);
    return name && d.long_path(out, name);
  }
  static bool is_share(const text& p) { return is_share_root(p); }
  static void prepare(dir& d, const text& p) { d.prepare_path(p); }

  class scope {
   public:
    explicit scope(const text& p) : network_(is_unc_long_path(p)) {}

   private:
    NetworkImpersonationScope network_;
    fs_redirection_guard guard_;
  };
};

// The entry's ANSI name that the 9x iterators put into their identifiers.
inline const char* identifier_ansi(const file_identifier* id) {
  auto* t = dynamic_cast<const the_identifier*>(id);
  return t ? static_cast<const char*>(t->bytes()) : nullptr;
}

// ANSI calls on plain paths of at most 260 bytes, under the thread's own
// identity.
struct win9x_dir::ansi_calls {
  using dir = win9x_dir;
  using text = std::string;
  using iterator = win9x_dir::iterator;
  using share_iterator = win9x_dir::share_iterator;
  static constexpr bool volume_paths = false;

  static bool path(const dir& d, text& out, const char16_t* name) { return d.ansi_path(out, name); }
  static bool own_path(const dir& d, text& out) { return d.own_ansi_path(out); }
  // The entry's ANSI name from the identifier's bytes.
  static bool identifier_path(dir& d, const file_identifier* id, text& out) {
    const char* ansi = identifier_ansi(id);
    if (!ansi || !d.own_ansi_path(out)) return false;
    out += ansi;
    return out.size() < MAX_PATH;
  }
  static bool is_share(const text& p) {
    if (p.size() < 3 || p[0] != '\\' || p[1] != '\\') return false;
    const std::size_t first = p.find('\\', 2);
    return first != text::npos && p.find('\\', first + 1) == text::npos;
  }
  static void prepare(dir& d, const text& p) { d.prepare_path(p); }

  struct scope {
    explicit scope(const text&) {}
  };
};

// A one-entry iterator's error moves to the directory; an iterator that
// ended up in error is released.
inline i_dir::iterator* hand_over(win32_dir& dir, i_dir::iterator* it) {
  if (!it) {
    dir.raise(KV_SITE, fs_error::out_of_memory);
    return nullptr;
  }
  dir.set_error(it->take_error());
  if (dir.Bad()) {
    delete it;
    return nullptr;
  }
  return it;
}

template <class Calls>
i_dir::iterator* winnt_dir::search_all() {
  if (path_.empty()) {
    letter_iterator* it = letters();
    if (!it) {
      raise(KV_SITE, fs_error::out_of_memory);
      return nullptr;
    }
    it->next();
    clear_error();
    return it;
  }
  auto& self = static_cast<typename Calls::dir&>(*this);
  typename Calls::text pattern;
  if (!Calls::own_path(self, pattern)) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  pattern += '*';
  Calls::prepare(self, pattern);
  return hand_over_listing(new (std::nothrow) typename Calls::iterator(pattern));
}

template <class Calls>
i_dir::iterator* winnt_dir::search_name(const char16_t* name) {
  const bool root = path_.empty();
  if (!is_valid_file_name(name, root)) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  if (root) return letter_at(name[0]);
  typename Calls::text p;
  if (!Calls::path(static_cast<typename Calls::dir&>(*this), p, name)) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  return search_path<Calls>(p);
}

template <class Calls>
i_dir::iterator* winnt_dir::search_identifier(const file_identifier* id) {
  if (path_.empty()) {
    const char16_t* name = id_name(id);
    return name ? letter_at(name[0]) : nullptr;
  }
  typename Calls::text p;
  if (!Calls::identifier_path(static_cast<typename Calls::dir&>(*this), id, p)) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  return search_path<Calls>(p);
}

template <class Calls>
i_dir::iterator* winnt_dir::search_self() {
  if (path_.empty()) return new (std::nothrow) root_iterator();
  if (path_.size() == 3) return letter_at(path_[0]);
  if constexpr (Calls::volume_paths) {
    if (path_.compare(0, 4, u"\\\\?\\") == 0 && path_.find(u'\\', 4) == path_.size() - 1) return volume_self();
  }
  typename Calls::text p;
  if (!Calls::path(static_cast<typename Calls::dir&>(*this), p, u".")) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  return search_path<Calls>(p);
}

template <class Calls>
i_dir::iterator* winnt_dir::search_path(const typename Calls::text& path) {
  Calls::prepare(static_cast<typename Calls::dir&>(*this), path);
  i_dir::iterator* it;
  if (Calls::is_share(path))
    it = new (std::nothrow) typename Calls::share_iterator(path);
  else
    it = new (std::nothrow) typename Calls::iterator(path);
  return hand_over(*this, it);
}

template <class Calls>
win32_dir* winnt_dir::open_as(const char16_t* path) {
  std::u16string resolved;
  if (!resolve(resolved, path, false)) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  auto* d = new (std::nothrow) typename Calls::dir(std::move(resolved));
  if (!d) {
    raise(KV_SITE, fs_error::out_of_memory);
    return nullptr;
  }
  clear_error();
  return d;
}

template <class Calls, class Call>
bool winnt_dir::entry_call(std::uint64_t site, const char16_t* name, std::uint32_t bad_path_code,
                           std::uint32_t failure_code, const char* function, Call call) {
  auto& self = static_cast<typename Calls::dir&>(*this);
  typename Calls::text p;
  if (!Calls::path(self, p, name)) {
    raise(site, bad_path_code);
    return false;
  }
  Calls::prepare(self, p);
  BOOL ok;
  {
    typename Calls::scope scope(p);
    ok = call(p.c_str());
  }
  if (!ok) {
    set_error(win32_file_error(site, failure_code, function, p.c_str()));
    return false;
  }
  clear_error();
  return true;
}
