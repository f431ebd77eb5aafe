#include "ui/check_version.h"

#include "app/global_var.h"
#include "base/local_config.h"
#include "base/log.h"
#include "media/open_with_shell.h"
#include "net/api_calls.h"
#include "platform/lasterror.h"
#include "ui/show_msg_dlg.h"

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
    if (ShowMessageBox(nullptr, u"已有新版本，现在进行升级？", 0) != 1) {
        return 0;
    }
    OpenWithShell(answer.updateUrl);
    return silent ? 1 : 0;
}
