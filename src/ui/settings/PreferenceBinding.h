#pragma once

#include <functional>

class QAbstractButton;
class QComboBox;
class QLineEdit;
class QWidget;

namespace quillary {

class Preferences;
class SegmentedControl;
struct PreferenceKey;

// Two-way bindings of a control to one preference: the control shows the stored value, a change by
// the user is written at once, and a change made elsewhere (another window, the tray menu, another
// thread) is shown as soon as it is stored. The control's own signals stay quiet while it follows.

void bindToggle(QAbstractButton* control, Preferences& store, const PreferenceKey& key);
// Items show and carry the same text; a stored text that is none of them selects nothing.
void bindChoice(QComboBox* control, Preferences& store, const PreferenceKey& key);
void bindSegments(SegmentedControl* control, Preferences& store, const PreferenceKey& key);
void bindText(QLineEdit* control, Preferences& store, const PreferenceKey& key);

// Calls `refresh` now and whenever one of `keys` changes in the store, while `context` lives.
void followKeys(QWidget* context, Preferences& store, std::initializer_list<const PreferenceKey*> keys,
                std::function<void()> refresh);

} // namespace quillary
