// The main window: bound to the skin window "mainframe", it shows the user panel, the two
// folder trees, the preview and the upload queue, and owns the workers. One class, its
// parts in separate files:
//   main_frame.cpp          creation, skin events, caption buttons, messages, destruction
//   main_frame_user.cpp     the user panel (nickname, storage use, avatar)
//   main_frame_menu.cpp     the system menu, logout, exit, the end of the logged-in state
//   main_frame_queue.cpp    the upload queue: messages 1525-1528, loading the saved queue,
//                           the upload worker and its window interface
//   main_frame_preview.cpp  the folder trees and the preview
//   main_frame_add.cpp      adding uploads
//   main_frame_progress.cpp the progress line, the rows' speeds, the end-of-uploads notice
//   main_frame_queue_ctl.cpp pause all, resume all, retry failed, clear finished
//   main_frame_drop.cpp     files and folders dropped on the window
//   main_frame_tray.cpp     the tray icon and keeping the program there while uploading
#pragma once

#include "app/work_thread.h"
#include "media/preview_sink.h"
#include "ui/skin/du_events.h"
#include "upload/upload_session.h"
#include "upload/upload_view.h"

#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QWidget>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CFramePreviewSink;
class CHoverButton;
class CListCtrlEx;
class CLocalDirTree;
class CPreviewList;
class CServerDirTree;
class DuControl;
class DuWindow;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class QUrl;

// Commands of the main window's menus and buttons.
enum MainFrameCommand : int {
    kCmdHomePage = 12772,
    kCmdUploadFromLocalTree = 12776,
    kCmdLogout = 12791,
    kCmdExit = 12793,
    kCmdAbout = 12796,
    kCmdUploadFromPreview = 12799,
    kCmdCheckUpdate = 32801,
    kCmdFloatUpload = 2001,
    kCmdPauseAll = 32811,
    kCmdResumeAll = 32812,
    kCmdRetryFailed = 32813,
    kCmdClearFinished = 32814,
    kCmdSettings = 32815,
    kCmdShowWindow = 32816,
};

// Control ids of the main window's children.
inline constexpr int kServerDirTreeId = 6001;
inline constexpr int kLocalDirTreeId = 6002;
inline constexpr int kPreviewListId = 3001;
inline constexpr int kUploadListId = 3002;
inline constexpr int kFloatUploadButtonId = 2001;

class CMainFrame : public QWidget, public IUploadView {
public:
    CMainFrame();
    ~CMainFrame() override;
    CMainFrame(const CMainFrame&) = delete;
    CMainFrame& operator=(const CMainFrame&) = delete;

    // Creates the window with `title`, in the creation order of the main window. False
    // (and the window not created) without a skin window object.
    bool Create(const char16_t* title);

    // ---- Frame (main_frame.cpp) ----
    DuWindow* WindowObject() const;
    // Opens a page of the website ("" for its home page) in the default browser.
    void OpenWebPage(const char* path);
    // Menu and button commands; false for an unknown id.
    bool OnCommand(int id);

    // ---- User panel (main_frame_user.cpp) ----
    void ShowUserInfo();

    // ---- System menu, logout, exit (main_frame_menu.cpp) ----
    // Fills `menu` with the system menu's items; each action's data is its command id.
    void BuildSystemMenu(QMenu& menu);
    void ShowSystemMenu();
    // The settings window; its values are saved and in force when it closes with OK.
    void OpenSettings();
    void ResetLoginState();
    void Logout();
    void Exit();
    // The exit question; confirmed, the end of the logged-in state and true: the window may
    // close from then on.
    bool ConfirmExit();

    // ---- Upload queue (main_frame_queue.cpp) ----
    void LoadUpLoadTaskList();
    void EnsureUploadWorker();
    // IUploadView: may be called from the upload worker's thread.
    void ShowQueueSummary(int n) override;
    void AddUploadRow(const TaskRef& task) override;
    void SetRowValue(const std::u16string& fullPath, int value) override;
    void ShowNoSpaceMessage() override;
    void PostProgress(int percent, const std::u16string& fullPath) override;
    void PostAllPaused() override;
    void ShowRowFailed(const std::u16string& fullPath, const std::u16string& text) override;
    // Tells the user, once, that an unreadable upload list was set aside under `aside`.
    void TellListSetAside(const std::u16string& aside);
    // Messages 1525 to 1528.
    void OnUploadProgress(int percent, const std::u16string& fullPath);
    bool OnRemoveWaitingTask(const std::u16string& fullPath);
    void OnResumeTask(const std::u16string& fullPath);
    void OnPauseTask(const std::u16string& fullPath);
    // The session's queued tasks that are not finished.
    int PendingTaskCount();

    // ---- Progress line and notification (main_frame_progress.cpp) ----
    // Starts the once-a-second refresh of the progress line and the rows' speeds.
    void StartProgressTimer();
    // One refresh at `nowMs` (a steady clock): samples the figures, shows the line, the
    // rows' speeds and the tray tip, and the notification when the uploads have ended.
    void OnProgressTick(int64_t nowMs);
    // The queue summary's text for n queued tasks: the progress line once it is known.
    std::u16string QueueLineText(int n) const;
    // The notification shown last (tests; empty when none).
    std::u16string m_strLastNotice;

