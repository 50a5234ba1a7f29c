#include "network/ssl/ssl.h"

#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "core/catalogue.h"
#include "network/ssl/locator.h"
#include "network/ssl/openssl_certificate.h"
#include "network/ssl/ssl_internal.h"
#include "network/uri.h"
#include "platform/win32/windows.h"
#include "system/locks.h"
#include "system/thread.h"
#include "system/trace.h"

namespace Network {
namespace {

constexpr std::uint32_t kFacility = 3;
constexpr std::uint32_t kBufferSize = 16384;

// Catalogue slots of the texts this client raises.
enum : std::uint32_t {
  textPolicyCorrupt = 2323,
  textPolicyDisabled = 2324,
  textNoCertificate = 2325,
  textNoConnection = 2326,
  textObtainCertificate = 2327,
  textUseCertificate = 2328,
  textUseKey = 2329,
  textKeyMismatch = 2330,
  textStreamSocket = 2331,
  textIoBuffer = 2332,
  textCipherList = 2333,
  textConnectFailed = 2334,
  textDhParameters = 2335,
  textDhKey = 2336,
  textSetDhKey = 2337,
  textSerialize = 2338,
  textUnsupportedKey = 2339,
};

const char16_t* text(std::uint32_t slot) {
  static const char16_t* const builtIn[] = {
      u"The certificate policy is corrupt.",
      u"The required certificate policy is disabled.",
      u"The certificate cannot be found.",
      u"Failed to create SSL connection.",
      u"SSL: Failed to obtain the certificate.",
      u"SSL: Failed to use the certificate.",
      u"SSL: Failed to use the private key.",
      u"SSL: The private key does not match.",
      u"SSL: Failed to set the stream socket.",
      u"SSL: Failed to set the IO buffer.",
      u"SSL Connect: Failed to set the cipher list.",
      u"SSL connection failed.",
      u"Failed to generate the DH parameters.",
      u"Failed to generate the DH key.",
      u"Failed to set the DH key.",
      u"Failed to serialize SSL session.",
      u"Failed to encrypt the private key: An unsupported algorithm.",
  };
  return Common::catalogueText(slot, builtIn[slot - textPolicyCorrupt]);
}

[[noreturn]] void fail(std::uint64_t site, std::uint32_t code, std::uint32_t slot) {
  throw Common::Error(site, code, text(slot));
}
// The same with the library's queued entries as its causes.
[[noreturn]] void failWithQueue(std::uint64_t site, std::uint32_t code, std::uint32_t slot) {
  throw makeLibraryError(Common::Error(site, code, text(slot)));
}

void traceDebug(std::uint32_t number, const char* line) {
  Common::traceNarrowText(Common::kTraceDebug, kFacility, number, line);
}

// ------------------------------------------------------------ library errors

bool sameName(const char* a, const char* b) { return a && std::strcmp(a, b) == 0; }

// Fields: CryptoThreadID and Line are kept as decimal texts and read back as numbers.
const char* libraryNarrow(const Common::ErrorRecord* r, const char* name) {
  static const char* const names[] = {"CryptoThreadID", "ErrorString", "File", "Line", "Data"};
  for (int i : {1, 2, 4})
    if (sameName(name, names[i])) {
      const char* t = static_cast<const char*>(r->slotText(r->fieldSlots()[i]));
      return t ? t : "";
    }
  return nullptr;
}
std::uint64_t libraryNumber(const Common::ErrorRecord* r, const char* name) {
  int slot = sameName(name, "CryptoThreadID") ? 0 : sameName(name, "Line") ? 3 : -1;
  if (slot < 0) return 0;
  const char* t = static_cast<const char*>(r->slotText(r->fieldSlots()[slot]));
  return t ? std::strtoull(t, nullptr, 10) : 0;
}
const char16_t* libraryWide(const Common::ErrorRecord*, const char*) { return nullptr; }
const char* libraryNames(const Common::ErrorRecord*) { return "CryptoThreadID,ErrorString,File,Line,Data"; }

constexpr Common::ErrorRecordOps libraryOps{Common::freeErrorRecordBlock, Common::cloneErrorRecord,
                                            Common::narrowSlotText,       libraryNumber,
                                            libraryNarrow,                libraryWide,
                                            libraryNames};

// ------------------------------------------------------------ initialisation

Common::RecursiveLock initLock;
bool initialised = false;

void initialiseLibrary() {
  Common::RecursiveLockGuard guard(initLock);
  if (initialised) return;
  OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
  initialised = true;
}

// One DH group per process (RFC 7919 ffdhe2048, fixed and well known, in
// place of freshly made small parameters), shared by every client that asks.
struct DHKey {
  explicit DHKey(EVP_PKEY* k) : key(k) {}
  DHKey(const DHKey&) = delete;
  DHKey& operator=(const DHKey&) = delete;
  ~DHKey() { EVP_PKEY_free(key); }
  EVP_PKEY* key;
};

Common::RecursiveLock dhLock;
std::shared_ptr<DHKey>& dhSlot() {
  static std::shared_ptr<DHKey> slot;
  return slot;
}

std::shared_ptr<DHKey> sharedDhKey() {
  Common::RecursiveLockGuard guard(dhLock);
  std::shared_ptr<DHKey>& slot = dhSlot();
  if (slot) return slot;
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_name(nullptr, "DH", nullptr);
  char group[] = "ffdhe2048";
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0), OSSL_PARAM_END};
  if (!context || EVP_PKEY_keygen_init(context) <= 0 || EVP_PKEY_CTX_set_params(context, params) <= 0) {
    EVP_PKEY_CTX_free(context);
    failWithQueue(KV_SITE, 0x30002, textDhParameters);
  }
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_generate(context, &key) <= 0) {
    EVP_PKEY_CTX_free(context);
    failWithQueue(KV_SITE, 0x30002, textDhKey);
  }
  EVP_PKEY_CTX_free(context);
  slot = std::make_shared<DHKey>(key);
  return slot;
}

