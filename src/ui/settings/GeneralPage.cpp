#include "ui/settings/GeneralPage.h"

#include "ui/settings/SettingsView.h"

#include <QVBoxLayout>

namespace quillary {

GeneralPage::GeneralPage(SettingsView& view)
    : QWidget(&view)
    , m_view(view)
{
    // Being built: the page's sections come in the next commits.
    new QVBoxLayout(this);
}

} // namespace quillary
