#include "rules/public_settings.h"

#include <algorithm>
#include <iterator>

namespace zendrik::rules {

ReaderSettings FromPublicSettings(const zendrik_settings& s) {
    ReaderSettings r;
    r.buzzer = s.buzzer;
    r.workMode = s.work_mode;
    r.triggerTime = s.trigger_time;
    r.wiegandInterval = s.wiegand_interval;
    std::copy(std::begin(s.output), std::end(s.output), r.output.begin());
    r.wiegandFormat = s.wiegand_format;
    r.passwordCheck = s.password_check;
    std::copy(std::begin(s.password), std::end(s.password), r.password.begin());
    r.readInterval = s.read_interval;
    r.power = s.power;
    r.address = s.address;
    r.frequency = FrequencyPlan{s.region, s.first, s.second, s.step, s.span};
    return r;
}

void ToPublicSettings(const ReaderSettings& r, zendrik_settings& s) {
    s.buzzer = r.buzzer;
    s.work_mode = r.workMode;
    s.trigger_time = r.triggerTime;
    s.wiegand_interval = r.wiegandInterval;
    std::copy(r.output.begin(), r.output.end(), std::begin(s.output));
    s.wiegand_format = r.wiegandFormat;
    s.password_check = r.passwordCheck;
    std::copy(r.password.begin(), r.password.end(), std::begin(s.password));
    s.read_interval = r.readInterval;
    s.power = r.power;
    s.address = r.address;
    s.region = r.frequency.region;
    s.span = r.frequency.span;
    s.first = r.frequency.first;
    s.second = r.frequency.second;
    s.step = r.frequency.step;
}

}  // namespace zendrik::rules