// ------------------------------------------------------------ trust anchors

// The machine's trusted roots: read once per process and shared by every
// connection, read again only after the folder changed.
X509_STORE* trustStore() { return win32::root_trust_store(); }

bool isAddressLiteral(const std::string& host) {
  unsigned char buffer[16];
  ASN1_OCTET_STRING* ip = a2i_IPADDRESS(host.c_str());
  (void)buffer;
  if (!ip) {
    ERR_clear_error();
    return false;
  }
  ASN1_OCTET_STRING_free(ip);
  return true;
}

// ------------------------------------------------------------ transfer buffers

struct TransferBuffer {
  Common::CriticalSection lock;
  std::uint8_t bytes[kBufferSize];
  std::uint32_t fill = 0;

  std::uint32_t append(const void* data, std::uint32_t length) {
    Common::CriticalSectionLock guard(lock);
    std::uint32_t n = std::min(length, kBufferSize - fill);
    std::memcpy(bytes + fill, data, n);
    fill += n;
    return n;
  }
  std::uint32_t take(void* out, std::uint32_t length) {
    Common::CriticalSectionLock guard(lock);
    std::uint32_t n = std::min(length, fill);
    std::memcpy(out, bytes, n);
    std::memmove(bytes, bytes + n, fill - n);
    fill -= n;
    return n;
  }
};

struct BufferPair {
  TransferBuffer incoming;
  TransferBuffer outgoing;
};

// Guards the session object and the closed flag; the four events carry the
// hand-over between the callers and the two threads.
struct TransferLock {
  Common::CriticalSection section;
  Common::Event incomingData{false, false};  // A
  Common::Event progress{false, false};      // B
  Common::Event room{false, false};          // C
  Common::Event toSend{false, false};        // D
  std::atomic<bool> closed{false};
};

struct ThreadArguments {
  StreamSocket* transport;
  TransferBuffer* buffer;
  TransferLock* lock;
};

std::int32_t readerThread(void* argument) {
  auto* a = static_cast<ThreadArguments*>(argument);
  std::vector<std::uint8_t> local(kBufferSize);
  while (!a->lock->closed) {
    std::size_t n = a->transport->receive(local.data(), local.size(), nullptr, 0, true);
    if (n == 0) {
      Common::CriticalSectionLock guard(a->lock->section);
      a->lock->closed = true;
      a->lock->toSend.set();
      a->lock->incomingData.set();
      break;
    }
    std::size_t done = 0;
    for (;;) {
      {
        Common::CriticalSectionLock guard(a->lock->section);
        done += a->buffer->append(local.data() + done, static_cast<std::uint32_t>(n - done));
        a->lock->incomingData.set();
        a->lock->progress.set();
        a->lock->toSend.set();
      }
      if (done == n || a->lock->closed) break;
      a->lock->room.wait();
    }
  }
  a->lock->progress.set();
  a->lock->incomingData.set();
  return 0;
}

