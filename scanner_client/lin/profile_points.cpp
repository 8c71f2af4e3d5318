#include "lin/profile_points.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

namespace quillan {
namespace {

const EchoPoint* firstValidEcho(const ProfileColumn& column, unsigned slots)
{
    for (int j = 0; j < kMaxEchoes; ++j)
        if ((slots & (1u << j)) && column.echoes[j].valid)
            return &column.echoes[j];
    return nullptr;
}

// A strict weak order on doubles with NaN after every number.
bool lessNanLast(double a, double b)
{
    const bool na = std::isnan(a), nb = std::isnan(b);
    if (na || nb)
        return !na && nb;
    return a < b;
}

// With `All` every array is present and none is tested. Inlined into the column loops, so that
// the tests of the arrays' presence stay on the loop's local copy.
template <bool All>
[[gnu::always_inline]] inline void emitPoint(const EchoPoint& e, const PointArrays& out, int at)
{
    if (All || out.x)
        out.x[at] = e.xMm;
    if (All || out.z)
        out.z[at] = e.zMm;
    if (All || out.intensity)
        out.intensity[at] = e.strength;
    if (All || out.width)
        out.width[at] = e.width;
}

// The valid echoes of columns order(0) .. order(columns - 1), each column's
// by slot, up to out.maxPoints.
template <bool All, typename Order>
int emitColumns(const DecodedProfile& p, const PointArrays& arrays, int columns, Order order)
{
    // A copy: stores through the int arrays could otherwise alias maxPoints.
    const PointArrays out = arrays;
    const unsigned slots = p.echoSlotsUsed & ((1u << kMaxEchoes) - 1);
    int written = 0;
    if (std::has_single_bit(slots)) {
        const int j = std::countr_zero(slots);
        const auto emit = [&](int k) {
            const EchoPoint& e = p.columns[order(k)].echoes[j];
            if (e.valid)
                emitPoint<All>(e, out, written++);
        };
        if (out.maxPoints < columns) {
            for (int k = 0; k < columns && written < out.maxPoints; ++k)
                emit(k);
            return written;
        }
        // Room for every column's point: only the columns need counting, and
        // the echoes a few columns ahead are fetched early.
        constexpr int kAhead = 8;
        int k = 0;
        for (; k + kAhead < columns; ++k) {
            __builtin_prefetch(&p.columns[order(k + kAhead)].echoes[j]);
            emit(k);
        }
        for (; k < columns; ++k)
            emit(k);
        return written;
    }
    for (int k = 0; k < columns && written < out.maxPoints; ++k) {
        const ProfileColumn& column = p.columns[order(k)];
        for (int j = 0; j < kMaxEchoes; ++j) {
            const EchoPoint& e = column.echoes[j];
            if (!(slots & (1u << j)) || !e.valid)
                continue;
            if (written >= out.maxPoints)
                break;
            emitPoint<All>(e, out, written++);
        }
    }
    return written;
}

template <typename Order>
int emitTo(const DecodedProfile& p, const PointArrays& out, int columns, Order order)
{
    if (out.x && out.z && out.intensity && out.width)
        return emitColumns<true>(p, out, columns, order);
    return emitColumns<false>(p, out, columns, order);
}

// The conversion of LinearizeProfile through `convert`. Slot by slot: along
// a slot the points move steadily across the tables.
template <typename Convert>
[[gnu::always_inline]] inline void linearizeSlots(DecodedProfile& p, const Convert& convert)
{
    const double stepX = p.effStepX + 1.0;
    const double stepZ = p.effStepZ + 1.0;
    const double offsetX = p.effOffsetX;
    const double offsetZ = p.effOffsetZ;
    const int columns = std::clamp(p.columnCount, 0, kMaxProfileColumns);
    LinCursor cursor;
    for (int j = 0; j < kMaxEchoes; ++j) {
        if (!(p.echoSlotsUsed & (1u << j)))
            continue;
        // u = c stepX + offsetX by additions: integers far below 2^53, so exact.
        double u = offsetX;
        for (int c = 0; c < columns; ++c, u += stepX) {
            EchoPoint& e = p.columns[c].echoes[j];
            if (!e.valid)
                continue;
            if (e.zPixel == 0.0) {
                e.xMm = 0.0;
                e.zMm = 0.0;
                continue;
            }
            convert.convert(u, stepZ * e.zPixel + offsetZ, e.xMm, e.zMm, cursor);
        }
    }
}

// A width that evaluates one point at a time: two points one after the other.
template <typename Width>
struct OneByOne : Width {
    [[gnu::always_inline]] static void evaluateTwo(const linpatch::JointCell& a, double duA, double dvA, EchoPoint& ea,
                                                   const linpatch::JointCell& b, double duB, double dvB, EchoPoint& eb)
    {
        const linpatch::Pair ra = Width::evaluate(a, duA, dvA), rb = Width::evaluate(b, duB, dvB);
        ea.xMm = ra[0];
        ea.zMm = ra[1];
        eb.xMm = rb[0];
        eb.zMm = rb[1];
    }
};

// linearizeSlots for tables on shared knots, the patches evaluated by
// Evaluate. A located point waits for the next one so that Evaluate can take
// both together; the view of the tables is a copy, kept in registers.
template <typename Evaluate>
[[gnu::always_inline]] inline void linearizeJoint(DecodedProfile& p, const LinJoint& tables)
{
    const LinJoint joint = tables;
    const double stepX = p.effStepX + 1.0;
    const double stepZ = p.effStepZ + 1.0;
    const double offsetX = p.effOffsetX;
    const double offsetZ = p.effOffsetZ;
    const int columns = std::clamp(p.columnCount, 0, kMaxProfileColumns);
    LinCursor cursor;
    EchoPoint* held = nullptr;
    const linpatch::JointCell* heldCell = nullptr;
    double heldDu = 0.0, heldDv = 0.0;
    for (int j = 0; j < kMaxEchoes; ++j) {
        if (!(p.echoSlotsUsed & (1u << j)))
            continue;
        double u = offsetX;  // c stepX + offsetX, as in linearizeSlots
        for (int c = 0; c < columns; ++c, u += stepX) {
            EchoPoint& e = p.columns[c].echoes[j];
            if (!e.valid)
                continue;
            if (e.zPixel == 0.0) {
                e.xMm = 0.0;
                e.zMm = 0.0;
                continue;
            }
            const linpatch::JointCell* cell = nullptr;
            double du = 0.0, dv = 0.0;
            if (!joint.locate(u, stepZ * e.zPixel + offsetZ, cursor, cell, du, dv))
                continue;  // outside: x and z stay
            if (held == nullptr) {
                held = &e;
                heldCell = cell;
                heldDu = du;
                heldDv = dv;
                continue;
            }
            Evaluate::evaluateTwo(*heldCell, heldDu, heldDv, *held, *cell, du, dv, e);
            held = nullptr;
        }
    }
    if (held != nullptr) {
        const linpatch::Pair r = Evaluate::evaluate(*heldCell, heldDu, heldDv);
        held->xMm = r[0];
        held->zMm = r[1];
    }
}

#if defined(__x86_64__)
// The same loop built for wider vectors, chosen at run time. The operations
// and their order stay those of the two-lane evaluation (fused multiply-add
// is off for this library), so the results are the same bits.
struct FourLanes {
    [[gnu::always_inline]] static linpatch::Pair evaluate(const linpatch::JointCell& c, double du, double dv)
    {
        return linpatch::evaluateJointAvx(c, du, dv);
    }
};
// Two points at once: their sums in du share one vector.
struct EightLanes {
    [[gnu::always_inline]] static linpatch::Pair evaluate(const linpatch::JointCell& c, double du, double dv)
    {
        return linpatch::evaluateJointAvx512(c, du, dv);
    }
    [[gnu::always_inline]] static void evaluateTwo(const linpatch::JointCell& a, double duA, double dvA, EchoPoint& ea,
                                                   const linpatch::JointCell& b, double duB, double dvB, EchoPoint& eb)
    {
        linpatch::evaluateJointAvx512Two(a, duA, dvA, ea.xMm, ea.zMm, b, duB, dvB, eb.xMm, eb.zMm);
    }
};

__attribute__((target("avx"))) void linearizeJointAvx(DecodedProfile& p, const LinJoint& tables)
{
    linearizeJoint<OneByOne<FourLanes>>(p, tables);
}

__attribute__((target("avx512f"))) void linearizeJointAvx512(DecodedProfile& p, const LinJoint& tables)
{
    linearizeJoint<EightLanes>(p, tables);
}
#endif

}  // namespace

void LinearizeProfile(DecodedProfile& p, const Linearization* lin)
{
    if (p.linearizedLayout || lin == nullptr || !lin->data().xTable.loaded)
        return;
    if (!lin->joint().cells) {
        linearizeSlots(p, *lin);
        return;
    }
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx512f")) {
        linearizeJointAvx512(p, lin->joint());
        return;
    }
    if (__builtin_cpu_supports("avx")) {
        linearizeJointAvx(p, lin->joint());
        return;
    }
#endif
    linearizeJoint<OneByOne<LinJoint::TwoLanes>>(p, lin->joint());
}

