// Shared by the widget tests: the program's blue skin loaded as the application's style, and
// small skins written to a temporary folder for toolkit cases.
#pragma once

#include "ui/skin/du_style.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace uitest {

inline std::u16string BlueSkinPath() {
    return (QStringLiteral(QUMO_SOURCE_DIR) + QStringLiteral("/skin/blue/config.xml"))
        .toStdU16String();
}

// Writes `content` (UTF-8) to `name` below `dir` and returns the full path.
inline std::u16string WriteFile(const QTemporaryDir& dir, const QString& name,
                                const QByteArray& content) {
    const QString path = dir.filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return {};
    }
    file.write(content);
    return path.toStdU16String();
}

// Loads the blue skin as the application's style for the fixture's lifetime.
class BlueSkin : public ::testing::Test {
protected:
    void SetUp() override {
        m_style = duLoadStyleW(BlueSkinPath().c_str());
        ASSERT_NE(m_style, nullptr);
        DuSetAppStyle(m_style.get());
    }
    void TearDown() override {
        DuSetAppStyle(nullptr);
        m_style.reset();
    }
    std::unique_ptr<DuStyle> m_style;
};

} // namespace uitest
