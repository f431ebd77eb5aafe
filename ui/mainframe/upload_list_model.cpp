#include "ui/mainframe/upload_list_model.h"

#include <QVarLengthArray>

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
        return CellText(index.row(), index.column());
    case Qt::ToolTipRole:
        // Names and folders are cut to their columns; the tip shows them whole.
        if (index.column() == kColName || index.column() == kColNetDir) {
            return CellText(index.row(), index.column());
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
            return m_speeds.value(PathKey(row.task->info.m_strFilePath));
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

uint32_t UploadListModel::KeyOf(QStringView path) {
    // The hash of the case-folded path, folded a character at a time: no copy of the path.
    QVarLengthArray<char16_t, 512> folded;
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t c = path[i].unicode();
        if (c < 0x80) {
            folded.append(c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c);
        } else if (QChar::isHighSurrogate(c) && i + 1 < path.size() &&
                   QChar::isLowSurrogate(path[i + 1].unicode())) {
            const char32_t u =
                QChar::toCaseFolded(QChar::surrogateToUcs4(c, path[i + 1].unicode()));
            folded.append(QChar::highSurrogate(u));
            folded.append(QChar::lowSurrogate(u));
            ++i;
        } else {
            folded.append(static_cast<char16_t>(QChar::toCaseFolded(char32_t{c})));
        }
    }
    const size_t h = qHash(QStringView(folded.data(), folded.size()));
    return static_cast<uint32_t>(h ^ (static_cast<uint64_t>(h) >> 32));
}

QString UploadListModel::CellText(int row, int column) const {
    if (!Valid(row)) {
        return {};
    }
    const Row& r = At(row);
    const UpInfo& t = r.task->info;
    switch (column) {
    case kColName:
        return QString::fromStdU16String(t.m_strFileName);
    case kColNetDir:
        return QString::fromStdU16String(t.m_strNetDirPath);
    case kColProgress:
        if (r.shown == kValueUploaded) {
            return QStringLiteral("上传成功");
        }
        if (r.shown >= 1 && r.shown < 100) {
            return QString::number(r.shown) + u'%';
        }
        return r.shown == kShownNote ? r.note : QStringLiteral("等待中...");
    case kColSize:
        return QString::fromStdU16String(UploadSizeText(t.m_nFileLen));
    case kColFullPath:
        return QString::fromStdU16String(t.m_strFilePath);
    case kColNetDirId:
        return QString::number(t.m_nNetDirId);
    default:
        return {};
    }
}

std::u16string UploadListModel::Text(int row, int column) const {
    return CellText(row, column).toStdU16String();
}

void UploadListModel::AppendTasks(std::span<const TaskRef> tasks) {
    if (tasks.empty()) {
        return;
    }
    const int first = Count();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(tasks.size()) - 1);
    m_rows.reserve(m_rows.size() + tasks.size());
    m_index.reserve(static_cast<qsizetype>(m_rows.size() + tasks.size()));
    for (const TaskRef& task : tasks) {
        Row row;
        row.task = task;
        const std::u16string& path = task->info.m_strFilePath;
        row.key = KeyOf(QStringView(path.data(), static_cast<qsizetype>(path.size())));
        m_index.insert(row.key, Count());
        m_rows.push_back(std::move(row));
    }
    endInsertRows();
}

void UploadListModel::AppendTasks(std::span<const UpInfo> tasks) {
    std::vector<TaskRef> refs;
    refs.reserve(tasks.size());
    for (const UpInfo& t : tasks) {
        refs.push_back(std::make_shared<UploadTask>(t));
    }
    AppendTasks(std::span<const TaskRef>(refs));
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
        for (int row : RowsWithPath(key.toStdU16String())) {
            emit dataChanged(index(row, kColProgress), index(row, kColProgress));
        }
    }
}

bool UploadListModel::AnyUploaded() const {
    return std::any_of(m_rows.begin(), m_rows.end(),
                       [](const Row& r) { return r.value == kValueUploaded; });
}

void UploadListModel::ClearFailedForPath(const std::u16string& fullPath) {
    for (int row : RowsWithPath(fullPath)) {
        Row& r = m_rows[static_cast<std::size_t>(row)];
        if (!r.failed) {
            continue;
        }
        r.failed = false;
        r.state = 1;
        r.shown = 0;
        r.note.clear();
        emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
    }
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
        m_index.insert(At(r).key, r);
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
        r.shown = kValueUploaded;
    } else {
        r.value = value;
        if (value >= 1 && value < 100) {
            r.shown = static_cast<int16_t>(value);
        }
    }
    if (r.shown != kShownNote) {
        r.note.clear();
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
        r.shown = kShownNote;
        r.note = QString::fromStdU16String(text);
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
    const QStringView path(fullPath.data(), static_cast<qsizetype>(fullPath.size()));
    std::vector<int> rows;
    const uint32_t key = KeyOf(path);
    for (auto it = m_index.constFind(key); it != m_index.cend() && it.key() == key; ++it) {
        const std::u16string& p = Info(it.value()).m_strFilePath;
        if (QStringView(p.data(), static_cast<qsizetype>(p.size()))
                .compare(path, Qt::CaseInsensitive) == 0) {
            rows.push_back(it.value());
        }
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

int UploadListModel::FirstRowWithPath(const std::u16string& fullPath) const {
    const std::vector<int> rows = RowsWithPath(fullPath);
    return rows.empty() ? -1 : rows.front();
}
