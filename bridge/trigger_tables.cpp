#include "trigger_tables.h"

#include <limits>
#include <optional>

namespace lumabridge {
namespace {

using C = TriggerCondition;
using K = TriggerActionKind;
using O = TriggerOperand;

constexpr int32_t kAnySelectorMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kAnySelectorMax = std::numeric_limits<int32_t>::max();
constexpr int64_t kAnyMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kAnyMax = std::numeric_limits<int64_t>::max();

constexpr O kValue{O::Value, 0};
constexpr O kS0{O::S0, 0};
constexpr O kS1{O::S1, 0};
constexpr O kS2{O::S2, 0};
constexpr O kCodeOfS0{O::CodeOfS0, 0};
constexpr O kLineStartDivider{O::LineStartDivider, 0};
constexpr O n(int32_t constant) { return {O::Constant, constant}; }

TriggerAction act(K kind, O first = {}, O second = {}, C when = C::Always, C andWhen = C::Always)
{
    return {kind, first, second, when, andWhen};
}
TriggerAction refresh(C when = C::Always)
{
    return {K::Refresh, {}, {}, when, C::Always};
}

// The source code of the LineStart source: 0 off, 1 a line, 2 an encoder, 3 software.
std::optional<int32_t> sourceCode(int32_t source)
{
    if (source == 0)
        return 0;
    if (source >= 1 && source <= 4)
        return 1;
    if (source == 5 || source == 6)
        return 2;
    if (source == 7)
        return 3;
    return std::nullopt;
}

bool isLine(int64_t source)
{
    return source >= 1 && source <= 4;
}

const std::vector<TriggerRow>& modeTable()
{
    static const std::vector<TriggerRow> rows = {
        {kLineStart, kLineStart, 1, 1, C::Always,
         {act(K::AmountCommand, n(2), {}, C::FrameStartOn), act(K::SourceCommand, n(2), {}, C::FrameStartOff)}},
        {kLineStart, kLineStart, 0, 0, C::Always,
         {act(K::AmountCommand, n(0), {}, C::FrameStartOn), act(K::SourceCommand, n(0), {}, C::FrameStartOff)}},
        {kFrameStart, kFrameStart, 0, 0, C::Always,
         {act(K::SourceCommand, kCodeOfS0, {}, C::S0HasCode), act(K::ReleaseLine, kS1, {}, C::S1IsLine), refresh()}},
        {kFrameStart, kFrameStart, 1, 1, C::AcquisitionActiveOn, {}},
        {kFrameStart, kFrameStart, 1, 1, C::Always,
         {act(K::AmountCommand, kCodeOfS0, {}, C::S0HasCode), refresh(C::S0NoCode)}},
        {kAcquisitionActive, kAcquisitionActive, 0, 0, C::Always,
         {act(K::ReleaseLine, kS2, {}, C::S2IsLine), refresh()}},
        {kAcquisitionActive, kAcquisitionActive, 1, 1, C::FrameStartOn, {}},
        {kAcquisitionActive, kAcquisitionActive, 1, 1, C::Always,
         {act(K::LineFunction, n(3), n(3)), act(K::ProfileEnable, n(3))}},
        {kFrameStart, kAcquisitionActive, kAnyMin, kAnyMax, C::Always, {}},
        {kAnySelectorMin, kAnySelectorMax, kAnyMin, kAnyMax, C::Always, {}},
    };
    return rows;
}

const std::vector<TriggerRow>& sourceTable()
{
    const auto amountOrSource = [](int32_t c) {
        return std::vector<TriggerAction>{act(K::AmountCommand, n(c), {}, C::FrameStartOn),
                                          act(K::SourceCommand, n(c), {}, C::FrameStartOff)};
    };
    const auto join = [](std::vector<TriggerAction> a, const std::vector<TriggerAction>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    static const std::vector<TriggerRow> rows = {
        // Any LineStart source first frees the line of the old one.
        {kLineStart, kLineStart, kAnyMin, kAnyMax, C::Always, {act(K::LineFunction, kS0, n(3), C::S0IsLine)}, true},
        {kLineStart, kLineStart, 1, 4, C::Always, join(amountOrSource(1), {act(K::LineFunction, kValue, n(1))})},
        {kLineStart, kLineStart, 5, 5, C::Always,
         join(amountOrSource(2), {act(K::EncoderStep, kLineStartDivider), act(K::LineFunction, n(1), n(5)),
                                  act(K::LineFunction, n(2), n(5)), act(K::CoordinateSourceEncoder)})},
        {kLineStart, kLineStart, 6, 6, C::Always,
         join(amountOrSource(2),
              {act(K::EncoderStep, kLineStartDivider), act(K::LineFunction, n(1), n(3), C::Line1IsEncoderInput),
               act(K::LineFunction, n(2), n(3), C::Line2IsEncoderInput), act(K::CoordinateSourceEncoder)})},
        {kLineStart, kLineStart, 7, 7, C::S1IsSoftware, {refresh()}},
        {kLineStart, kLineStart, 7, 7, C::Always, {act(K::SourceCommand, n(3))}},
        {kLineStart, kLineStart, kAnyMin, kAnyMax, C::Always, {refresh()}},
        {kFrameStart, kFrameStart, 1, 4, C::Always,
         {act(K::ReleaseLine, kS1, {}, C::FrameStartOn, C::S1IsLine), act(K::AmountCommand, kCodeOfS0, {}, C::S0HasCode),
          act(K::LineFunction, kValue, n(3)), act(K::ProfileEnable, kValue)}},
        {kFrameStart, kFrameStart, 7, 7, C::S0IsSoftware, {refresh()}},
        {kFrameStart, kFrameStart, 7, 7, C::Always,
         {act(K::ReleaseLine, kS1, {}, C::FrameStartOn, C::S1IsLine),
          act(K::AmountCommand, kCodeOfS0, {}, C::S0BelowSoftware), refresh(C::S0Unknown)}},
        {kFrameStart, kFrameStart, kAnyMin, kAnyMax, C::Always, {refresh()}},
        {kAcquisitionActive, kAcquisitionActive, 1, 4, C::Always,
         {act(K::ReleaseLine, kS2, {}, C::AcquisitionActiveOn, C::S2IsLine), act(K::LineFunction, kValue, n(3)),
          act(K::ProfileEnable, kValue)}},
        {kAcquisitionActive, kAcquisitionActive, kAnyMin, kAnyMax, C::Always, {refresh()}},
        {kAnySelectorMin, kAnySelectorMax, kAnyMin, kAnyMax, C::Always, {refresh()}},
    };
    return rows;
}

int64_t resolve(const TriggerOperand& operand, int64_t v, const TriggerState& state)
{
    switch (operand.m_Kind) {
    case O::Constant: return operand.m_Constant;
    case O::Value: return v;
    case O::S0: return state.m_Triggers[kLineStart].m_Source;
    case O::S1: return state.m_Triggers[kFrameStart].m_Source;
    case O::S2: return state.m_Triggers[kAcquisitionActive].m_Source;
    case O::CodeOfS0: return sourceCode(state.m_Triggers[kLineStart].m_Source).value_or(-1);
    case O::LineStartDivider: return state.m_Triggers[kLineStart].m_Divider;
    }
    return -1;
}

// Whether a resolved step can be sent as it stands.
bool sendable(const TriggerStep& step)
{
    switch (step.m_Kind) {
    case K::SourceCommand: return step.m_First >= 0 && step.m_First <= 3;
    case K::AmountCommand: return step.m_First >= 0 && step.m_First <= 3;
    case K::LineFunction:
    case K::ReleaseLine:
    case K::ProfileEnable: return isLine(step.m_First);
    case K::EncoderStep: return step.m_First >= 0;
    case K::CoordinateSourceEncoder:
    case K::Refresh: return true;
    }
    return false;
}

}  // namespace

std::span<const TriggerRow> TriggerModeTable()
{
    return modeTable();
}

std::span<const TriggerRow> TriggerSourceTable()
{
    return sourceTable();
}

bool TriggerConditionHolds(TriggerCondition condition, const TriggerState& state)
{
    const TriggerSettings& lineStart = state.m_Triggers[kLineStart];
    const TriggerSettings& frameStart = state.m_Triggers[kFrameStart];
    const TriggerSettings& active = state.m_Triggers[kAcquisitionActive];
    switch (condition) {
    case C::Always: return true;
    case C::FrameStartOn: return frameStart.m_Mode;
    case C::FrameStartOff: return !frameStart.m_Mode;
    case C::AcquisitionActiveOn: return active.m_Mode;
    case C::AcquisitionActiveOff: return !active.m_Mode;
    case C::S0HasCode: return sourceCode(lineStart.m_Source).has_value();
    case C::S0NoCode: return !sourceCode(lineStart.m_Source).has_value();
    case C::S0IsLine: return isLine(lineStart.m_Source);
    case C::S1IsLine: return isLine(frameStart.m_Source);
    case C::S2IsLine: return isLine(active.m_Source);
    case C::S0IsSoftware: return lineStart.m_Source == 7;
    case C::S0BelowSoftware: return lineStart.m_Source >= 0 && lineStart.m_Source <= 6;
    case C::S0Unknown: return lineStart.m_Source < 0 || lineStart.m_Source > 7;
    case C::S1IsSoftware: return frameStart.m_Source == 7;
    case C::Line1IsEncoderInput: return state.m_EaFunction[0] == 5;
    case C::Line2IsEncoderInput: return state.m_EaFunction[1] == 5;
    }
    return false;
}

TriggerPlan PlanTriggerWrite(std::span<const TriggerRow> table, int32_t selector, int64_t value,
                             const TriggerState& state)
{
    TriggerPlan plan;
    for (size_t i = 0; i < table.size(); ++i) {
        const TriggerRow& row = table[i];
        if (selector < row.m_SelectorMin || selector > row.m_SelectorMax || value < row.m_ValueMin ||
            value > row.m_ValueMax || !TriggerConditionHolds(row.m_Guard, state))
            continue;
        plan.m_Rows.push_back(i);
        for (const TriggerAction& action : row.m_Actions) {
            if (!TriggerConditionHolds(action.m_When, state) || !TriggerConditionHolds(action.m_AndWhen, state))
                continue;
            const TriggerStep step{action.m_Kind, resolve(action.m_First, value, state),
                                   resolve(action.m_Second, value, state)};
            if (!sendable(step))
                continue;
            plan.m_Refresh = true;
            if (step.m_Kind != K::Refresh)
                plan.m_Steps.push_back(step);
        }
        if (!row.m_Continue)
            break;
    }
    return plan;
}

}  // namespace lumabridge