std::int32_t writerThread(void* argument) {
  auto* a = static_cast<ThreadArguments*>(argument);
  std::vector<std::uint8_t> local(kBufferSize);
  do {
    a->lock->toSend.wait();
    std::uint32_t n;
    {
      Common::CriticalSectionLock guard(a->lock->section);
      n = a->buffer->take(local.data(), kBufferSize);
      a->lock->incomingData.set();
      a->lock->progress.set();
      a->lock->room.set();
    }
    // A transport that refuses a send is dead: the connection ends here
    // rather than repeating the send for ever.
    if (n && !a->transport->send(local.data(), n, nullptr, 0, nullptr, 0)) {
      Common::CriticalSectionLock guard(a->lock->section);
      a->lock->closed = true;
    }
  } while (!a->lock->closed);
  a->lock->progress.set();
  a->lock->incomingData.set();
  return 0;
}

// ------------------------------------------------------------ I/O methods

long controlBoth(BIO* bio, int command, long number, void*) {
  switch (command) {
    case BIO_CTRL_GET_CLOSE:
      return BIO_get_shutdown(bio);
    case BIO_CTRL_SET_CLOSE:
      BIO_set_shutdown(bio, static_cast<int>(number));
      return 1;
    case BIO_CTRL_EOF:
      return BIO_test_flags(bio, BIO_FLAGS_IN_EOF) != 0;
    case BIO_CTRL_RESET:
    case BIO_CTRL_FLUSH:
    case BIO_CTRL_DUP:
    case BIO_C_SET_FD:
    case BIO_C_GET_FD:
      return 1;
    default:
      return 0;
  }
}

int createInitialised(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

int safeWrite(BIO* bio, const char* data, int length) {
  auto* pair = static_cast<BufferPair*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  std::uint32_t n = pair->outgoing.append(data, static_cast<std::uint32_t>(length));
  if (n == 0) {
    BIO_set_retry_write(bio);
    return -1;
  }
  return static_cast<int>(n);
}

int safeRead(BIO* bio, char* data, int length) {
  auto* pair = static_cast<BufferPair*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  std::uint32_t n = pair->incoming.take(data, static_cast<std::uint32_t>(length));
  if (n == 0) {
    BIO_set_retry_read(bio);
    return -1;
  }
  return static_cast<int>(n);
}

int streamWrite(BIO* bio, const char* data, int length) {
  auto* transport = static_cast<StreamSocket*>(BIO_get_data(bio));
  if (length <= 0) return 0;
  return transport->send(data, static_cast<std::size_t>(length), nullptr, 0, nullptr, 0) ? length : -1;
}

int streamRead(BIO* bio, char* data, int length) {
  auto* transport = static_cast<StreamSocket*>(BIO_get_data(bio));
  if (length <= 0) return 0;
  int n = static_cast<int>(transport->receive(data, static_cast<std::size_t>(length), nullptr, 0, false));
  // Told so, the library calls an end without close notification by its name.
  if (n == 0) BIO_set_flags(bio, BIO_FLAGS_IN_EOF);
  return n;
}

BIO_METHOD* makeMethod(const char* name, int (*write)(BIO*, const char*, int), int (*read)(BIO*, char*, int)) {
  BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, name);
  BIO_meth_set_write(m, write);
  BIO_meth_set_read(m, read);
  BIO_meth_set_ctrl(m, controlBoth);
  BIO_meth_set_create(m, createInitialised);
  return m;
}

BIO_METHOD* safeIoBufferMethod() {
  static BIO_METHOD* m = makeMethod("safe_io_buffer", safeWrite, safeRead);
  return m;
}
BIO_METHOD* streamSocketMethod() {
  static BIO_METHOD* m = makeMethod("stream_socket", streamWrite, streamRead);
  return m;
}

// ------------------------------------------------------------ verification

struct VerifyRecord {
  CheckCertificateCallback* callback = nullptr;
  Common::Error failure;  // an error the callback raised, passed on after the handshake
};