    // ---- Queue-wide commands (main_frame_queue_ctl.cpp) ----
    void PauseAllUploads();
    void ResumeAllUploads();
    void RetryFailedUploads();
    void ClearFinishedRows();
    void BuildQueueMenu(QMenu& menu);
    void ShowQueueMenu(const QPoint& globalPos);

    // ---- Dropped files and folders (main_frame_drop.cpp) ----
    // Queues the local files and folders among `urls` as the upload commands do; other
    // addresses are ignored. True when something local was offered.
    bool OnDropUrls(const QList<QUrl>& urls);

    // ---- Tray (main_frame_tray.cpp) ----
    // The tray icon, when the desktop has a tray.
    void CreateTray();
    void BuildTrayMenu(QMenu& menu);
    // Closing or minimising hides the window to the tray instead (the option is on, a
    // tray exists and uploads run).
    bool ShouldHideToTray();
    void ShowFromTray();
    QSystemTrayIcon* m_pTray = nullptr;

    // ---- Trees and preview (main_frame_preview.cpp) ----
    void CreateDirTrees(DuWindow* window);
    void ReloadDirTrees();
    void CreateFloatUploadButton();
    void CreatePreviewList(DuWindow* window);
    void CreatePreviewImageList();
    void ClearPreview();
    void DeleteListMemorySpace();
    void StopPreviewWorkers();
    // A preview worker runs, or thumbnails on screen are still being made.
    bool PreviewWorkerRunning() const;
    // One of the three preview workers runs.
    bool PreviewThreadRunning() const;
    // Selects the preview tab and shows `caption` on it.
    void ShowPreviewTab(const std::u16string& caption);
    void OnLocalDirClick(const std::u16string& path);
    // A left click on the server folder tree at a position of its viewport.
    void OnServerDirClick(const QPoint& viewportPos);
    void OnPreviewResize(int width, int height);
    void OnPreviewRightClick(const QPoint& viewportPos);
    void OnLocalTreeRightClick(const QPoint& viewportPos);
    void OnPreviewDoubleClick(int row);
    void BuildPreviewMenu(QMenu& menu);
    void BuildLocalTreeMenu(QMenu& menu);
    // Shows the floating upload button over the thumbnail at a position of the preview's
    // viewport, or hides it.
    void PlaceFloatUploadButton(const QPoint& viewportPos);
    // The button's place over preview item `row`, in window coordinates.
    QPoint FloatButtonPosition(int row) const;
    // The preview item the floating button stands over; -1 when none.
    int FloatButtonItem() const;

    // ---- Adding uploads (main_frame_add.cpp) ----
    static constexpr char16_t kNothingToUploadText[] = u"本地待上传目录中无符合的文件！";
    void OnUploadFolder();
    void OnUploadSelectedFiles();
    void OnFloatUpload();
    // The selected local folder's path; empty when none is selected.
    std::u16string SelectedLocalFolder() const;
    // The local folder whose files the preview shows; empty for none or a server folder.
    // File uploads take their folder from here: the tree's selection may have moved (by
    // keyboard) without a new preview.
    std::u16string PreviewedLocalFolder() const;
    // Runs the server folder picker; true with the chosen folder id when confirmed.
    bool ChooseUploadTarget(int& fid);
    // The message and false when `folder` is empty, else the picker.
    bool ChooseFolderAndTarget(const std::u16string& folder, int& fid);
    // One file of `folder` as a new task unless a row already has it (then its message);
    // true when it was added.
    bool AddFileUpload(const std::u16string& folder, const std::u16string& name, int fid);
    // The duplicate message for a file named by `text` against a row of `value`.
    static std::u16string DuplicateMessage(const std::u16string& text, int value);
    // Shows the message and returns true when the session has this path (queued or
    // uploaded).
    bool ReportDuplicate(const std::u16string& fullPath, const std::u16string& text);
    // Shows `task` as a row and hands it to the session, which queues and saves it.
    void AppendUploadTask(UpInfo& task);
    // After files were added: the queue summary when tasks wait, then the worker.
    void StartAddedUploads();
    // Queues every media file below `folder` into the server folder `fid` (a folder upload
    // after its checks and picker).
    void UploadFolderTo(const std::u16string& folder, int fid);
    // A task for one local file as the folder scan makes it.
    static UpInfo MakeFileTask(const std::u16string& folder, const std::u16string& name, int fid);
    // True while a folder upload walks its files. The window keeps turning meanwhile; the
    // commands that would queue again, remove rows or end the window refuse (with a log
    // line naming `what`) and answer true.
    bool RefuseWhileQueueing(const char16_t* what) const;
    bool Queueing() const { return m_bQueueing; }
    // How a folder upload paces itself: new rows in runs of `runLength`, a turn of the event
    // loop after a run when `turnEveryMs` went by since the last, how far it is shown from
    // `progressAfterMs` on (tests shorten them).
    struct QueueingPace {
        std::size_t runLength = 4096;
        int turnEveryMs = 40;
        int progressAfterMs = 500;
    };
    QueueingPace m_queueingPace;

