#include "Ratings.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

const double ELO_PER_NEPER = 400.0 / std::log(10.0);
constexpr double Z95 = 1.959963984540054;
constexpr unsigned MAX_ITERATIONS = 100000;
constexpr unsigned MIN_ITERATIONS = 100;
/// Iterations times the total length of the orders: the MM loop's budget of steps.
constexpr double MAX_ITERATION_STEPS = 4e8;
constexpr double TOLERANCE = 1e-12;
/// Weight of the prior: one win and one loss of this weight against a bot of rating 0.
constexpr double PRIOR = 0.1;
/// The seed of the orders drawn for large ties.
constexpr unsigned SAMPLE_SEED = 20240601;

/// Inverts a symmetric positive definite matrix by Gauss-Jordan; false when it is singular.
bool invert(std::vector<std::vector<double>>& a) {
    const size_t n = a.size();
    std::vector<std::vector<double>> inv(n, std::vector<double>(n, 0.0));
    for (size_t i = 0; i < n; ++i) {
        inv[i][i] = 1.0;
    }
    for (size_t c = 0; c < n; ++c) {
        size_t pivot = c;
        for (size_t r = c + 1; r < n; ++r) {
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) {
                pivot = r;
            }
        }
        if (std::fabs(a[pivot][c]) < 1e-300) {
            return false;
        }
        std::swap(a[c], a[pivot]);
        std::swap(inv[c], inv[pivot]);
        const double d = a[c][c];
        for (size_t k = 0; k < n; ++k) {
            a[c][k] /= d;
            inv[c][k] /= d;
        }
        for (size_t r = 0; r < n; ++r) {
            if (r != c && a[r][c] != 0.0) {
                const double f = a[r][c];
                for (size_t k = 0; k < n; ++k) {
                    a[r][k] -= f * a[c][k];
                    inv[r][k] -= f * inv[c][k];
                }
            }
        }
    }
    a = inv;
    return true;
}

/// The variances of the centred ratings from the information matrix (which is changed);
/// false when it is singular. Without a prior the information has the constant direction as
/// its null space, and (I + J/n)^-1 - J/n is its inverse on the centred ratings.
bool centredVariances(std::vector<std::vector<double>>& info, bool centred,
                      std::vector<double>& variance) {
    const size_t n = info.size();
    const double share = 1.0 / static_cast<double>(n);
    if (centred) {
        for (auto& row : info) {
            for (double& v : row) {
                v += share;
            }
        }
    }
    if (!invert(info)) {
        return false;
    }
    // With a prior: the variance of theta_i - mean(theta).
    double all = 0.0;
    for (const auto& row : info) {
        for (double v : row) {
            all += v * share * share;
        }
    }
    for (size_t i = 0; i < n; ++i) {
        double rowMean = 0.0;
        for (double v : info[i]) {
            rowMean += v * share;
        }
        variance[i] = centred ? info[i][i] - share : info[i][i] - 2.0 * rowMean + all;
    }
    return true;
}

/// Adds one order's observed information: the negative Hessian of its log-likelihood in the
/// log-strengths, whole into `matrix` when given, its diagonal into `diagonal`. At stage s every
/// bot still in the running has p = gamma / rest_s; summed over the stages two bots share, an
/// entry needs only prefix sums of 1 / rest_s and 1 / rest_s^2, so an order of k bots costs
/// O(k^2) for the matrix and O(k) for the diagonal.
void addInformation(double weight, const std::vector<unsigned>& bots,
                    const std::vector<double>& gamma, std::vector<std::vector<double>>* matrix,
                    std::vector<double>& diagonal) {
    const size_t k = bots.size();
    double rest = 0.0;
    for (unsigned b : bots) {
        rest += gamma[b];
    }
    // first[a], second[a]: the sums over the stages up to min(a, k - 2).
    std::vector<double> first(k);
    std::vector<double> second(k);
    double f = 0.0;
    double q = 0.0;
    for (size_t a = 0; a < k; ++a) {
        if (a + 1 < k) {
            f += 1.0 / rest;
            q += 1.0 / (rest * rest);
            rest -= gamma[bots[a]];
        }
        first[a] = f;
        second[a] = q;
    }
    for (size_t a = 0; a < k; ++a) {
        const double g = gamma[bots[a]];
        diagonal[bots[a]] += weight * (g * first[a] - g * g * second[a]);
        if (matrix == nullptr) {
            continue;
        }
        std::vector<double>& row = (*matrix)[bots[a]];
        row[bots[a]] += weight * g * first[a];
        for (size_t b = 0; b < k; ++b) {
            row[bots[b]] -= weight * g * gamma[bots[b]] * second[std::min(a, b)];
        }
    }
}