int verifyCallback(int preverify, X509_STORE_CTX* store) {
  auto* session = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  SSL_CTX* context = session ? SSL_get_SSL_CTX(session) : nullptr;
  auto* record = context ? static_cast<VerifyRecord*>(SSL_CTX_get_app_data(context)) : nullptr;
  CheckCertificateCallback* callback = record ? record->callback : nullptr;
  try {
    bool askAll = callback && callback->checkEveryCertificate();
    if (preverify == 1 && !askAll) return 1;
    X509* current = X509_STORE_CTX_get_current_cert(store);
    int error = X509_STORE_CTX_get_error(store);
    std::unique_ptr<CertificateObject> certificate;
    try {
      certificate = makeCertificateObject(current, nullptr, nullptr, error, session);
    } catch (const Common::Error&) {
      return preverify;
    }
    bool ok = certificate->isTrusted();
    if ((!ok && callback) || askAll) {
      CertificateCheckInfo info;
      info.error = ok ? -1 : error;
      info.depth = ok ? (current == X509_STORE_CTX_get0_cert(store) ? 0 : -1) : X509_STORE_CTX_get_error_depth(store);
      info.reason = ok ? 1 : 3;
      return callback->check(certificate.get(), info) ? 1 : 0;
    }
    return ok ? 1 : 0;
  } catch (const Common::Error& e) {
    if (record) record->failure = e;
    return 0;
  }
}

// ------------------------------------------------------------ the client

class SSLSocket : public virtual StreamSocket {
 public:
  ~SSLSocket() override;

  bool setNoDelay(bool on) override { return transport_->setNoDelay(on); }
  void startTransferThreads() override;
  bool send(const void* data1, std::size_t size1, const void* data2, std::size_t size2, const void* data3,
            std::size_t size3) override;
  std::size_t receive(void* data1, std::size_t size1, void* data2, std::size_t size2, bool partial) override;
  bool interrupt() override {
    interrupted_ = true;
    return transport_->interrupt();
  }
  void close() override;
  void detach(std::vector<unsigned char>& blob, SOCKET& handle) override;
  Socket& socket() override { return transport_->socket(); }

 protected:
  SSLSocket(const SSLSettings& settings, std::unique_ptr<StreamSocket> transport, std::int16_t role,
            std::uint32_t family, SSL_SESSION* reuse);
  void setUpContext();
  void handshake(std::uint32_t cipherKind, const std::shared_ptr<DHKey>& dh);

  SSLSettings settings_;
  std::unique_ptr<StreamSocket> transport_;
  std::int16_t role_;
  std::uint32_t family_;
  SSL_SESSION* reuse_ = nullptr;
  SSL* session_ = nullptr;
  SSL_CTX* context_ = nullptr;
  bool connected_ = false;
  bool background_ = false;
  PolicyFlags flags_{};
  Bytes ownCertificate_;
  Bytes keyBlob_;
  std::vector<X509*> extraChain_;
  std::unique_ptr<BufferPair> buffers_;
  std::unique_ptr<Common::Thread> reader_;
  std::unique_ptr<Common::Thread> writer_;
  ThreadArguments readerArguments_{};
  ThreadArguments writerArguments_{};
  TransferLock lock_;
  VerifyRecord verify_;
  std::atomic<bool> interrupted_{false};

 private:
  std::size_t read(void* buffer, std::size_t length, bool partial);
  std::size_t write(const void* buffer, std::size_t length);
  void gatherOwnCertificate();

 protected:
  void freeSession();
};

SSLSocket::SSLSocket(const SSLSettings& settings, std::unique_ptr<StreamSocket> transport, std::int16_t role,
                     std::uint32_t family, SSL_SESSION* reuse)
    : settings_(settings), transport_(std::move(transport)), role_(role), family_(family), reuse_(reuse) {
  bool source = settings_.certificate || !settings_.certificateLocator.empty();
  flags_ = applyPolicy(settings_.policy, role_, source);
  // A client that verifies the server must know whom it expects: any
  // trusted certificate would do otherwise.
  if (flags_.verify && role_ != 1 && settings_.serverName.empty())
    throw Common::Error(KV_SITE, 0x564E20, "!settings.serverName.empty()");
  try {
    gatherOwnCertificate();
    setUpContext();
  } catch (...) {
    freeSession();
    for (X509* x : extraChain_) X509_free(x);
    extraChain_.clear();
    throw;
  }
}

void SSLSocket::gatherOwnCertificate() {
  if (flags_.own) {
    std::shared_ptr<CertificateObject> own = settings_.certificate;
    if (!own) {
      if (settings_.certificateLocator.empty()) fail(KV_SITE, 0x303F3, textNoCertificate);
      std::unique_ptr<Uri> uri = createUri(settings_.certificateLocator);
      own = findCertificate(uri.get());
    }
    own->encoded(ownCertificate_);
    std::unique_ptr<KeyData> key(own->privateKey());
    key->blob(keyBlob_);
    std::unique_ptr<CertIterator<CertificateObject>> chain(own->chainOfTrust());
    for (; chain->isValid(); chain->next()) {
      Bytes der;
      chain->current()->encoded(der);
      const unsigned char* p = der.data();
      if (X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()))) extraChain_.push_back(x);
    }
  }
}

