#pragma once

#include <QLayout>
#include <QWidget>
#include <memory>
#include <utility>

namespace zendrik::tool {

// Creates a widget that its parent owns: Qt deletes children with their parent, so the unique_ptr
// hands its object over once the parent is set.
template <class Widget, class... Args>
Widget* MakeChild(QWidget* parent, Args&&... args) {
    auto widget = std::make_unique<Widget>(std::forward<Args>(args)...);
    widget->setParent(parent);
    return widget.release();
}

// Creates a layout and installs it on its widget, which owns it from then on.
template <class Layout>
Layout* MakeLayout(QWidget* owner) {
    auto layout = std::make_unique<Layout>();
    owner->setLayout(layout.get());
    return layout.release();
}

// Creates a layout nested in another, which owns it from then on.
template <class Layout, class ParentLayout>
Layout* MakeNestedLayout(ParentLayout* parent) {
    auto layout = std::make_unique<Layout>();
    parent->addLayout(layout.get());
    return layout.release();
}

}  // namespace zendrik::tool
