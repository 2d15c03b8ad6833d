#pragma once

#include <QWidget>

namespace quillary {

class SettingsView;

// The settings window's Folders page: the destination folders, their rules, adding and deleting.
class FoldersPage final : public QWidget {
    Q_OBJECT

public:
    explicit FoldersPage(SettingsView& view);

private:
    SettingsView& m_view;
};

} // namespace quillary
