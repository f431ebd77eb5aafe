#include "ui/skin/skin_model.h"

#include "base/xml_node.h"

#include <Qt>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

constexpr int kMaxCoordinate = 10000; // no window of ours is larger; bounds bad input

std::u16string Attr(const XmlNode& node, const char16_t* name) {
    const XmlAttribute* attr = node.FindAttr(name);
    return attr ? attr->value : std::u16string();
}

bool HasAttr(const XmlNode& node, const char16_t* name) {
    return node.FindAttr(name) != nullptr;
}

std::optional<int> ParseInt(std::u16string_view text) {
    std::string narrow;
    for (char16_t c : text) {
        if (c == u' ') {
            continue;
        }
        if ((c < u'0' || c > u'9') && c != u'-') {
            return std::nullopt;
        }
        narrow.push_back(static_cast<char>(c));
    }
    int value = 0;
    auto [end, ec] = std::from_chars(narrow.data(), narrow.data() + narrow.size(), value);
    if (ec != std::errc() || end != narrow.data() + narrow.size() || narrow.empty()) {
        return std::nullopt;
    }
    return std::clamp(value, -kMaxCoordinate, kMaxCoordinate);
}

std::optional<int> IntAttr(const XmlNode& node, const char16_t* name) {
    if (!HasAttr(node, name)) {
        return std::nullopt;
    }
    return ParseInt(Attr(node, name));
}

bool BoolAttr(const XmlNode& node, const char16_t* name, bool fallback) {
    if (!HasAttr(node, name)) {
        return fallback;
    }
    const std::u16string v = Attr(node, name);
    return v == u"true" || v == u"1" || v == u"yes";
}

QColor ColorAttr(const XmlNode& node, const char16_t* name) {
    return ParseSkinColor(Attr(node, name));
}

int AlignAttr(const XmlNode& node) {
    int align = 0;
    const std::u16string h = Attr(node, u"align");
    if (h == u"left") {
        align |= Qt::AlignLeft;
    } else if (h == u"right") {
        align |= Qt::AlignRight;
    } else if (h == u"center") {
        align |= Qt::AlignHCenter;
    }
    const std::u16string v = Attr(node, u"valign");
    if (v == u"top") {
        align |= Qt::AlignTop;
    } else if (v == u"bottom") {
        align |= Qt::AlignBottom;
    } else if (v == u"center") {
        align |= Qt::AlignVCenter;
    }
    return align;
}

std::optional<DuKind> KindOf(std::u16string_view element) {
    if (element == u"button") {
        return DuKind::Button;
    }
    if (element == u"checkbutton") {
        return DuKind::CheckButton;
    }
    if (element == u"tabbutton") {
        return DuKind::TabButton;
    }
    if (element == u"text") {
        return DuKind::Text;
    }
    if (element == u"image") {
        return DuKind::Image;
    }
    if (element == u"host") {
        return DuKind::Host;
    }
    if (element == u"group") {
        return DuKind::Group;
    }
    return std::nullopt;
}

DuGlyph GlyphAttr(const XmlNode& node) {
    const std::u16string g = Attr(node, u"glyph");
    if (g == u"close") {
        return DuGlyph::Close;
    }
    if (g == u"minimize") {
        return DuGlyph::Minimize;
    }
    if (g == u"maximize") {
        return DuGlyph::Maximize;
    }
    if (g == u"menu") {
        return DuGlyph::Menu;
    }
    return DuGlyph::None;
}

DuLook ReadLook(const XmlNode& node) {
    DuLook look;
    look.text = Attr(node, u"text");
    look.textColor = ColorAttr(node, u"color");
    look.hoverTextColor = ColorAttr(node, u"hovercolor");
    look.background = ColorAttr(node, u"background");
    look.hoverBackground = ColorAttr(node, u"hoverbackground");
    look.pressedBackground = ColorAttr(node, u"pressedbackground");
    look.checkedBackground = ColorAttr(node, u"checkedbackground");
    look.border = ColorAttr(node, u"border");
    look.radius = std::clamp(IntAttr(node, u"radius").value_or(0), 0, 100);
    look.fontSize = std::clamp(IntAttr(node, u"fontsize").value_or(0), 0, 200);
    look.bold = BoolAttr(node, u"bold", false);
    look.underlineOnHover = BoolAttr(node, u"link", false);
    look.align = AlignAttr(node);
    look.wrap = BoolAttr(node, u"wrap", false);
    look.padding = std::clamp(IntAttr(node, u"padding").value_or(0), 0, 100);
    look.image = Attr(node, u"image");
    look.hoverImage = Attr(node, u"hoverimage");
    look.checkedImage = Attr(node, u"checkedimage");
    look.glyph = GlyphAttr(node);
    look.hand = BoolAttr(node, u"hand", false);
    look.tooltip = Attr(node, u"tooltip");
    return look;
}

DuGeometry ReadGeometry(const XmlNode& node) {
    DuGeometry g;
    g.left = IntAttr(node, u"left");
    g.top = IntAttr(node, u"top");
    g.right = IntAttr(node, u"right");
    g.bottom = IntAttr(node, u"bottom");
    g.width = IntAttr(node, u"width");
    g.height = IntAttr(node, u"height");
    return g;
}

