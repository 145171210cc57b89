#pragma once

#include <algorithm>
#include <iterator>

#include "zendrik/zendrik_session.h"
#include "rules/reader_settings.h"

// The settings record of the session header and the rules' own record hold the same values; these
// carry them across, for the exports and for programs on the public header that use the rules'
// tables on what they read. Header-only, so that such a program needs nothing of the library's
// insides to use it.
namespace zendrik::bridge {

inline rules::ReaderSettings FromPublicSettings(const zendrik_settings& s) {
    rules::ReaderSettings r;
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
    r.frequency = rules::FrequencyPlan{s.region, s.first, s.second, s.step, s.span};
    return r;
}

// Fills every value of `settings`; its size field is left as the caller set it.
inline void ToPublicSettings(const rules::ReaderSettings& r, zendrik_settings& s) {
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

}  // namespace zendrik::bridge