SSLSocket::~SSLSocket() {
  close();
  if (background_) {
    {
      Common::CriticalSectionLock guard(lock_.section);
      lock_.closed = true;
    }
    lock_.toSend.set();
    lock_.room.set();
    writer_->join();
    transport_->close();
    // The reader ends when the peer answers the shutdown by closing; a peer
    // that never does is cut off through the transport.
    if (!reader_->wait(10000)) transport_->interrupt();
    reader_->join();
  }
  for (X509* x : extraChain_) X509_free(x);
  if (reuse_) SSL_SESSION_free(reuse_);
}

void SSLSocket::setUpContext() {
  const SSL_METHOD* method = nullptr;
  if (family_ == 0)
    method = role_ == 0 ? TLS_client_method() : role_ == 1 ? TLS_server_method() : TLS_method();
  else if (family_ == 1)
    method = TLS_method();
  if (method) context_ = SSL_CTX_new(method);
  if (!context_) {
    ERR_clear_error();
    throw Common::Error(KV_SITE, 0x30412);
  }
  if (role_ == 1) SSL_CTX_set_mode(context_, SSL_MODE_AUTO_RETRY);
  if (flags_.verify) {
    int mode = SSL_VERIFY_PEER | (role_ == 1 ? SSL_VERIFY_FAIL_IF_NO_PEER_CERT : 0);
    SSL_CTX_set_verify(context_, mode, verifyCallback);
    SSL_CTX_set_verify_depth(context_, 10);
    verify_.callback = settings_.checkCallback.get();
    verify_.failure.clear();
    // The server is checked against the machine's trusted roots.
    SSL_CTX_set1_cert_store(context_, nullptr);
    X509_STORE* anchors = trustStore();
    SSL_CTX_set1_cert_store(context_, anchors);
    X509_STORE_free(anchors);
  }
  if (flags_.own && !ownCertificate_.empty()) {
    const unsigned char* p = ownCertificate_.data();
    X509* own = d2i_X509(nullptr, &p, static_cast<long>(ownCertificate_.size()));
    if (!own) {
      ERR_raise(ERR_LIB_SSL, ERR_R_ASN1_LIB);
      failWithQueue(KV_SITE, 0x3041B, textObtainCertificate);
    }
    int used = SSL_CTX_use_certificate(context_, own);
    X509_free(own);
    if (used < 1) failWithQueue(KV_SITE, 0x3041B, textUseCertificate);
    if (!keyBlob_.empty()) {
      bool unknown = false;
      EVP_PKEY* key = keyFromBlob(keyBlob_, unknown);
      if (unknown) fail(KV_SITE, 0x303FC, textUnsupportedKey);
      // The library refuses a key of another certificate while taking it;
      // asking first keeps the two failures apart.
      if (key && !X509_check_private_key(SSL_CTX_get0_certificate(context_), key)) {
        EVP_PKEY_free(key);
        ERR_clear_error();
        fail(KV_SITE, 0x3041D, textKeyMismatch);
      }
      int usedKey = key ? SSL_CTX_use_PrivateKey(context_, key) : 0;
      EVP_PKEY_free(key);
      if (usedKey < 1) failWithQueue(KV_SITE, 0x3041C, textUseKey);
    }
  }
  session_ = SSL_new(context_);
  if (!session_) {
    ERR_clear_error();
    fail(KV_SITE, 0x30002, textNoConnection);
  }
  if (flags_.verify) SSL_CTX_set_app_data(context_, &verify_);
  for (X509* x : extraChain_) {
    X509_up_ref(x);
    if (!SSL_CTX_add_extra_chain_cert(context_, x)) X509_free(x);
  }
  if (reuse_) {
    traceDebug(0, "Use an existing session");
    SSL_set_session(session_, reuse_);
  }
  if (!settings_.serverName.empty()) {
    // Name-based servers pick their certificate by the name; addresses are not sent.
    if (!isAddressLiteral(settings_.serverName)) SSL_set_tlsext_host_name(session_, settings_.serverName.c_str());
    if (flags_.verify) SSL_set1_host(session_, settings_.serverName.c_str());
  }
}

