#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <sstream>
#include <unordered_map>
#include <vector>

#include "office/Error.h"
#include "office/db/XmlEvents.h"

// libxml2 errors are translated into palomet::Error here and nowhere else.

namespace palomet::xmlimport {

namespace {

constexpr const char* kSchemaNs = "http://www.w3.org/2001/XMLSchema";
constexpr const char* kSchemaInstanceNs = "http://www.w3.org/2001/XMLSchema-instance";

const char* Chars(const xmlChar* s) {
  return reinterpret_cast<const char*>(s);
}

// Whatever a document says, no external DTD or entity is ever fetched.
xmlParserInputPtr RefuseExternalLoad(const char*, const char*, xmlParserCtxtPtr) {
  return nullptr;
}

void InitLibxml() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    xmlSetExternalEntityLoader(RefuseExternalLoad);
  });
}

struct ParseState {
  xmlParserCtxtPtr ctxt = nullptr;
  const std::string* path = nullptr;
  NameTable* names = nullptr;
  EventSink* sink = nullptr;
  XmlInput* input = nullptr;
  std::exception_ptr readError;  // what reading the input raised
  // What the document delivers (text, attribute values, a little per element) against what was
  // read from the file (decompressed): only entities can make the first much larger.
  std::uint64_t bytesRead = 0;
  std::uint64_t delivered = 0;

  // Dictionary pointer -> spelling, direct-mapped: names repeat, and the parser hands out one
  // address per distinct name for the whole parse.
  struct CacheEntry {
    const xmlChar* name = nullptr;
    int spelling = -1;
  };
  std::vector<CacheEntry> spellingCache = std::vector<CacheEntry>(1024);
  std::string pending;  // the text piece being gathered
  std::vector<Attr> attrs;
  int depth = 0;
  int skipDepth = 0;           // depth of the schema element being skipped, 0 when none
  std::vector<char> hadChild;  // per open element (schema ones aside): has a child started

  bool failed = false;
  std::string failure;  // our own failure, in plain words
  int line = 0;
  int column = 0;
  std::exception_ptr sinkError;
  // The parser's first fatal error, and whether it came with all decoded text used up.
  bool parserFailed = false;
  int parserCode = 0;
  std::string parserMessage;
  int parserLine = 0;
  int parserColumn = 0;
  bool parserAtEnd = false;
  // What libxml2 reports outside the parser's context. Its converters decode ahead of the
  // parser and stop at the first bytes that are not valid in the file's encoding, so the
  // parser then runs out of text exactly where those bytes stand.
  std::string badBytes;  // "0x87 0x40 0x81 0x40": the bytes that could not be decoded
  bool conversionFailed = false;
  std::string otherFault;    // any other report, first one only
  bool atEndOfFile = false;  // the whole file was read

  void Fail(std::string what) {
    if (failed) return;
    failed = true;
    failure = std::move(what);
    line = xmlSAX2GetLineNumber(ctxt);
    column = xmlSAX2GetColumnNumber(ctxt);
    xmlStopParser(ctxt);
  }

  void FailWithSinkError() {
    if (failed) return;
    failed = true;
    sinkError = std::current_exception();
    xmlStopParser(ctxt);
  }

  int Intern(const xmlChar* name) {
    const std::uint64_t hash =
        static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(name)) * 0x9E3779B97F4A7C15ull;
    CacheEntry& entry = spellingCache[hash >> 54];  // the top 10 bits: 1024 entries
    if (entry.name == name) return entry.spelling;
    const int spelling = names->Spelling(DecodeName(Chars(name)));
    // Only names from the parser's dictionary keep their address for the whole parse.
    if (xmlDictOwns(ctxt->dict, name) == 1) entry = {name, spelling};
    return spelling;
  }

  // Stops a document whose entities expand far beyond its own size, long before the expansion
  // fills memory; libxml2's own checks let some of these through.
  bool Expanding(std::uint64_t bytes) {
    delivered += bytes;
    if (delivered <= kMaxExpansion * bytesRead + (1u << 20)) return false;
    Fail(
        "entity expansion goes beyond the parser's limits (the document would grow to more "
        "than " +
        std::to_string(kMaxExpansion) + " times the file's size)");
    return true;
  }
  static constexpr std::uint64_t kMaxExpansion = 10;

  // Ends the text piece at a tag. Blank text beside a child element is only layout: a value is
  // a leaf's whole content, and blanks never count as own text. Leaving such pieces out here
  // spares every later pass the whitespace of indented files.
  void FlushText(bool beforeChild) {
    if (pending.empty()) return;
    const bool blank = IsBlank(pending);
    if (!blank || !(beforeChild || (!hadChild.empty() && hadChild.back() != 0))) {
      sink->Text(pending, blank);
    }
    pending.clear();
  }
};

