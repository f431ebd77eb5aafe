// What the benchmarks of the headless upload engine share: a window that shows nothing and
// reports only what would stop a run.
#pragma once

#include <cstdio>
#include <string>

#include "platform/codepage.h"
#include "upload/upload_view.h"

namespace bench {

class QuietView : public IUploadView {
public:
    void AddUploadRow(const UpInfo&) override {}
    void SetRowValue(const std::u16string&, int) override {}
    void ShowQueueSummary(int) override {}
    void ShowNoSpaceMessage() override { std::printf("error: no space\n"); }
    void PostProgress(int, const std::u16string&) override {}
    void PostAllPaused() override {}
    void ShowRowFailed(const std::u16string& path, const std::u16string&) override {
        std::printf("error: unreadable %s\n", platform::ToNarrow(path).c_str());
    }
};

} // namespace bench