/// Breadth-first from bot 0 along the edges; true when every bot is reached.
bool reachesAll(const std::vector<std::vector<unsigned>>& edges) {
    std::vector<bool> seen(edges.size(), false);
    std::vector<unsigned> todo{0};
    seen[0] = true;
    size_t count = 1;
    while (!todo.empty()) {
        const unsigned at = todo.back();
        todo.pop_back();
        for (unsigned next : edges[at]) {
            if (!seen[next]) {
                seen[next] = true;
                ++count;
                todo.push_back(next);
            }
        }
    }
    return count == edges.size();
}

/// The orders of one match's tied groups, as many as there are up to `most`, saturating: the
/// product of factorials overflows for ties of 21 bots and more.
size_t orderCount(const std::vector<std::vector<unsigned>>& groups, size_t most) {
    size_t count = 1;
    for (const auto& g : groups) {
        for (size_t k = 2; k <= g.size() && count <= most; ++k) {
            count *= k;
        }
    }
    return count;
}

} // namespace

Ratings::Ratings(unsigned bots) : m_bots(bots) {}

void Ratings::addMatch(const std::vector<std::vector<unsigned>>& groups) {
    const size_t count = orderCount(groups, MAX_ORDERS);
    std::vector<std::vector<unsigned>> sorted = groups;
    for (auto& g : sorted) {
        std::sort(g.begin(), g.end());
    }
    const auto concatenated = [&sorted]() {
        std::vector<unsigned> order;
        for (const auto& g : sorted) {
            order.insert(order.end(), g.begin(), g.end());
        }
        return order;
    };
    if (count > MAX_ORDERS) {
        // Each match draws its own orders, from a seed fixed by its place in the list.
        std::mt19937 random(SAMPLE_SEED + static_cast<unsigned>(m_orders.size()));
        for (size_t k = 0; k < SAMPLED_ORDERS; ++k) {
            for (auto& g : sorted) {
                std::shuffle(g.begin(), g.end(), random);
            }
            m_orders.push_back({1.0 / SAMPLED_ORDERS, concatenated()});
        }
        return;
    }
    // Every combination of the groups' permutations, by odometer.
    const double weight = 1.0 / static_cast<double>(count);
    for (;;) {
        m_orders.push_back({weight, concatenated()});
        size_t i = 0;
        while (i < sorted.size() && !std::next_permutation(sorted[i].begin(), sorted[i].end())) {
            ++i;
        }
        if (i == sorted.size()) {
            break;
        }
    }
}

std::vector<double> Ratings::winsPerBot() const {
    std::vector<double> wins(m_bots, 0.0);
    for (const Order& o : m_orders) {
        for (size_t s = 0; s + 1 < o.bots.size(); ++s) {
            wins[o.bots[s]] += o.weight;
        }
    }
    return wins;
}

bool Ratings::needsPrior() const {
    // Each bot beats the next of its order, and through it every later one: the finite maximum
    // needs the graph of these edges to be strongly connected.
    std::vector<std::vector<unsigned>> beats(m_bots);
    std::vector<std::vector<unsigned>> beatenBy(m_bots);
    for (const Order& o : m_orders) {
        for (size_t s = 0; s + 1 < o.bots.size(); ++s) {
            beats[o.bots[s]].push_back(o.bots[s + 1]);
            beatenBy[o.bots[s + 1]].push_back(o.bots[s]);
        }
    }
    return !reachesAll(beats) || !reachesAll(beatenBy);
}

std::vector<double> Ratings::strengths(double prior, RatingFit& result) const {
    const unsigned n = m_bots;
    const std::vector<double> wins = winsPerBot();
    double length = 1;
    for (const Order& o : m_orders) {
        length += static_cast<double>(o.bots.size());
    }
    const auto most = static_cast<unsigned>(std::max<double>(
        MIN_ITERATIONS, std::min<double>(MAX_ITERATIONS, MAX_ITERATION_STEPS / length)));
    std::vector<double> gamma(n, 1.0);
    for (result.iterations = 1; result.iterations <= most; ++result.iterations) {
        std::vector<double> denom(n, 0.0);
        for (const Order& o : m_orders) {
            double rest = 0.0;
            for (unsigned b : o.bots) {
                rest += gamma[b];
            }
            // Stage s is shared by every bot still in the running: a bot at position t has
            // the shares of stages 0..t.
            double shares = 0.0;
            for (size_t s = 0; s < o.bots.size(); ++s) {
                if (s + 1 < o.bots.size()) {
                    shares += o.weight / rest;
                    rest -= gamma[o.bots[s]];
                }
                denom[o.bots[s]] += shares;
            }
        }
        std::vector<double> next(n);
        for (unsigned i = 0; i < n; ++i) {
            const double d = denom[i] + 2.0 * prior / (gamma[i] + 1.0);
            next[i] = d > 0.0 ? (wins[i] + prior) / d : gamma[i];
        }
        if (prior == 0.0) {
            // Only ratios matter: keep the geometric mean at 1.
            double logMean = 0.0;
            for (double g : next) {
                logMean += std::log(g) / n;
            }
            for (double& g : next) {
                g /= std::exp(logMean);
            }
        }
        double change = 0.0;
        for (unsigned i = 0; i < n; ++i) {
            change = std::max(change, std::fabs(std::log(next[i]) - std::log(gamma[i])));
        }
        gamma = next;
        if (change < TOLERANCE) {
            result.converged = true;
            break;
        }
    }
    return gamma;
}