    void SetControlText(const char16_t* name, const std::u16string& text);

    // ---- State (the members of the main window, in order) ----
    int m_nServerPreview = 0;
    CServerDirTree* m_pServerDirTree = nullptr; // 6001, in treectrl_serverdir
    CLocalDirTree* m_pLocalDirTree = nullptr;   // 6002, in treectrl_localdir
    std::u16string m_strRequestedPreviewDir;
    std::u16string m_strPreviewLocalDir;    // the local folder shown in the preview
    CPreviewList* m_pPreviewList = nullptr; // 3001, in listview_preview_dir, with its images
    CListCtrlEx* m_pUploadList = nullptr;   // 3002, in listview_file_upload
    // The preview's file names, folder and server file records.
    PreviewState m_preview;
    std::unique_ptr<CFramePreviewSink> m_pPreviewSink;
    // Every upload task of the logged-in user, its worker and its commands.
    UploadSession m_session{*this};
    std::unique_ptr<CWorkThread> m_pFileListThread;  // server file listing
    std::unique_ptr<CWorkThread> m_pLocalImgThread;  // local thumbnails
    std::unique_ptr<CWorkThread> m_pImgBySizeThread; // preview re-layout
    DuControl* m_pCopyrightText = nullptr;           // queue summary
    DuControl* m_pVersionText = nullptr;             // preview count
    int m_nLastPreviewWidth = -1;
    CHoverButton* m_pFloatUploadBtn = nullptr; // 2001
    int m_nPreviewTabActive = 1;
    DuControl* m_pTabUploadFile = nullptr;

    // Workers that did not end within their stop wait (a call that could not be cancelled):
    // kept alive until they end, never joined without a bound on the user-interface thread.
    std::vector<std::unique_ptr<CWorkThread>> m_stoppingWorkers;

    // Stops a worker that runs; the slot ends empty. A worker that ended is deleted, one that
    // is still running after the stop's wait is kept among the stopping workers.
    template <class Worker> void StopWorker(std::unique_ptr<Worker>& slot) {
        ReapStoppedWorkers();
        if (slot && slot->IsRunning() && !slot->Stop()) {
            m_stoppingWorkers.push_back(std::move(slot));
        }
        slot.reset();
    }
    void StopAllWorkers();
    // Deletes the stopping workers that have ended since.
    void ReapStoppedWorkers();
    // At the window's end: waits a bounded time for the stopping workers, which use this
    // window; past it the program ends rather than pull the window away under them.
    void AwaitStoppingWorkers();

protected:
    bool event(QEvent* event) override;
    // A close from the window manager (Alt+F4, a title bar) goes the way of sysClose.
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void OnSysClose(DuControl* control, std::intptr_t p1, std::intptr_t p2);
    void OnSysMax(DuControl* control, std::intptr_t p1, std::intptr_t p2);
    void OnPreviewTab(DuControl* control, std::intptr_t p1, std::intptr_t p2);
    void OnUploadTab(DuControl* control, std::intptr_t p1, std::intptr_t p2);
    void OnGetMoreMemory(DuControl* control, std::intptr_t p1, std::intptr_t p2);
    void OnSysMenu(DuControl* control, std::intptr_t p1, std::intptr_t p2);
    void OnUploadDir(DuControl* control, std::intptr_t p1, std::intptr_t p2);
    void OnMaximizeToggle(DuControl* control, std::intptr_t p1, std::intptr_t p2);
    void SyncMaximizeButton(); // sysMax follows the window's maximised state
    void PopupCommandMenu(QMenu& menu, const QPoint& globalPos);

    bool m_bBound = false;
    // Set once the exit was confirmed (or the program ends after a failed re-login): the
    // window's own close then goes through without asking again.
    bool m_bClosing = false;

    void OnPauseAllButton(DuControl* control, std::intptr_t p1, std::intptr_t p2);
    void OnResumeAllButton(DuControl* control, std::intptr_t p1, std::intptr_t p2);
    void OnRetryFailedButton(DuControl* control, std::intptr_t p1, std::intptr_t p2);
    void OnClearFinishedButton(DuControl* control, std::intptr_t p1, std::intptr_t p2);

    // The folder upload's turn of the event loop when it has not turned for a moment; from
    // half a second into the upload on, the queue line shows `text` (how far it is).
    void QueueingTurn(const std::u16string& text);
    // Runs `work` on a thread of its own while this thread turns with `text()` shown.
    template <class Work, class Text> void RunWhileTurning(Work&& work, Text&& text);
    bool m_bQueueing = false;
    QElapsedTimer m_queueingClock;
    QElapsedTimer m_lastTurn;
    bool m_bQueueingShown = false;

    QTimer* m_pProgressTimer = nullptr;
    QElapsedTimer m_progressClock;
    // The progress line has replaced the plain summary since the queue last emptied; the
    // worker's summaries then keep it instead of flicking back for a second.
    std::atomic<bool> m_bProgressShown{false};

    static const std::array<DuEventRow<CMainFrame>, 12> s_events;
};
