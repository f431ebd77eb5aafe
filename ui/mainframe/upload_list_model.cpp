#include "ui/mainframe/upload_list_model.h"

#include "base/format.h"

#include <algorithm>

namespace {

constexpr const char16_t* kHeadings[UploadListModel::kColumnCount] = {
    u"文件名", u"上传目录", u"上传进度", u"文件大小", u"操作", u"全路径", u"网络节点",
};

constexpr Qt::Alignment kAlign[UploadListModel::kColumnCount] = {
    Qt::AlignHCenter, Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight,
    Qt::AlignHCenter, Qt::AlignLeft, Qt::AlignLeft,
};

} // namespace

const char16_t* UploadColumnHeading(int column) {
    return column >= 0 && column < UploadListModel::kColumnCount ? kHeadings[column] : u"";
}

UploadListModel::UploadListModel(QObject* parent) : QAbstractTableModel(parent) {}

int UploadListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

int UploadListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant UploadListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !Valid(index.row()) || index.column() >= kColumnCount) {
        return {};
    }
    const Row& row = At(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdU16String(row.texts.columns[index.column()]);
    case Qt::ToolTipRole:
        // Names and folders are cut to their columns; the tip shows them whole.
        if (index.column() == kColName || index.column() == kColNetDir) {
            return QString::fromStdU16String(row.texts.columns[index.column()]);
        }
        return {};
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(kAlign[index.column()] | Qt::AlignVCenter);
    case kValueRole:
        return row.value;
    case kStateRole:
        return row.state;
    case kSpeedRole:
        if (index.column() == kColProgress && !m_speeds.isEmpty()) {
            return m_speeds.value(PathKey(row.texts.columns[kColFullPath]));
        }
        return {};
    default:
        return {};
    }
}

QVariant UploadListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return QString::fromStdU16String(kHeadings[section]);
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::AlignCenter);
    }
    return {};
}

QString UploadListModel::PathKey(const std::u16string& fullPath) {
    return QString::fromStdU16String(fullPath).toCaseFolded();
}

void UploadListModel::AppendRows(const std::vector<UploadRowTexts>& rows) {
    if (rows.empty()) {
        return;
    }
    const int first = Count();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(rows.size()) - 1);
    m_rows.reserve(m_rows.size() + rows.size());
    for (const UploadRowTexts& texts : rows) {
        Row row;
        row.texts = texts;
        row.texts.columns[kColProgress] = u"等待中...";
        row.texts.columns[kColOperation].clear();
        m_index.insert(PathKey(row.texts.columns[kColFullPath]), Count());
        m_rows.push_back(std::move(row));
    }
    endInsertRows();
}

void UploadListModel::RemoveRow(int row) {
    if (!Valid(row)) {
        return;
    }
    beginRemoveRows(QModelIndex(), row, row);
    m_rows.erase(m_rows.begin() + row);
    RebuildIndex();
    endRemoveRows();
}

void UploadListModel::RemoveRows(const std::vector<int>& descending) {
    if (descending.empty()) {
        return;
    }
    // One reset instead of a signal per row: clearing thousands of rows stays quick.
    beginResetModel();
    for (int row : descending) {
        if (Valid(row)) {
            m_rows.erase(m_rows.begin() + row);
        }
    }
    RebuildIndex();
    endResetModel();
}

void UploadListModel::SetSpeeds(
    const std::vector<std::pair<std::u16string, std::u16string>>& speeds) {
    QHash<QString, QString> next;
    for (const auto& [path, text] : speeds) {
        next.insert(PathKey(path), QString::fromStdU16String(text));
    }
    if (next == m_speeds) {
        return;
    }
    QList<QString> touched = m_speeds.keys();
    touched.append(next.keys());
    m_speeds = std::move(next);
    for (const QString& key : touched) {
        for (int row : m_index.values(key)) {
            emit dataChanged(index(row, kColProgress), index(row, kColProgress));
        }
    }
}

std::vector<int> UploadListModel::UploadedRows() const {
    std::vector<int> rows;
    for (int r = 0; r < Count(); ++r) {
        if (At(r).value == kValueUploaded) {
            rows.push_back(r);
        }
    }
    return rows;
}

std::vector<std::u16string> UploadListModel::FailedPaths() const {
    std::vector<std::u16string> paths;
    for (const Row& r : m_rows) {
        if (r.failed) {
            paths.push_back(r.texts.columns[kColFullPath]);
        }
    }
    return paths;
}

void UploadListModel::Clear() {
    beginResetModel();
    m_rows.clear();
    m_index.clear();
    endResetModel();
}

void UploadListModel::RebuildIndex() {
    m_index.clear();
    m_index.reserve(Count());
    for (int r = 0; r < Count(); ++r) {
        m_index.insert(PathKey(At(r).texts.columns[kColFullPath]), r);
    }
}

void UploadListModel::SetValue(int row, int value) {
    if (!Valid(row)) {
        return;
    }
    Row& r = m_rows[static_cast<std::size_t>(row)];
    if (value != 0) {
        r.failed = false;
    }
    if (value == 100 || value == kValueUploaded) {
        r.value = kValueUploaded;
        r.texts.columns[kColProgress] = u"上传成功";
    } else {
        r.value = value;
        if (value >= 1 && value < 100) {
            r.texts.columns[kColProgress] = FormatText(u"%d%s", value, u"%");
        }
    }
    emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
}

bool UploadListModel::SetValueForPath(const std::u16string& fullPath, int value) {
    const std::vector<int> rows = RowsWithPath(fullPath);
    for (int r : rows) {
        SetValue(r, value);
    }
    return !rows.empty();
}

void UploadListModel::SetState(int row, int state) {
    if (!Valid(row)) {
        return;
    }
    m_rows[static_cast<std::size_t>(row)].state = state;
    if (state != 0) {
        m_rows[static_cast<std::size_t>(row)].failed = false;
    }
    emit dataChanged(index(row, kColOperation), index(row, kColOperation));
}

void UploadListModel::SetFailedForPath(const std::u16string& fullPath, const std::u16string& text) {
    for (int row : RowsWithPath(fullPath)) {
        Row& r = m_rows[static_cast<std::size_t>(row)];
        if (r.value == kValueUploaded) {
            continue;
        }
        // Off the bar's range, so the text shows instead of a bar.
        r.value = 0;
        r.state = 0;
        r.failed = true;
        r.texts.columns[kColProgress] = text;
        emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
    }
}

void UploadListModel::SetAllStates(int state) {
    for (Row& r : m_rows) {
        r.state = state;
        r.failed = r.failed && state == 0;
    }
    if (!m_rows.empty()) {
        emit dataChanged(index(0, kColOperation), index(Count() - 1, kColOperation));
    }
}

std::vector<int> UploadListModel::RowsWithPath(const std::u16string& fullPath) const {
    QList<int> found = m_index.values(PathKey(fullPath));
    std::vector<int> rows(found.begin(), found.end());
    std::sort(rows.begin(), rows.end());
    return rows;
}

int UploadListModel::FirstRowWithPath(const std::u16string& fullPath) const {
    const std::vector<int> rows = RowsWithPath(fullPath);
    return rows.empty() ? -1 : rows.front();
}