std::vector<double> Ratings::halfWidths(const std::vector<double>& gamma, double prior) const {
    const unsigned n = m_bots;
    const bool exact = n <= MAX_EXACT_INTERVALS;
    // Observed information: the negative Hessian of the log-likelihood in log-strengths; only
    // its diagonal for a large pool.
    std::vector<std::vector<double>> info(exact ? n : 0, std::vector<double>(n, 0.0));
    std::vector<double> diagonal(n, 0.0);
    for (const Order& o : m_orders) {
        addInformation(o.weight, o.bots, gamma, exact ? &info : nullptr, diagonal);
    }
    for (unsigned i = 0; i < n; ++i) {
        const double q = gamma[i] / (gamma[i] + 1.0);
        diagonal[i] += 2.0 * prior * q * (1.0 - q);
        if (exact) {
            info[i][i] += 2.0 * prior * q * (1.0 - q);
        }
    }
    std::vector<double> variance(n, INFINITY);
    if (!exact) {
        for (unsigned i = 0; i < n; ++i) {
            variance[i] = diagonal[i] > 0.0 ? 1.0 / diagonal[i] : INFINITY;
        }
    } else if (!centredVariances(info, prior == 0.0, variance)) {
        variance.assign(n, INFINITY);
    }
    std::vector<double> half(n);
    for (unsigned i = 0; i < n; ++i) {
        half[i] = Z95 * ELO_PER_NEPER * std::sqrt(std::max(0.0, variance[i]));
    }
    return half;
}

RatingFit Ratings::fit() const {
    const unsigned n = m_bots;
    RatingFit result;
    if (n == 0) {
        result.converged = true;
        return result;
    }
    result.prior = needsPrior();
    const double prior = result.prior ? PRIOR : 0.0;
    const std::vector<double> gamma = strengths(prior, result);
    double mean = 0.0;
    for (double g : gamma) {
        mean += std::log(g) / n;
    }
    const std::vector<double> half = halfWidths(gamma, prior);
    for (unsigned i = 0; i < n; ++i) {
        const double elo = ELO_PER_NEPER * (std::log(gamma[i]) - mean);
        result.elo.push_back(elo);
        result.low.push_back(elo - half[i]);
        result.high.push_back(elo + half[i]);
    }
    return result;
}

double Ratings::los(double wins, double losses) {
    if (wins + losses <= 0.0) {
        return 0.5;
    }
    return 0.5 + 0.5 * std::erf((wins - losses) / std::sqrt(2.0 * (wins + losses)));
}

SprtResult Ratings::sprt(double wins, double draws, double losses, double elo0, double elo1,
                         double alpha, double beta) {
    SprtResult r;
    r.lower = std::log(beta / (1.0 - alpha));
    r.upper = std::log((1.0 - beta) / alpha);
    const double n = wins + draws + losses;
    r.verdict = "continue";
    if (n <= 0.0) {
        return r;
    }
    const double w = wins / n;
    const double d = draws / n;
    const double score = w + d / 2.0;
    const double variance = w + d / 4.0 - score * score;
    // All wins, all draws or all losses: no spread to measure yet.
    if (variance <= 0.0) {
        return r;
    }
    const auto expected = [](double elo) { return 1.0 / (1.0 + std::pow(10.0, -elo / 400.0)); };
    const double s0 = expected(elo0);
    const double s1 = expected(elo1);
    r.llr = n * (s1 - s0) * (2.0 * score - s0 - s1) / (2.0 * variance);
    if (r.llr >= r.upper) {
        r.verdict = "H1 accepted";
    } else if (r.llr <= r.lower) {
        r.verdict = "H0 accepted";
    }
    return r;
}