ParseState& StateOf(void* ctx) {
  return *static_cast<ParseState*>(static_cast<xmlParserCtxtPtr>(ctx)->_private);
}

bool IsNilTrue(std::string_view v) {
  while (!v.empty() && IsBlank(v.substr(0, 1))) v.remove_prefix(1);
  while (!v.empty() && IsBlank(v.substr(v.size() - 1))) v.remove_suffix(1);
  return v == "true" || v == "1";
}

void OnStartElement(void* ctx, const xmlChar* localname, const xmlChar*, const xmlChar* uri, int,
                    const xmlChar**, int attrCount, int, const xmlChar** attributes) {
  ParseState& st = StateOf(ctx);
  if (st.failed) return;
  try {
    if (++st.depth > kMaxDepth) {
      st.Fail("elements nest deeper than " + std::to_string(kMaxDepth) + " levels");
      return;
    }
    if (st.skipDepth > 0) return;
    std::uint64_t bytes = 8;
    for (int i = 0; i < attrCount; ++i) {
      bytes += static_cast<std::uint64_t>(attributes[5 * i + 4] - attributes[5 * i + 3]);
    }
    if (st.Expanding(bytes)) return;
    if (uri != nullptr && std::strcmp(Chars(uri), kSchemaNs) == 0) {
      st.FlushText(false);
      st.skipDepth = st.depth;  // an embedded schema is no data
      return;
    }
    st.FlushText(true);
    if (!st.hadChild.empty()) st.hadChild.back() = 1;
    st.hadChild.push_back(0);
    const int spelling = st.Intern(localname);
    const int key = st.names->KeyOf(spelling);
    st.names->NoteElementSpelling(key, spelling);
    bool nil = false;
    st.attrs.clear();
    for (int i = 0; i < attrCount; ++i) {
      const xmlChar** a = attributes + 5 * i;
      const std::string_view value(Chars(a[3]), static_cast<std::size_t>(a[4] - a[3]));
      if (a[2] != nullptr && std::strcmp(Chars(a[2]), kSchemaInstanceNs) == 0) {
        if (std::strcmp(Chars(a[0]), "nil") == 0) nil = IsNilTrue(value);
        continue;
      }
      Attr attr;
      attr.spelling = st.Intern(a[0]);
      attr.key = st.names->KeyOf(attr.spelling);
      attr.ordinal = 0;
      for (const Attr& earlier : st.attrs) attr.ordinal += earlier.key == attr.key ? 1 : 0;
      attr.value = value;
      st.attrs.push_back(attr);
    }
    st.sink->Start(key, nil, st.attrs.data(), static_cast<int>(st.attrs.size()));
  } catch (...) {
    st.FailWithSinkError();
  }
}

void OnEndElement(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
  ParseState& st = StateOf(ctx);
  if (st.failed) return;
  try {
    if (st.skipDepth > 0) {
      if (st.depth == st.skipDepth) st.skipDepth = 0;
    } else {
      st.FlushText(false);
      st.sink->End();
      st.hadChild.pop_back();
    }
    --st.depth;
  } catch (...) {
    st.FailWithSinkError();
  }
}

void OnCharacters(void* ctx, const xmlChar* text, int len) {
  ParseState& st = StateOf(ctx);
  if (st.failed || st.skipDepth > 0 || st.depth == 0) return;
  if (st.Expanding(static_cast<std::uint64_t>(len))) return;
  try {
    st.pending.append(Chars(text), static_cast<std::size_t>(len));
  } catch (...) {
    st.FailWithSinkError();
  }
}

