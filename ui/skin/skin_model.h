// The skin file in memory: windows, their controls with anchored geometry and looks.
// The file format is described in skin/blue/README.md.
#pragma once

#include "ui/skin/du_control.h"

#include <QColor>
#include <QRect>
#include <QSize>

#include <optional>
#include <string>
#include <vector>

class XmlNode;

// Placement inside the parent: a pair of left/right (or top/bottom) stretches with the
// parent; one edge and a size keeps the distance to that edge; a size alone is centred.
struct DuGeometry {
    std::optional<int> left, top, right, bottom, width, height;

    QRect Place(QSize parent) const;
};

enum class DuAction { None, Close, Minimize };
enum class DuGlyph { None, Close, Minimize, Maximize, Menu };

struct DuLook {
    std::u16string text;
    QColor textColor; // invalid: the kind's default
    QColor hoverTextColor;
    QColor background; // invalid: transparent
    QColor hoverBackground;
    QColor pressedBackground;
    QColor checkedBackground;
    QColor border;
    int radius = 0;
    int fontSize = 0; // pixels; 0: the skin's default
    bool bold = false;
    bool underlineOnHover = false;
    int align = 0; // Qt::Alignment bits; 0: the kind's default
    bool wrap = false;
    int padding = 0;
    std::u16string image; // resource name or file below the skin folder
    std::u16string hoverImage;
    std::u16string checkedImage;
    DuGlyph glyph = DuGlyph::None;
    bool hand = false; // pointing-hand cursor
    std::u16string tooltip;
};

struct DuControlDef {
    DuKind kind = DuKind::Group;
    std::u16string name;
    DuGeometry geometry;
    DuLook look;
    bool visible = true;
    bool checked = false;    // check button initial state; tab button initially selected
    std::u16string tabGroup; // tab buttons of one set
    std::u16string page;     // tab button: the group shown while selected
    DuAction action = DuAction::None;
    std::vector<DuControlDef> children;
};

// A stretch [from, to) of the window's minimum-size layout, on one axis, that gives up its
// space when the window has to be smaller than its minimum (a small or scaled screen).
struct DuBand {
    int from = 0;
    int to = 0;
};

struct DuWindowDef {
    std::u16string name;
    std::u16string title;
    QSize size;
    QSize minSize;
    bool resizable = false;
    int captionHeight = 32; // the strip that moves the window
    bool maximizeOnDoubleClick = false;
    std::u16string textControl;
    QColor background;
    QColor captionBackground;
    QColor captionBackground2; // gradient end; invalid: flat
    QColor border;
    QColor titleColor;
    int titleLeft = 12;
    int titleSize = 13;
    std::u16string icon;                  // small picture left of the title
    std::vector<DuBand> shrinkX, shrinkY; // sorted, apart, inside the minimum size
    std::vector<DuControlDef> controls;

    // Where one of the window's own controls goes in a window of `size`. Below the minimum
    // size on an axis the minimum-size layout is squeezed: the bands shrink, in proportion;
    // areas, groups and controls stretched between two edges narrow with them, controls of
    // a given size (buttons, texts, pictures) keep it and move with their anchored edge.
    QRect PlaceControl(const DuControlDef& control, QSize size) const;
};

struct DuSkinDef {
    std::u16string name;
    std::vector<std::u16string> fonts; // preferred families, first available wins
    int fontSize = 12;
    std::vector<std::pair<std::u16string, std::u16string>> images; // name, file
    std::vector<DuWindowDef> windows;

    const DuWindowDef* FindWindow(std::u16string_view name) const;
};

// Reads a parsed skin document. False, with a reason in `error`, when the root is not a
// skin or a window lacks its name or size; unknown elements and attributes are ignored.
bool ParseSkin(const XmlNode& root, DuSkinDef& skin, std::u16string* error);

// "#rrggbb", "#aarrggbb" or "r,g,b"; invalid colour otherwise.
QColor ParseSkinColor(std::u16string_view text);
