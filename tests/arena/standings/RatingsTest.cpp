// Ratings, LOS and SPRT against numbers worked out by hand.

#include "Ratings.h"

#include <cmath>
#include <gtest/gtest.h>

TEST(Ratings, PlackettLuceAgainstHandComputedCases) {
    // Two bots, 75 % for the first: the strength ratio is 3, 400 log10(3) = 190.85 Elo apart,
    // +-95.4 around the pool average. Three wins and a loss, or two wins and two draws.
    for (const bool draws : {false, true}) {
        Ratings r(2);
        r.addMatch({{0}, {1}});
        r.addMatch({{0}, {1}});
        r.addMatch(draws ? std::vector<std::vector<unsigned>>{{0, 1}}
                         : std::vector<std::vector<unsigned>>{{0}, {1}});
        r.addMatch(draws ? std::vector<std::vector<unsigned>>{{1, 0}}
                         : std::vector<std::vector<unsigned>>{{1}, {0}});
        if (!draws) {
            r.addMatch({{0}, {1}});
            r.addMatch({{0}, {1}});
            r.addMatch({{1}, {0}}); // 5 : 3 so far; one more win makes 6 : 2
            r.addMatch({{0}, {1}});
        }
        const RatingFit fit = r.fit();
        ASSERT_TRUE(fit.converged);
        EXPECT_FALSE(fit.prior);
        EXPECT_NEAR(fit.elo[0] - fit.elo[1], 190.85, 0.01) << "draws " << draws;
        EXPECT_NEAR(fit.elo[0], 95.42, 0.01);
    }
    {
        // 3 : 1 gives the information 4 * 0.75 * 0.25 = 0.75 on the difference; the centred
        // rating has a standard error of sqrt(1 / 0.75) / 2 nepers: +-196.58 Elo at 95 %.
        Ratings r(2);
        r.addMatch({{0}, {1}});
        r.addMatch({{0}, {1}});
        r.addMatch({{0}, {1}});
        r.addMatch({{1}, {0}});
        const RatingFit fit = r.fit();
        EXPECT_NEAR(fit.high[0] - fit.elo[0], 196.58, 0.05);
        EXPECT_NEAR(fit.elo[0] - fit.low[0], 196.58, 0.05);
    }
    {
        // A cycle of three-seat finishes that treats every bot alike: equal ratings.
        Ratings r(3);
        r.addMatch({{0}, {1}, {2}});
        r.addMatch({{1}, {2}, {0}});
        r.addMatch({{2}, {0}, {1}});
        const RatingFit fit = r.fit();
        for (double e : fit.elo) {
            EXPECT_NEAR(e, 0.0, 1e-6);
        }
    }
    {
        // An undefeated bot has no finite maximum: the prior keeps it finite and ahead.
        Ratings r(2);
        r.addMatch({{0}, {1}});
        r.addMatch({{0}, {1}});
        const RatingFit fit = r.fit();
        EXPECT_TRUE(fit.prior);
        EXPECT_TRUE(std::isfinite(fit.elo[0]));
        EXPECT_GT(fit.elo[0], fit.elo[1]);
    }
}

TEST(Ratings, LikelihoodOfSuperiorityAndSprt) {
    // 0.5 + 0.5 erf(4 / sqrt(40)) for 12 wins and 8 losses.
    EXPECT_NEAR(Ratings::los(12, 8), 0.81445, 1e-5);
    EXPECT_DOUBLE_EQ(Ratings::los(0, 0), 0.5);
    // 60 / 20 / 20: score 0.7, variance 0.16; s0 = 0.5, s1 = 1 / (1 + 10^(-10/400)) = 0.514387;
    // LLR = 100 * 0.014387 * 0.385613 / 0.32 = 1.7337, inside ln(0.05/0.95) = -2.944 and 2.944.
    const SprtResult open = Ratings::sprt(60, 20, 20, 0, 10, 0.05, 0.05);
    EXPECT_NEAR(open.llr, 1.7337, 1e-3);
    EXPECT_NEAR(open.lower, -2.9444, 1e-3);
    EXPECT_NEAR(open.upper, 2.9444, 1e-3);
    EXPECT_EQ(open.verdict, "continue");
    EXPECT_EQ(Ratings::sprt(120, 40, 40, 0, 10, 0.05, 0.05).verdict, "H1 accepted");
    EXPECT_EQ(Ratings::sprt(40, 40, 120, 0, 10, 0.05, 0.05).verdict, "H0 accepted");
}

TEST(Ratings, WideTiesAndLargePoolsStayBounded) {
    // 66 bots tied in both matches of a cycle with one more bot: far past any list of orders.
    // Every tied bot stands alike, so their ratings agree up to the sample; the fit is the same
    // each time.
    const auto wideTie = [] {
        Ratings r(67);
        std::vector<unsigned> tied;
        for (unsigned k = 1; k <= 66; ++k) {
            tied.push_back(k);
        }
        r.addMatch({{0}, tied});
        r.addMatch({tied, {0}});
        return r.fit();
    };
    const RatingFit tie = wideTie();
    EXPECT_EQ(tie.elo, wideTie().elo);
    for (size_t k = 1; k < tie.elo.size(); ++k) {
        EXPECT_TRUE(std::isfinite(tie.elo[k]) && std::isfinite(tie.high[k]));
        EXPECT_NEAR(tie.elo[k], tie.elo[1], 100.0);
    }
    // A pool above the exact intervals' bound: a ring of 500 bots, each beating the next.
    const unsigned n = Ratings::MAX_EXACT_INTERVALS + 100;
    Ratings ring(n);
    for (unsigned k = 0; k < n; ++k) {
        ring.addMatch({{k}, {(k + 1) % n}});
    }
    const RatingFit fit = ring.fit();
    EXPECT_FALSE(fit.prior);
    for (unsigned k = 0; k < n; ++k) {
        EXPECT_NEAR(fit.elo[k], 0.0, 1e-6);
        EXPECT_TRUE(std::isfinite(fit.high[k]) && fit.high[k] > 0.0);
    }
}
