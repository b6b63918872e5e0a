#include "bench/staging/XmlBaseline.h"

#include <libxml/parser.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "office/Error.h"

namespace palomet {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
struct CtxtFree {
  void operator()(xmlParserCtxtPtr c) const { xmlFreeParserCtxt(c); }
};

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw Error(errnum::kXmlImport, "Cannot parse '" + path + "': " + what + ".");
}

struct Counter {
  std::FILE* file = nullptr;
  std::uint64_t elements = 0;
  std::uint64_t textBytes = 0;
};

void CountStart(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*, int, const xmlChar**,
                int, int, const xmlChar**) {
  ++static_cast<Counter*>(static_cast<xmlParserCtxtPtr>(ctx)->_private)->elements;
}

void CountText(void* ctx, const xmlChar*, int len) {
  static_cast<Counter*>(static_cast<xmlParserCtxtPtr>(ctx)->_private)->textBytes +=
      static_cast<std::uint64_t>(len);
}

int CountRead(void* ctx, char* buffer, int len) {
  return static_cast<int>(
      std::fread(buffer, 1, static_cast<std::size_t>(len), static_cast<Counter*>(ctx)->file));
}

}  // namespace

std::uint64_t ParseXmlBaseline(const std::string& path) {
  xmlInitParser();
  Counter counter;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) Fail(path, "the file cannot be read");
  std::setvbuf(file.get(), nullptr, _IOFBF, 1 << 18);
  counter.file = file.get();
  xmlSAXHandler sax;
  std::memset(&sax, 0, sizeof sax);
  sax.initialized = XML_SAX2_MAGIC;
  sax.startElementNs = CountStart;
  sax.characters = CountText;
  sax.cdataBlock = CountText;
  std::unique_ptr<xmlParserCtxt, CtxtFree> ctxt(
      xmlCreateIOParserCtxt(&sax, nullptr, CountRead, nullptr, &counter, XML_CHAR_ENCODING_NONE));
  if (!ctxt) Fail(path, "no parser");
  ctxt->_private = &counter;
  xmlCtxtUseOptions(ctxt.get(), XML_PARSE_NONET);
  xmlParseDocument(ctxt.get());
  if (!ctxt->wellFormed) Fail(path, "the file is not well-formed XML");
  return counter.elements;
}

}  // namespace palomet
