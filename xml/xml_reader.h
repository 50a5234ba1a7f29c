// The XML readers: a byte lexer for UTF-8 XML text and the event reader of
// binary XML ("BXML"). xml_document::load (xml/xml_node.h) picks one by the
// first bytes and is what most callers want.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class i_file;
class xml_node;

// Tokens of the text lexer.
enum xml_token : int {
  xml_token_end = 0,         // clean end of input
  xml_token_error = 1,
  xml_token_start_tag = 2,   // name right after '<'
  xml_token_close = 3,       // '>' closing a start or end tag
  xml_token_empty_close = 4, // "/>"
  xml_token_end_tag = 5,     // name right after "</"
  xml_token_attribute = 6,   // attribute name
  xml_token_equals = 7,      // '=' and the opening quote
  xml_token_text = 8,        // wide text
  xml_token_bxml = 9,        // "BXML" at offset 0
};

// Lexer of XML text (UTF-8 only, no document type declarations). Whitespace
// in content and attribute values collapses to single blanks and disappears
// after start tags, before end tags and around the document.
class xml_lexer {
 public:
  // Reads the first token. The first read takes 4 bytes only, so that after a
  // "BXML" token the file is positioned right behind the signature.
  explicit xml_lexer(i_file& in);
  xml_lexer(const xml_lexer&) = delete;
  xml_lexer& operator=(const xml_lexer&) = delete;

  int next();
  int token() const { return token_; }
  const std::string& name() const { return name_; }
  const std::u16string& text() const { return text_; }
  // Position of the current token: line from 1, column from 0 counting bytes
  // (tabs to the next multiple of 8).
  int line() const { return line_; }
  int column() const { return column_; }

 private:
  enum : int { st_start, st_content, st_cdata, st_tag, st_value_dq, st_value_sq, st_comment, st_pi };
  enum : int { sp_none, sp_pending, sp_drop };

  int lex();
  void refill();
  unsigned char peek(std::size_t k);
  bool at_end_marker() const { return eof_ && cur_ + 1 == buf_.size(); }
  void advance_position(std::size_t to);
  int text_token(std::u16string text);
  int error_at(std::size_t k);
  bool read_name();
  int lex_reference();
  int lex_run(int state);

  i_file& in_;
  bool eof_ = false;
  bool first_read_ = true;
  int state_ = st_start;
  int space_ = sp_drop;
  int line_ = 1;
  int column_ = 0;
  std::string buf_;
  std::size_t mark_ = 0;  // start of the current token; bytes before it are counted
  std::size_t cur_ = 0;
  int token_ = xml_token_end;
  std::string name_;
  std::u16string text_;
};

// Fills `node`, whose start-tag name the lexer has just returned and whose
// following token is current. On success the token after the element is
// current. Nesting is followed with an explicit stack; `depth` is the node's
// own level (1 for a root) and no descendant may lie deeper than
// xml_max_depth.
bool parse_element(xml_node* node, xml_lexer& lexer, std::size_t depth = 1);

// Event sink of the binary-XML readers; every event does nothing here.
class xml_reader_interface {
 public:
  virtual ~xml_reader_interface();
  virtual void start_document();
  virtual void end_document();
  virtual void start_element(const std::string& name);
  virtual void end_element();
  virtual void attribute(const std::string& name, const std::u16string& value);
  virtual void text(const std::u16string& text);
  // 8-bit text of version 2 (bytes are ISO 8859-1).
  virtual void narrow_text(const std::string& text);

  // Reads a binary-XML document from `in`, positioned right after "BXML",
  // and sends its events here. True when `in` is still Good afterwards: a
  // truncated file fails with 0x40002, malformed structure (unknown version,
  // a version-1 element of 0 text pieces, a variable-length integer that does
  // not fit 32 bits, nesting deeper than xml_max_depth) with 0x4000d, both
  // stored on `in`.
  bool parse_bxml(i_file& in);
};
