#pragma once
// Ratings from finishing orders (Plackett-Luce), and the two-player statistics LOS and SPRT.

#include <string>
#include <vector>

/// The fitted ratings of the bots, on the Elo scale with the pool's average at 0.
struct RatingFit {
    std::vector<double> elo;
    /// The 95 % interval of each rating.
    std::vector<double> low;
    std::vector<double> high;
    /// A weak prior was added because some bot won or lost every comparison, so that its
    /// rating stays finite.
    bool prior = false;
    bool converged = false;
    unsigned iterations = 0;
};

/// The sequential probability ratio test of "elo >= elo1" against "elo <= elo0".
struct SprtResult {
    double llr = 0;
    double lower = 0;
    double upper = 0;
    /// "H1 accepted", "H0 accepted" or "continue".
    std::string verdict;
};

class Ratings {
public:
    explicit Ratings(unsigned bots);

    /// One match's finishing order: groups of bot indices, best group first; the bots of a
    /// group tied. A bot may stand in more than one seat.
    void addMatch(const std::vector<std::vector<unsigned>>& groups);

    /// Maximum likelihood by Hunter's MM iterations (Hunter 2004, "MM algorithms for generalized
    /// Bradley-Terry models", section 5). A tie counts as every order of the tied bots, each
    /// with an equal share of the match (for two seats: half a win each).
    RatingFit fit() const;

    /// Likelihood of superiority from wins and losses (draws carry no information), as
    /// cutechess and fastchess give it: 0.5 + 0.5 erf((W - L) / sqrt(2 (W + L))).
    static double los(double wins, double losses);
    /// The GSPRT with the trinomial (win, draw, loss) model on the logistic Elo scale, as in
    /// Van den Bergh, "A practical introduction to the SPRT": LLR = N (s1 - s0)(2s - s0 - s1) /
    /// (2 var), bounds ln(beta / (1 - alpha)) and ln((1 - beta) / alpha).
    static SprtResult sprt(double wins, double draws, double losses, double elo0, double elo1,
                           double alpha, double beta);

private:
    /// One order of a match with its share of the match.
    struct Order {
        double weight;
        std::vector<unsigned> bots;
    };
    unsigned m_bots;
    std::vector<Order> m_orders;
};
