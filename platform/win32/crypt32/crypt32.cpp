#include "platform/win32/crypt32/crypt32.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/win32/kernel32/paths.h"

#define ERROR_FILE_NOT_FOUND_ 2
#define ERROR_ACCESS_DENIED_ 5
#define ERROR_INVALID_PARAMETER_ 87
#define ERROR_INVALID_PASSWORD_ 86
#define ERROR_NOT_SUPPORTED_ 50

namespace {

struct Store;

// One certificate. Contexts of a store belong to it and live as long as the
// store does; external references keep the store alive.
struct Context : CERT_CONTEXT {
  std::vector<BYTE> der;
  X509* x509 = nullptr;
  EVP_PKEY* key = nullptr;
  BYTE sha1[20] = {};
  Store* owner = nullptr;
  std::string file;  // the folder file it came from
  bool removed = false;
  std::atomic<long> refs{0};
  ~Context() {
    X509_free(x509);
    EVP_PKEY_free(key);
  }
};

struct Store {
  std::atomic<long> refs{1};
  std::mutex lock;
  std::vector<Context*> all;  // every context ever held, removed ones included
  std::string folder;         // empty: memory only
  bool readOnly = false;
  bool hasLocalizedName = false;
  std::u16string localizedName;
  ~Store() {
    for (Context* c : all) delete c;
  }
};

void release(Store* s) {
  if (s && --s->refs == 0) delete s;
}

Context* makeContext(X509* x) {
  int n = i2d_X509(x, nullptr);
  if (n <= 0) return nullptr;
  auto* c = new Context;
  c->der.resize(static_cast<std::size_t>(n));
  unsigned char* p = c->der.data();
  i2d_X509(x, &p);
  c->x509 = x;
  c->dwCertEncodingType = X509_ASN_ENCODING;
  c->pbCertEncoded = c->der.data();
  c->cbCertEncoded = static_cast<DWORD>(n);
  c->pCertInfo = nullptr;
  c->hCertStore = nullptr;
  unsigned int len = 0;
  X509_digest(x, EVP_sha1(), c->sha1, &len);
  return c;
}

Context* contextFromDer(const BYTE* der, DWORD size) {
  const unsigned char* p = der;
  X509* x = d2i_X509(nullptr, &p, size);
  if (!x) return nullptr;
  if (p != der + size) {  // trailing bytes: not one certificate
    X509_free(x);
    return nullptr;
  }
  Context* c = makeContext(x);
  if (!c) X509_free(x);
  return c;
}

// Hands out one external reference (the caller frees it).
PCCERT_CONTEXT handOut(Context* c) {
  ++c->refs;
  if (c->owner) ++c->owner->refs;
  return c;
}

Context* find(Store* s, const BYTE* sha1) {
  for (Context* c : s->all)
    if (!c->removed && std::memcmp(c->sha1, sha1, 20) == 0) return c;
  return nullptr;
}

// Adds without writing through; takes ownership of `c`.
void adopt(Store* s, Context* c) {
  c->owner = s;
  c->hCertStore = s;
  s->all.push_back(c);
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// DER certificate, DER PKCS #7, or (when `pem`) PEM certificates.
std::vector<X509*> parseCertificates(const std::string& bytes, bool pem) {
  std::vector<X509*> out;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* q = p;
  if (X509* x = d2i_X509(nullptr, &q, static_cast<long>(bytes.size()))) {
    out.push_back(x);
    return out;
  }
  q = p;
  if (PKCS7* p7 = d2i_PKCS7(nullptr, &q, static_cast<long>(bytes.size()))) {
    STACK_OF(X509)* certs = nullptr;
    if (PKCS7_type_is_signed(p7) && p7->d.sign) certs = p7->d.sign->cert;
    for (int i = 0; certs && i < sk_X509_num(certs); ++i) {
      X509* x = sk_X509_value(certs, i);
      X509_up_ref(x);
      out.push_back(x);
    }
    PKCS7_free(p7);
    return out;
  }
  ERR_clear_error();
  if (!pem) return out;
  BIO* bio = BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()));
  while (X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) out.push_back(x);
  BIO_free(bio);
  ERR_clear_error();
  return out;
}

std::string rootFolder() {
  const char* env = std::getenv("KV_CERT_ROOT");
  return env && *env ? env : "/etc/ssl/certs";
}

// PEM files as a folder of them holds them: the same certificate under its
// name, its hash link and in a bundle of all. A file reached before (a link)
// and a PEM block met before are not decoded again.
std::vector<X509*> parseFolderFile(const std::string& bytes, std::unordered_set<std::string>& blocks) {
  if (!bytes.empty() && bytes[0] == 0x30) return parseCertificates(bytes, true);  // DER
  std::vector<X509*> out;
  for (std::size_t at = bytes.find("-----BEGIN "); at != std::string::npos;) {
    std::size_t end = bytes.find("-----END ", at);
    if (end == std::string::npos) end = bytes.size();
    end = bytes.find('\n', end);
    end = end == std::string::npos ? bytes.size() : end + 1;
    std::string block = bytes.substr(at, end - at);
    if (blocks.insert(block).second) {
      BIO* bio = BIO_new_mem_buf(block.data(), static_cast<int>(block.size()));
      while (X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) out.push_back(x);
      BIO_free(bio);
    }
    at = bytes.find("-----BEGIN ", end);
  }
  ERR_clear_error();
  return out;
}

