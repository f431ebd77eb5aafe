#include "ui/check_version.h"

#include <string_view>

#include "app/global_var.h"
#include "base/local_config.h"
#include "base/log.h"
#include "media/open_with_shell.h"
#include "net/api_calls.h"
#include "platform/lasterror.h"
#include "ui/show_msg_dlg.h"

namespace {

// The address comes from the network: only a web address may reach the desktop opener,
// which would otherwise run or open whatever a "file:" or other scheme names.
bool IsWebAddress(const char16_t* url) {
    const std::u16string_view u(url);
    auto startsNoCase = [&](std::u16string_view prefix) {
        if (u.size() <= prefix.size())
            return false;
        for (std::size_t i = 0; i < prefix.size(); ++i) {
            char16_t c = u[i];
            if (c >= u'A' && c <= u'Z')
                c = static_cast<char16_t>(c - u'A' + u'a');
            if (c != prefix[i])
                return false;
        }
        return true;
    };
    return startsNoCase(u"http://") || startsNoCase(u"https://");
}

} // namespace

int CheckVersionUpdate(bool silent) {
    LocalConfigValues config;
    if (!ReadLocalConfig(CGlobalVar::m_strLocalConfigPath, config)) {
        LogError(u"Failed to call xml.Read, errorcode is %d", platform::GetLastErrorCode());
        return 0;
    }
    const std::u16string& version = config.version;
    if (version.empty()) {
        LogError(u"The version not in the config info file.");
        return 0;
    }

    const bool interactive = !silent;
    const VersionAnswer answer = ApiGetVersionInfo(version, interactive);
    if (answer.outcome != ApiOutcome::Ok) {
        const std::u16string text = VersionFailureText(answer, interactive);
        if (!text.empty()) {
            ShowMessageBox(nullptr, text, 1);
        }
        return 0;
    }
    if (!answer.newer) {
        if (interactive) {
            ShowMessageBox(nullptr, u"目前已是最新版本，不需要升级！", 1);
        }
        return 0;
    }
    if (!IsWebAddress(answer.updateUrl)) {
        LogError(u"The update address is not a web address.");
        return 0;
    }
    if (ShowMessageBox(nullptr, u"已有新版本，现在进行升级？", 0) != 1) {
        return 0;
    }
    OpenWithShell(answer.updateUrl);
    return silent ? 1 : 0;
}
