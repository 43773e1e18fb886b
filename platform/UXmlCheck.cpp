#include "platform/UXmlCheck.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarvex {

namespace {

// Byte classes for the scans of text, attribute values and markup: each
// table stops only at the bytes that matter where it is used, so that the
// long runs of coordinate text pass in a tight loop.
enum : uint8_t {
    kPlain = 0,  // an ASCII character that needs no look
    kStop,       // a character the scan must look at
    kMultiByte,  // the lead of a UTF-8 sequence, or a stray byte
    kForbidden,  // a control character XML 1.0 does not allow
};

constexpr std::array<uint8_t, 256> MakeClasses(std::string_view stops)
{
    std::array<uint8_t, 256> c{};
    for (int b = 0; b < 0x20; ++b)
        c[size_t(b)] = kForbidden;
    c['\t'] = c['\n'] = c['\r'] = kPlain;
    for (char stop : stops)
        c[uint8_t(stop)] = kStop;
    for (int b = 0x80; b < 0x100; ++b)
        c[size_t(b)] = kMultiByte;
    return c;
}

// A scan's table with the (up to four) characters it stops at; every other
// stop is a byte below 0x20 or above 0x7F.
struct TClasses {
    std::array<uint8_t, 256> of;
    char stops[4];
};

constexpr TClasses MakeScan(std::string_view stops)
{
    const char last = stops[stops.size() - 1];
    return TClasses{MakeClasses(stops),
                    {stops[0], stops[1], stops[2], stops.size() > 3 ? stops[3] : last}};
}

constexpr TClasses kTextClasses = MakeScan("<&]");
constexpr TClasses kValueClasses = MakeScan("<&\"'");
constexpr TClasses kMarkupClasses = MakeScan("-?]");

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// ASCII name characters: 1 may start a name, 2 may only follow.
constexpr std::array<uint8_t, 256> MakeNameClasses()
{
    std::array<uint8_t, 256> c{};
    for (int b = 'a'; b <= 'z'; ++b)
        c[size_t(b)] = c[size_t(b - 'a' + 'A')] = 1;
    c['_'] = 1;
    for (int b = '0'; b <= '9'; ++b)
        c[size_t(b)] = 2;
    c['.'] = c['-'] = 2;
    return c;
}

constexpr std::array<uint8_t, 256> kNameClasses = MakeNameClasses();

// The proof compares attributes pairwise and looks prefixes up one by one;
// an element with more attributes, or more prefixes in scope, goes to the parser.
constexpr size_t kMaxAttributesProven = 32;
constexpr size_t kMaxBindingsProven = 64;

bool IsNameStart(char c)
{
    return kNameClasses[uint8_t(c)] == 1;
}

bool IsNameChar(char c)
{
    return kNameClasses[uint8_t(c)] != 0;
}

// True for the code points XML 1.0 calls characters.
bool IsXmlChar(uint32_t cp)
{
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) || (cp >= 0xE000 && cp <= 0xFFFD) ||
           (cp >= 0x10000 && cp <= 0x10FFFF);
}

struct TName {
    std::string_view prefix; // empty when there is none
    std::string_view local;
    std::string_view qname;
};

struct TBinding {
    std::string_view prefix;
};

