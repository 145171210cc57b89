#include "tool/control_colours.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

namespace zendrik::tool {
namespace {

// Buttons (radios, check boxes) fill their background from the Button role, other widgets from
// Window; both are set so that every caption shows the same patch.
void SetColours(QWidget* widget, QRgb text, QRgb background) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, QColor(text));
    palette.setColor(QPalette::Window, QColor(background));
    palette.setColor(QPalette::Button, QColor(background));
    widget->setPalette(palette);
}

void ColourEdit(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Text, QColor(colours::kEditText));
    palette.setColor(QPalette::Base, QColor(colours::kEditBackground));
    widget->setPalette(palette);
}

// Captions sit on their own grey patch; a picture (the logo) keeps the dialog behind it.
void ColourCaption(QWidget* widget) {
    SetColours(widget, colours::kCaptionText, colours::kCaptionBackground);
    const auto* label = qobject_cast<QLabel*>(widget);
    widget->setAutoFillBackground(label == nullptr || label->pixmap().isNull());
}

// Lists and push buttons keep the toolkit's colours even inside the dark dialog.
void RestoreToolkitColours(QWidget* widget) {
    const QPalette toolkit = QApplication::palette(widget);
    QPalette palette = widget->palette();
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Window, QPalette::Button}) {
        palette.setColor(role, toolkit.color(role));
    }
    widget->setPalette(palette);
}

void ColourControl(QWidget* widget) {
    if (auto* edit = qobject_cast<QLineEdit*>(widget); edit != nullptr && edit->isReadOnly()) {
        ColourCaption(widget);
    } else if (qobject_cast<QLineEdit*>(widget) != nullptr || qobject_cast<QComboBox*>(widget) != nullptr) {
        ColourEdit(widget);
    } else if (qobject_cast<QGroupBox*>(widget) != nullptr) {
        SetColours(widget, colours::kCaptionText, colours::kCaptionBackground);
    } else if (qobject_cast<QLabel*>(widget) != nullptr || qobject_cast<QRadioButton*>(widget) != nullptr ||
               qobject_cast<QCheckBox*>(widget) != nullptr) {
        ColourCaption(widget);
    } else if (qobject_cast<QScrollBar*>(widget) != nullptr) {
        SetColours(widget, colours::kEditText, colours::kScrollBarFill);
    } else if (qobject_cast<QAbstractItemView*>(widget) != nullptr ||
               qobject_cast<QPushButton*>(widget) != nullptr) {
        RestoreToolkitColours(widget);
    }
}

// Item views and combo boxes are single controls; their inner widgets (scroll bars, pop-ups,
// edit fields) are theirs to colour.
bool IsCompositeControl(QWidget* widget) {
    return qobject_cast<QAbstractItemView*>(widget) != nullptr || qobject_cast<QComboBox*>(widget) != nullptr;
}

void ColourDescendants(QWidget* parent) {
    for (QWidget* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow()) {
            continue;
        }
        ColourControl(child);
        if (!IsCompositeControl(child)) {
            ColourDescendants(child);
        }
    }
}

}  // namespace

void ApplyControlColours(QWidget* dialog) {
    SetColours(dialog, colours::kEditText, colours::kDialogFill);
    dialog->setAutoFillBackground(true);
    ColourDescendants(dialog);
}

}  // namespace zendrik::tool