void loadFolder(Store* s) {
  std::error_code ec;
  std::vector<std::filesystem::path> files;
  for (auto it = std::filesystem::directory_iterator(s->folder, ec); !ec && it != std::filesystem::directory_iterator();
       it.increment(ec))
    if (it->is_regular_file(ec)) files.push_back(it->path());
  std::sort(files.begin(), files.end());
  std::set<std::pair<dev_t, ino_t>> seenFiles;
  std::unordered_set<std::string> seenBlocks;
  for (const auto& f : files) {
    struct stat st {};
    if (::stat(f.c_str(), &st) == 0 && !seenFiles.insert({st.st_dev, st.st_ino}).second) continue;
    std::vector<X509*> certs = parseFolderFile(readAll(f.string()), seenBlocks);
    for (X509* x : certs) {
      Context* c = makeContext(x);
      if (!c) {
        X509_free(x);
        continue;
      }
      if (find(s, c->sha1)) {  // hash links name the same file twice
        delete c;
        continue;
      }
      c->file = certs.size() == 1 ? f.string() : std::string();
      adopt(s, c);
    }
  }
}

std::u16string upper(const char16_t* s) {
  std::u16string out;
  for (; s && *s; ++s) out.push_back(*s >= u'a' && *s <= u'z' ? *s - 32 : *s);
  return out;
}

std::string narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out.push_back(c < 128 ? static_cast<char>(c) : '_');
  return out;
}

std::u16string localizedNameOf(const std::u16string& name) {
  if (name == u"ROOT") return u"Trusted Root Certification Authorities";
  if (name == u"MY") return u"Personal";
  if (name == u"CA") return u"Intermediate Certification Authorities";
  if (name == u"TRUST") return u"Enterprise Trust";
  return name;
}

Store* openSystem(DWORD flags, const char16_t* name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER_);
    return nullptr;
  }
  DWORD location = flags & CERT_SYSTEM_STORE_LOCATION_MASK;
  std::u16string upperName = upper(name);
  std::string folder;
  if (upperName == u"ROOT") {
    folder = rootFolder();
  } else {
    char loc[16];
    std::snprintf(loc, sizeof loc, "%05X", static_cast<unsigned>(location));
    folder = win32::world_root() + "/certstores/" + loc + "/" + narrow(upperName);
  }
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    if (flags & CERT_STORE_OPEN_EXISTING_FLAG || flags & CERT_STORE_READONLY_FLAG ||
        !std::filesystem::create_directories(folder, ec)) {
      SetLastError(ERROR_FILE_NOT_FOUND_);
      return nullptr;
    }
  }
  auto* s = new Store;
  s->folder = folder;
  s->readOnly = (flags & CERT_STORE_READONLY_FLAG) != 0;
  if (flags & CERT_STORE_SET_LOCALIZED_NAME_FLAG) {
    s->hasLocalizedName = true;
    s->localizedName = localizedNameOf(upperName);
  }
  loadFolder(s);
  return s;
}

Store* openFile(DWORD flags, const char16_t* path) {
  std::string unix = path ? win32::to_unix_path(path) : std::string();
  std::error_code ec;
  if (unix.empty() || !std::filesystem::is_regular_file(unix, ec)) {
    SetLastError(ERROR_FILE_NOT_FOUND_);
    return nullptr;
  }
  std::vector<X509*> certs = parseCertificates(readAll(unix), false);
  if (certs.empty()) {
    SetLastError(CRYPT_E_ASN1_BADTAG);
    return nullptr;
  }
  auto* s = new Store;
  s->readOnly = (flags & CERT_STORE_READONLY_FLAG) != 0;
  for (X509* x : certs) {
    Context* c = makeContext(x);
    if (c)
      adopt(s, c);
    else
      X509_free(x);
  }
  return s;
}

std::string hexOf(const BYTE* b) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (int i = 0; i < 20; ++i) {
    s.push_back(digits[b[i] >> 4]);
    s.push_back(digits[b[i] & 15]);
  }
  return s;
}

bool writeThrough(Store* s, Context* c) {
  if (s->folder.empty()) return true;
  std::string path = s->folder + "/" + hexOf(c->sha1) + ".cer";
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(c->der.data()), static_cast<std::streamsize>(c->der.size()));
  if (!out) return false;
  c->file = path;
  return true;
}

