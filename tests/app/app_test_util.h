// Shared pieces of the program-wide state tests: a temporary program folder with a log
// folder, and readers for the files written there.
#pragma once

#include "base/log_testing.h"
#include "platform/codepage.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace apptest {

inline std::string ReadBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A temporary folder that pretends to hold the program, with a "log" folder beside it.
class ProgramFolder {
public:
    ProgramFolder() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "qumo_app_XXXXXX").string();
        if (mkdtemp(tmpl.data()))
            root = tmpl;
        bin = root / "bin";
        std::filesystem::create_directories(bin / "log");
        platform::OverrideModuleFileName(platform::FromNarrow((bin / "QumoClient").string()));
        ResetLogForTesting();
    }
    ~ProgramFolder() {
        platform::OverrideModuleFileName(u"");
        ResetLogForTesting();
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    // The program log as narrow text (it is UTF-16LE on disk).
    std::string LogText() const {
        std::string raw = ReadBytes(bin / "log" / "QumoClient.log");
        std::u16string text;
        for (std::size_t i = 2; i + 1 < raw.size(); i += 2)
            text += static_cast<char16_t>(static_cast<unsigned char>(raw[i]) |
                                          (static_cast<unsigned char>(raw[i + 1]) << 8));
        return platform::ToNarrow(text);
    }

    std::filesystem::path root, bin;
};

} // namespace apptest
