#include "tool/field_exchange.h"

#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <algorithm>
#include <limits>
#include <optional>

#include "tool/blank_chars.h"

namespace zendrik::tool {
namespace {

constexpr uint32_t kByteMax = 255;
constexpr int kDecimalBase = 10;

QString ControlText(const QWidget* control) {
    if (const auto* edit = qobject_cast<const QLineEdit*>(control)) {
        return edit->text();
    }
    if (const auto* label = qobject_cast<const QLabel*>(control)) {
        return label->text();
    }
    return {};
}

void SetControlText(QWidget* control, const QString& text) {
    const QSignalBlocker blocker(control);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(text);
    }
}

QString MemberText(const std::variant<TextField, UnsignedField, ByteField>& field) {
    if (const auto* text = std::get_if<TextField>(&field)) {
        return *text->member;
    }
    if (const auto* number = std::get_if<UnsignedField>(&field)) {
        return QString::number(*number->member);
    }
    return QString::number(*std::get<ByteField>(field).member);
}

}  // namespace

QString NotUnsignedPrompt() {
    return QStringLiteral("“请填入一个正整数。”");
}

QString ByteRangePrompt() {
    return QStringLiteral("“请填入一个在0和255之间的整数。”");
}

QString RangePrompt(uint32_t min, uint32_t max) {
    return QStringLiteral("“请填入一个在%1和%2之间的整数。”").arg(min).arg(max);
}

QString TooLongPrompt(qsizetype maxLength) {
    return QStringLiteral("“请填入不多于%1个的字符。”").arg(maxLength);
}

std::optional<uint32_t> ParseUnsignedField(const QString& text) {
    qsizetype position = 0;
    while (position < text.size() && IsBlank(text[position])) {
        ++position;
    }
    if (position < text.size() && text[position] == u'+') {
        ++position;
    }
    const qsizetype digitsStart = position;
    uint64_t value = 0;
    while (position < text.size() && text[position].isDigit() && text[position].unicode() < 0x80) {
        value = value * kDecimalBase + static_cast<uint64_t>(text[position].unicode() - u'0');
        value = std::min<uint64_t>(value, std::numeric_limits<uint32_t>::max());
        ++position;
    }
    if (position == digitsStart) {
        return std::nullopt;
    }
    while (position < text.size() && IsBlank(text[position])) {
        ++position;
    }
    if (position != text.size()) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

FieldExchange::FieldExchange(std::vector<FieldBinding> bindings, Prompt prompt)
    : bindings_(std::move(bindings)), prompt_(std::move(prompt)) {}

bool FieldExchange::ReadFields() {
    for (const FieldBinding& binding : bindings_) {
        if (!ReadField(binding)) {
            return false;
        }
    }
    return true;
}

void FieldExchange::ShowFields() const {
    for (const FieldBinding& binding : bindings_) {
        SetControlText(binding.control, MemberText(binding.field));
    }
}

bool FieldExchange::ReadField(const FieldBinding& binding) {
    const QString text = ControlText(binding.control);
    if (const auto* field = std::get_if<TextField>(&binding.field)) {
        *field->member = text;
        if (field->maxLength > 0 && text.size() > field->maxLength) {
            Fail(binding.control, TooLongPrompt(field->maxLength));
            return false;
        }
        return true;
    }
    const std::optional<uint32_t> number = ParseUnsignedField(text);
    if (const auto* field = std::get_if<ByteField>(&binding.field)) {
        if (!number || *number > kByteMax) {
            Fail(binding.control, ByteRangePrompt());
            return false;
        }
        *field->member = static_cast<uint8_t>(*number);
        return true;
    }
    const auto& field = std::get<UnsignedField>(binding.field);
    if (!number) {
        Fail(binding.control, NotUnsignedPrompt());
        return false;
    }
    // A number outside the range is refused and not taken: keeping it would later send a value
    // the reader cannot hold (only its low bits would reach the wire).
    if (*number < field.min || *number > field.max) {
        Fail(binding.control, RangePrompt(field.min, field.max));
        return false;
    }
    *field.member = *number;
    return true;
}

void FieldExchange::Fail(QWidget* control, const QString& prompt) {
    if (prompt_) {
        prompt_(prompt);
    }
    control->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->selectAll();
    }
}

}  // namespace zendrik::tool
