#include "session/settings_change.h"

#include "zendrik/zendrik_session.h"
#include "link/result_codes.h"
#include "rules/factory_defaults.h"
#include "session/setting_commands.h"

namespace zendrik::session {
namespace {

std::string Failed(std::string_view what, int32_t result) {
    return std::string(what) + ": " + ResultWords(result);
}

int32_t WriteKeepingBand(ReaderSession& session, const rules::FactoryStep& step,
                         rules::ReaderSettings values) {
    const uint8_t kind = session.handshake().readerKind;
    // The band stays the one the reader is on, so the plan is read first; the whole band is written
    // only when that read succeeds.
    rules::ReaderSettings current;
    if (const int32_t read = ReadSetting(session.link(), rules::SettingCommand::kFrequency, current);
        read != ZENDRIK_OK) {
        return read;
    }
    values.frequency = rules::WholeBandPlan(current.frequency.first);
    return WriteSetting(session.link(), step.command, kind, values);
}

}  // namespace

ChangeOutcome ReadSettings(ReaderSession& session, rules::ReaderSettings& settings) {
    rules::SettingCommand failed{};
    const int32_t result = session.Note(ReadAllSettings(session.link(), settings, failed));
    if (result != ZENDRIK_OK) {
        return {result, Failed("cannot read the " + std::string(rules::CommandName(failed)), result)};
    }
    return {};
}

ChangeOutcome ApplyPlan(ReaderSession& session, const rules::ChangePlan& plan,
                        rules::ReaderSettings* readBack) {
    const uint8_t kind = session.handshake().readerKind;
    session.ForgetCardRule();  // the output settings or the format may change
    for (const rules::SettingCommand command : rules::WriteSequence(plan.commands)) {
        if (const int32_t result = session.Note(WriteSetting(session.link(), command, kind, plan.target));
            result != ZENDRIK_OK) {
            return {result,
                    Failed("writing the " + std::string(rules::CommandName(command)) + " failed", result) +
                        "; the writes before it were made"};
        }
    }
    rules::ReaderSettings read;
    if (ChangeOutcome failed = ReadSettings(session, read); failed.result != ZENDRIK_OK) {
        failed.message = "written, but " + failed.message;
        return failed;
    }
    if (readBack != nullptr) {
        *readBack = read;
    }
    std::string differences;
    for (const std::string& mismatch : rules::Mismatches(plan, read)) {
        differences += (differences.empty() ? "" : "; ") + mismatch;
    }
    if (!differences.empty()) {
        return {ZENDRIK_ERR_VERIFY, differences};
    }
    return {};
}

ChangeOutcome RestoreFactoryDefaults(ReaderSession& session) {
    const uint8_t kind = session.handshake().readerKind;
    const rules::FactoryDefaults defaults = rules::FactoryDefaultsFor(kind);
    session.ForgetCardRule();
    ChangeOutcome outcome;
    for (const rules::FactoryStep& step : defaults.steps) {
        int32_t result = ZENDRIK_OK;
        switch (step.action) {
            case rules::FactoryAction::kReset:
                result = FactoryReset(session.link());
                break;
            case rules::FactoryAction::kWrite:
                result = WriteSetting(session.link(), step.command, kind, defaults.values);
                break;
            case rules::FactoryAction::kWriteKeepingBand:
                result = WriteKeepingBand(session, step, defaults.values);
                break;
        }
        if (session.Note(result) != ZENDRIK_OK && outcome.result == ZENDRIK_OK) {
            outcome = {
                result,
                Failed("restoring the " + std::string(rules::FactoryStepName(step)) + " failed", result)};
        }
    }
    return outcome;
}

}  // namespace zendrik::session
