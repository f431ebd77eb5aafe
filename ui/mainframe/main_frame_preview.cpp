// The folder trees and the preview of the main window. The skin's areas for them are
// "treectrl_serverdir", "treectrl_localdir" and "listview_preview_dir"; until their
// controls are placed there, the areas stay empty and these steps do nothing.
#include "ui/mainframe/main_frame.h"

#include "ui/hover_button.h"
#include "ui/mainframe/list_ctrl_ex.h"

#include <QListWidget>

// Creation steps 5 and 6: the server folder tree and the local folder tree.
void CMainFrame::CreateDirTrees(DuWindow* /*window*/) {}

// After a re-login: both trees emptied and filled again.
void CMainFrame::ReloadDirTrees() {}

// Creation step 8: the floating upload button, hidden.
void CMainFrame::CreateFloatUploadButton() {}

// Creation step 9: the preview list.
void CMainFrame::CreatePreviewList(DuWindow* /*window*/) {}

// Creation step 11: the preview's image list.
void CMainFrame::CreatePreviewImageList() {}

// After a re-login: every preview item deleted.
void CMainFrame::ClearPreview() {}

// Frees the server file records carried by the preview items.
void CMainFrame::DeleteListMemorySpace() {}

// Message 1257: preview a local folder.
void CMainFrame::OnLocalDirClick(const std::u16string& /*path*/) {}

// A click on the server folder tree: preview that server folder.
void CMainFrame::OnServerDirClick() {}

// Window size: the preview laid out again for the new width.
void CMainFrame::OnPreviewResize(int /*width*/, int /*height*/) {}

void CMainFrame::OnPreviewTab(DuControl* /*control*/, std::intptr_t p1, std::intptr_t /*p2*/) {
    if (p1 == 1) {
        m_nPreviewTabActive = 1;
        if (m_pPreviewList) {
            m_pPreviewList->setFocus();
        }
    } else if (p1 == 0) {
        m_nPreviewTabActive = 0;
        if (m_pFloatUploadBtn && m_pFloatUploadBtn->isVisible()) {
            m_pFloatUploadBtn->hide();
        }
        if (m_pUploadList) {
            m_pUploadList->setFocus();
        }
    }
}
