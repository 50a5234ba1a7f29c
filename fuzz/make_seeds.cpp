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
  seed("ddf", "package.ddf",
       ".OPTION EXPLICIT\r\n.Set UniqueFiles=\"ON\"\r\n.Set MaxDiskSize=0\r\n.Set MaxCabinetSize=0\r\n"
       ";.Set GenerateInf=OFF\r\n;.Set CompressionType=LZX\r\n.Set Compress=ON\r\n"
       ".Set CabinetNameTemplate=data1.cab\r\n.Set DiskDirectory1=C:\\Pkg\r\n"
       "C:\\Src\\a.txt F1\r\n\"C:\\Src dir\\b \"\"c\"\".txt\" \"F 2\"\r\n");
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
  documents.emplace_back("references.xml", "<r a='1&#1;2&#9;&#10;'>x&#1;y&#13;&#x10FFFF;</r>");
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

  // ---- message patterns: an argument count, per argument a kind byte and
  // eight payload bytes, then the pattern in UTF-16LE
  {
    auto arg = [](unsigned char kind, unsigned long long v) {
      std::string a(1, static_cast<char>(kind));
      for (int k = 0; k < 8; ++k) a += static_cast<char>(v >> (8 * k));
      return a;
    };
    const std::pair<std::string, std::u16string> patterns[] = {
        {std::string(1, '\2') + arg(0, 3) + arg(6, 0x0041), u"{0, choice, 0#|1#1 day|1<{0} days} {1}"},
        {std::string(1, '\4') + arg(5, 1700000000000ull << 16) + arg(1, 12345) + arg(5, 0) + arg(1, 0),
         u"Old file: {0, date_time, short} {1} bytes; new: {2, choice, 0#N/A|0<{2, date_time, short}} "
         u"{3, choice, 0#N/A|0<{3} bytes}"},
        {std::string(1, '\1') + arg(1, 255), u"{0,number,hex} {0,size} {0,time_span} {0,concord,one|few|many}"},
        {std::string(1, '\1') + arg(6, 0x00630062), u"a\xF800{b}\xF800{0,ellipsis,3} {0,path_ellipsis,4} {5}"},
    };
    i = 0;
    for (const auto& [args, pattern] : patterns) seed("message", "pattern" + std::to_string(i++), args + utf16le(pattern));
  }

  // ---- numbers and dates: a selector byte, eight value bytes, then a text
  {
    auto value = [](unsigned char selector, long long v, std::u16string_view text) {
      std::string s(1, static_cast<char>(selector));
      for (int k = 0; k < 8; ++k) s += static_cast<char>(static_cast<unsigned long long>(v) >> (8 * k));
      return s + utf16le(text);
    };
    seed("numbers", "locale", value(0, -1234567, u"-1,234.50"));
    seed("numbers", "hex", value(1, 0xBEEF, u"0x1F"));
    seed("numbers", "decimal", value(2, 42, u"  +17"));
    seed("numbers", "date_short", value(3, 1700000000000LL, u"12/31/1999 11:59:59 PM"));
    seed("numbers", "date_iso", value(19, 253402300799000LL, u"2024-05-01 10:20:30 UTC"));
  }

  // ---- shell links: a header, a local target and a description
  {
    auto u16 = [](unsigned v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; };
    auto u32 = [&](unsigned v) { return u16(v & 0xFFFF) + u16(v >> 16); };
    const std::string base = "C:\\target\\app.exe";
    std::string volume = u32(0x11) + u32(3) + u32(0x1234ABCD) + u32(0x10) + std::string(1, '\0');
    const unsigned base_off = 0x1C + static_cast<unsigned>(volume.size());
    const unsigned suffix_off = base_off + static_cast<unsigned>(base.size()) + 1;
    std::string info = u32(suffix_off + 1) + u32(0x1C) + u32(1) + u32(0x1C) + u32(base_off) + u32(0) +
                       u32(suffix_off) + volume + base + std::string(1, '\0') + std::string(1, '\0');
    auto header = [&](unsigned flags) {
      return u32(0x4C) + u32(0x00021401) + u16(0) + u16(0) + std::string("\xC0\0\0\0\0\0\0\x46", 8) + u32(flags) +
             u32(0x20) + std::string(24, '\1') + u32(5) + u32(2) + u32(7) + u16(0x0641) + u16(0) + u32(0) + u32(0);
    };
    const std::string name = "a link";
    std::string counted = u16(static_cast<unsigned>(name.size()));
    for (char ch : name) counted += u16(static_cast<unsigned char>(ch));
    seed("shell_link", "local.lnk", header(0x2 | 0x4 | 0x80) + info + counted + u32(0));
    seed("shell_link", "header_only.lnk", header(0x80) + u32(0));
  }

  // ---- registry value names, separated by a zero unit
  seed("registry", "names",
       utf16le(std::u16string(u"x\0\xFEFFx\0\xFFFF\0\xFFFE\0Name\0NAME\0", 19) + std::u16string(1, u'\xD800') +
               std::u16string(1, u'\0') + u"\U0001F600"));
  seed("registry", "empty_and_plain", utf16le(std::u16string(u"\0DisplayName\0InstallPath", 24)));

  // ---- the XML writer's trees: operations and their bytes
  seed("xml_writer", "small", std::string("\x03\x61\x62\x63\x00\x02\x01\x61\x04\x41\x20\x20\x42\x03\x02\x0A\x0D", 17));
  seed("xml_writer", "nested", std::string("\x01\x61\x00\x01\x62\x03\x03\x20\x7F\x3C\x01\x02\x01\x26\x02\x80\xFF\xFF", 18));

  // ---- Update service answers: a selector byte (bit 0: getUpdates), then the body
  {
    const std::pair<unsigned char, std::string> answers[] = {
        {0, "<updates protocol-version=\"1\" status=\"0\" description=\"infoUpdates\"><product status=\"0\">"
            "<update version=\"7.2\" description=\"d\"><type>Patch</type><file name=\"a.msp\" size=\"0x10\"/>"
            "<importance>1</importance><patch-sequence><family name=\"F\" sequence=\"1.0\" supersede=\"1\"/>"
            "</patch-sequence></update></product></updates>"},
        {0, "<updates><protocol-version>1</protocol-version><status>0</status><description>infoUpdates"
            "</description><product><status>3</status></product></updates>"},
        {0, "<error id=\"7\" description=\"no\"/>"},
        {1, "<updates protocol-version=\"1\" status=\"0\" description=\"getUpdates\"><product>"
            "<update link=\"https://127.0.0.1:4443/files/a.msi\" hash=\"00FF\"/></product></updates>"},
    };
    i = 0;
    for (const auto& [selector, bytes] : answers)
      seed("update_answer", "answer" + std::to_string(i++), std::string(1, static_cast<char>(selector)) + bytes);
  }

  if (failures) std::fprintf(stderr, "kv_fuzz_seeds: %d failures\n", failures);
  return failures ? 1 : 0;
}
