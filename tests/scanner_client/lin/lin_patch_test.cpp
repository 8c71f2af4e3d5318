#include "lin/lin_patch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

using namespace quillan::linpatch;

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

struct Sample {
    double x[16], z[16];
    JointCell joint;
    double du, dv;
};

std::vector<Sample> samples()
{
    std::mt19937 rng(21);
    std::uniform_real_distribution<double> coef(-1, 1), off(0, 300);
    std::vector<Sample> out(500);
    for (Sample& s : out) {
        for (int k = 0; k < 16; ++k) {
            s.x[k] = coef(rng) * std::pow(1e-2, (k / 4) + (k % 4));
            s.z[k] = 100 * coef(rng) * std::pow(1e-2, (k / 4) + (k % 4));
        }
        joinCell(s.x, s.z, s.joint);
        s.du = off(rng);
        s.dv = off(rng);
    }
    return out;
}

// Each width against the one-table evaluation, bit for bit; the wider ones
// only where this machine runs them.
void expectSame(const Sample& s, double x, double z)
{
    EXPECT_TRUE(sameBits(x, evaluatePatch(s.x, s.du, s.dv)));
    EXPECT_TRUE(sameBits(z, evaluatePatch(s.z, s.du, s.dv)));
}

#if defined(__x86_64__)
__attribute__((target("avx"))) void checkAvx(const std::vector<Sample>& all)
{
    for (const Sample& s : all) {
        const Pair r = evaluateJointAvx(s.joint, s.du, s.dv);
        expectSame(s, r[0], r[1]);
    }
}

__attribute__((target("avx512f"))) void checkAvx512(const std::vector<Sample>& all)
{
    for (size_t n = 0; n + 1 < all.size(); ++n) {
        const Sample& a = all[n];
        const Sample& b = all[n + 1];
        const Pair r = evaluateJointAvx512(a.joint, a.du, a.dv);
        expectSame(a, r[0], r[1]);
        double xa, za, xb, zb;
        evaluateJointAvx512Two(a.joint, a.du, a.dv, xa, za, b.joint, b.du, b.dv, xb, zb);
        expectSame(a, xa, za);
        expectSame(b, xb, zb);
    }
}
#endif

TEST(JointPatch, EveryWidthGivesTheBitsOfOneTableAtATime)
{
    const std::vector<Sample> all = samples();
    for (const Sample& s : all) {
        const Pair r = evaluateJoint(s.joint, s.du, s.dv);
        expectSame(s, r[0], r[1]);
    }
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx"))
        checkAvx(all);
    if (__builtin_cpu_supports("avx512f"))
        checkAvx512(all);
#endif
}

}  // namespace