xmlEntityPtr OnGetEntity(void* ctx, const xmlChar* name) {
  ParseState& st = StateOf(ctx);
  xmlParserCtxtPtr ctxt = st.ctxt;
  if (xmlEntityPtr predefined = xmlGetPredefinedEntity(name)) return predefined;
  xmlEntityPtr ent = ctxt->myDoc != nullptr ? xmlGetDocEntity(ctxt->myDoc, name) : nullptr;
  if (ctxt->inSubset != 0) return ent;
  if (ent == nullptr) {
    // The external subset is never read, so its entities are unknown: say so rather than
    // dropping the text.
    st.Fail("the entity '&" + std::string(Chars(name)) +
            ";' is not declared in the document's own DOCTYPE");
    return nullptr;
  }
  if (ent->etype != XML_INTERNAL_GENERAL_ENTITY) {
    st.Fail("the document refers to the external entity '&" + std::string(Chars(name)) +
            ";', and external entities are never read");
    return nullptr;
  }
  return ent;
}

xmlEntityPtr OnGetParameterEntity(void* ctx, const xmlChar* name) {
  ParseState& st = StateOf(ctx);
  xmlParserCtxtPtr ctxt = st.ctxt;
  xmlEntityPtr ent = ctxt->myDoc != nullptr ? xmlGetParameterEntity(ctxt->myDoc, name) : nullptr;
  if (ent != nullptr && ent->etype != XML_INTERNAL_PARAMETER_ENTITY) {
    st.Fail("the document refers to the external parameter entity '%" + std::string(Chars(name)) +
            ";', and external entities are never read");
    return nullptr;
  }
  return ent;
}

xmlParserInputPtr OnResolveEntity(void*, const xmlChar*, const xmlChar*) {
  return nullptr;
}

// One line of a libxml2 message: without its line breaks and trailing blanks.
std::string OneLine(const char* message) {
  std::string text = message != nullptr ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  for (char& c : text) {
    if (c == '\n') c = ' ';
  }
  return text;
}

void OnStructuredError(void* ctx, xmlErrorPtr error) {
  if (error == nullptr || error->level != XML_ERR_FATAL) return;
  // The context may be the parser's own or one it made for an entity's content.
  auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
  if (ctxt == nullptr || ctxt->_private == nullptr) return;
  ParseState& st = StateOf(ctx);
  if (st.parserFailed) return;
  st.parserFailed = true;
  st.parserCode = error->code;
  st.parserMessage = OneLine(error->message);
  if (ctxt == st.ctxt) {
    st.parserLine = error->line;
    st.parserColumn = error->int2;
    st.parserAtEnd = ctxt->input != nullptr && ctxt->input->cur >= ctxt->input->end;
  } else {  // inside an entity's content: point at the reference in the file
    st.parserLine = xmlSAX2GetLineNumber(st.ctxt);
    st.parserColumn = xmlSAX2GetColumnNumber(st.ctxt);
  }
}

// libxml2's reports that no parser context takes: the encoding converters' and the input
// layer's. Without this handler they go to standard error.
void OnUnattachedError(void* data, xmlErrorPtr error) {
  if (data == nullptr || error == nullptr || error->level < XML_ERR_ERROR) return;
  ParseState& st = *static_cast<ParseState*>(data);
  if (error->domain == XML_FROM_I18N && error->code == XML_I18N_CONV_FAILED) {
    if (!st.conversionFailed && error->str1 != nullptr) {
      // The report lists four bytes from the first bad one on, also where fewer are left.
      std::size_t left = 4;
      if (st.ctxt != nullptr && st.ctxt->input != nullptr && st.ctxt->input->buf != nullptr &&
          st.ctxt->input->buf->raw != nullptr) {
        left = std::min<std::size_t>(left, xmlBufUse(st.ctxt->input->buf->raw));
      }
      std::istringstream listed(error->str1);
      std::string byte;
      for (std::size_t i = 0; i < left && listed >> byte; ++i) {
        st.badBytes += (st.badBytes.empty() ? "" : " ") + byte;
      }
    }
    st.conversionFailed = true;
  } else if (error->domain == XML_FROM_IO && error->code == XML_IO_ENCODER) {
    st.conversionFailed = true;  // the input layer's echo of a converter's failure
  } else if (st.otherFault.empty()) {
    st.otherFault = OneLine(error->message);
  }
}

// The few reports libxml2 makes as plain text (printf style).
void OnGenericError(void* data, const char* format, ...) {
  if (data == nullptr || format == nullptr) return;
  ParseState& st = *static_cast<ParseState*>(data);
  if (!st.otherFault.empty()) return;
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  st.otherFault = OneLine(text);
}

