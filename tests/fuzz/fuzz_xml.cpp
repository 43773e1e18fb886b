// The fast proof of well-formedness against expat: a text the proof accepts
// must be one expat accepts, and loading it into the DOM must neither
// crash nor fail.
#include "platform/UKmlDom.h"
#include "platform/UXmlCheck.h"

#include <expat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (quarvex::IsPlainWellFormedXml(text)) {
        XML_Parser parser = XML_ParserCreateNS("UTF-8", '\x01');
        const bool accepted = XML_Parse(parser, text.data(), int(text.size()), 1) == XML_STATUS_OK;
        const std::string reason = accepted ? "" : XML_ErrorString(XML_GetErrorCode(parser));
        XML_ParserFree(parser);
        if (!accepted) {
            std::fprintf(stderr, "proven well-formed, but expat says: %s\n", reason.c_str());
            std::abort();
        }
    }
    quarvex::TDomDocument doc;
    try {
        doc.LoadFromText(text, "fuzz.kml");
        doc.CountElementsByTagName("Point");
    } catch (const quarvex::EQuarvexError&) {
    }
    return 0;
}
