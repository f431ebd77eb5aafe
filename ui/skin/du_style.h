// The style object: the loaded skin and every window bound to it. All calls are made on the
// user-interface thread.
#pragma once

#include "ui/skin/du_events.h"
#include "ui/skin/du_images.h"
#include "ui/skin/du_window.h"

#include <QWidget>

#include <map>
#include <memory>
#include <string>

struct DuSkinDef;

// Show commands.
inline constexpr int kDuShowHide = 0;
inline constexpr int kDuShowMaximize = 3;
inline constexpr int kDuShowNormal = 5;
inline constexpr int kDuShowRestore = 9;

class DuStyle {
public:
    DuStyle(std::unique_ptr<DuSkinDef> skin, std::u16string skinFolder);
    DuStyle(const DuStyle&) = delete;
    DuStyle& operator=(const DuStyle&) = delete;
    ~DuStyle();

    // Gives `window` (a top-level widget, not yet shown) the look and controls of the named
    // skin window: frameless with the skin's caption, size and resizability. False for an
    // unknown name, a null window or one bound already.
    bool Bind(QWidget* window, const char16_t* skinWindowName);
    // Removes the skin from the window; also done when a bound window is destroyed.
    void Unbind(QWidget* window);
    // The window object or null when unbound.
    DuWindow* Window(QWidget* window) const;

    // The folder of the skin file, ending with "/": the prefix of the skin's pictures.
    const std::u16string& SkinFolder() const { return m_strSkinFolder; }

    // 0 hide, 5 show, 3 maximise, 9 restore. False for an unbound window or another command.
    bool Show(QWidget* window, int command);
    // Ends a bound dialog's modal run, or closes any other bound window.
    bool Close(QWidget* window);

    DuImageManager* ImageResources() { return &m_images; }

    const DuSkinDef& Skin() const { return *m_skin; }
    bool HasWindow(std::u16string_view skinWindowName) const;

private:
    std::unique_ptr<DuSkinDef> m_skin;
    std::u16string m_strSkinFolder;
    DuImageManager m_images;
    std::map<QWidget*, std::unique_ptr<DuWindow>> m_windows;
};

// Loads the skin file at `path` (our XML skin format). Null when the file is missing,
// unreadable or not a skin.
std::unique_ptr<DuStyle> duLoadStyleW(const char16_t* path);

// The program's one style object, kept by the application; null before start-up set it.
DuStyle* DuAppStyle();
void DuSetAppStyle(DuStyle* style);
