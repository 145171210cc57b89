#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <variant>
#include <vector>

class QWidget;

namespace zendrik::tool {

// A text member, optionally limited in length (0 = no limit).
struct TextField {
    QString* member;
    qsizetype maxLength = 0;
};

// An unsigned number member with an accepted range.
struct UnsignedField {
    uint32_t* member;
    uint32_t min;
    uint32_t max;
};

// A byte member: any number from 0 to 255.
struct ByteField {
    uint8_t* member;
};

struct FieldBinding {
    QWidget* control;  // a QLineEdit or a QLabel
    std::variant<TextField, UnsignedField, ByteField> field;
};

// Moves the window's bound fields between controls and members, in one fixed order.
//
// ReadFields checks each field as it goes and stops at the first that fails: the fields before it
// are taken, the ones after it keep their members. A failing field keeps its previous value,
// except a text that is too long, which is taken as typed. The failure is reported through the
// prompt (one of the texts below) and the offending control receives the focus.
class FieldExchange {
  public:
    using Prompt = std::function<void(const QString& text)>;

    FieldExchange(std::vector<FieldBinding> bindings, Prompt prompt);

    // Controls -> members. True when every field passed its check.
    bool ReadFields();
    // Members -> controls. Text-change notifications are held back meanwhile, so that a handler
    // that reads the fields on a change never sees a half-shown window.
    void ShowFields() const;

  private:
    bool ReadField(const FieldBinding& binding);
    void Fail(QWidget* control, const QString& prompt);

    std::vector<FieldBinding> bindings_;
    Prompt prompt_;
};

// The prompts, worded as the tool has always shown them.
QString NotUnsignedPrompt();
QString ByteRangePrompt();
QString RangePrompt(uint32_t min, uint32_t max);
QString TooLongPrompt(qsizetype maxLength);

// Reads a whole control text as an unsigned number the way the field exchange does: blanks around
// it are allowed, a sign '-' is not, digits beyond the 32-bit range saturate.
std::optional<uint32_t> ParseUnsignedField(const QString& text);

}  // namespace zendrik::tool
