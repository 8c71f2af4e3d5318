#pragma once
// What a TriggerMode or TriggerSource write does, as data: rows of (selector, value, guard) ->
// guarded actions, and the plan they give for one write in one trigger state.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "scanner_info.h"

namespace lumabridge {

// The trigger state a plan reads: the three triggers and the cached functions of lines 1..4.
struct TriggerState {
    std::array<TriggerSettings, 3> m_Triggers{};
    std::array<int32_t, 4> m_EaFunction{};
};

// Facts about the trigger state that rows and actions test.
enum class TriggerCondition {
    Always,
    FrameStartOn,
    FrameStartOff,
    AcquisitionActiveOn,
    AcquisitionActiveOff,
    S0HasCode,  // the LineStart source has a source code (0..7)
    S0NoCode,
    S0IsLine,  // 1..4
    S1IsLine,
    S2IsLine,
    S0IsSoftware,  // 7
    S0BelowSoftware,  // 0..6
    S0Unknown,  // outside 0..7
    S1IsSoftware,
    Line1IsEncoderInput,  // cached function 5
    Line2IsEncoderInput,
};

// Where an action's number comes from.
struct TriggerOperand {
    enum Kind { Constant, Value, S0, S1, S2, CodeOfS0, LineStartDivider } m_Kind = Constant;
    int32_t m_Constant = 0;
};

enum class TriggerActionKind {
    SourceCommand,  // "SetTriggerSource=c\rSetAcquisitionStop\r", c 0..3
    AmountCommand,  // "SetTriggerAmountProfilesY=c\r"
    LineFunction,  // line, function
    ReleaseLine,  // line
    ProfileEnable,  // line
    EncoderStep,  // "SetTriggerEncoderStep=v\r"
    CoordinateSourceEncoder,  // Scan3dCoordinateSource = Encoder
    Refresh,  // re-read the scanner information, nothing sent
};

struct TriggerAction {
    TriggerActionKind m_Kind;
    TriggerOperand m_First{};
    TriggerOperand m_Second{};
    TriggerCondition m_When = TriggerCondition::Always;
    TriggerCondition m_AndWhen = TriggerCondition::Always;
};

// Matches a selector and value range when its guard holds. A row that continues lets the rows
// after it match the same write too; the first row that does not continue ends the match.
struct TriggerRow {
    int32_t m_SelectorMin;
    int32_t m_SelectorMax;
    int64_t m_ValueMin;
    int64_t m_ValueMax;
    TriggerCondition m_Guard;
    std::vector<TriggerAction> m_Actions;
    bool m_Continue = false;
};

std::span<const TriggerRow> TriggerModeTable();
std::span<const TriggerRow> TriggerSourceTable();

// One resolved action: the numbers are final.
struct TriggerStep {
    TriggerActionKind m_Kind;
    int64_t m_First = 0;
    int64_t m_Second = 0;

    bool operator==(const TriggerStep&) const = default;
};

struct TriggerPlan {
    std::vector<TriggerStep> m_Steps;  // in order; Refresh steps are left out
    bool m_Refresh = false;  // something is sent, or a row asks for a refresh
    std::vector<size_t> m_Rows;  // the rows that matched, by index into the table
};

bool TriggerConditionHolds(TriggerCondition condition, const TriggerState& state);
// Line actions whose line is outside 1..4 and commands whose number is not a code are dropped.
TriggerPlan PlanTriggerWrite(std::span<const TriggerRow> table, int32_t selector, int64_t value,
                             const TriggerState& state);

}  // namespace lumabridge
