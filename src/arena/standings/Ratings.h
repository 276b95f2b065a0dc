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

    /// Orders of a match's ties listed one by one up to this many (7 bots tied); beyond, this
    /// many orders are drawn at random with a fixed seed, so a report is the same every time.
    static constexpr size_t MAX_ORDERS = 5040;
    static constexpr size_t SAMPLED_ORDERS = 256;
    /// Pools up to this many bots get intervals from the inverted information matrix (cubic in
    /// the bots); larger pools from each rating's own information, the others held fixed
    /// (linear; somewhat narrower intervals).
    static constexpr unsigned MAX_EXACT_INTERVALS = 400;

    /// One match's finishing order: groups of bot indices (each below the bots given to the
    /// constructor), best group first; the bots of a group tied. A bot may stand in more than
    /// one seat.
    void addMatch(const std::vector<std::vector<unsigned>>& groups);

    /// Maximum likelihood by Hunter's MM iterations (Hunter 2004, "MM algorithms for generalized
    /// Bradley-Terry models", section 5). A tie counts as every order of the tied bots, each
    /// with an equal share of the match (for two seats: half a win each), or as a bounded
    /// sample of them (see MAX_ORDERS).
    ///
    /// Cost, with L the total length of the orders kept and n the bots: O(L) per iteration, at
    /// most max(100, min(100000, 4e8 / L)) iterations; then O(L) for the prior test, and for the
    /// intervals O(L k) (k the longest order) plus O(n^3) up to MAX_EXACT_INTERVALS bots, O(L)
    /// beyond.
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

    std::vector<double> winsPerBot() const;
    /// Whether some bot does not beat, through others, every other bot: then no finite maximum
    /// exists and a weak prior is added.
    bool needsPrior() const;
    /// The MM iterations from equal strengths; fills iterations and converged.
    std::vector<double> strengths(double prior, RatingFit& result) const;
    /// The 95 % half-width of each centred rating on the Elo scale; infinite when unknown.
    std::vector<double> halfWidths(const std::vector<double>& gamma, double prior) const;
    unsigned m_bots;
    std::vector<Order> m_orders;
};
