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

// The colour groups of a control that takes input, in a focused window or another one.
constexpr QPalette::ColorGroup kLiveGroups[] = {QPalette::Active, QPalette::Inactive};

// A text role and a background role, live and disabled.
struct Look {
    QRgb text;
    QRgb background;
    QRgb disabledText;
    QRgb disabledBackground;
};

constexpr Look kCaptionLook{colours::kCaptionText, colours::kCaptionBackground, colours::kDisabledText,
                            colours::kDisabledBackground};
constexpr Look kEditLook{colours::kEditText, colours::kEditBackground, colours::kDisabledText,
                         colours::kDisabledBackground};
constexpr Look kScrollBarLook{colours::kEditText, colours::kScrollBarFill, colours::kDisabledText,
                              colours::kDisabledBackground};
// The dialog is never disabled; its colours reach the parts of its controls that set none.
constexpr Look kDialogLook{colours::kEditText, colours::kDialogFill, colours::kEditText,
                           colours::kDialogFill};

void SetRole(QPalette& palette, QPalette::ColorRole role, QRgb live, QRgb disabled) {
    for (const QPalette::ColorGroup group : kLiveGroups) {
        palette.setColor(group, role, QColor(live));
    }
    palette.setColor(QPalette::Disabled, role, QColor(disabled));
}

// Buttons (radios, check boxes) fill their background from the Button role, other widgets from
// Window; both are set so that every caption shows the same patch.
void SetColours(QWidget* widget, const Look& look) {
    QPalette palette = widget->palette();
    SetRole(palette, QPalette::WindowText, look.text, look.disabledText);
    SetRole(palette, QPalette::Window, look.background, look.disabledBackground);
    SetRole(palette, QPalette::Button, look.background, look.disabledBackground);
    widget->setPalette(palette);
}

void ColourEdit(QWidget* widget) {
    QPalette palette = widget->palette();
    SetRole(palette, QPalette::Text, kEditLook.text, kEditLook.disabledText);
    SetRole(palette, QPalette::Base, kEditLook.background, kEditLook.disabledBackground);
    widget->setPalette(palette);
}

// Captions sit on their own grey patch; a picture (the logo) keeps the dialog behind it.
void ColourCaption(QWidget* widget) {
    SetColours(widget, kCaptionLook);
    const auto* label = qobject_cast<QLabel*>(widget);
    widget->setAutoFillBackground(label == nullptr || label->pixmap().isNull());
}

// Lists and push buttons keep the toolkit's colours even inside the dark dialog, its disabled
// look included.
void RestoreToolkitColours(QWidget* widget) {
    const QPalette toolkit = QApplication::palette(widget);
    QPalette palette = widget->palette();
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Window, QPalette::Button}) {
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            palette.setColor(group, role, toolkit.color(group, role));
        }
    }
    widget->setPalette(palette);
}

void ColourControl(QWidget* widget) {
    if (auto* edit = qobject_cast<QLineEdit*>(widget); edit != nullptr && edit->isReadOnly()) {
        ColourCaption(widget);
    } else if (qobject_cast<QLineEdit*>(widget) != nullptr || qobject_cast<QComboBox*>(widget) != nullptr) {
        ColourEdit(widget);
    } else if (qobject_cast<QGroupBox*>(widget) != nullptr) {
        SetColours(widget, kCaptionLook);
    } else if (qobject_cast<QLabel*>(widget) != nullptr || qobject_cast<QRadioButton*>(widget) != nullptr ||
               qobject_cast<QCheckBox*>(widget) != nullptr) {
        ColourCaption(widget);
    } else if (qobject_cast<QScrollBar*>(widget) != nullptr) {
        SetColours(widget, kScrollBarLook);
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
    SetColours(dialog, kDialogLook);
    dialog->setAutoFillBackground(true);
    ColourDescendants(dialog);
}

}  // namespace zendrik::tool