std::string utf8Entry(X509_NAME* name, int nid) {
  int i = X509_NAME_get_index_by_NID(name, nid, -1);
  if (i < 0) return {};
  unsigned char* utf8 = nullptr;
  int n = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, i)));
  if (n < 0) return {};
  std::string s(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(n));
  OPENSSL_free(utf8);
  return s;
}

std::u16string fromUtf8(const std::string& s) {
  std::u16string out;
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
    ++i;
    for (int k = 0; k < extra && i < s.size(); ++k, ++i) cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

// "C=DE, O=Example, CN=host": the name's attributes in their encoded order.
std::u16string x500Text(X509_NAME* name) {
  std::string out;
  for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
    X509_NAME_ENTRY* e = X509_NAME_get_entry(name, i);
    int nid = OBJ_obj2nid(X509_NAME_ENTRY_get_object(e));
    const char* key = nid == NID_pkcs9_emailAddress ? "E" : OBJ_nid2sn(nid);
    unsigned char* utf8 = nullptr;
    int n = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(e));
    if (!out.empty()) out += ", ";
    out += key ? key : "OID";
    out += "=";
    if (n > 0) out.append(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(n));
    OPENSSL_free(utf8);
  }
  return fromUtf8(out);
}

// ---- The ROOT folder as a trust store, decoded as it is used. Decoding a
// certificate (its key above all) is what costs; a verification needs only
// the few roots that issued what it checks. Each root's subject is read when
// the folder is; the certificate itself when a verification asks for it.

struct LazyRoot {
  X509_NAME* subject = nullptr;
  std::string der;
  X509* decoded = nullptr;
};

struct LazyRoots {
  std::mutex lock;
  std::vector<LazyRoot> roots;
  ~LazyRoots() {
    for (LazyRoot& r : roots) {
      X509_NAME_free(r.subject);
      X509_free(r.decoded);
    }
  }
};

// One DER element at p: its tag, header and content lengths; false when it
// does not fit before e.
bool derElement(const unsigned char* p, const unsigned char* e, unsigned char& tag, std::size_t& header,
                std::size_t& length) {
  if (e - p < 2) return false;
  tag = p[0];
  std::size_t n = p[1];
  header = 2;
  if (n & 0x80) {
    std::size_t k = n & 0x7F;
    if (k == 0 || k > 4 || static_cast<std::size_t>(e - p) < 2 + k) return false;
    n = 0;
    for (std::size_t i = 0; i < k; ++i) n = n << 8 | p[2 + i];
    header += k;
  }
  if (n > static_cast<std::size_t>(e - p) - header) return false;
  length = n;
  return true;
}

// The certificate's own element (without what may follow it) and its
// subject's element, found without decoding the certificate.
bool certificateSubject(const std::string& der, std::size_t& certificateSize, const unsigned char*& subject,
                        std::size_t& subjectSize) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  const unsigned char* e = p + der.size();
  unsigned char tag;
  std::size_t header, length;
  if (!derElement(p, e, tag, header, length) || tag != 0x30) return false;
  certificateSize = header + length;
  e = p + certificateSize;
  p += header;
  if (!derElement(p, e, tag, header, length) || tag != 0x30) return false;  // to-be-signed part
  e = p + header + length;
  p += header;
  // version (optional), serial number, signature algorithm, issuer, validity, subject
  static const unsigned char expected[] = {0x02, 0x30, 0x30, 0x30};
  if (!derElement(p, e, tag, header, length)) return false;
  if (tag == 0xA0) {
    p += header + length;
    if (!derElement(p, e, tag, header, length)) return false;
  }
  for (unsigned char want : expected) {
    if (tag != want) return false;
    p += header + length;
    if (!derElement(p, e, tag, header, length)) return false;
  }
  if (tag != 0x30) return false;
  subject = p;
  subjectSize = header + length;
  return true;
}

// Every certificate of the folder's files as DER, each once.
std::vector<std::string> folderCertificates(const std::string& folder) {
  std::error_code ec;
  std::vector<std::filesystem::path> files;
  for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
       it.increment(ec))
    if (it->is_regular_file(ec)) files.push_back(it->path());
  std::sort(files.begin(), files.end());
  std::set<std::pair<dev_t, ino_t>> seenFiles;
  std::vector<std::string> out;
  auto addDecoded = [&](X509* x) {
    int n = i2d_X509(x, nullptr);
    if (n > 0) {
      std::string der(static_cast<std::size_t>(n), '\0');
      auto* q = reinterpret_cast<unsigned char*>(der.data());
      i2d_X509(x, &q);
      out.push_back(std::move(der));
    }
    X509_free(x);
  };
  for (const auto& f : files) {
    struct stat st {};
    if (::stat(f.c_str(), &st) == 0 && !seenFiles.insert({st.st_dev, st.st_ino}).second) continue;
    const std::string bytes = readAll(f.string());
    if (!bytes.empty() && bytes[0] == 0x30) {  // DER: one certificate, or PKCS #7
      std::size_t size;
      const unsigned char* subject;
      std::size_t subjectSize;
      if (certificateSubject(bytes, size, subject, subjectSize) && size == bytes.size()) {
        out.push_back(bytes);
      } else {
        for (X509* x : parseCertificates(bytes, false)) addDecoded(x);
      }
      continue;
    }
    BIO* bio = BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()));
    char* name = nullptr;
    char* headers = nullptr;
    unsigned char* data = nullptr;
    long length = 0;
    while (PEM_read_bio(bio, &name, &headers, &data, &length) == 1) {
      const std::string kind = name;
      if (kind == "CERTIFICATE" || kind == "X509 CERTIFICATE" || kind == "TRUSTED CERTIFICATE")
        out.emplace_back(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
      OPENSSL_free(name);
      OPENSSL_free(headers);
      OPENSSL_free(data);
    }
    BIO_free(bio);
  }
  ERR_clear_error();
  return out;
}

