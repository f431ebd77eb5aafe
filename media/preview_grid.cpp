#include "media/preview_grid.h"

#include <QString>
#include <cstdlib>

int LayoutWidthOf(int outerWidth) {
    return outerWidth - kLayoutMargin;
}

int GridColumns(int layoutWidth) {
    int cols = layoutWidth / kCellWidth;
    return cols < 1 ? 1 : cols;
}

QPoint GridPosition(int index, int columns) {
    if (columns < 1)
        columns = 1;
    return QPoint((index % columns) * kCellWidth + kGridOrigin,
                  (index / columns) * kCellHeight + kGridOrigin);
}

bool LayoutNeedsRestart(int storedWidth, int currentWidth) {
    return currentWidth >= kCellWidth && std::abs(currentWidth - storedWidth) > kRelayoutSlack;
}

std::u16string DisplayName(const UpInfo& record) {
    if (record.m_strFileName.find(u'.') != std::u16string::npos)
        return record.m_strFileName;
    return record.m_strFileName + u"." + std::u16string(record.m_tcExt);
}

int FindRecordByName(const std::vector<UpInfo>& records, std::size_t from,
                     const std::u16string& name) {
    QString wanted = QString::fromUtf16(name.data(), static_cast<qsizetype>(name.size()));
    for (std::size_t i = from; i < records.size(); ++i) {
        std::u16string shown = DisplayName(records[i]);
        QString s = QString::fromUtf16(shown.data(), static_cast<qsizetype>(shown.size()));
        if (s.compare(wanted, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

void ShowGridItem(IPreviewSink& sink, int index, const std::u16string& text, const QImage* image,
                  const UpInfo* record, int columns) {
    if (image)
        sink.ReplaceImage(index, *image);
    sink.InsertItem(index, text, index);
    if (record)
        sink.AttachRecord(index, *record);
    sink.SetItemPosition(index, GridPosition(index, columns));
}

std::u16string PreviewFilePath(const std::u16string& folder, const std::u16string& name) {
    if (!folder.empty() && folder.back() == u'/')
        return folder + name;
    return folder + u"/" + name;
}
