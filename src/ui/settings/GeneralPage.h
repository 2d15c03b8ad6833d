#pragma once

#include <QWidget>

namespace quillary {

class SettingsView;

// The settings window's General page: the watched folder, screenshot handling, thumbnail duration, quick
// create, launch at login, global rename.
class GeneralPage final : public QWidget {
    Q_OBJECT

public:
    explicit GeneralPage(SettingsView& view);

private:
    SettingsView& m_view;
};

} // namespace quillary