int lazyRootBySubject(X509_LOOKUP* lookup, X509_LOOKUP_TYPE type, const X509_NAME* name, X509_OBJECT* ret) {
  auto* roots = static_cast<LazyRoots*>(X509_LOOKUP_get_method_data(lookup));
  if (type != X509_LU_X509 || !roots || !name) return 0;
  X509_STORE* store = X509_LOOKUP_get_store(lookup);
  X509* first = nullptr;
  std::lock_guard<std::mutex> guard(roots->lock);
  // All of that name go into the store: the verifier picks the one whose key
  // signed what it checks.
  for (LazyRoot& r : roots->roots) {
    if (X509_NAME_cmp(r.subject, name) != 0) continue;
    if (!r.decoded) {
      const auto* p = reinterpret_cast<const unsigned char*>(r.der.data());
      r.decoded = d2i_X509(nullptr, &p, static_cast<long>(r.der.size()));
      if (!r.decoded) {
        ERR_clear_error();
        continue;
      }
    }
    if (X509_STORE_add_cert(store, r.decoded) != 1) ERR_clear_error();
    if (!first) first = r.decoded;
  }
  if (!first || X509_OBJECT_set1_X509(ret, first) != 1) return 0;
  // The caller takes its own reference, as for the library's own lookups.
  X509_free(first);
  return 1;
}

void freeLazyRoots(X509_LOOKUP* lookup) { delete static_cast<LazyRoots*>(X509_LOOKUP_get_method_data(lookup)); }

X509_LOOKUP_METHOD* lazyRootMethod() {
  static X509_LOOKUP_METHOD* method = [] {
    X509_LOOKUP_METHOD* m = X509_LOOKUP_meth_new("root folder");
    X509_LOOKUP_meth_set_get_by_subject(m, lazyRootBySubject);
    X509_LOOKUP_meth_set_free(m, freeLazyRoots);
    return m;
  }();
  return method;
}

X509_STORE* folderTrustStore(const std::string& folder) {
  auto roots = std::make_unique<LazyRoots>();
  std::set<std::string> seen;
  for (std::string& der : folderCertificates(folder)) {
    std::size_t size, subjectSize;
    const unsigned char* subject;
    if (!certificateSubject(der, size, subject, subjectSize)) continue;
    der.resize(size);
    if (!seen.insert(der).second) continue;  // a hash link, or the bundle of all
    LazyRoot r;
    r.subject = d2i_X509_NAME(nullptr, &subject, static_cast<long>(subjectSize));
    if (!r.subject) continue;
    r.der = std::move(der);
    roots->roots.push_back(std::move(r));
  }
  ERR_clear_error();
  X509_STORE* store = X509_STORE_new();
  X509_LOOKUP* lookup = store ? X509_STORE_add_lookup(store, lazyRootMethod()) : nullptr;
  if (lookup) X509_LOOKUP_set_method_data(lookup, roots.release());
  return store;
}

std::mutex rootCacheLock;
X509_STORE* rootCache = nullptr;
std::string rootCacheKey;

// A certificate added, removed or renamed changes the folder's times; a
// folder put in its place has another inode.
std::string folderStamp(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return folder;
  return folder + "|" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + "|" +
         std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + "|" +
         std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec);
}

// The ROOT store's certificates as an OpenSSL trust store; read again when
// the folder changed.
X509_STORE* trustAnchors() {
  std::string folder = rootFolder();
  std::string key = folderStamp(folder);
  std::lock_guard<std::mutex> g(rootCacheLock);
  if (!rootCache || key != rootCacheKey) {
    X509_STORE* store = folderTrustStore(folder);
    if (!store) return nullptr;
    X509_STORE_free(rootCache);
    rootCache = store;
    rootCacheKey = key;
  }
  X509_STORE_up_ref(rootCache);
  return rootCache;
}