void SSLSocket::handshake(std::uint32_t cipherKind, const std::shared_ptr<DHKey>& dh) {
  BIO* bio = BIO_new(streamSocketMethod());
  if (!bio) {
    ERR_raise(ERR_LIB_SSL, ERR_R_BUF_LIB);
    fail(KV_SITE, 0x30002, textStreamSocket);
  }
  BIO_set_data(bio, transport_.get());
  SSL_set_bio(session_, bio, bio);
  const char* list = cipherKind == 1 ? "ADH-AES256-SHA" : cipherKind == 2 ? "ALL:!ADH" : cipherKind == 3 ? "DHE-RSA-AES256-SHA:ALL" : nullptr;
  if (list && SSL_set_cipher_list(session_, list) != 1) failWithQueue(KV_SITE, 0x30412, textCipherList);
  if (dh) {
    EVP_PKEY_up_ref(dh->key);
    if (SSL_set0_tmp_dh_pkey(session_, dh->key) != 1) {
      EVP_PKEY_free(dh->key);
      failWithQueue(KV_SITE, 0x30002, textSetDhKey);
    }
  }
  if (SSL_connect(session_) != 1) {
    if (verify_.failure) {
      Common::Error e = verify_.failure;
      verify_.failure.clear();
      ERR_clear_error();
      throw e;
    }
    // A refused server says why: expired, not yet valid, another host's,
    // issued by no trusted root, self-signed.
    const long verdict = SSL_get_verify_result(session_);
    if (verdict != X509_V_OK) {
      char reason[160];
      std::snprintf(reason, sizeof reason, "%s (verify result %ld)", X509_verify_cert_error_string(verdict),
                    verdict);
      Common::Error e(KV_SITE, 0x30412, text(textConnectFailed));
      e.setCause(makeLibraryError(Common::Error(KV_SITE, 0x30408, reason)));
      throw e;
    }
    failWithQueue(KV_SITE, 0x30412, textConnectFailed);
  }
  long result = SSL_get_verify_result(session_);
  if (result != X509_V_OK) {
    char line[64];
    std::snprintf(line, sizeof line, "Verify result for certificate is %ld.", result);
    traceDebug(0x30408, line);
  }
  char line[256];
  std::snprintf(line, sizeof line, "SSL connection using %s\n", SSL_get_cipher_name(session_));
  traceDebug(0, line);
  connected_ = true;
}

void SSLSocket::freeSession() {
  if (session_) SSL_free(session_);
  if (context_) SSL_CTX_free(context_);
  session_ = nullptr;
  context_ = nullptr;
}

void SSLSocket::close() {
  if (!connected_) return;
  Common::CriticalSectionLock guard(background_ ? &lock_.section : nullptr);
  freeSession();
  connected_ = false;
}

std::size_t SSLSocket::read(void* buffer, std::size_t length, bool partial) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  int endSeen = 0;
  while (done < length && connected_) {
    int chunk = static_cast<int>(std::min<std::size_t>(length - done, INT_MAX));
    int n, error;
    {
      Common::CriticalSectionLock guard(background_ ? &lock_.section : nullptr);
      ERR_clear_error();
      n = SSL_read(session_, out + done, chunk);
      error = n > 0 ? SSL_ERROR_NONE : SSL_get_error(session_, n);
      if (n <= 0 && error != SSL_ERROR_NONE && error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE &&
          error != SSL_ERROR_ZERO_RETURN) {
        traceDebug(0, error == SSL_ERROR_SYSCALL ? "SSL Error: Premature close\n" : "SSL Error: SSL_read failed\n");
        // What came before the failure is the caller's; the next call fails.
        if (interrupted_ || done) {
          ERR_clear_error();
          return done;
        }
        // Without the peer's close notification the end may be anyone's:
        // what was read is not known to be all.
        failWithQueue(KV_SITE, 0x30412, textConnectFailed);
      }
    }
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      if (background_) {
        lock_.room.set();
        lock_.toSend.set();
        lock_.progress.set();
      }
      if (partial) break;
      continue;
    }
    // What was read before the end stays the caller's, as with plain TCP.
    switch (error) {
      case SSL_ERROR_NONE:
        if (background_) lock_.incomingData.wait();
        break;
      case SSL_ERROR_WANT_READ:
      case SSL_ERROR_WANT_WRITE:
        if (background_) {
          if (reader_->wait(0) || lock_.closed) {
            if (++endSeen >= 2) {
              // The transport ended and no close notification came.
              if (interrupted_ || done) return done;
              fail(KV_SITE, 0x30412, textConnectFailed);
            }
          } else {
            lock_.room.set();
            lock_.incomingData.wait();
          }
        }
        break;
      case SSL_ERROR_ZERO_RETURN:
        if (!background_ || reader_->wait(10)) {
          traceDebug(0, "SSL Error: Connection closed\n");
          return done;
        }
        lock_.incomingData.wait();
        if (reader_->wait(0)) return done;
        break;
    }
  }
  return done;
}

