// The rows of the upload list: one per upload task, with the row value (0 waiting, 1 to 99
// per cent sent, 200 uploaded) and the row state (1 the transfer may run, 0 paused). A row
// holds its task, the record the upload session owns, and no copy of its texts: the column
// texts are made from that record when a cell is drawn, so a whole library of a hundred
// thousand rows costs little beyond the session's own tasks. Rows are found by full path
// without regard to case through an index of path hashes, so a lookup needs no scan.
#pragma once

#include "upload/upload_task.h"
#include "upload/upload_view.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QString>

#include <cstdint>
#include <span>

#include <string>
#include <vector>

class UploadListModel : public QAbstractTableModel {
public:
    enum Column {
        kColName = 0,
        kColNetDir = 1,
        kColProgress = 2,
        kColSize = 3,
        kColOperation = 4,
        kColFullPath = 5,
        kColNetDirId = 6,
        kColumnCount = 7,
    };
    static constexpr int kValueRole = Qt::UserRole;
    static constexpr int kStateRole = Qt::UserRole + 1;
    static constexpr int kSpeedRole = Qt::UserRole + 2; // the speed text of a row being sent
    static constexpr int kValueUploaded = 200;

    struct Row {
        // Its path, name, size and server folder never change once queued, so a cell reads
        // them without the session's lock.
        TaskRef task;
        QString note;     // the progress text when `shown` is kShownNote
        uint32_t key = 0; // the index's hash of the path
        int16_t value = 0;
        int16_t shown = 0; // the progress text: 0 "等待中...", 1..99 "%d%", 200, or kShownNote
        int8_t state = 1;
        bool failed = false; // shows a failure text until it is resumed
    };
    static constexpr int16_t kShownNote = -1;

    explicit UploadListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Adds a row per task at the end with value 0, state 1 and "等待中..." as progress text.
    void AppendTasks(std::span<const TaskRef> tasks);
    // The same for records no session holds (previews, tests).
    void AppendTasks(std::span<const UpInfo> tasks);
    // The text of a cell as the list shows it (column 4 has none).
    std::u16string Text(int row, int column) const;
    QString CellText(int row, int column) const;
    void RemoveRow(int row);
    // Removes rows given in descending order, with one rebuild of the index.
    void RemoveRows(const std::vector<int>& descending);
    void Clear();

    int Count() const { return static_cast<int>(m_rows.size()); }
    const Row& At(int row) const { return m_rows[static_cast<std::size_t>(row)]; }
    const UpInfo& Info(int row) const { return At(row).task->info; }
    bool Valid(int row) const { return row >= 0 && row < Count(); }

    // 1..99 shows "%d%"; 100 and 200 make the row uploaded ("上传成功"); any other value
    // is stored and keeps the progress text.
    void SetValue(int row, int value);
    // Every row with this full path; false when there is none.
    bool SetValueForPath(const std::u16string& fullPath, int value);
    void SetState(int row, int state);
    // Every row with this path shows `text` as its progress, keeps its value and is paused.
    void SetFailedForPath(const std::u16string& fullPath, const std::u16string& text);
    void SetAllStates(int state);
    // The speed texts of the files being sent, by full path; other rows show none.
    void SetSpeeds(const std::vector<std::pair<std::u16string, std::u16string>>& speeds);
    // A row shows "上传成功" (the clear command is offered).
    bool AnyUploaded() const;
    // The rows of a failed task that is tried again show it waiting, with its pause button.
    void ClearFailedForPath(const std::u16string& fullPath);

    // The rows whose full path equals `fullPath` without regard to case, ascending.
    std::vector<int> RowsWithPath(const std::u16string& fullPath) const;
    int FirstRowWithPath(const std::u16string& fullPath) const;

    static QString PathKey(const std::u16string& fullPath);

private:
    static uint32_t KeyOf(QStringView path);
    void RebuildIndex();

    std::vector<Row> m_rows;
    QMultiHash<uint32_t, int> m_index;
    QHash<QString, QString> m_speeds; // path key -> speed text
};

// The heading of a column ("文件名" ...), empty for another index.
const char16_t* UploadColumnHeading(int column);