DWORD trustBit(int error) {
  switch (error) {
    case X509_V_OK:
      return 0;
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return CERT_TRUST_IS_NOT_TIME_VALID;
    case X509_V_ERR_CERT_REVOKED:
      return CERT_TRUST_IS_REVOKED;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
      return CERT_TRUST_IS_NOT_SIGNATURE_VALID;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      return CERT_TRUST_IS_PARTIAL_CHAIN;
    case X509_V_ERR_INVALID_PURPOSE:
      return CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
    default:
      return CERT_TRUST_IS_UNTRUSTED_ROOT;
  }
}

struct ChainCollect {
  std::vector<DWORD> bits;  // by depth
};
int chainIndex() {
  static int index = X509_STORE_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

int collectErrors(int ok, X509_STORE_CTX* ctx) {
  if (!ok) {
    auto* collect = static_cast<ChainCollect*>(X509_STORE_CTX_get_ex_data(ctx, chainIndex()));
    int depth = X509_STORE_CTX_get_error_depth(ctx);
    if (collect && depth >= 0) {
      if (collect->bits.size() <= static_cast<std::size_t>(depth)) collect->bits.resize(depth + 1);
      collect->bits[depth] |= trustBit(X509_STORE_CTX_get_error(ctx));
    }
  }
  return 1;  // go on to see every fault
}

struct Chain {
  CERT_CHAIN_CONTEXT context{};
  CERT_SIMPLE_CHAIN simple{};
  CERT_SIMPLE_CHAIN* simples[1] = {&simple};
  std::vector<CERT_CHAIN_ELEMENT> elements;
  std::vector<CERT_CHAIN_ELEMENT*> pointers;
};

std::u16string passwordText(LPCWSTR pw, bool& none) {
  none = pw == nullptr;
  return pw ? std::u16string(pw) : std::u16string();
}

}  // namespace

x509_store_st* win32::root_trust_store() { return trustAnchors(); }

HCERTSTORE CertOpenStore(LPCSTR provider, DWORD, HCRYPTPROV_LEGACY, DWORD flags, const void* para) {
  if (provider == CERT_STORE_PROV_MEMORY) return new Store;
  if (provider == CERT_STORE_PROV_SYSTEM_W) return openSystem(flags, static_cast<const char16_t*>(para));
  if (provider == CERT_STORE_PROV_FILENAME_W) return openFile(flags, static_cast<const char16_t*>(para));
  SetLastError(ERROR_NOT_SUPPORTED_);
  return nullptr;
}

HCERTSTORE CertDuplicateStore(HCERTSTORE store) {
  if (store) ++static_cast<Store*>(store)->refs;
  return store;
}

BOOL CertCloseStore(HCERTSTORE store, DWORD) {
  release(static_cast<Store*>(store));
  return TRUE;
}

BOOL CertGetStoreProperty(HCERTSTORE store, DWORD id, void* data, DWORD* size) {
  auto* s = static_cast<Store*>(store);
  if (!s || !size) {
    SetLastError(ERROR_INVALID_PARAMETER_);
    return FALSE;
  }
  if (id != CERT_STORE_LOCALIZED_NAME_PROP_ID || !s->hasLocalizedName) {
    SetLastError(CRYPT_E_NOT_FOUND);
    return FALSE;
  }
  DWORD need = static_cast<DWORD>((s->localizedName.size() + 1) * sizeof(char16_t));
  if (!data) {
    *size = need;
    return TRUE;
  }
  if (*size < need) {
    *size = need;
    SetLastError(234);  // ERROR_MORE_DATA
    return FALSE;
  }
  std::memcpy(data, s->localizedName.c_str(), need);
  *size = need;
  return TRUE;
}

PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE store, PCCERT_CONTEXT prev) {
  auto* s = static_cast<Store*>(store);
  PCCERT_CONTEXT result = nullptr;
  if (s) {
    std::lock_guard<std::mutex> g(s->lock);
    std::size_t i = 0;
    if (prev) {
      auto it = std::find(s->all.begin(), s->all.end(), static_cast<const Context*>(prev));
      i = it == s->all.end() ? s->all.size() : static_cast<std::size_t>(it - s->all.begin()) + 1;
    }
    for (; i < s->all.size(); ++i)
      if (!s->all[i]->removed) {
        result = handOut(s->all[i]);
        break;
      }
  }
  if (prev) CertFreeCertificateContext(prev);
  if (!result) SetLastError(CRYPT_E_NOT_FOUND);
  return result;
}

