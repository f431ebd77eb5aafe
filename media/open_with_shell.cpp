#include "media/open_with_shell.h"

#include "base/log.h"
#include "platform/lasterror.h"
#include "platform/shell.h"

bool OpenWithShell(const char16_t* target) {
    if (!target || !*target)
        return false;
    if (!platform::OpenWithDesktop(target)) {
        LogError(u"[CGlobalVar]OpenWithShell %s failed, error %d", target,
                 platform::GetLastErrorCode());
        return false;
    }
    return true;
}
