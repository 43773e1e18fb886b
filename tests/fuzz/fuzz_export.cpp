// Reads the fuzzer's bytes as the export reads a KML document: fed to the
// stream in pieces whose size the first byte chooses, every feature and
// link taken through to its last value (every value also read as a time).
#include "export/UKmlReader.h"
#include "platform/UErrors.h"

using namespace quarvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t piece = size_t(data[0]) * 7 + 1;
    TFieldRegistry fields;
    TReadCounts counts;
    size_t seen = 0;
    TKmlReader reader(
        fields, counts, "", true,
        [&](const TKmlFeature& f) {
            for (size_t i = 0; i < f.PartCount; ++i)
                seen += (*f.Parts)[i].Points.size() + (*f.Parts)[i].Z.size();
            for (const auto* values : {f.Shared, f.Own})
                for (const TFieldValue& v : *values) {
                    std::string out;
                    fields.Normalize(v.Field, v.Value, out);
                    seen += out.size();
                    NormalizeDateTime(v.Value, out); // the GeoPackage's reading of a time
                    seen += out.size();
                }
        },
        [&](const TKmlLink& link) { seen += link.Href.size() + link.Folder.size(); });
    TXmlBounds bounds;
    bounds.MaxToken = bounds.MaxEntityText = uint64_t(1) << 20;
    try {
        TXmlStream stream(reader, "fuzz.kml", bounds);
        for (size_t at = 1; at < size; at += piece)
            stream.Feed(reinterpret_cast<const char*>(data) + at, std::min(piece, size - at));
        stream.Finish();
        fields.AssignColumnNames();
        fields.AssignGpkgNames({"fid", "geom"});
    } catch (const EQuarvexError&) {
    }
    return seen == size_t(-1);
}