void ReadControls(const XmlNode& parent, std::vector<DuControlDef>& out, int depth) {
    if (depth > 16) { // nesting deeper than any layout needs: a broken or hostile file
        return;
    }
    for (const auto& child : parent.children) {
        if (child->kind != XmlNodeKind::Element) {
            continue;
        }
        const std::optional<DuKind> kind = KindOf(child->name);
        if (!kind) {
            continue;
        }
        DuControlDef def;
        def.kind = *kind;
        def.name = Attr(*child, u"name");
        def.geometry = ReadGeometry(*child);
        def.look = ReadLook(*child);
        def.visible = BoolAttr(*child, u"visible", true);
        def.checked = BoolAttr(*child, u"checked", false);
        def.tabGroup = Attr(*child, u"tabgroup");
        def.page = Attr(*child, u"page");
        const std::u16string action = Attr(*child, u"action");
        if (action == u"close") {
            def.action = DuAction::Close;
        } else if (action == u"minimize") {
            def.action = DuAction::Minimize;
        }
        ReadControls(*child, def.children, depth + 1);
        out.push_back(std::move(def));
    }
}

std::vector<std::u16string> SplitList(const std::u16string& text) {
    std::vector<std::u16string> parts;
    std::u16string current;
    for (char16_t c : text + u",") {
        if (c == u',') {
            while (!current.empty() && current.front() == u' ') {
                current.erase(current.begin());
            }
            while (!current.empty() && current.back() == u' ') {
                current.pop_back();
            }
            if (!current.empty()) {
                parts.push_back(current);
            }
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    return parts;
}

} // namespace

namespace {

// Bands "a-b,c-d" inside [0, extent]; malformed, overlapping or outside ones are dropped.
std::vector<DuBand> ParseBands(const std::u16string& text, int extent) {
    std::vector<DuBand> bands;
    for (const std::u16string& part : SplitList(text)) {
        const std::size_t dash = part.find(u'-', 1);
        if (dash == std::u16string::npos) {
            continue;
        }
        const std::optional<int> from = ParseInt(std::u16string_view(part).substr(0, dash));
        const std::optional<int> to = ParseInt(std::u16string_view(part).substr(dash + 1));
        if (from && to && *from >= 0 && *from < *to && *to <= extent) {
            bands.push_back(DuBand{*from, *to});
        }
    }
    std::sort(bands.begin(), bands.end(),
              [](const DuBand& a, const DuBand& b) { return a.from < b.from; });
    std::vector<DuBand> apart;
    for (const DuBand& band : bands) {
        if (apart.empty() || band.from >= apart.back().to) {
            apart.push_back(band);
        }
    }
    return apart;
}

// Maps a position of the minimum-size layout (`extent` long) onto an axis `actual` long.
class Squeeze {
public:
    Squeeze(const std::vector<DuBand>& bands, int extent, int actual) : m_bands(bands) {
        int total = 0;
        for (const DuBand& b : bands) {
            total += b.to - b.from;
        }
        const int deficit = extent - actual;
        m_share = total > 0 && deficit > 0 ? std::min(1.0, double(deficit) / total) : 0.0;
    }
    bool Active() const { return m_share > 0; }
    int Map(int pos) const {
        double taken = 0;
        for (const DuBand& b : m_bands) {
            if (pos <= b.from) {
                break;
            }
            taken += (std::min(pos, b.to) - b.from) * m_share;
        }
        return static_cast<int>(std::lround(pos - taken));
    }

private:
    const std::vector<DuBand>& m_bands;
    double m_share = 0;
};

} // namespace

QRect DuWindowDef::PlaceControl(const DuControlDef& control, QSize size) const {
    const DuGeometry& g = control.geometry;
    const Squeeze sx(shrinkX, minSize.width(), size.width());
    const Squeeze sy(shrinkY, minSize.height(), size.height());
    if (!sx.Active() && !sy.Active()) {
        return g.Place(size);
    }
    const QSize design(sx.Active() ? minSize.width() : size.width(),
                       sy.Active() ? minSize.height() : size.height());
    const QRect r = g.Place(design);
    const bool pane = control.kind == DuKind::Host || control.kind == DuKind::Group;
    // One axis: [pos, pos + len) of the minimum-size layout mapped onto the squeezed one.
    auto axis = [pane](const Squeeze& s, std::optional<int> lead, std::optional<int> trail,
                       std::optional<int> fixed, int pos, int len, int& outPos, int& outLen) {
        if (!s.Active()) {
            outPos = pos;
            outLen = len;
        } else if (pane || (lead && trail) || !fixed) {
            outPos = s.Map(pos);
            outLen = std::max(s.Map(pos + len) - outPos, 0);
        } else {
            outLen = len;
            if (lead) {
                outPos = s.Map(pos);
            } else if (trail) {
                outPos = s.Map(pos + len) - len;
            } else {
                outPos = s.Map(pos + len / 2) - len / 2;
            }
        }
    };
    int x = 0, w = 0, y = 0, h = 0;
    axis(sx, g.left, g.right, g.width, r.left(), r.width(), x, w);
    axis(sy, g.top, g.bottom, g.height, r.top(), r.height(), y, h);
    return QRect(x, y, w, h);
}

QRect DuGeometry::Place(QSize parent) const {
    auto axis = [](std::optional<int> lead, std::optional<int> trail, std::optional<int> size,
                   int extent, int& pos, int& len) {
        if (lead && trail) {
            pos = *lead;
            len = extent - *lead - *trail;
        } else if (lead) {
            pos = *lead;
            len = size.value_or(extent - *lead);
        } else if (trail) {
            len = size.value_or(extent - *trail);
            pos = extent - *trail - len;
        } else {
            len = size.value_or(extent);
            pos = (extent - len) / 2;
        }
        len = std::max(len, 0);
    };
    int x = 0, w = 0, y = 0, h = 0;
    axis(left, right, width, parent.width(), x, w);
    axis(top, bottom, height, parent.height(), y, h);
    return QRect(x, y, w, h);
}

const DuWindowDef* DuSkinDef::FindWindow(std::u16string_view name) const {
    for (const DuWindowDef& w : windows) {
        if (w.name == name) {
            return &w;
        }
    }
    return nullptr;
}

QColor ParseSkinColor(std::u16string_view text) {
    if (text.empty()) {
        return {};
    }
    if (text.front() == u'#') {
        const QColor c(QString::fromStdU16String(std::u16string(text)));
        return c.isValid() ? c : QColor();
    }
    int parts[3] = {0, 0, 0};
    int index = 0;
    std::u16string current;
    for (char16_t ch : std::u16string(text) + u",") {
        if (ch == u',') {
            if (index >= 3) {
                return {};
            }
            const std::optional<int> v = ParseInt(current);
            if (!v || *v < 0 || *v > 255) {
                return {};
            }
            parts[index++] = *v;
            current.clear();
        } else {
            current.push_back(ch);
        }
    }
    if (index != 3) {
        return {};
    }
    return QColor(parts[0], parts[1], parts[2]);
}

bool ParseSkin(const XmlNode& root, DuSkinDef& skin, std::u16string* error) {
    auto fail = [error](std::u16string why) {
        if (error) {
            *error = std::move(why);
        }
        return false;
    };
    if (root.name != u"skin") {
        return fail(u"the root element is not <skin>");
    }
    skin = DuSkinDef();
    skin.name = Attr(root, u"name");
    skin.fonts = SplitList(Attr(root, u"fonts"));
    skin.fontSize = std::clamp(IntAttr(root, u"fontsize").value_or(12), 6, 72);
    for (const auto& child : root.children) {
        if (child->kind != XmlNodeKind::Element) {
            continue;
        }
        if (child->name == u"images") {
            for (const auto& img : child->children) {
                if (img->kind == XmlNodeKind::Element && img->name == u"image") {
                    skin.images.emplace_back(Attr(*img, u"name"), Attr(*img, u"file"));
                }
            }
            continue;
        }
        if (child->name != u"window") {
            continue;
        }
        DuWindowDef w;
        w.name = Attr(*child, u"name");
        w.title = Attr(*child, u"title");
        const std::optional<int> width = IntAttr(*child, u"width");
        const std::optional<int> height = IntAttr(*child, u"height");
        if (w.name.empty() || !width || !height || *width <= 0 || *height <= 0) {
            return fail(u"a window needs a name, a width and a height");
        }
        if (skin.FindWindow(w.name)) {
            return fail(u"window defined twice: " + w.name);
        }
        w.size = QSize(*width, *height);
        w.minSize = QSize(std::clamp(IntAttr(*child, u"minwidth").value_or(*width), 1, *width),
                          std::clamp(IntAttr(*child, u"minheight").value_or(*height), 1, *height));
        w.resizable = BoolAttr(*child, u"resizable", false);
        w.captionHeight = std::clamp(IntAttr(*child, u"caption").value_or(32), 0, *height);
        w.maximizeOnDoubleClick = BoolAttr(*child, u"maximizable", false);
        w.textControl = Attr(*child, u"textcontrol");
        w.background = ColorAttr(*child, u"background");
        w.captionBackground = ColorAttr(*child, u"captionbackground");
        w.captionBackground2 = ColorAttr(*child, u"captionbackground2");
        w.border = ColorAttr(*child, u"border");
        w.titleColor = ColorAttr(*child, u"titlecolor");
        w.titleLeft = std::clamp(IntAttr(*child, u"titleleft").value_or(12), 0, *width);
        w.titleSize = std::clamp(IntAttr(*child, u"titlesize").value_or(13), 0, 72);
        w.icon = Attr(*child, u"icon");
        w.shrinkX = ParseBands(Attr(*child, u"shrinkx"), w.minSize.width());
        w.shrinkY = ParseBands(Attr(*child, u"shrinky"), w.minSize.height());
        ReadControls(*child, w.controls, 0);
        skin.windows.push_back(std::move(w));
    }
    if (skin.windows.empty()) {
        return fail(u"the skin defines no window");
    }
    return true;
}
