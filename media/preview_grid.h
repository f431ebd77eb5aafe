// The layout of the thumbnail grid, shared by the local preview workers and the server
// file listing.
#pragma once

#include <QPoint>
#include <string>
#include <vector>

#include "media/preview_sink.h"
#include "upload/up_info.h"

inline constexpr int kLayoutMargin = 280; // outer width minus this is the layout width
inline constexpr int kCellWidth = 200;
inline constexpr int kCellHeight = 160;
inline constexpr int kGridOrigin = 40;
// A new layout width this much or less away from the stored one keeps the running layout.
inline constexpr int kRelayoutSlack = 160;

int LayoutWidthOf(int outerWidth);
// Columns for a layout width: width / 200, but never fewer than one.
int GridColumns(int layoutWidth);
// Position of item `index` in list view coordinates.
QPoint GridPosition(int index, int columns);
// Whether a running layout must start again for the current width.
bool LayoutNeedsRestart(int storedWidth, int currentWidth);

// The name a server record is shown and stored under: its name when that holds a ".",
// else name + "." + extension.
std::u16string DisplayName(const UpInfo& record);
// Index of the first record from `from` on whose display name equals `name` without
// regard to case; -1 when there is none.
int FindRecordByName(const std::vector<UpInfo>& records, std::size_t from,
                     const std::u16string& name);

// Shows one thumbnail as list item `index`: replaces image `index` (when `image` is
// given), inserts the item with `text`, attaches a copy of `record` (when given) and
// places it on the grid.
void ShowGridItem(IPreviewSink& sink, int index, const std::u16string& text, const QImage* image,
                  const UpInfo* record, int columns);

// The file of a preview name: folder, "/" and the name.
std::u16string PreviewFilePath(const std::u16string& folder, const std::u16string& name);