// libxml2 keeps its error handlers per thread; for one parse, those of the parsing thread
// take everything libxml2 reports, and the earlier ones come back afterwards.
class RoutedErrors {
 public:
  explicit RoutedErrors(ParseState& st)
      : structured_(xmlStructuredError),
        structuredContext_(xmlStructuredErrorContext),
        generic_(xmlGenericError),
        genericContext_(xmlGenericErrorContext) {
    xmlSetStructuredErrorFunc(&st, OnUnattachedError);
    xmlSetGenericErrorFunc(&st, OnGenericError);
  }
  ~RoutedErrors() {
    xmlSetStructuredErrorFunc(structuredContext_, structured_);
    xmlSetGenericErrorFunc(genericContext_, generic_);
  }
  RoutedErrors(const RoutedErrors&) = delete;
  RoutedErrors& operator=(const RoutedErrors&) = delete;

 private:
  xmlStructuredErrorFunc structured_;
  void* structuredContext_;
  xmlGenericErrorFunc generic_;
  void* genericContext_;
};

// The name of the encoding the file is decoded from: as declared, else as detected.
std::string EncodingName(xmlParserCtxtPtr ctxt) {
  if (ctxt->encoding != nullptr) return Chars(ctxt->encoding);
  if (ctxt->input != nullptr && ctxt->input->buf != nullptr &&
      ctxt->input->buf->encoder != nullptr && ctxt->input->buf->encoder->name != nullptr) {
    return ctxt->input->buf->encoder->name;
  }
  return "its encoding";
}

// Whether bytes were left over at the end of the file that do not make a whole character.
bool EndsInsideACharacter(xmlParserCtxtPtr ctxt) {
  const xmlParserInputPtr input = ctxt->input;
  return input != nullptr && input->buf != nullptr && input->buf->encoder != nullptr &&
         input->buf->raw != nullptr && xmlBufUse(input->buf->raw) > 0;
}

int ReadInput(void* ctx, char* buffer, int len) {
  auto& st = *static_cast<ParseState*>(ctx);
  std::size_t n = 0;
  try {
    n = st.input->Read(buffer, static_cast<std::size_t>(len));
  } catch (...) {
    st.readError = std::current_exception();
    return -1;
  }
  st.bytesRead += n;
  if (n == 0) st.atEndOfFile = true;
  return static_cast<int>(n);
}

std::string Where(int line, int column) {
  if (line <= 0) return {};
  std::string s = "line " + std::to_string(line);
  if (column > 0) s += ", column " + std::to_string(column);
  return s + ": ";
}

std::string ParserFailureText(int code, const std::string& message) {
  switch (code) {
    case XML_ERR_DOCUMENT_EMPTY:
      return "the file holds no XML document";
    case XML_ERR_UNKNOWN_ENCODING:
    case XML_ERR_UNSUPPORTED_ENCODING:
    case XML_ERR_INVALID_ENCODING:
      return "the file's encoding is unknown or does not match its bytes (" + message + ")";
    case XML_ERR_ENTITY_LOOP:
      return "entity expansion goes beyond the parser's limits (" + message + ")";
    default:
      break;
  }
  // The parser's size limits, met by well-formed files: say which limit rather than blame
  // the file's form.
  if (message.find("AttValue length too long") != std::string::npos) {
    return "an attribute value is longer than the parser takes (" +
           std::to_string(XML_MAX_TEXT_LENGTH) + " bytes)";
  }
  if (message.find("CData section too big") != std::string::npos) {
    return "a CDATA section is longer than the parser takes (" +
           std::to_string(XML_MAX_TEXT_LENGTH) + " bytes)";
  }
  if (message.find("Name too long") != std::string::npos) {
    return "a name is longer than the parser takes (" + std::to_string(XML_MAX_NAME_LENGTH) +
           " characters)";
  }
  if (message.find("UTF-8") != std::string::npos || message.find("encoding") != std::string::npos) {
    return "the file's encoding is unknown or does not match its bytes (" + message + ")";
  }
  if (message.find("mplification") != std::string::npos ||
      (message.find("entity") != std::string::npos && message.find("loop") != std::string::npos)) {
    return "entity expansion goes beyond the parser's limits (" + message + ")";
  }
  if (message.find("too long") != std::string::npos) {
    return "a name or attribute value is longer than the parser allows (" + message + ")";
  }
  return "the file is not well-formed XML (" + message + ")";
}