std::size_t SSLSocket::write(const void* buffer, std::size_t length) {
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < length && connected_) {
    int chunk = static_cast<int>(std::min<std::size_t>(length - done, INT_MAX));
    int n, error;
    {
      Common::CriticalSectionLock guard(background_ ? &lock_.section : nullptr);
      ERR_clear_error();
      n = SSL_write(session_, in + done, chunk);
      error = n > 0 ? SSL_ERROR_NONE : SSL_get_error(session_, n);
    }
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      if (background_) {
        lock_.toSend.set();
        lock_.room.set();
        lock_.progress.set();
      }
      continue;
    }
    if (error == SSL_ERROR_SYSCALL) {
      traceDebug(0, "SSL Error: Premature close\n");
      return done;
    }
    if (error != SSL_ERROR_NONE && error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE &&
        error != SSL_ERROR_ZERO_RETURN) {
      traceDebug(0, "SSL Error: SSL_write failed\n");
      return done;
    }
    if (background_) {
      // Once both threads are gone nothing will ever make progress.
      if (lock_.closed && writer_->wait(0)) return done;
      if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) lock_.toSend.set();
      lock_.progress.wait();
    }
  }
  return done;
}

bool SSLSocket::send(const void* data1, std::size_t size1, const void* data2, std::size_t size2, const void* data3,
                     std::size_t size3) {
  // Empty pieces are skipped: the library must never be asked to write 0 bytes.
  const struct {
    const void* data;
    std::size_t size;
  } pieces[] = {{data1, size1}, {data2, size2}, {data3, size3}};
  for (const auto& p : pieces)
    if (p.size && write(p.data, p.size) != p.size) return false;
  return true;
}

std::size_t SSLSocket::receive(void* data1, std::size_t size1, void* data2, std::size_t size2, bool partial) {
  std::size_t n = size1 ? read(data1, size1, partial) : 0;
  if (n == size1 && data2 && size2 != 0) n += read(data2, size2, partial);
  return n;
}

void SSLSocket::startTransferThreads() {
  if (background_ || !connected_) return;
  { Common::CriticalSectionLock guard(lock_.section); }
  if (!buffers_) buffers_ = std::make_unique<BufferPair>();
  readerArguments_ = {transport_.get(), &buffers_->incoming, &lock_};
  writerArguments_ = {transport_.get(), &buffers_->outgoing, &lock_};
  reader_ = std::make_unique<Common::Thread>(readerThread, &readerArguments_);
  writer_ = std::make_unique<Common::Thread>(writerThread, &writerArguments_);
  BIO* bio = BIO_new(safeIoBufferMethod());
  if (!bio) {
    ERR_raise(ERR_LIB_SSL, ERR_R_BUF_LIB);
    fail(KV_SITE, 0x30002, textIoBuffer);
  }
  BIO_set_data(bio, buffers_.get());
  SSL_set_bio(session_, bio, bio);
  background_ = true;
  SSL_set_mode(session_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
}

void SSLSocket::detach(std::vector<unsigned char>& blob, SOCKET& handle) {
  traceDebug(0, "Serializing SSL socket");
  std::vector<unsigned char> transportBlob;
  transport_->detach(transportBlob, handle);
  SSL_SESSION* current = session_ ? SSL_get_session(session_) : nullptr;
  int n = current ? i2d_SSL_SESSION(current, nullptr) : 0;
  if (n <= 0) fail(KV_SITE, 0x30002, textSerialize);
  std::vector<unsigned char> encoded(static_cast<std::size_t>(n));
  unsigned char* p = encoded.data();
  if (i2d_SSL_SESSION(current, &p) != n) fail(KV_SITE, 0x30002, textSerialize);
  if (keyBlob_.empty()) traceDebug(0, "Unable to get privatekey data");

  auto put32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) blob.push_back(static_cast<unsigned char>(v >> (8 * i)));
  };
  blob.clear();
  blob.push_back(1);
  put32(static_cast<std::uint32_t>(static_cast<std::int32_t>(role_)));
  blob.push_back(static_cast<unsigned char>(settings_.policy));
  blob.push_back(static_cast<unsigned char>(family_));
  put32(settings_.cipherKind);
  put32(static_cast<std::uint32_t>(encoded.size()));
  blob.insert(blob.end(), encoded.begin(), encoded.end());
  put32(static_cast<std::uint32_t>(ownCertificate_.size()));
  blob.insert(blob.end(), ownCertificate_.begin(), ownCertificate_.end());
  put32(static_cast<std::uint32_t>(keyBlob_.size()));
  blob.insert(blob.end(), keyBlob_.begin(), keyBlob_.end());
  blob.insert(blob.end(), transportBlob.begin(), transportBlob.end());
}

