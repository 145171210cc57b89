#include "tool/radio_group.h"

#include <QRadioButton>
#include <vector>

namespace zendrik::tool {

void MakeRadioGroup(std::initializer_list<QRadioButton*> radios) {
    const std::vector<QRadioButton*> members(radios);
    for (QRadioButton* radio : members) {
        radio->setAutoExclusive(false);
        QObject::connect(radio, &QRadioButton::clicked, radio, [radio, members] {
            // A click never clears the clicked radio.
            radio->setChecked(true);
            for (QRadioButton* other : members) {
                if (other != radio) {
                    other->setChecked(false);
                }
            }
        });
    }
}

}  // namespace zendrik::tool
