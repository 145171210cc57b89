#pragma once

#include <initializer_list>

class QRadioButton;

namespace zendrik::tool {

// Groups radios the way the window's handlers expect: a click checks the clicked radio and clears
// the others, while setting a check from code touches that one radio only (handlers clear the
// others themselves).
void MakeRadioGroup(std::initializer_list<QRadioButton*> radios);

}  // namespace zendrik::tool
