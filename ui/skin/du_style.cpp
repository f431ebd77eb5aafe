#include "ui/skin/du_style.h"

#include "base/log.h"
#include "base/xml_file.h"
#include "base/xml_node.h"
#include "ui/skin/du_screen_fit.h"
#include "ui/skin/skin_model.h"

#include <QDialog>
#include <QObject>

namespace {

DuStyle* g_appStyle = nullptr;

// Removes a destroyed window's object, so a window that forgot to unbind leaves nothing
// dangling behind.
class UnbindOnDestroy : public QObject {
public:
    UnbindOnDestroy(DuStyle* style, QWidget* window) : QObject(window), m_pStyle(style) {}
    ~UnbindOnDestroy() override {
        if (m_pStyle && parent()) {
            m_pStyle->Unbind(static_cast<QWidget*>(parent()));
        }
    }
    void Disarm() { m_pStyle = nullptr; }

private:
    DuStyle* m_pStyle;
};

} // namespace

DuStyle::DuStyle(std::unique_ptr<DuSkinDef> skin, std::u16string skinFolder)
    : m_skin(std::move(skin)), m_strSkinFolder(std::move(skinFolder)) {
    for (const auto& [name, file] : m_skin->images) {
        if (name.empty() || file.empty()) {
            continue;
        }
        DuImage* image = m_images.Create(name);
        image->Load(m_strSkinFolder + file);
        m_images.Register(image);
    }
}

DuStyle::~DuStyle() {
    for (auto& [window, object] : m_windows) {
        for (QObject* child : window->children()) {
            if (auto* guard = dynamic_cast<UnbindOnDestroy*>(child)) {
                guard->Disarm();
            }
        }
    }
    m_windows.clear();
    if (g_appStyle == this) {
        g_appStyle = nullptr;
    }
}

bool DuStyle::HasWindow(std::u16string_view skinWindowName) const {
    return m_skin->FindWindow(skinWindowName) != nullptr;
}

bool DuStyle::Bind(QWidget* window, const char16_t* skinWindowName) {
    if (!window || !skinWindowName || m_windows.count(window)) {
        return false;
    }
    const DuWindowDef* def = m_skin->FindWindow(skinWindowName);
    if (!def) {
        LogError(u"Skin window %s not found.", skinWindowName);
        return false;
    }
    // Frameless: the skin draws the caption and border itself.
    window->setWindowFlag(Qt::FramelessWindowHint, true);
    if (window->windowTitle().isEmpty()) {
        window->setWindowTitle(QString::fromStdU16String(def->title));
    }
    // A fixed window may still give way down to its minimum on a screen too small for it.
    const QSize maximum = def->resizable ? QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX) : def->size;
    window->setMinimumSize(def->minSize);
    window->setMaximumSize(maximum);
    window->resize(def->size);
    DuKeepOnScreen(window, def->minSize, maximum, def->resizable && def->maximizeOnDoubleClick);
    auto object = std::make_unique<DuWindow>(this, window, def);
    m_windows.emplace(window, std::move(object));
    new UnbindOnDestroy(this, window);
    return true;
}

void DuStyle::Unbind(QWidget* window) {
    auto it = m_windows.find(window);
    if (it == m_windows.end()) {
        return;
    }
    for (QObject* child : window->children()) {
        if (auto* guard = dynamic_cast<UnbindOnDestroy*>(child)) {
            guard->Disarm();
        }
    }
    std::unique_ptr<DuWindow> object = std::move(it->second);
    m_windows.erase(it);
}

DuWindow* DuStyle::Window(QWidget* window) const {
    auto it = m_windows.find(window);
    return it == m_windows.end() ? nullptr : it->second.get();
}

bool DuStyle::Show(QWidget* window, int command) {
    if (!Window(window)) {
        return false;
    }
    switch (command) {
    case kDuShowHide:
        window->hide();
        return true;
    case kDuShowNormal:
        window->show();
        return true;
    case kDuShowMaximize:
        window->showMaximized();
        return true;
    case kDuShowRestore:
        window->showNormal();
        return true;
    default:
        return false;
    }
}

bool DuStyle::Close(QWidget* window) {
    if (!Window(window)) {
        return false;
    }
    if (auto* dialog = qobject_cast<QDialog*>(window)) {
        dialog->done(QDialog::Rejected); // callers read their own result fields
    } else {
        window->close();
    }
    return true;
}

std::unique_ptr<DuStyle> duLoadStyleW(const char16_t* path) {
    if (!path || !*path) {
        return nullptr;
    }
    XmlNode root;
    if (!LoadFile(path, &root)) {
        LogError(u"Failed to load skin file %s.", path);
        return nullptr;
    }
    auto skin = std::make_unique<DuSkinDef>();
    std::u16string why;
    if (!ParseSkin(root, *skin, &why)) {
        LogError(u"Bad skin file %s: %s", path, why.c_str());
        return nullptr;
    }
    std::u16string folder(path);
    const std::size_t slash = folder.find_last_of(u'/');
    folder = slash == std::u16string::npos ? std::u16string(u"./") : folder.substr(0, slash + 1);
    return std::make_unique<DuStyle>(std::move(skin), std::move(folder));
}

DuStyle* DuAppStyle() {
    return g_appStyle;
}

void DuSetAppStyle(DuStyle* style) {
    g_appStyle = style;
}