int EmitProfilePoints(const DecodedProfile& p, const PointArrays& out, bool sortByX)
{
    const int columns = std::clamp(p.columnCount, 0, kMaxProfileColumns);
    if (!sortByX)
        return emitTo(p, out, columns, [](int k) { return k; });

    std::array<uint16_t, kMaxProfileColumns> order;
    for (int c = 0; c < columns; ++c)
        order[c] = static_cast<uint16_t>(c);
    std::array<uint16_t, kMaxProfileColumns> places, sorted;
    int n = 0;
    for (int c = 0; c < columns; ++c) {
        const EchoPoint* e = firstValidEcho(p.columns[c], p.echoSlotsUsed);
        if (e && (e->xMm != 0.0 || e->zMm != 0.0)) {
            places[n] = static_cast<uint16_t>(c);
            sorted[n] = static_cast<uint16_t>(c);
            ++n;
        }
    }
    std::sort(sorted.begin(), sorted.begin() + n, [&](uint16_t a, uint16_t b) {
        return lessNanLast(firstValidEcho(p.columns[a], p.echoSlotsUsed)->xMm,
                           firstValidEcho(p.columns[b], p.echoSlotsUsed)->xMm);
    });
    for (int k = 0; k < n; ++k)
        order[places[k]] = sorted[k];
    return emitTo(p, out, columns, [&order](int k) { return static_cast<int>(order[k]); });
}

}  // namespace quillan