class TPlainXmlCheck {
public:
    explicit TPlainXmlCheck(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

    bool Document()
    {
        if (Left() >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0)
            p_ += 3;
        if (Starts("<?xml") && Left() > 5 && IsSpace(p_[5]) && !XmlDeclaration())
            return false;
        if (!Misc())
            return false;
        if (!Starts("<") || !Element())
            return false;
        return Misc() && p_ == end_;
    }

private:
    size_t Left() const { return size_t(end_ - p_); }
    bool Starts(const char* s) const
    {
        const size_t n = std::strlen(s);
        return Left() >= n && std::memcmp(p_, s, n) == 0;
    }
    void SkipSpace()
    {
        while (p_ < end_ && IsSpace(*p_))
            ++p_;
    }

    // One UTF-8 sequence at p_ that encodes an XML character; moves past it.
    bool MultiByteChar()
    {
        const auto* u = reinterpret_cast<const uint8_t*>(p_);
        const size_t left = Left();
        uint32_t cp;
        size_t n;
        if (u[0] >= 0xC2 && u[0] <= 0xDF) {
            n = 2;
            cp = u[0] & 0x1Fu;
        } else if (u[0] >= 0xE0 && u[0] <= 0xEF) {
            n = 3;
            cp = u[0] & 0x0Fu;
        } else if (u[0] >= 0xF0 && u[0] <= 0xF4) {
            n = 4;
            cp = u[0] & 0x07u;
        } else {
            return false;
        }
        if (left < n)
            return false;
        for (size_t i = 1; i < n; ++i) {
            if ((u[i] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (u[i] & 0x3Fu);
        }
        // Shortest form only, and no surrogates (IsXmlChar refuses those).
        if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || !IsXmlChar(cp))
            return false;
        p_ += n;
        return true;
    }

    // Plain characters up to the first byte of another class; sixteen bytes
    // at a time where the machine allows, since most bytes of a KML file
    // are coordinate text.
    void SkipPlain(const TClasses& classes)
    {
#if defined(__SSE2__)
        const __m128i low = _mm_set1_epi8(0x20);
        const __m128i a = _mm_set1_epi8(classes.stops[0]);
        const __m128i b = _mm_set1_epi8(classes.stops[1]);
        const __m128i c = _mm_set1_epi8(classes.stops[2]);
        const __m128i d = _mm_set1_epi8(classes.stops[3]);
        const __m128i tab = _mm_set1_epi8('\t'), lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
        while (end_ - p_ >= 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p_));
            // As signed bytes, those above 0x7F are negative: one compare
            // finds them together with the control characters, of which
            // tab, line feed and carriage return are then let through.
            const __m128i space = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, tab), _mm_cmpeq_epi8(x, lf)),
                                               _mm_cmpeq_epi8(x, cr));
            const __m128i hit =
                _mm_or_si128(_mm_andnot_si128(space, _mm_cmplt_epi8(x, low)),
                             _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, a), _mm_cmpeq_epi8(x, b)),
                                          _mm_or_si128(_mm_cmpeq_epi8(x, c), _mm_cmpeq_epi8(x, d))));
            const unsigned mask = unsigned(_mm_movemask_epi8(hit));
            if (mask == 0) {
                p_ += 16;
                continue;
            }
            p_ += __builtin_ctz(mask);
            return;
        }