PCCERT_CONTEXT CertFindCertificateInStore(HCERTSTORE store, DWORD, DWORD, DWORD type, const void* para,
                                          PCCERT_CONTEXT prev) {
  auto* s = static_cast<Store*>(store);
  const auto* blob = static_cast<const CRYPT_HASH_BLOB*>(para);
  PCCERT_CONTEXT result = nullptr;
  if (s && type == CERT_FIND_SHA1_HASH && blob && blob->cbData == 20) {
    std::lock_guard<std::mutex> g(s->lock);
    bool past = prev == nullptr;
    for (Context* c : s->all) {
      if (!past) {
        past = c == prev;
        continue;
      }
      if (!c->removed && std::memcmp(c->sha1, blob->pbData, 20) == 0) {
        result = handOut(c);
        break;
      }
    }
  }
  if (prev) CertFreeCertificateContext(prev);
  if (!result) SetLastError(CRYPT_E_NOT_FOUND);
  return result;
}

PCCERT_CONTEXT CertCreateCertificateContext(DWORD, const BYTE* der, DWORD size) {
  Context* c = der && size ? contextFromDer(der, size) : nullptr;
  ERR_clear_error();
  if (!c) {
    SetLastError(CRYPT_E_ASN1_BADTAG);
    return nullptr;
  }
  return handOut(c);
}

PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT ctx) {
  if (!ctx) return nullptr;
  return handOut(const_cast<Context*>(static_cast<const Context*>(ctx)));
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT ctx) {
  if (!ctx) return TRUE;
  auto* c = const_cast<Context*>(static_cast<const Context*>(ctx));
  Store* owner = c->owner;
  long left = --c->refs;
  if (owner)
    release(owner);
  else if (left == 0)
    delete c;
  return TRUE;
}

BOOL CertAddCertificateContextToStore(HCERTSTORE store, PCCERT_CONTEXT ctx, DWORD disposition,
                                      PCCERT_CONTEXT* out) {
  auto* s = static_cast<Store*>(store);
  if (out) *out = nullptr;
  if (!s || !ctx) {
    SetLastError(ERROR_INVALID_PARAMETER_);
    return FALSE;
  }
  if (s->readOnly) {
    SetLastError(E_ACCESSDENIED_DWORD);
    return FALSE;
  }
  const auto* source = static_cast<const Context*>(ctx);
  std::lock_guard<std::mutex> g(s->lock);
  if (Context* existing = find(s, source->sha1)) {
    if (disposition == CERT_STORE_ADD_NEW) {
      SetLastError(CRYPT_E_EXISTS);
      return FALSE;
    }
    existing->removed = true;
  }
  Context* c = contextFromDer(source->der.data(), static_cast<DWORD>(source->der.size()));
  if (!c) {
    SetLastError(CRYPT_E_BAD_ENCODE);
    return FALSE;
  }
  if (source->key) {
    EVP_PKEY_up_ref(source->key);
    c->key = source->key;
  }
  if (!writeThrough(s, c)) {
    delete c;
    SetLastError(ERROR_ACCESS_DENIED_);
    return FALSE;
  }
  adopt(s, c);
  if (out) *out = handOut(c);
  return TRUE;
}

BOOL CertDeleteCertificateFromStore(PCCERT_CONTEXT ctx) {
  if (!ctx) {
    SetLastError(ERROR_INVALID_PARAMETER_);
    return FALSE;
  }
  auto* c = const_cast<Context*>(static_cast<const Context*>(ctx));
  Store* s = c->owner;
  BOOL ok = TRUE;
  if (!s) {
    ok = FALSE;
    SetLastError(ERROR_INVALID_PARAMETER_);
  } else if (s->readOnly) {
    ok = FALSE;
    SetLastError(E_ACCESSDENIED_DWORD);
  } else {
    std::lock_guard<std::mutex> g(s->lock);
    std::error_code ec;
    if (!s->folder.empty() && !c->file.empty() && !std::filesystem::remove(c->file, ec)) {
      ok = FALSE;
      SetLastError(ERROR_ACCESS_DENIED_);
    } else {
      c->removed = true;
    }
  }
  CertFreeCertificateContext(ctx);
  return ok;
}

BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT ctx, DWORD id, void* data, DWORD* size) {
  if (!ctx || !size) {
    SetLastError(ERROR_INVALID_PARAMETER_);
    return FALSE;
  }
  if (id != CERT_SHA1_HASH_PROP_ID) {
    SetLastError(CRYPT_E_NOT_FOUND);
    return FALSE;
  }
  if (!data) {
    *size = 20;
    return TRUE;
  }
  if (*size < 20) {
    *size = 20;
    SetLastError(234);
    return FALSE;
  }
  std::memcpy(data, static_cast<const Context*>(ctx)->sha1, 20);
  *size = 20;
  return TRUE;
}

