// The upload list: a report list of the upload tasks with fixed 36-pixel rows, the skinned
// header, a progress bar in the progress column and the pause, resume and cancel buttons
// in the operation column (drawn by UploadListDelegate, clicked here). The row buttons ask
// their questions and tell the main window through messages 1526 to 1528; the upload
// worker's message 1529 and the main window's 1530 arrive here.
#pragma once

#include "ui/mainframe/upload_list_delegate.h"
#include "ui/mainframe/upload_list_model.h"
#include "upload/up_info.h"

#include <QPointer>
#include <QTableView>

#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

class CRSHeaderCtrl;

class CListCtrlEx : public QTableView {
public:
    static constexpr int kControlId = 3002;
    static constexpr int kRowHeight = 36;

    explicit CListCtrlEx(QWidget* parent = nullptr);

    // The header, the row height, the seven columns (the last two hidden) and the colours.
    void CreateColumns();

    UploadListModel* Model() const { return m_pModel; }
    CRSHeaderCtrl* Header() const { return m_pHeader; }
    // Where messages 1526 to 1528 go (the main window).
    void SetNotifyTarget(QObject* target) { m_notify = target; }
    // Shows the queue-wide menu at a global position (right click on the list).
    void SetMenuHandler(std::function<void(const QPoint&)> handler) {
        m_menuHandler = std::move(handler);
    }
    // Removes the rows at these indices (ascending or not) under the list lock.
    void DeleteRows(std::vector<int> rows);

    // Adds rows for tasks at the end, waiting (value 0); a row shows its task's record.
    void AddTaskRows(std::span<const TaskRef> tasks);
    void AddTaskRow(const TaskRef& task) { AddTaskRows(std::span<const TaskRef>(&task, 1)); }
    // Rows of records no session holds (previews, tests).
    void AddTaskRows(std::span<const UpInfo> tasks);
    void AddTaskRows(const std::vector<UpInfo>& tasks) {
        AddTaskRows(std::span<const UpInfo>(tasks));
    }
    void AddTaskRow(const UpInfo& task) { AddTaskRows(std::span<const UpInfo>(&task, 1)); }
    // While held (a folder upload walks its files), the cancel buttons remove no row.
    void HoldRowDeletion(bool held) { m_bDeletionHeld = held; }

    int GetItemCount() const { return m_pModel->Count(); }
    int GetItemData(int row) const;
    std::u16string GetItemText(int row, int column) const;
    int RowState(int row) const;

    // The row buttons; a row outside the list does nothing.
    void OnPauseButton(int row);
    void OnResumeButton(int row);
    void OnCancelButton(int row);

    // A row button's place in the viewport; empty when the row does not offer it now.
    QRect ButtonRect(int row, RowButton button) const;
    QRect ProgressCellRect(int row) const;
    bool HoveredButton(int row, RowButton button) const;

    // Message 1529: every row offers its resume button. Message 1530: no rows at all.
    void PauseAllRows();
    void DeleteAllRows();

    int m_nProgressColumn = UploadListModel::kColProgress;
    int m_nOperationColumn = UploadListModel::kColOperation;

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    struct ButtonHit {
        int row = -1;
        RowButton button = RowButton::Cancel;
        bool Valid() const { return row >= 0; }
        bool operator==(const ButtonHit& o) const { return row == o.row && button == o.button; }
    };
    ButtonHit HitButton(const QPoint& pos) const;
    void SetHovered(ButtonHit hit);
    std::u16string ReadPathForMessage(int row);
    void Notify(int message, const std::u16string& path);
    void DeleteRow(int row);

    UploadListModel* m_pModel;
    UploadListDelegate* m_pDelegate;
    CRSHeaderCtrl* m_pHeader = nullptr;
    QPointer<QObject> m_notify;
    std::mutex m_listLock; // row deletion against reading a row's path for a message
    std::function<void(const QPoint&)> m_menuHandler;
    ButtonHit m_pressed;
    ButtonHit m_hovered;
    bool m_bDeletionHeld = false;
};
