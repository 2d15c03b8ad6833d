#pragma once

#include <QIcon>

#include <array>

namespace quillary {

// The pixel sizes the tray icon is drawn at; panels pick the nearest.
inline constexpr std::array<int, 6> trayIconSizes{16, 22, 24, 32, 48, 64};

// The highest count the badge spells out; more shows as this.
inline constexpr int trayBadgeMaximum = 99;

// The tray icon: the viewfinder in dark strokes for a light panel or light strokes for a dark one,
// drawn at each of `trayIconSizes`, with a count badge at the lower right while `pendingCount` > 0.
QIcon makeTrayIcon(int pendingCount, bool darkPanel);

} // namespace quillary
