#include "ui/skin/du_images.h"

#include <QImageReader>
#include <QString>

bool DuImage::Load(const char16_t* path) {
    if (!path || !*path) {
        return false;
    }
    QImageReader reader(QString::fromUtf16(path));
    reader.setDecideFormatFromContent(true); // avatars arrive with whatever extension
    const QImage image = reader.read();
    if (image.isNull()) {
        return false;
    }
    m_pixmap = QPixmap::fromImage(image);
    return true;
}

bool DuImageManager::Remove(std::u16string_view name) {
    auto it = m_registered.find(name);
    if (it == m_registered.end()) {
        return false;
    }
    m_registered.erase(it);
    return true;
}

DuImage* DuImageManager::Create(std::u16string_view name) {
    auto image = std::make_unique<DuImage>(std::u16string(name));
    DuImage* raw = image.get();
    m_pending[std::u16string(name)] = std::move(image);
    return raw;
}

bool DuImageManager::Register(DuImage* image) {
    if (!image) {
        return false;
    }
    auto it = m_pending.find(image->Name());
    if (it == m_pending.end() || it->second.get() != image) {
        return false;
    }
    m_registered[image->Name()] = std::move(it->second);
    m_pending.erase(it);
    return true;
}

DuImage* DuImageManager::Find(std::u16string_view name) const {
    auto it = m_registered.find(name);
    return it == m_registered.end() ? nullptr : it->second.get();
}
