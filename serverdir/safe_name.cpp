#include "serverdir/safe_name.h"

#include <cstdint>
#include <vector>

namespace {

constexpr char16_t kHex[] = u"0123456789ABCDEF";
// An extension up to this many units (dot included) survives a cut.
constexpr std::size_t kKeptExtension = 24;

bool IsHigh(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLow(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// The output of one source character (or surrogate pair) and its size in UTF-8.
struct Piece {
    std::u16string text;
    std::size_t bytes = 0;
};

Piece Escaped(unsigned value, int digits) {
    Piece p;
    p.text = u"%";
    if (digits == 4)
        p.text += u'u';
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        p.text += kHex[(value >> shift) & 0xF];
    p.bytes = p.text.size();
    return p;
}

std::vector<Piece> Pieces(std::u16string_view name) {
    std::vector<Piece> out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char16_t c = name[i];
        if (IsHigh(c) && i + 1 < name.size() && IsLow(name[i + 1])) {
            out.push_back(Piece{std::u16string{c, name[i + 1]}, 4});
            ++i;
        } else if (IsHigh(c) || IsLow(c)) {
            out.push_back(Escaped(c, 4));
        } else if (c < 0x20 || c == 0x7F || c == u'%' || c == u'/' || c == u'\\') {
            out.push_back(Escaped(c, 2));
        } else {
            out.push_back(Piece{std::u16string(1, c), c < 0x80 ? 1u : (c < 0x800 ? 2u : 3u)});
        }
    }
    return out;
}

uint32_t HashOf(std::u16string_view name) {
    uint32_t h = 2166136261u; // FNV-1a over the UTF-16 units
    for (char16_t c : name) {
        h = (h ^ (c & 0xFF)) * 16777619u;
        h = (h ^ (c >> 8)) * 16777619u;
    }
    return h;
}

std::u16string Join(const std::vector<Piece>& pieces, std::size_t from, std::size_t to) {
    std::u16string s;
    for (std::size_t i = from; i < to; ++i)
        s += pieces[i].text;
    return s;
}

} // namespace

std::u16string SafeDiskName(std::u16string_view name) {
    if (name.empty())
        return u"%";
    if (name == u"." || name == u"..")
        return u"%2E" + std::u16string(name.substr(1));

    std::vector<Piece> pieces = Pieces(name);
    std::size_t total = 0;
    for (const Piece& p : pieces)
        total += p.bytes;
    if (total <= kSafeNameMaxBytes)
        return Join(pieces, 0, pieces.size());

    // Too long: keep a short extension, cut the rest at a whole character and mark the
    // cut with a hash of the full name so that different long names stay apart.
    std::size_t extStart = pieces.size();
    std::size_t extUnits = 0;
    for (std::size_t i = pieces.size(); i-- > 1;) {
        extUnits += pieces[i].text.size();
        if (extUnits > kKeptExtension)
            break;
        if (pieces[i].text == u".") {
            extStart = i;
            break;
        }
    }
    std::size_t extBytes = 0;
    for (std::size_t i = extStart; i < pieces.size(); ++i)
        extBytes += pieces[i].bytes;

    uint32_t h = HashOf(name);
    std::u16string mark = u"~";
    for (int shift = 28; shift >= 0; shift -= 4)
        mark += kHex[(h >> shift) & 0xF];

    const std::size_t budget = kSafeNameMaxBytes - mark.size() - extBytes;
    std::size_t used = 0, stemEnd = 0;
    while (stemEnd < extStart && used + pieces[stemEnd].bytes <= budget)
        used += pieces[stemEnd++].bytes;
    return Join(pieces, 0, stemEnd) + mark + Join(pieces, extStart, pieces.size());
}
