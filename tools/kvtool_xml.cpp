// XML commands: xml2bxml, bxml2xml, config.
#include <cstdio>
#include <iostream>

#include "core/resource_archive.h"
#include "files/zip_file.h"
#include "tools/kvtool.h"
#include "xml/product_configuration.h"
#include "xml/xml_node.h"

namespace {

// Reads text XML or binary XML; false after printing why.
bool load_document(ri_file& in, const std::string& what, xml_document& doc) {
  int line = 0, column = 0;
  if (doc.load(in, line, column)) return true;
  std::string why = what + ": not a readable XML or binary-XML document (stopped at line " +
                    std::to_string(line) + ", column " + std::to_string(column) + ")";
  if (in.Bad()) why += ": " + kvtool::describe(in.error());
  kvtool::fail(why);
  return false;
}

bool load_file(const std::string& path, xml_document& doc) {
  std::string why;
  std::unique_ptr<kvtool::stream_file> in = kvtool::open_input(path, why);
  if (!in) return kvtool::fail(why), false;
  return load_document(*in, path, doc);
}

int convert(const kvtool::arguments& args, const char* command, unsigned flags) {
  if (args.size() != 2) return kvtool::usage_error(command);
  xml_document doc;
  if (!load_file(args[0], doc)) return 1;
  std::string bytes;
  if (!doc.write_memory(bytes, flags)) return kvtool::fail(args[0] + ": the document cannot be written in that form");
  if (const int rc = kvtool::store(args[1], {bytes})) return rc;
  std::printf("%s: %zu bytes\n", args[1].c_str(), bytes.size());
  return 0;
}

int run_xml2bxml(const kvtool::arguments& args) { return convert(args, "xml2bxml", xml_document::write_binary); }

int run_bxml2xml(const kvtool::arguments& args) {
  if (!args.empty() && args[0] == "--exact")
    return convert(kvtool::arguments(args.begin() + 1, args.end()), "bxml2xml", 0);
  return convert(args, "bxml2xml", xml_document::write_indent);
}

// The configuration member of an archive (also one appended to a program), or
// the file itself when it is not an archive.
int run_config(const kvtool::arguments& args) {
  if (args.size() != 2) return kvtool::usage_error("config");
  const std::string& path = args[0];
  std::string why;
  std::unique_ptr<kvtool::stream_file> file = kvtool::open_input(path, why);
  if (!file) return kvtool::fail(why);
  xml_document doc;
  zip_file zip(file.get());
  if (zip.Good()) {
    const std::u16string member = kvtool::member_name(Common::configurationMemberName);
    std::unique_ptr<ri_file> in(zip.open_file(member.c_str(), false));
    if (!in)
      return kvtool::fail(path + ": the archive holds no " + Common::configurationMemberName);
    if (!load_document(*in, path + ":" + Common::configurationMemberName, doc)) return 1;
  } else {
    file->clear_error();
    file->seek_set(0);
    if (!load_document(*file, path, doc)) return 1;
  }
  const char16_t* value = Common::findConfigString(doc, args[1].c_str());
  if (!value) return kvtool::fail(args[1] + ": no such configuration string");
  std::printf("%s\n", kvtool::to_utf8(value).c_str());
  return 0;
}

const bool registered_xml2bxml = kvtool::add_command(
    {"xml2bxml", "IN OUT",
     "Compiles an XML document (or re-writes a binary one) into binary XML, the form\n"
     "the product configuration ships in.",
     run_xml2bxml});
const bool registered_bxml2xml = kvtool::add_command(
    {"bxml2xml", "[--exact] IN OUT",
     "Writes a binary-XML (or XML) document as indented XML text. Indenting adds\n"
     "blanks to the text around child elements; --exact writes it unindented, so\n"
     "that reading it back gives the same tree.",
     run_bxml2xml});
const bool registered_config = kvtool::add_command(
    {"config", "ARCHIVE KEY",
     "Prints the configuration string KEY of the product configuration in ARCHIVE\n"
     "(a ZIP, or a program with its archive appended), or of ARCHIVE itself when it\n"
     "is a configuration document. Fails when the key is absent.",
     run_config});

}  // namespace