#endif
        while (p_ < end_ && classes.of[uint8_t(*p_)] == kPlain)
            ++p_;
    }

    // Moves past characters until stop (a two- or three-byte marker such as
    // "-->" or "?>"); false at a forbidden byte, bad UTF-8 or the end.
    bool CharsUntil(const char* stop)
    {
        const size_t n = std::strlen(stop);
        while (true) {
            SkipPlain(kMarkupClasses);
            if (p_ >= end_)
                return false;
            if (Starts(stop)) {
                p_ += n;
                return true;
            }
            const uint8_t c = kMarkupClasses.of[uint8_t(*p_)];
            if (c == kForbidden || (c == kMultiByte && !MultiByteChar()))
                return false;
            if (c != kMultiByte)
                ++p_;
        }
    }

    bool Name(TName& name)
    {
        const char* start = p_;
        if (p_ >= end_ || !IsNameStart(*p_))
            return false;
        while (p_ < end_ && IsNameChar(*p_))
            ++p_;
        const char* colon = nullptr;
        if (p_ < end_ && *p_ == ':') {
            colon = p_++;
            if (p_ >= end_ || !IsNameStart(*p_))
                return false;
            while (p_ < end_ && IsNameChar(*p_))
                ++p_;
        }
        // A name that goes on with ':' or a byte beyond ASCII is left to the parser.
        if (p_ < end_ && (*p_ == ':' || uint8_t(*p_) >= 0x80))
            return false;
        name.qname = std::string_view(start, size_t(p_ - start));
        if (colon) {
            name.prefix = std::string_view(start, size_t(colon - start));
            name.local = std::string_view(colon + 1, size_t(p_ - colon - 1));
        } else {
            name.prefix = {};
            name.local = name.qname;
        }
        return true;
    }

    // "&...;" at p_: a character reference to an XML character or one of
    // the five predefined entities.
    bool Reference()
    {
        ++p_; // '&'
        if (p_ < end_ && *p_ == '#') {
            ++p_;
            const bool hex = p_ < end_ && *p_ == 'x';
            if (hex)
                ++p_;
            uint32_t cp = 0;
            int digits = 0;
            for (; p_ < end_ && *p_ != ';'; ++p_, ++digits) {
                const char c = *p_;
                int v;
                if (c >= '0' && c <= '9')
                    v = c - '0';
                else if (hex && c >= 'a' && c <= 'f')
                    v = c - 'a' + 10;
                else if (hex && c >= 'A' && c <= 'F')
                    v = c - 'A' + 10;
                else
                    return false;
                if (digits >= 8) // past 0x10FFFF whatever the digits
                    return false;
                cp = cp * (hex ? 16 : 10) + uint32_t(v);
            }
            if (p_ >= end_ || digits == 0 || !IsXmlChar(cp))
                return false;
            ++p_;
            return true;
        }
        static constexpr std::string_view kPredefined[] = {"lt;", "gt;", "amp;", "apos;", "quot;"};
        for (std::string_view entity : kPredefined) {
            if (Left() >= entity.size() && std::string_view(p_, entity.size()) == entity) {
                p_ += entity.size();
                return true;
            }
        }
        return false;
    }

    // Character data up to the next '<' (or the end); false on "]]>", a
    // bad reference or a character that is not allowed.
    bool Text()
    {
        while (true) {
            SkipPlain(kTextClasses);
            if (p_ >= end_)
                return true;
            switch (kTextClasses.of[uint8_t(*p_)]) {
            case kStop:
                if (*p_ == '<')
                    return true;
                if (*p_ == '&') {
                    if (!Reference())
                        return false;
                } else if (Starts("]]>")) {
                    return false;
                } else {
                    ++p_;
                }
                break;
            case kMultiByte:
                if (!MultiByteChar())
                    return false;
                break;
            default: return false;
            }
        }
    }

    // A quoted attribute value; empty tells whether it was "".
    bool AttributeValue(std::string_view& value, bool& hasReference)
    {
        if (p_ >= end_ || (*p_ != '"' && *p_ != '\''))
            return false;
        const char quote = *p_++;
        const char* start = p_;
        hasReference = false;
        while (true) {
            SkipPlain(kValueClasses);
            if (p_ >= end_)
                return false;
            const char c = *p_;
            if (c == quote) {
                value = std::string_view(start, size_t(p_ - start));
                ++p_;
                return true;
            }
            switch (kValueClasses.of[uint8_t(c)]) {
            case kStop:
                if (c == '<')
                    return false;
                if (c == '&') {
                    hasReference = true;
                    if (!Reference())
                        return false;
                } else {
                    ++p_; // the other quote
                }
                break;
            case kMultiByte:
                if (!MultiByteChar())
                    return false;
                break;
            default: return false;
            }
        }
    }

    bool IsBound(std::string_view prefix) const
    {
        if (prefix == "xml")
            return true;
        for (auto it = bindings_.rbegin(); it != bindings_.rend(); ++it)
            if (it->prefix == prefix)
                return true;
        return false;
    }

    // A namespace declaration this test can vouch for; the rest (an empty
    // prefix value, the reserved prefixes and names) goes to the parser.
    bool Declaration(const TName& name, std::string_view value, bool hasReference)
    {
        if (hasReference || value == "http://www.w3.org/XML/1998/namespace" || value == "http://www.w3.org/2000/xmlns/")
            return false;
        if (name.prefix.empty())
            return true; // xmlns="..." (empty undeclares the default)
        if (value.empty() || name.local == "xml" || name.local == "xmlns" || bindings_.size() >= kMaxBindingsProven)
            return false;
        bindings_.push_back(TBinding{name.local});
        return true;
    }

    // From '<' to the end of the element; iterative over nesting.
    bool Element()
    {
        struct TOpen {
            std::string_view qname;
            size_t bindings;
        };
        std::vector<TOpen> open;
        std::vector<TName> attributes;
        while (true) {
            // p_ is at '<' of a start tag.
            ++p_;
            TName name;
            if (!Name(name))
                return false;
            const size_t bindingsBefore = bindings_.size();
            attributes.clear();
            bool empty = false;
            while (true) {
                const bool spaced = p_ < end_ && IsSpace(*p_);
                SkipSpace();
                if (p_ >= end_)
                    return false;
                if (*p_ == '>') {
                    ++p_;
                    break;
                }
                if (Starts("/>")) {
                    p_ += 2;
                    empty = true;
                    break;
                }
                TName attribute;
                if (!spaced || !Name(attribute))
                    return false;
                SkipSpace();
                if (p_ >= end_ || *p_ != '=')
                    return false;
                ++p_;
                SkipSpace();
                std::string_view value;
                bool hasReference = false;
                if (!AttributeValue(value, hasReference))
                    return false;
                if (attributes.size() >= kMaxAttributesProven)
                    return false;
                for (const TName& other : attributes) {
                    // The same name twice is an error; the same local name under
                    // two prefixes may name one namespace twice: the parser decides.
                    if (other.local == attribute.local && (other.prefix == attribute.prefix ||
                                                           (!other.prefix.empty() && !attribute.prefix.empty())))
                        return false;
                }
                attributes.push_back(attribute);
                if (attribute.qname == "xmlns" || attribute.prefix == "xmlns") {
                    if (!Declaration(attribute, value, hasReference))
                        return false;
                }
            }
            if (!name.prefix.empty() && (name.prefix == "xmlns" || !IsBound(name.prefix)))
                return false;
            for (const TName& attribute : attributes)
                if (!attribute.prefix.empty() && attribute.prefix != "xmlns" && !IsBound(attribute.prefix))
                    return false;
            if (empty)
                bindings_.resize(bindingsBefore);
            else
                open.push_back(TOpen{name.qname, bindingsBefore});
            // Content up to the next start tag, or end tags until the element closes.
            while (true) {
                if (open.empty())
                    return true;
                if (!Text() || p_ >= end_)
                    return false;
                if (Starts("</")) {
                    p_ += 2;
                    TName closing;
                    if (!Name(closing) || closing.qname != open.back().qname)
                        return false;
                    SkipSpace();
                    if (p_ >= end_ || *p_ != '>')
                        return false;
                    ++p_;
                    bindings_.resize(open.back().bindings);
                    open.pop_back();
                } else if (Starts("<!--")) {
                    if (!Comment())
                        return false;
                } else if (Starts("<![CDATA[")) {
                    p_ += 9;
                    if (!CharsUntil("]]>"))
                        return false;
                } else if (Starts("<?")) {
                    if (!ProcessingInstruction())
                        return false;
                } else if (Starts("<!")) {
                    return false;
                } else {
                    break; // a start tag
                }
            }
        }
    }

    bool Comment()
    {
        p_ += 4;
        // "--" may only stand in "-->".
        while (true) {
            if (!CharsUntil("-"))
                return false;
            if (p_ < end_ && *p_ == '-')
                return p_ + 1 < end_ && p_[1] == '>' && (p_ += 2, true);
        }
    }

    bool ProcessingInstruction()
    {
        p_ += 2;
        TName target;
        if (!Name(target) || !target.prefix.empty())
            return false;
        const std::string_view t = target.qname;
        if (t.size() == 3 && (t[0] | 0x20) == 'x' && (t[1] | 0x20) == 'm' && (t[2] | 0x20) == 'l')
            return false;
        if (Starts("?>")) {
            p_ += 2;
            return true;
        }
        if (p_ >= end_ || !IsSpace(*p_))
            return false;
        return CharsUntil("?>");
    }

    // Comments, processing instructions and white space around the root.
    bool Misc()
    {
        while (true) {
            SkipSpace();
            if (Starts("<!--")) {
                if (!Comment())
                    return false;
            } else if (Starts("<?")) {
                if (!ProcessingInstruction())
                    return false;
            } else {
                return true;
            }
        }
    }

    // One pseudo-attribute of the XML declaration: S name Eq quoted value.
    bool Pseudo(const char* name, std::string_view& value)
    {
        const char* start = p_;
        SkipSpace();
        if (p_ == start || !Starts(name)) {
            p_ = start;
            return false;
        }
        p_ += std::strlen(name);
        SkipSpace();
        if (p_ >= end_ || *p_ != '=') {
            p_ = start;
            return false;
        }
        ++p_;
        SkipSpace();
        if (p_ >= end_ || (*p_ != '"' && *p_ != '\'')) {
            p_ = start;
            return false;
        }
        const char quote = *p_++;
        const char* v = p_;
        while (p_ < end_ && *p_ != quote && *p_ != '<' && *p_ != '>')
            ++p_;
        if (p_ >= end_ || *p_ != quote) {
            p_ = start;
            return false;
        }
        value = std::string_view(v, size_t(p_ - v));
        ++p_;
        return true;
    }

    bool XmlDeclaration()
    {
        p_ += 5;
        std::string_view version, encoding, standalone;
        if (!Pseudo("version", version) || version != "1.0")
            return false;
        if (Pseudo("encoding", encoding)) {
            if (encoding.empty() || !((encoding[0] | 0x20) >= 'a' && (encoding[0] | 0x20) <= 'z'))
                return false;
            for (char c : encoding)
                if (!(IsNameChar(c) && c != ':'))
                    return false;
        }
        if (Pseudo("standalone", standalone) && standalone != "yes" && standalone != "no")
            return false;
        SkipSpace();
        if (!Starts("?>"))
            return false;
        p_ += 2;
        return true;
    }

    const char* p_;
    const char* end_;
    std::vector<TBinding> bindings_;
};

} // namespace

bool IsPlainWellFormedXml(std::string_view text)
{
    return TPlainXmlCheck(text).Document();
}

} // namespace quarvex
