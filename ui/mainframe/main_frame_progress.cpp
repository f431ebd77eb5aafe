// The progress line at the bottom right, the speeds of the rows being sent, the tray's tip
// and the one notification when the uploads have ended, refreshed once a second.
#include "ui/mainframe/main_frame.h"

#include "app/user_prefs.h"
#include "ui/mainframe/list_ctrl_ex.h"
#include "ui/mainframe/progress_text.h"
#include "ui/skin/du_control.h"
#include "upload/transfer_stats.h"

#include <QSystemTrayIcon>
#include <QTimer>

namespace {

constexpr int kRefreshMs = 1000;

} // namespace

void CMainFrame::StartProgressTimer() {
    if (m_pProgressTimer) {
        return;
    }
    m_progressClock.start();
    m_pProgressTimer = new QTimer(this);
    m_pProgressTimer->setInterval(kRefreshMs);
    connect(m_pProgressTimer, &QTimer::timeout, this,
            [this]() { OnProgressTick(m_progressClock.elapsed()); });
    m_pProgressTimer->start();
}

std::u16string CMainFrame::QueueLineText(int n) const {
    const std::u16string plain = QueueSummaryTexts(n).copyrightText;
    if (n <= 0 || !m_bProgressShown) {
        return plain;
    }
    const std::u16string line = ProgressLineText(UploadStats().Snapshot());
    return line.empty() ? plain : line;
}

void CMainFrame::OnProgressTick(int64_t nowMs) {
    TransferStats& stats = UploadStats();
    stats.Sample(nowMs);
    const int n = PendingTaskCount();
    std::u16string line;
    if (n > 0) {
        line = ProgressLineText(stats.Snapshot());
        // A folder upload in progress shows how far it is on the same line meanwhile.
        if (!line.empty() && m_pCopyrightText && !m_bQueueing) {
            m_bProgressShown = true;
            m_pCopyrightText->SetText(line);
            m_pCopyrightText->Redraw();
        }
    } else {
        m_bProgressShown = false;
    }

    if (m_pUploadList) {
        std::vector<std::pair<std::u16string, std::u16string>> speeds;
        for (const auto& [path, bytesPerSec] : stats.FileSpeeds()) {
            speeds.emplace_back(path, SpeedText(bytesPerSec));
        }
        m_pUploadList->Model()->SetSpeeds(speeds);
    }
    if (m_pTray) {
        m_pTray->setToolTip(
            QString::fromStdU16String(line.empty() ? QueueSummaryTexts(n).copyrightText : line));
    }

    TransferStats::Figures finished;
    if (stats.TakeFinishedBatch(finished) && prefs::Current().notifyWhenDone) {
        m_strLastNotice = UploadsFinishedText(finished);
        if (m_pTray && m_pTray->isVisible()) {
            m_pTray->showMessage(windowTitle(), QString::fromStdU16String(m_strLastNotice),
                                 QSystemTrayIcon::Information);
        }
    }
}
