// Named image resources of the toolkit. Image controls and buttons show the resource their
// skin names; the program replaces one at run time by remove, create, load and register
// (the avatar is `btn_selfimage`).
#pragma once

#include <QPixmap>

#include <map>
#include <memory>
#include <string>
#include <string_view>

class DuImage {
public:
    explicit DuImage(std::u16string name) : m_strName(std::move(name)) {}

    const std::u16string& Name() const { return m_strName; }
    // Decodes the picture file; false (and the old picture kept) when it cannot be read.
    bool Load(const char16_t* path);
    bool Load(const std::u16string& path) { return Load(path.c_str()); }
    void SetPixmap(const QPixmap& pixmap) { m_pixmap = pixmap; }
    const QPixmap& Pixmap() const { return m_pixmap; }
    bool IsNull() const { return m_pixmap.isNull(); }

private:
    std::u16string m_strName;
    QPixmap m_pixmap;
};

class DuImageManager {
public:
    // Forgets the registered resource of that name; false when there was none.
    bool Remove(std::u16string_view name);
    // A new, not yet registered resource (replacing an unregistered one of the same name).
    DuImage* Create(std::u16string_view name);
    // Makes a created resource visible under its name, replacing a registered one.
    bool Register(DuImage* image);
    // The registered resource or null.
    DuImage* Find(std::u16string_view name) const;

private:
    std::map<std::u16string, std::unique_ptr<DuImage>, std::less<>> m_registered;
    std::map<std::u16string, std::unique_ptr<DuImage>, std::less<>> m_pending;
};
