#include "ui/settings/PreferenceBinding.h"

#include "ui/widgets/SegmentedControl.h"

#include "core/Preferences.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>

#include <memory>

namespace quillary {

void followKeys(QWidget* context, Preferences& store, std::initializer_list<const PreferenceKey*> keys,
                std::function<void()> refresh)
{
    QStringList names;
    for (const PreferenceKey* key : keys)
        names.append(keyName(*key));
    refresh();
    // Queued when the write happened on another thread; the context ends the connection.
    QObject::connect(&store, &Preferences::valueChanged, context,
                     [names, refresh = std::move(refresh)](const QString& changed) {
                         if (names.contains(changed))
                             refresh();
                     });
}

void bindToggle(QAbstractButton* control, Preferences& store, const PreferenceKey& key)
{
    followKeys(control, store, {&key}, [control, &store, &key] {
        const QSignalBlocker quiet(control);
        control->setChecked(store.boolValue(key));
    });
    QObject::connect(control, &QAbstractButton::toggled, control,
                     [&store, &key](bool on) { store.setBool(key, on); });
}

void bindChoice(QComboBox* control, Preferences& store, const PreferenceKey& key)
{
    followKeys(control, store, {&key}, [control, &store, &key] {
        const QSignalBlocker quiet(control);
        control->setCurrentIndex(control->findData(store.textValue(key)));
    });
    QObject::connect(control, &QComboBox::activated, control, [control, &store, &key](int index) {
        store.setText(key, control->itemData(index).toString());
    });
}

void bindSegments(SegmentedControl* control, Preferences& store, const PreferenceKey& key)
{
    followKeys(control, store, {&key}, [control, &store, &key] {
        const QSignalBlocker quiet(control);
        control->setValue(store.textValue(key));
    });
    QObject::connect(control, &SegmentedControl::activated, control,
                     [&store, &key](const QString& value) { store.setText(key, value); });
}

void bindText(QLineEdit* control, Preferences& store, const PreferenceKey& key)
{
    followKeys(control, store, {&key}, [control, &store, &key] {
        // Never reset the text under the user's cursor with what they just typed.
        if (control->text() == store.textValue(key))
            return;
        const QSignalBlocker quiet(control);
        control->setText(store.textValue(key));
    });
    QObject::connect(control, &QLineEdit::textEdited, control,
                     [&store, &key](const QString& text) { store.setText(key, text); });
}

} // namespace quillary