DWORD CertGetNameStringW(PCCERT_CONTEXT ctx, DWORD type, DWORD flags, void* typePara, LPWSTR out, DWORD chars) {
  std::u16string text;
  if (ctx) {
    X509* x = static_cast<const Context*>(ctx)->x509;
    X509_NAME* name = flags & CERT_NAME_ISSUER_FLAG ? X509_get_issuer_name(x) : X509_get_subject_name(x);
    if (type == CERT_NAME_RDN_TYPE) {
      text = x500Text(name);
    } else if (type == CERT_NAME_FRIENDLY_DISPLAY_TYPE) {
      for (int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName, NID_pkcs9_emailAddress}) {
        text = fromUtf8(utf8Entry(name, nid));
        if (!text.empty()) break;
      }
    }
  }
  (void)typePara;
  DWORD need = static_cast<DWORD>(text.size() + 1);
  if (!out || chars == 0) return need;
  DWORD n = std::min<DWORD>(need - 1, chars - 1);
  std::memcpy(out, text.data(), n * sizeof(char16_t));
  out[n] = 0;
  return n + 1;
}

BOOL CertGetCertificateChain(HCERTCHAINENGINE, PCCERT_CONTEXT ctx, const void*, HCERTSTORE, const CERT_CHAIN_PARA*,
                             DWORD, void*, PCCERT_CHAIN_CONTEXT* out) {
  if (!ctx || !out) {
    SetLastError(ERROR_INVALID_PARAMETER_);
    return FALSE;
  }
  *out = nullptr;
  const auto* leaf = static_cast<const Context*>(ctx);
  X509_STORE* anchors = trustAnchors();
  STACK_OF(X509)* untrusted = sk_X509_new_null();
  if (leaf->owner) {
    std::lock_guard<std::mutex> g(leaf->owner->lock);
    for (Context* c : leaf->owner->all)
      if (!c->removed && c != leaf) sk_X509_push(untrusted, c->x509);
  }
  X509_STORE_CTX* vctx = X509_STORE_CTX_new();
  ChainCollect collect;
  X509_STORE_CTX_init(vctx, anchors, leaf->x509, untrusted);
  X509_STORE_CTX_set_ex_data(vctx, chainIndex(), &collect);
  X509_STORE_CTX_set_verify_cb(vctx, collectErrors);
  X509_verify_cert(vctx);
  STACK_OF(X509)* built = X509_STORE_CTX_get1_chain(vctx);
  X509_STORE_CTX_free(vctx);
  sk_X509_free(untrusted);
  X509_STORE_free(anchors);
  ERR_clear_error();

  auto* chain = new Chain;
  int count = built ? sk_X509_num(built) : 0;
  chain->elements.resize(static_cast<std::size_t>(std::max(count, 1)));
  DWORD errors = 0;
  for (int i = 0; i < count; ++i) {
    X509* x = sk_X509_value(built, i);
    PCCERT_CONTEXT element;
    if (i == 0) {
      element = CertDuplicateCertificateContext(ctx);
    } else {
      X509_up_ref(x);
      Context* c = makeContext(x);
      if (!c) X509_free(x);
      element = c ? handOut(c) : nullptr;
    }
    CERT_CHAIN_ELEMENT& e = chain->elements[static_cast<std::size_t>(i)];
    e.cbSize = sizeof e;
    e.pCertContext = element;
    e.TrustStatus.dwErrorStatus =
        static_cast<std::size_t>(i) < collect.bits.size() ? collect.bits[static_cast<std::size_t>(i)] : 0;
    e.TrustStatus.dwInfoStatus = X509_check_issued(x, x) == X509_V_OK ? CERT_TRUST_IS_SELF_SIGNED : 0;
    errors |= e.TrustStatus.dwErrorStatus;
    chain->pointers.push_back(&e);
  }
  if (count == 0) {  // a certificate OpenSSL could not even start with
    CERT_CHAIN_ELEMENT& e = chain->elements[0];
    e.cbSize = sizeof e;
    e.pCertContext = CertDuplicateCertificateContext(ctx);
    e.TrustStatus.dwErrorStatus = CERT_TRUST_IS_UNTRUSTED_ROOT;
    errors = e.TrustStatus.dwErrorStatus;
    chain->pointers.push_back(&e);
    count = 1;
  }
  sk_X509_pop_free(built, X509_free);
  for (DWORD b : collect.bits) errors |= b;
  chain->simple.cbSize = sizeof chain->simple;
  chain->simple.cElement = static_cast<DWORD>(count);
  chain->simple.rgpElement = chain->pointers.data();
  chain->simple.TrustStatus.dwErrorStatus = errors;
  chain->simple.TrustStatus.dwInfoStatus = chain->elements[0].TrustStatus.dwInfoStatus;
  chain->context.cbSize = sizeof chain->context;
  chain->context.TrustStatus = chain->simple.TrustStatus;
  chain->context.cChain = 1;
  chain->context.rgpChain = chain->simples;
  *out = &chain->context;
  return TRUE;
}

void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT context) {
  if (!context) return;
  auto* chain = reinterpret_cast<Chain*>(const_cast<CERT_CHAIN_CONTEXT*>(context));
  for (CERT_CHAIN_ELEMENT& e : chain->elements) CertFreeCertificateContext(e.pCertContext);
  delete chain;
}

