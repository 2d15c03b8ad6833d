#include "ui/TextPromptDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillary {

TextPromptDialog::TextPromptDialog(const ModalAlert& alert, const QString& placeholder, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(alert.messageText);
    auto* layout = new QVBoxLayout(this);

    auto* message = new QLabel(alert.messageText, this);
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);
    layout->addWidget(message);
    auto* informative = new QLabel(alert.informativeText, this);
    informative->setWordWrap(true);
    layout->addWidget(informative);

    m_field = new QLineEdit(this);
    m_field->setPlaceholderText(placeholder);
    m_field->setFixedSize(260, 22);
    layout->addWidget(m_field);

    auto* buttons = new QDialogButtonBox(this);
    for (qsizetype i = 0; i < alert.buttons.size(); ++i) {
        QPushButton* button = buttons->addButton(alert.buttons.at(i), i == 0 ? QDialogButtonBox::AcceptRole
                                                                             : QDialogButtonBox::RejectRole);
        button->setDefault(i == 0);
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    m_field->setFocus();
}

QString TextPromptDialog::text() const
{
    return m_field->text();
}

} // namespace quillary
