// Certificates for tests, made once per process with the openssl command: a
// test CA, a server certificate for 127.0.0.1/localhost signed by it, an
// unrelated self-signed certificate, PEM bundles and PKCS #12 files. The
// command's own answers (fingerprints, dates) serve as independent witnesses.
#pragma once

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>

namespace PkiTest {

inline std::string run(const std::string& command) {
  std::string out;
  FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (!p) return out;
  std::array<char, 4096> buf;
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  ::pclose(p);
  return out;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

class Pki {
 public:
  static const Pki& get() {
    static Pki pki;
    return pki;
  }
  std::string dir;
  ~Pki() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }

  std::string path(const std::string& name) const { return dir + "/" + name; }
  // The Windows form of a file of the folder (drive Z is the Unix root).
  std::u16string windowsPath(const std::string& name) const {
    std::string p = "Z:" + path(name);
    return std::u16string(p.begin(), p.end());
  }
  // "AB12..." from `openssl x509 -fingerprint -sha1`.
  std::string fingerprint(const std::string& name) const {
    std::string out = run("openssl x509 -noout -fingerprint -sha1 -in " + path(name));
    std::string hex;
    for (std::size_t i = out.find('='); i != std::string::npos && i + 1 < out.size(); ++i)
      if (std::isxdigit(static_cast<unsigned char>(out[i + 1]))) hex.push_back(out[i + 1]);
    return hex;
  }
  std::string der(const std::string& name) const {
    return run("openssl x509 -outform DER -in " + path(name));
  }

 private:
  Pki() {
    const char* base = std::getenv("KV_TEST_TMP");
    std::string parent = base && *base ? base : "/tmp";
    std::filesystem::create_directories(parent);
    std::string templ = parent + "/pki-XXXXXX";
    if (!::mkdtemp(templ.data())) throw std::runtime_error("pki folder");
    dir = templ;
    std::string d = dir;
    writeFile(d + "/server.ext",
              "basicConstraints=CA:FALSE\nsubjectAltName=DNS:localhost,IP:127.0.0.1\n"
              "nsComment=\"made for tests\"\n");
    writeFile(d + "/ca.ext", "basicConstraints=critical,CA:TRUE\nkeyUsage=keyCertSign,cRLSign\n");
    std::string o = "openssl ";
    std::string cmd =
        "cd " + d + " && " +
        o + "req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 -subj '/O=Korvane Test/CN=Test CA' "
            "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=keyCertSign,cRLSign && " +
        o + "req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj '/C=DE/O=Korvane/CN=localhost' && " +
        o + "x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 20 "
            "-extfile server.ext && " +
        o + "req -x509 -newkey rsa:2048 -nodes -keyout other.key -out other.pem -days 30 "
            "-subj '/O=Elsewhere/CN=other.test' && " +
        "cat server.pem ca.pem other.pem server.key > bundle.pem && " +
        "cat server.pem server.key > serverkey.pem && " +
        "cat server.pem ca.pem > chain.pem && " +
        o + "pkcs12 -export -passout pass: -inkey server.key -in server.pem -certfile ca.pem -out empty.p12 && " +
        o + "pkcs12 -export -passout pass:secret -inkey server.key -in server.pem -out locked.p12 && " +
        o + "x509 -outform DER -in other.pem -out other.cer && " +
        "mkdir -p tree/sub && cp ca.pem tree/ && cp other.pem tree/sub/ && echo 'not a certificate' > tree/notes.txt && " +
        // Server certificates that fail verification: out of their time
        // (the CA's own command sets any dates), and one that signs itself.
        "printf '[ca]\\ndefault_ca=t\\n[t]\\ndatabase=index.txt\\nnew_certs_dir=.\\nserial=serial\\n"
        "default_md=sha256\\npolicy=p\\nunique_subject=no\\n[p]\\ncommonName=supplied\\n' > ca.cnf && "
        "touch index.txt && echo 1000 > serial && " +
        o + "ca -batch -notext -config ca.cnf -cert ca.pem -keyfile ca.key -in server.csr -out expired.pem "
            "-startdate 20200101000000Z -enddate 20200201000000Z -extfile server.ext && " +
        o + "ca -batch -notext -config ca.cnf -cert ca.pem -keyfile ca.key -in server.csr -out notyet.pem "
            "-startdate 20990101000000Z -enddate 20990201000000Z -extfile server.ext && " +
        o + "req -x509 -newkey rsa:2048 -nodes -keyout selfsigned.key -out selfsigned.pem -days 30 "
            "-subj '/CN=localhost' -addext subjectAltName=DNS:localhost,IP:127.0.0.1";
    cmd = "(" + cmd + ") >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) throw std::runtime_error("openssl could not make the test certificates");
  }
};

}  // namespace PkiTest
