// The server folder picker: a skinned modal window on "SelNetDirDlg_win" showing the
// account's server folders. After the modal run the caller reads m_nResult; on 1 the chosen
// folder is m_nChosenFid (and CGlobalVar::m_strNetDirPath holds its path, so the next
// opening starts on it).
#pragma once

#include "ui/skin/du_events.h"

#include <QDialog>
#include <QPointer>

#include <array>
#include <cstdint>
#include <string>

class CServerDirTree;
class DuControl;
class QTreeWidgetItem;

inline constexpr int kSelNetDirTreeId = 6026;

class CSelNetDirDlg : public QDialog {
public:
    // `owner` may be null (the picker is then centred on the screen).
    explicit CSelNetDirDlg(QWidget* owner = nullptr);
    ~CSelNetDirDlg() override;

    // Creates the skinned window and runs it modally. Without the skin window the run ends
    // at once and m_nResult stays 0. Returns the framework's value, which callers do not use.
    int DoModal();

    int m_nResult = 0;
    CServerDirTree* m_pTree = nullptr; // owned by the window through Qt's parent chain
    std::u16string m_strChosenName;
    int m_nChosenFid = 0;

protected:
    bool OnInitDialog();
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateTree();
    void SelectPath(const std::u16string& path);
    void OnTreeClick(const QPoint& viewportPos);
    void Confirm(QTreeWidgetItem* item);
    void OnTrue(DuControl* control, std::intptr_t p1, std::intptr_t p2);
    void OnClose(DuControl* control, std::intptr_t p1, std::intptr_t p2);

    bool m_bBound = false;
    QPointer<QWidget> m_pOwner;

    static const std::array<DuEventRow<CSelNetDirDlg>, 2> s_events;
};
