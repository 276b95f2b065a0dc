#include "Ratings.h"

#include <algorithm>
#include <cmath>

namespace {

const double ELO_PER_NEPER = 400.0 / std::log(10.0);
constexpr double Z95 = 1.959963984540054;
constexpr unsigned MAX_ITERATIONS = 100000;
constexpr double TOLERANCE = 1e-12;
/// Weight of the prior: one win and one loss of this weight against a bot of rating 0.
constexpr double PRIOR = 0.1;
/// Ties are spread over at most this many orders per match; beyond, the seat order decides.
constexpr size_t MAX_ORDERS = 5040;

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

} // namespace

Ratings::Ratings(unsigned bots) : m_bots(bots) {}

void Ratings::addMatch(const std::vector<std::vector<unsigned>>& groups) {
    size_t count = 1;
    for (const auto& g : groups) {
        for (size_t k = 2; k <= g.size(); ++k) {
            count *= k;
        }
    }
    std::vector<std::vector<unsigned>> sorted = groups;
    for (auto& g : sorted) {
        std::sort(g.begin(), g.end());
    }
    if (count > MAX_ORDERS) {
        std::vector<unsigned> order;
        for (const auto& g : groups) {
            order.insert(order.end(), g.begin(), g.end());
        }
        m_orders.push_back({1.0, order});
        return;
    }
    // Every combination of the groups' permutations, by odometer.
    const double weight = 1.0 / static_cast<double>(count);
    for (;;) {
        std::vector<unsigned> order;
        for (const auto& g : sorted) {
            order.insert(order.end(), g.begin(), g.end());
        }
        m_orders.push_back({weight, order});
        size_t i = 0;
        while (i < sorted.size() && !std::next_permutation(sorted[i].begin(), sorted[i].end())) {
            ++i;
        }
        if (i == sorted.size()) {
            break;
        }
    }
}

RatingFit Ratings::fit() const {
    const unsigned n = m_bots;
    RatingFit result;
    if (n == 0) {
        result.converged = true;
        return result;
    }
    // beats[i][j]: i was placed while j was still in the running.
    std::vector<std::vector<bool>> reach(n, std::vector<bool>(n, false));
    std::vector<double> wins(n, 0.0);
    for (const Order& o : m_orders) {
        for (size_t s = 0; s + 1 < o.bots.size(); ++s) {
            wins[o.bots[s]] += o.weight;
            for (size_t t = s + 1; t < o.bots.size(); ++t) {
                reach[o.bots[s]][o.bots[t]] = true;
            }
        }
    }
    for (unsigned k = 0; k < n; ++k) {
        for (unsigned i = 0; i < n; ++i) {
            for (unsigned j = 0; j < n; ++j) {
                reach[i][j] = reach[i][j] || (reach[i][k] && reach[k][j]);
            }
        }
    }
    // Finite maximum likelihood needs every bot to beat, through others, every other bot.
    for (unsigned i = 0; i < n && !result.prior; ++i) {
        for (unsigned j = 0; j < n; ++j) {
            if (i != j && !reach[i][j]) {
                result.prior = true;
                break;
            }
        }
    }
    const double prior = result.prior ? PRIOR : 0.0;

    std::vector<double> gamma(n, 1.0);
    for (result.iterations = 1; result.iterations <= MAX_ITERATIONS; ++result.iterations) {
        std::vector<double> denom(n, 0.0);
        for (const Order& o : m_orders) {
            double rest = 0.0;
            for (unsigned b : o.bots) {
                rest += gamma[b];
            }
            for (size_t s = 0; s + 1 < o.bots.size(); ++s) {
                // Stage s: every bot still in the running shares the stage's denominator.
                const double share = o.weight / rest;
                for (size_t t = s; t < o.bots.size(); ++t) {
                    denom[o.bots[t]] += share;
                }
                rest -= gamma[o.bots[s]];
            }
        }
        double change = 0.0;
        std::vector<double> next(n);
        for (unsigned i = 0; i < n; ++i) {
            const double d = denom[i] + 2.0 * prior / (gamma[i] + 1.0);
            next[i] = d > 0.0 ? (wins[i] + prior) / d : gamma[i];
        }
        if (!result.prior) {
            // Only ratios matter: keep the geometric mean at 1.
            double logMean = 0.0;
            for (double g : next) {
                logMean += std::log(g) / n;
            }
            for (double& g : next) {
                g /= std::exp(logMean);
            }
        }
        for (unsigned i = 0; i < n; ++i) {
            change = std::max(change, std::fabs(std::log(next[i]) - std::log(gamma[i])));
        }
        gamma = next;
        if (change < TOLERANCE) {
            result.converged = true;
            break;
        }
    }

    std::vector<double> theta(n);
    double mean = 0.0;
    for (unsigned i = 0; i < n; ++i) {
        theta[i] = std::log(gamma[i]);
        mean += theta[i] / n;
    }
    // Observed information: the negative Hessian of the log-likelihood in theta.
    std::vector<std::vector<double>> info(n, std::vector<double>(n, 0.0));
    for (const Order& o : m_orders) {
        for (size_t s = 0; s + 1 < o.bots.size(); ++s) {
            double rest = 0.0;
            for (size_t t = s; t < o.bots.size(); ++t) {
                rest += gamma[o.bots[t]];
            }
            for (size_t a = s; a < o.bots.size(); ++a) {
                const unsigned i = o.bots[a];
                const double pi = gamma[i] / rest;
                info[i][i] += o.weight * pi;
                for (size_t b = s; b < o.bots.size(); ++b) {
                    info[i][o.bots[b]] -= o.weight * pi * gamma[o.bots[b]] / rest;
                }
            }
        }
    }
    for (unsigned i = 0; i < n; ++i) {
        const double q = gamma[i] / (gamma[i] + 1.0);
        info[i][i] += 2.0 * prior * q * (1.0 - q);
    }
    // Ratings are centred: without a prior the information has the constant direction as its
    // null space, and (I + J/n)^-1 - J/n is its inverse on the centred ratings.
    if (!result.prior) {
        for (auto& row : info) {
            for (double& v : row) {
                v += 1.0 / n;
            }
        }
    }
    std::vector<std::vector<double>> cov = info;
    const bool ok = invert(cov);
    std::vector<double> variance(n, 0.0);
    if (ok) {
        for (unsigned i = 0; i < n; ++i) {
            if (!result.prior) {
                variance[i] = cov[i][i] - 1.0 / n;
                continue;
            }
            // The variance of theta_i - mean(theta).
            double rowMean = 0.0;
            double all = 0.0;
            for (unsigned j = 0; j < n; ++j) {
                rowMean += cov[i][j] / n;
                for (unsigned k = 0; k < n; ++k) {
                    all += cov[j][k] / (double(n) * n);
                }
            }
            variance[i] = cov[i][i] - 2.0 * rowMean + all;
        }
    }
    for (unsigned i = 0; i < n; ++i) {
        const double elo = ELO_PER_NEPER * (theta[i] - mean);
        const double half =
            ok ? Z95 * ELO_PER_NEPER * std::sqrt(std::max(0.0, variance[i])) : INFINITY;
        result.elo.push_back(elo);
        result.low.push_back(elo - half);
        result.high.push_back(elo + half);
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
