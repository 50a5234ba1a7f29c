// Writes the fuzz targets' seed corpora: small valid inputs made by the
// project's own writers, plus the catalogue, configuration and archive that
// the build made with kvtool.
// Usage: kv_fuzz_seeds OUTDIR DATADIR SMALL.msg FULL.msg CONFIG.bxml ARCHIVE.zip
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/text_convert.h"
#include "files/zip_writer.h"
#include "xml/xml_node.h"

namespace fsys = std::filesystem;

namespace {

fsys::path out_root;
int failures = 0;

std::string read_file(const fsys::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "kv_fuzz_seeds: cannot read %s\n", p.c_str());
    ++failures;
  }
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void seed(const char* target, const std::string& name, const std::string& bytes) {
  const fsys::path dir = out_root / target;
  fsys::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) ++failures;
}

struct member {
  std::string name, data;
  zip_writer::method how;
};

std::string zip(const std::vector<member>& members, const std::string& comment = {}, const std::string& before = {}) {
  std::ostringstream out;
  out << before;
  zip_writer w(out, 0);
  for (const member& m : members)
    if (!w.add(m.name, m.data, m.how)) ++failures;
  if (!w.finish(comment)) ++failures;
  return out.str();
}

std::string utf16le(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: kv_fuzz_seeds OUTDIR DATADIR SMALL.msg FULL.msg CONFIG.bxml ARCHIVE.zip\n");
    return 2;
  }
  out_root = argv[1];
  const fsys::path data = argv[2];
  const std::string small_catalogue = read_file(argv[3]);
  const std::string full_catalogue = read_file(argv[4]);
  const std::string configuration = read_file(argv[5]);
  const std::string help = read_file(data / "help.html");
  seed("help_popups", "popups.txt", read_file(data / "help_popups.txt"));
  const std::string image = read_file(data / "images" / "item_separator.png");
  using m = zip_writer::method;

  // ---- ZIP
  seed("zip", "stored.zip", zip({{"readme.txt", "hello, archive\n", m::stored}}));
  seed("zip", "deflated.zip", zip({{"help.html", help, m::deflate}, {"images/sep.png", image, m::automatic}}));
  seed("zip", "comment.zip", zip({{"a", "", m::stored}, {"dir/b.txt", "bbbbbbbbbbbbbbbbbbbbbbbb", m::deflate}}, "a comment"));
  seed("zip", "appended.zip", zip({{"x.xml", "<x/>", m::deflate}}, {}, std::string(64, 'P')));
  seed("zip", "empty.zip", zip({}));
  seed("zip", "program_archive.zip", read_file(argv[6]));

  // ---- catalogue: files, and archives holding one as the program's do
  seed("catalogue", "small.msg", small_catalogue);
  seed("catalogue", "full.msg", full_catalogue);
  seed("catalogue", "small_stored.zip", zip({{"DovecrestVazediInstallMenu.msg", small_catalogue, m::stored}}));
  {
    std::string declared(4, '\0');
    for (int k = 0; k < 4; ++k) declared[k] = static_cast<char>(small_catalogue.size() >> (8 * k));
    seed("catalogue", "small_with_declared_size", declared + small_catalogue);
  }
  seed("catalogue", "small_deflated.zip", zip({{"DovecrestVazediInstallMenu.msg", small_catalogue, m::deflate}}));

  // ---- XML text and binary XML, from the shipped sources and small documents
  std::vector<std::pair<std::string, std::string>> documents;
  for (const char* name : {"configuration.xml", "customization_res.xml", "package_descriptor.xml"})
    documents.emplace_back(name, read_file(data / name));
  documents.emplace_back("mixed.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a x='1' y=\"&lt;&amp;&quot;\">t1<b/>t2 &#233;&#x2603;"
                                      "<c><![CDATA[x\ny]]></c><!-- c --><?pi x?>t3</a>");
  std::string deep;
  for (int k = 0; k < 40; ++k) deep += "<e>";
  for (int k = 0; k < 40; ++k) deep += "</e>";
  documents.emplace_back("deep.xml", deep);
  documents.emplace_back("blanks.xml", "<r>  a  <s> b </s>\t\n<t a=' x  y '/> </r>");
  documents.emplace_back("references.xml", "<r a='1&#0;2&#9;&#10;'>x&#0;y&#13;&#x10FFFF;</r>");
  for (const auto& [name, text] : documents) {
    seed("xml_text", name, text);
    xml_document doc;
    if (!doc.load_memory(text.data(), text.size())) {
      std::fprintf(stderr, "kv_fuzz_seeds: %s does not load\n", name.c_str());
      ++failures;
      continue;
    }
    std::string out;
    if (doc.write_memory(out, xml_document::write_indent)) seed("xml_text", name + ".indented", out);
    if (doc.write_memory(out, xml_document::write_binary)) seed("bxml", name + ".bxml", out);
  }
  seed("bxml", "configuration.bxml", configuration);

  // ---- paths: a base selector byte (bit 7: streams allowed), then UTF-16LE
  const std::pair<unsigned char, std::u16string> paths[] = {
      {0, u"a\\b\\..\\c.txt"},
      {1, u"..\\..\\x"},
      {2, u"/tmp//file"},
      {3, u"\\\\other\\share\\dir\\f"},
      {4, u"\\\\?\\C:\\long\\path"},
      {5, u"\\\\?\\UNC\\srv\\sh\\f"},
      {6, u"D:relative"},
      {7, u"C:\\"},
      {0x80, u"f.txt:stream"},
      {0x83, u"\\\\s\\h\\f:st"},
      {0, u"\\rooted\\name. .\\x"},
      {2, u"\u00e9\u2603\\\U0001F600"},
  };
  int i = 0;
  for (const auto& [selector, path] : paths)
    seed("path", "path" + std::to_string(i++), std::string(1, static_cast<char>(selector)) + utf16le(path));

  // ---- text conversions: UTF-8 texts, and their UTF-16LE forms
  const std::u16string texts[] = {u"plain ASCII", u"\u00e9t\u00e9 \u2603 \u20ac", u"\U0001F600\U00010000\U0010FFFF",
                                  std::u16string(u"lone \xD800 and \xDC00 surrogates")};
  i = 0;
  for (const std::u16string& t : texts) {
    std::string utf8;
    Common::toUtf8(utf8, t.c_str());
    seed("utf", "utf8_" + std::to_string(i), utf8);
    seed("utf", "utf16_" + std::to_string(i++), utf16le(t));
  }
  seed("utf", "bytes", std::string("\xC0\xAF\xE0\x80\xAF\xED\xA0\x80\xED\xB0\x80\xF4\x90\x80\x80\xFF", 16));

  // ---- error chains as their writer puts them
  {
    Common::Error chain;
    Common::makeEnumValueErrorRecord(chain, 0x1122334455667788ull, 0x10073, u"Bad \u00e9", "5", "Colour");
    Common::Error middle(0x42, 0x40007, u"Opening failed");
    middle.setWin32Cause(5);
    chain.setCause(middle);
    const Common::Error singles[] = {Common::Error(), Common::Error(0x1, 0x30005), chain};
    i = 0;
    for (const Common::Error& e : singles) {
      std::size_t n = 0;
      std::uint8_t* bytes = e.serialize(n);
      if (!bytes) ++failures;
      seed("error", "chain" + std::to_string(i++), std::string(reinterpret_cast<const char*>(bytes), n));
      delete[] bytes;
    }
  }

  // ---- HTTP answers: a selector byte (bits 0-1 the range asked: none, 5-9,
  // 5-99, 100-199; bit 2 partial reads; bit 3 read as a document), the size
  // of the reads (1 + 7 * byte), then what the server sends
  {
    const std::pair<unsigned char, std::string> answers[] = {
        {0, "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello"},
        {0, "HTTP/1.0 200 OK\r\nContent-Length: 1000000\r\n\r\nshort"},
        {4, "HTTP/1.1 200 OK\r\nServer: x\r\n\r\nuntil the end"},
        {8, "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n<answer><item a='1'/></answer>\r\n"},
        {8, "HTTP/1.0 200 OK\r\n\r\n<answer><item/></answer><broken>"},
        {1, "HTTP/1.0 206 Partial Content\r\nContent-Range: bytes 5-9/20\r\n\r\n56789"},
        {2, "HTTP/1.0 206 Partial Content\r\nContent-Length: 15\r\nContent-Range: bytes 5-19/20\r\n\r\n"
            "56789abcdefghij"},
        {3, "HTTP/1.0 206 Partial Content\r\nContent-Range: bytes 100-199/*\r\n\r\n" + std::string(60, 'p')},
        {1, "HTTP/1.0 200 OK\r\n\r\n0123456789"},
        {0, "HTTP/1.0 302 Found\r\nLocation: http://elsewhere.example/x\r\n\r\n"},
        {0, "HTTP/1.0 0xC8 OK\r\n\r\nx"},
        {0, "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n"},
    };
    i = 0;
    for (const auto& [selector, bytes] : answers)
      seed("http", "answer" + std::to_string(i++), std::string(1, static_cast<char>(selector)) + "\x09" + bytes);
  }

  // ---- layout markup (UTF-8)
  {
    const char* const markups[] = {
        "a<br>b<br/>c</br>d\n<center>\nx</center>&#65;&#6;&#99999;&#123456;&amp;",
        "<B>bold</b>< b><font face='Arial Black' size=12 stock=headerfont>f</font>\xEF\xA0\x80<a href=x>y\xEF\xA0\x80>t</a><a<b>",
        "x<tooltip name='t'>&#65;<b>y</b>\n</tooltip>z<a tooltip=#t>l</a><zz>",
        "<table cellpadding=2 cellspacing=300 width=50%><tr><td colspan=2 rowspan=2>a</td><td>b</td></tr>"
        "<tr><td width=30%>c</td></tr><tr><td>d</td><td>e</td><td>f</td></tr></table>",
        "<p align=center bgcolor=#ff0000>p</p><div vertical=true><table><tr><td>1</td></tr></table></div>"
        "<layer>l</layer><hr type=sunken/><vpad height=3/><context id=c>c</context><anchor id=a>x</anchor>",
        "<style class=td name=k font-weight=bold bgcolor=0x00ff00 baseclass=k/><td class=k>x</td>"
        "<a href=o>1<a enabled=false>2</a>3</a><indent value=12px>\t<tabpoint value=4pt>a\tb<nobr>c d</nobr>",
    };
    int k = 0;
    for (const char* m : markups) seed("markup", "markup" + std::to_string(k++), m);
  }

  if (failures) std::fprintf(stderr, "kv_fuzz_seeds: %d failures\n", failures);
  return failures ? 1 : 0;
}
