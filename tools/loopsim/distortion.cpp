#include "tools/loopsim/distortion.hpp"

#include <cmath>
#include <cstdlib>

namespace loopsim {

poly poly_make(const std::vector<double>& coefficients)
{
    poly p;
    for (size_t i = 0; i < coefficients.size() && i + 2 <= poly_max_order; i++) {
        p.a[i + 2] = coefficients[i];
        if (coefficients[i] != 0.0)
            p.order = static_cast<int64_t>(i) + 2;
    }
    return p;
}

double poly_apply(const poly& p, double x)
{
    double y = p.a[p.order];
    for (int64_t k = p.order - 1; k >= 1; k--)
        y = y * x + p.a[k];
    return y * x;
}

std::vector<poly_product> poly_products(const poly& p, double a1, double a2)
{
    // c[p][q]: the coefficient of exp(j (p t1 + q t2)), p and q in -K .. K.
    constexpr int64_t span = 2 * poly_max_order + 1;
    double c[span][span] = {};
    double factorial[poly_max_order + 1] = {1.0};
    for (int64_t k = 1; k <= poly_max_order; k++)
        factorial[k] = factorial[k - 1] * static_cast<double>(k);
    for (int64_t k = 1; k <= p.order; k++) {
        if (p.a[k] == 0.0)
            continue;
        // n1 + m1 + n2 + m2 = k exponents of A1/2 e^(jt1), A1/2 e^(-jt1), A2/2 e^(jt2), A2/2 e^(-jt2).
        for (int64_t n1 = 0; n1 <= k; n1++)
            for (int64_t m1 = 0; n1 + m1 <= k; m1++)
                for (int64_t n2 = 0; n1 + m1 + n2 <= k; n2++) {
                    const int64_t m2 = k - n1 - m1 - n2;
                    const double ways = factorial[k] / (factorial[n1] * factorial[m1] * factorial[n2] * factorial[m2]);
                    const double term = p.a[k] * ways * std::pow(a1 / 2.0, static_cast<double>(n1 + m1)) *
                                        std::pow(a2 / 2.0, static_cast<double>(n2 + m2));
                    c[n1 - m1 + poly_max_order][n2 - m2 + poly_max_order] += term;
                }
    }
    // A cosine's amplitude is twice the coefficient of either of its exponentials.
    std::vector<poly_product> products;
    for (int64_t i = 0; i <= poly_max_order; i++)
        for (int64_t j = -poly_max_order; j <= poly_max_order; j++) {
            if (i == 0 && j < 0)
                continue;
            const double value = c[i + poly_max_order][j + poly_max_order];
            const double amplitude = i == 0 && j == 0 ? std::fabs(value) : 2.0 * std::fabs(value);
            if (amplitude > 1e-300)
                products.push_back({i, j, amplitude});
        }
    return products;
}

}  // namespace loopsim