BOOL CryptAcquireCertificatePrivateKey(PCCERT_CONTEXT ctx, DWORD, void*, HCRYPTPROV_OR_NCRYPT_KEY_HANDLE* handle,
                                       DWORD* keySpec, BOOL* callerFree) {
  const auto* c = static_cast<const Context*>(ctx);
  if (!c || !c->key) {
    SetLastError(CRYPT_E_NO_KEY_PROPERTY);
    return FALSE;
  }
  if (handle) *handle = reinterpret_cast<HCRYPTPROV_OR_NCRYPT_KEY_HANDLE>(c->key);
  if (keySpec) *keySpec = 1;  // AT_KEYEXCHANGE
  if (callerFree) *callerFree = FALSE;
  return TRUE;
}

BOOL PFXIsPFXBlob(CRYPT_DATA_BLOB* pfx) {
  if (!pfx || !pfx->pbData) return FALSE;
  const unsigned char* p = pfx->pbData;
  PKCS12* p12 = d2i_PKCS12(nullptr, &p, pfx->cbData);
  ERR_clear_error();
  if (!p12) return FALSE;
  PKCS12_free(p12);
  return TRUE;
}

HCERTSTORE PFXImportCertStore(CRYPT_DATA_BLOB* pfx, LPCWSTR password, DWORD) {
  if (!pfx || !pfx->pbData) {
    SetLastError(ERROR_INVALID_PARAMETER_);
    return nullptr;
  }
  const unsigned char* p = pfx->pbData;
  PKCS12* p12 = d2i_PKCS12(nullptr, &p, pfx->cbData);
  if (!p12) {
    ERR_clear_error();
    SetLastError(CRYPT_E_BAD_ENCODE);
    return nullptr;
  }
  bool none = false;
  std::string pass = narrow(passwordText(password, none));
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* ca = nullptr;
  // A null password only opens a blob sealed without one.
  bool ok = none ? PKCS12_verify_mac(p12, nullptr, 0) == 1 : PKCS12_verify_mac(p12, pass.c_str(), -1) == 1;
  if (ok) ok = PKCS12_parse(p12, none ? nullptr : pass.c_str(), &key, &cert, &ca) == 1;
  PKCS12_free(p12);
  ERR_clear_error();
  if (!ok) {
    SetLastError(ERROR_INVALID_PASSWORD_);
    return nullptr;
  }
  auto* s = new Store;
  if (cert) {
    Context* c = makeContext(cert);
    if (c) {
      c->key = key;
      key = nullptr;
      adopt(s, c);
    } else {
      X509_free(cert);
    }
  }
  for (int i = 0; ca && i < sk_X509_num(ca); ++i) {
    X509* x = sk_X509_value(ca, i);
    X509_up_ref(x);
    Context* c = makeContext(x);
    if (c)
      adopt(s, c);
    else
      X509_free(x);
  }
  sk_X509_pop_free(ca, X509_free);
  EVP_PKEY_free(key);
  return s;
}

BOOL PFXExportCertStoreEx(HCERTSTORE store, CRYPT_DATA_BLOB* pfx, LPCWSTR password, void*, DWORD flags) {
  auto* s = static_cast<Store*>(store);
  if (!s || !pfx) {
    SetLastError(ERROR_INVALID_PARAMETER_);
    return FALSE;
  }
  bool none = false;
  std::string pass = narrow(passwordText(password, none));
  X509* main = nullptr;
  EVP_PKEY* key = nullptr;
  STACK_OF(X509)* others = sk_X509_new_null();
  {
    std::lock_guard<std::mutex> g(s->lock);
    for (Context* c : s->all) {
      if (c->removed) continue;
      if (!main && c->key && (flags & EXPORT_PRIVATE_KEYS)) {
        main = c->x509;
        key = c->key;
      } else {
        sk_X509_push(others, c->x509);
      }
    }
  }
  if (!main && sk_X509_num(others) > 0) main = sk_X509_shift(others);
  PKCS12* p12 = PKCS12_create(pass.c_str(), nullptr, key, main, sk_X509_num(others) ? others : nullptr, 0, 0, 0, 0, 0);
  sk_X509_free(others);
  if (!p12) {
    ERR_clear_error();
    SetLastError(CRYPT_E_BAD_ENCODE);
    return FALSE;
  }
  int n = i2d_PKCS12(p12, nullptr);
  BOOL ok = TRUE;
  if (!pfx->pbData) {
    pfx->cbData = static_cast<DWORD>(n);
  } else if (pfx->cbData < static_cast<DWORD>(n)) {
    pfx->cbData = static_cast<DWORD>(n);
    SetLastError(234);
    ok = FALSE;
  } else {
    unsigned char* p = pfx->pbData;
    pfx->cbData = static_cast<DWORD>(i2d_PKCS12(p12, &p));
  }
  PKCS12_free(p12);
  return ok;
}