struct CtxtFree {
  void operator()(xmlParserCtxtPtr c) const {
    if (c->myDoc != nullptr) xmlFreeDoc(c->myDoc);
    c->myDoc = nullptr;
    xmlFreeParserCtxt(c);
  }
};

}  // namespace

void ParseXmlFile(const std::string& path, XmlInputs& inputs, NameTable& names,
                  EventSink& sink) {
  InitLibxml();
  const auto fail = [&](const std::string& what) { FailImport(path, what); };
  const std::unique_ptr<XmlInput> input = inputs.Open(path);

  ParseState st;
  st.path = &path;
  st.names = &names;
  st.sink = &sink;
  st.input = input.get();

  xmlSAXHandler sax;
  std::memset(&sax, 0, sizeof sax);
  xmlSAXVersion(&sax, 2);  // keeps the handlers that record the DOCTYPE's own declarations
  sax.startElementNs = OnStartElement;
  sax.endElementNs = OnEndElement;
  sax.startElement = nullptr;
  sax.endElement = nullptr;
  sax.characters = OnCharacters;
  sax.ignorableWhitespace = OnCharacters;
  sax.cdataBlock = OnCharacters;
  sax.reference = nullptr;
  sax.comment = nullptr;
  sax.processingInstruction = nullptr;
  sax.getEntity = OnGetEntity;
  sax.getParameterEntity = OnGetParameterEntity;
  sax.resolveEntity = OnResolveEntity;
  sax.externalSubset = nullptr;  // the external DTD is never read
  sax.serror = OnStructuredError;
  sax.error = nullptr;
  sax.warning = nullptr;
  sax.fatalError = nullptr;

  const RoutedErrors routed(st);
  std::unique_ptr<xmlParserCtxt, CtxtFree> ctxt(
      xmlCreateIOParserCtxt(&sax, nullptr, ReadInput, nullptr, &st, XML_CHAR_ENCODING_NONE));
  if (!ctxt) throw std::bad_alloc();  // the parser's only reason to fail here
  st.ctxt = ctxt.get();
  ctxt->_private = &st;
  // Entities of the internal subset are expanded in place; external ones are refused above.
  xmlCtxtUseOptions(ctxt.get(), XML_PARSE_NONET | XML_PARSE_NOENT);
  xmlParseDocument(ctxt.get());

  if (st.sinkError) std::rethrow_exception(st.sinkError);
  if (st.readError) std::rethrow_exception(st.readError);
  if (st.failed) fail(Where(st.line, st.column) + st.failure);
  // Where the text ran out is where the file's bytes stopped making characters; the parser's
  // complaint about the text ending there is only the consequence. A parser failure before
  // the end of the text stands: it comes first in the file.
  const bool textRanOut = !st.parserFailed || st.parserAtEnd;
  const std::string endsAt =
      st.parserFailed ? Where(st.parserLine, st.parserColumn)
                      : Where(xmlSAX2GetLineNumber(st.ctxt), xmlSAX2GetColumnNumber(st.ctxt));
  if (st.conversionFailed && textRanOut) {
    fail(endsAt +
         (st.badBytes.empty() ? "the bytes here" : "the bytes starting with " + st.badBytes) +
         " are not valid " + EncodingName(st.ctxt) + ", the file's encoding");
  }
  if (st.atEndOfFile && textRanOut && EndsInsideACharacter(st.ctxt)) {
    fail(endsAt + "the file ends inside a character: its last bytes are not a whole " +
         EncodingName(st.ctxt) + " character");
  }
  // The parser out of memory is no fault of the file's.
  if (st.parserFailed && st.parserCode == XML_ERR_NO_MEMORY) throw std::bad_alloc();
  if (st.parserFailed) {
    fail(Where(st.parserLine, st.parserColumn) +
         ParserFailureText(st.parserCode, st.parserMessage));
  }
  if (!ctxt->wellFormed) {
    fail("the file is not well-formed XML" +
         (st.otherFault.empty() ? std::string() : " (" + st.otherFault + ")"));
  }
}

}  // namespace palomet::xmlimport