class SSLClientImpl : public SSLClient, public SSLSocket {
 public:
  SSLClientImpl(const SSLSettings& settings, std::unique_ptr<StreamSocket> transport, std::int16_t role,
                std::uint32_t family)
      : SSLSocket(settings, std::move(transport), role, family, nullptr) {
    connect();
  }
  ~SSLClientImpl() override = default;

  void reconnect() override {
    close();
    setUpContext();
    connect();
  }

 private:
  void connect() {
    std::uint32_t kind = settings_.cipherKind;
    if (kind == 1 || kind == 3) dh_ = sharedDhKey();
    try {
      handshake(kind, dh_);
    } catch (...) {
      connected_ = false;
      freeSession();
      throw;
    }
  }

  std::shared_ptr<DHKey> dh_;
};

}  // namespace

PolicyFlags applyPolicy(std::uint32_t policy, std::int16_t role, bool hasSource) {
  switch (policy) {
    case 0:
      return {false, false};
    case 1:
      fail(KV_SITE, 0x303F3, role == 0 && !hasSource ? textPolicyCorrupt : textPolicyDisabled);
    case 2:
      if (role == 1 && !hasSource) fail(KV_SITE, 0x303F3, textPolicyCorrupt);
      return {role == 1, role == 0};
    case 3:
      if (!hasSource) fail(KV_SITE, 0x303F3, textPolicyCorrupt);
      return {true, true};
    default:
      fail(KV_SITE, 0x303F3, textPolicyCorrupt);
  }
}

Common::Error makeLibraryError(const Common::Error& given) {
  initialiseLibrary();  // for the reason texts
  Common::Error entries;  // the last queued entry outermost
  const char* file = nullptr;
  const char* data = nullptr;
  int line = 0, flags = 0;
  while (unsigned long e = ERR_get_error_all(&file, &line, nullptr, &data, &flags)) {
    char errorString[256];
    ERR_error_string_n(e, errorString, sizeof errorString);
    char thread[24], lineText[16];
    std::snprintf(thread, sizeof thread, "%lu", static_cast<unsigned long>(GetCurrentThreadId()));
    std::snprintf(lineText, sizeof lineText, "%d", line);
    const char* reason = ERR_reason_error_string(e);
    const Common::RecordText fields[5] = {{thread, false},
                                          {errorString, false},
                                          {file ? file : "", false},
                                          {lineText, false},
                                          {(flags & ERR_TXT_STRING) && data ? data : "", false}};
    Common::Error record(
        Common::buildErrorRecord(&libraryOps, KV_SITE, 0x30411, {reason ? reason : "", false}, fields, 5));
    if (entries) record.setCause(entries);
    entries = record;
  }
  // The error keeps its own code at the head, so callers see what failed;
  // the library's account of why follows as its causes.
  Common::Error result = given;
  if (entries) {
    if (result)
      result.setCause(entries);
    else
      result = entries;
  }
  Common::traceError(Common::kTraceDebug, result);
  return result;
}

std::unique_ptr<SSLClient> createSSLClientAs(const SSLSettings& settings, StreamSocket* transport, std::int16_t role,
                                             std::uint32_t family) {
  std::unique_ptr<StreamSocket> owned(transport);
  initialiseLibrary();
  return std::make_unique<SSLClientImpl>(settings, std::move(owned), role, family);
}

std::unique_ptr<SSLClient> createSSLClient(const SSLSettings& settings, StreamSocket* transport) {
  return createSSLClientAs(settings, transport, 0, 0);
}

int sharedDhBits() { return EVP_PKEY_get_bits(sharedDhKey()->key); }

}  // namespace Network
