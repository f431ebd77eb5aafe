// Adding uploads from the main window: a local folder, the selected preview files, or the
// file under the floating upload button, each into a server folder chosen in the picker.
#include "ui/mainframe/main_frame.h"

// The upload-folder button and "上传" of the local tree's menu.
void CMainFrame::OnUploadFolder() {}

// "上传" of the preview's menu.
void CMainFrame::OnUploadSelectedFiles() {}

// The floating upload button over a thumbnail.
void CMainFrame::OnFloatUpload() {}
