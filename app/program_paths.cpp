#include "app/program_paths.h"

#include "app/global_var.h"
#include "platform/paths.h"

bool ComputeProgramPaths(const std::u16string& moduleFileName) {
    auto cut = moduleFileName.rfind(platform::kPathSep);
    if (cut == std::u16string::npos)
        return false;
    const std::u16string folder = moduleFileName.substr(0, cut);
    CGlobalVar::m_strLocalConfigPath = folder + u"/QumolanLocalConfig.xml";
    CGlobalVar::m_strUploadListPath = folder + u"/QumolanUploadList.xml";

    auto parent = folder.rfind(platform::kPathSep);
    if (parent != std::u16string::npos) {
        CGlobalVar::m_strInstallRoot = folder.substr(0, parent + 1);
        CGlobalVar::m_strSkinPath = CGlobalVar::m_strInstallRoot + u"skin/blue/config.xml";
    }
    return true;
}

bool ComputeProgramPaths() {
    return ComputeProgramPaths(platform::ModuleFileName());
}
