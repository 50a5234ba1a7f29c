#include "platform/msi/child_refs.h"

#include <dlfcn.h>

#include <glib-object.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// libgsf's few entry points used here, found at run time: its headers are not
// installed and the engine links it for us.
using ChildByIndex = GObject* (*)(GObject* infile, int i);
using InputName = const char* (*)(GObject* input);
using NumChildren = int (*)(GObject* infile);
using GetType = GType (*)();

struct Gsf {
  ChildByIndex childByIndex = nullptr;
  InputName name = nullptr;
  NumChildren numChildren = nullptr;
  GetType infileType = nullptr;
};

const Gsf& gsf() {
  static const Gsf g = [] {
    Gsf r;
    r.childByIndex = reinterpret_cast<ChildByIndex>(dlsym(RTLD_NEXT, "gsf_infile_child_by_index"));
    r.name = reinterpret_cast<InputName>(dlsym(RTLD_DEFAULT, "gsf_input_name"));
    r.numChildren = reinterpret_cast<NumChildren>(dlsym(RTLD_DEFAULT, "gsf_infile_num_children"));
    r.infileType = reinterpret_cast<GetType>(dlsym(RTLD_DEFAULT, "gsf_infile_get_type"));
    return r;
  }();
  return g;
}

struct Noted {
  std::vector<GObject*> alive;
};
thread_local Noted* tNoted = nullptr;

void gone(gpointer data, GObject* object) {
  auto* noted = static_cast<Noted*>(data);
  noted->alive.erase(std::remove(noted->alive.begin(), noted->alive.end(), object), noted->alive.end());
}

// The children the engine's structure cache drops on the floor: table streams
// (names starting with U+4840) and storages. Other streams it keeps itself.
bool forgotten(GObject* child) {
  const Gsf& g = gsf();
  if (!g.name || !g.numChildren || !g.infileType) return false;
  if (G_TYPE_CHECK_INSTANCE_TYPE(child, g.infileType()) && g.numChildren(child) != -1) return true;
  const char* name = g.name(child);
  return name && static_cast<unsigned char>(name[0]) == 0xe4 && static_cast<unsigned char>(name[1]) == 0xa1 &&
         static_cast<unsigned char>(name[2]) == 0x80;
}

}  // namespace

// Takes the place of libgsf's function for the engine's calls.
extern "C" __attribute__((visibility("default"))) GObject* gsf_infile_child_by_index(GObject* infile, int i) {
  ChildByIndex real = gsf().childByIndex;
  if (!real) return nullptr;
  GObject* child = real(infile, i);
  if (child && tNoted) {
    tNoted->alive.push_back(child);
    g_object_weak_ref(child, gone, tNoted);
  }
  return child;
}

namespace msi_layer {

ForgottenChildren::ForgottenChildren() : outer_(nullptr) {
  // Only the release known to forget them: another might keep these references
  // for itself.
  static const bool known = std::strcmp(KV_LIBMSI_VERSION, "0.101") == 0;
  // Guards do not nest: the outermost one collects.
  if (known && !tNoted) {
    tNoted = new Noted;
    outer_ = this;
  }
}

ForgottenChildren::~ForgottenChildren() {
  if (outer_ != this) return;
  Noted* noted = tNoted;
  tNoted = nullptr;
  std::vector<GObject*> alive = noted->alive;
  std::sort(alive.begin(), alive.end());
  alive.erase(std::unique(alive.begin(), alive.end()), alive.end());
  for (GObject* child : noted->alive) g_object_weak_unref(child, gone, noted);
  for (GObject* child : alive)
    if (child->ref_count == 1 && forgotten(child)) g_object_unref(child);
  delete noted;
}

}  // namespace msi_layer
