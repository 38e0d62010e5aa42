// Following the clock: a stretch of the capture tested against the model
// after a local refit of the delay, so that a tracking error (the loop's lag
// behind a wander or a step of the clocks' rate) is followed, never a glitch.
#include <algorithm>
#include <cmath>

#include "analysis/monitor_steps.hpp"

namespace {

// Knots of the refit: a chunk in four pieces (64 frames at 48 kHz). Over
// 64 frames a clock wandering 3 ppm RMS with a 0.5 s correlation leaves the
// line through them within 2e-6 frame, under the threshold at -140 dBFS.
constexpr int refit_pieces = 4;
// The correction may move the delay at the stretch's start by this many of
// its standard errors at most: further, the delay jumped (a discontinuity).
constexpr double join_sigmas = 10.0;
constexpr int exact_passes = 4;
// A tracking error is small: the loop's lag behind a step of 100 ppm within
// one chunk is 0.03 frame. A correction beyond this is no tracking error but
// a glitch bent into one (a click taken up by a delay that moves a frame).
constexpr double most_correction = 0.1;
// A corner this far from either end at least, and no piece of the spline
// steeper than 2000 ppm against the model (a clock's step is at most 1000):
// a piece a frame or two long, between a knot and a corner beside it, could
// otherwise take up a click of its own.
constexpr int64_t corner_margin = 8;
constexpr double steepest = 2e-3;

// Piece j of spline f (the whole stretch when f is not solved) over count
// frames from first: its frames [a, b) and model m moved along it. False
// when the piece is empty.
bool spline_piece(const monitor_model& m, const monitor_refit& f, int64_t first, int64_t count, int j, int64_t& a,
                  int64_t& b, monitor_model& piece)
{
    a = f.solved ? f.at[static_cast<size_t>(j)] : 0;
    b = f.solved ? f.at[static_cast<size_t>(j + 1)] : count;
    if (b <= a)
        return false;
    piece = m;
    if (f.solved) {
        const double ea = f.value[static_cast<size_t>(j)], eb = f.value[static_cast<size_t>(j + 1)];
        monitor_model_move(piece, first + a, ea, (eb - ea) / static_cast<double>(b - a));
    }
    return true;
}

// The model over frames [first, first + y.size()) with the delay moved by
// the spline f (a piece of model per piece of spline): residue, derivative
// and limits into the detector's scratch; the last frame over, or -1.
int64_t follow_run(monitor_detector& d, const monitor_model& m, std::span<const float> y, int64_t first,
                   const monitor_refit& f, bool accumulate)
{
    int64_t over = -1;
    const int pieces = f.solved ? f.knots - 1 : 1;
    for (int j = 0; j < pieces; j++) {
        int64_t a = 0, b = 0;
        monitor_model piece;
        if (!spline_piece(m, f, first, static_cast<int64_t>(y.size()), j, a, b, piece))
            continue;
        monitor_pass p = monitor_pass_of(d);
        p.limit = d.summary.threshold;
        p.stop = false;
        const auto part = [&](std::vector<double>& v) {
            return std::span<double>(v).subspan(static_cast<size_t>(a), static_cast<size_t>(b - a));
        };
        p.residue = part(d.residue);
        p.derivative = part(d.derivative);
        p.limits = part(d.limits);
        if (accumulate) {
            p.acc_re = d.acc_re;
            p.acc_im = d.acc_im;
            p.cube_re = d.cube_re;
            p.cube_im = d.cube_im;
            p.square_re = d.square_re;
            p.square_im = d.square_im;
        }
        monitor_model_run(piece, y.subspan(static_cast<size_t>(a), static_cast<size_t>(b - a)), first + a, p);
        if (p.last_over >= 0)
            over = a + p.last_over;
        if (accumulate) {
            d.pass_sum = p.sum;
            d.pass_square = p.acc_square, d.pass_cube = p.acc_cube;
            d.pass_norm_square = p.norm_square, d.pass_norm_cube = p.norm_cube;
            d.pass_sum_square = p.sum_square, d.pass_sum_cube = p.sum_cube, d.pass_cross = p.cross;
        }
    }
    return over;
}

// The first frame of the residue over its limit once the spline's
// correction is taken out (linearly), or -1.
int64_t first_over_projected(const monitor_detector& d, const monitor_refit& f, int64_t count)
{
    for (int64_t n = 0; n < count; n++) {
        const double r = d.residue[static_cast<size_t>(n)] -
                         d.derivative[static_cast<size_t>(n)] * monitor_refit_at(f, static_cast<double>(n));
        if (std::fabs(r) > d.limits[static_cast<size_t>(n)])
            return n;
    }
    return -1;
}

double steepest_piece(const monitor_refit& f)
{
    double most = 0.0;
    for (int j = 0; j + 1 < f.knots; j++)
        most = std::max(most, std::fabs(f.value[static_cast<size_t>(j + 1)] - f.value[static_cast<size_t>(j)]) /
                                  static_cast<double>(f.at[static_cast<size_t>(j + 1)] - f.at[static_cast<size_t>(j)]));
    return most;
}

double largest_correction(const monitor_refit& f)
{
    double most = 0.0;
    for (int j = 0; j < f.knots; j++)
        most = std::max(most, std::fabs(f.value[static_cast<size_t>(j)]));
    return most;
}

// The spline's correction added to another on the same knots.
void follow_add(monitor_refit& total, const monitor_refit& more)
{
    for (int j = 0; j < total.knots; j++)
        total.value[static_cast<size_t>(j)] += more.value[static_cast<size_t>(j)];
    total.spread = more.spread;
}

monitor_refit_sums follow_sums(monitor_detector& d)
{
    monitor_refit_sums s;
    s.d0 = d.sum_d0, s.d1 = d.sum_d1, s.d2 = d.sum_d2, s.r0 = d.sum_r0, s.r1 = d.sum_r1;
    return s;
}

// The correction's spline on the knots of f, run exactly and refined from
// the residue left, until every frame fits or the passes are spent. f holds
// the total correction; true when every frame fits.
bool follow_refine(monitor_detector& d, const monitor_model& m, std::span<const float> y, int64_t first,
                   monitor_refit& f)
{
    const int64_t count = static_cast<int64_t>(y.size());
    monitor_refit_sums s = follow_sums(d);
    for (int pass = 0; pass < exact_passes; pass++) {
        if (follow_run(d, m, y, first, f, false) < 0)
            return true;
        monitor_refit_prepare(std::span<const double>(d.residue).first(static_cast<size_t>(count)),
                              std::span<const double>(d.derivative).first(static_cast<size_t>(count)), s);
        const monitor_refit more = monitor_refit_solve(s, std::span<const int64_t>(f.at).first(f.knots));
        if (!more.solved)
            return false;
        follow_add(f, more);
    }
    return follow_run(d, m, y, first, f, false) < 0;
}

// Whether the refit joins the delay before the stretch: its delay at the
// first frame and the last stretch's fitted delay at its end, two estimates
// of one delay, agree within their errors.
bool follow_joins(const monitor_detector& d, const monitor_model& m, const monitor_refit& f, int64_t first,
                  const monitor_join& j)
{
    if (!j.valid)
        return true;
    const double sigma = d.summary.threshold / threshold_sigmas;
    const double here = monitor_model_delay_at(m, first) + f.value[0];
    return std::fabs(here - j.delay) <= join_sigmas * sigma * std::hypot(f.spread[0], j.spread) + 1e-12;
}

// The stretch's fitted delay at its end, for the next to join; its error
// the fit's, widened by how much more than the noise the fit left (a
// corner of the delay near the end, which a straight piece does not follow).
void follow_note_end(const monitor_detector& d, monitor_join& j, const monitor_model& m, const monitor_refit& f,
                     int64_t end, int64_t count)
{
    j.valid = f.solved;
    if (!f.solved)
        return;
    const int last = f.knots - 1;
    const double sigma = d.summary.threshold / threshold_sigmas;
    const double misfit = f.left / (sigma * sigma * static_cast<double>(count));
    j.delay = monitor_model_delay_at(m, end) + f.value[static_cast<size_t>(last)];
    j.spread = f.spread[static_cast<size_t>(last)] * std::sqrt(std::max(1.0, misfit));
}

// Moves m to the refit, each of its delay and slope at the stretch's end by
// as much as the refit's own error allows (a Wiener weight): a correction
// well above its error in full, one within it hardly.
void follow_adopt(const monitor_detector& d, monitor_model& m, const monitor_refit& f, int64_t first, int64_t count)
{
    const double sigma = d.summary.threshold / threshold_sigmas;
    const int last = f.knots - 1;
    const double end = f.value[static_cast<size_t>(last)], before = f.value[static_cast<size_t>(last - 1)];
    const double span = static_cast<double>(f.at[static_cast<size_t>(last)] - f.at[static_cast<size_t>(last - 1)]);
    const double end_error = sigma * f.spread[static_cast<size_t>(last)];
    const double slope = (end - before) / span;
    const double slope_error =
        sigma * std::hypot(f.spread[static_cast<size_t>(last)], f.spread[static_cast<size_t>(last - 1)]) / span;
    const auto weight = [](double x, double error) { return x * x / (x * x + error * error + 1e-300); };
    monitor_model_move(m, first + count, end * weight(end, end_error), slope * weight(slope, slope_error));
}

}  // namespace

monitor_followed monitor_follow(monitor_detector& d, monitor_model& m, int64_t first, int64_t count, bool accumulate,
                                monitor_join& join)
{
    monitor_followed out;
    const std::span<const float> y = monitor_ring_stretch(d, first, count);
    if (accumulate)
        for (auto* v : {&d.acc_re, &d.acc_im, &d.cube_re, &d.cube_im, &d.square_re, &d.square_im})
            std::fill(v->begin(), v->end(), 0.0);
    const int64_t over = follow_run(d, m, y, first, monitor_refit{}, accumulate);
    out.measured = monitor_model_delay_at(m, first + count / 2);
    monitor_refit_sums s = follow_sums(d);
    const int pieces = count >= 4 * refit_pieces ? refit_pieces : 1;
    if (over < 0) {
        // Clean as it is: its fitted delay at the end all the same, for the next stretch to join.
        monitor_refit_prepare(std::span<const double>(d.residue).first(static_cast<size_t>(count)),
                              std::span<const double>(d.derivative).first(static_cast<size_t>(count)), s);
        follow_note_end(d, join, m, monitor_refit_even(s, pieces), first + count, count);
        out.fits = true;
        return out;
    }
    // The first frame over before any refit: where a glitch begins when none fits.
    int64_t first_over = 0;
    while (first_over < count &&
           std::fabs(d.residue[static_cast<size_t>(first_over)]) <= d.limits[static_cast<size_t>(first_over)])
        first_over++;
    out.over = first + first_over;
    monitor_refit_prepare(std::span<const double>(d.residue).first(static_cast<size_t>(count)),
                          std::span<const double>(d.derivative).first(static_cast<size_t>(count)), s);
    monitor_refit f = monitor_refit_even(s, pieces);
    if (!f.solved)
        return out;
    // Linearly the correction leaves at most e^2 / 2 times the curvature: a
    // quarter of the threshold, or the model is run again at the corrected delay.
    const double most = largest_correction(f);
    bool fits = first_over_projected(d, f, count) < 0 &&
                0.5 * most * most * monitor_model_curvature(m) <= 0.25 * d.summary.threshold;
    if (!fits && follow_joins(d, m, f, first, join))
        fits = follow_refine(d, m, y, first, f);
    if (!fits) {
        // A corner of the delay: a step of the rate inside the stretch. The
        // residue of the first pass again, for the knot's place.
        follow_run(d, m, y, first, monitor_refit{}, false);
        monitor_refit_prepare(std::span<const double>(d.residue).first(static_cast<size_t>(count)),
                              std::span<const double>(d.derivative).first(static_cast<size_t>(count)), s);
        f = monitor_refit_corner(s, pieces, corner_margin, count - corner_margin);
        fits = f.solved && follow_joins(d, m, f, first, join) && follow_refine(d, m, y, first, f);
    }
    if (!fits || !follow_joins(d, m, f, first, join) || largest_correction(f) > most_correction ||
        steepest_piece(f) > steepest)
        return out;
    out.fits = out.refit = true;
    out.measured += monitor_refit_at(f, static_cast<double>(count / 2));
    follow_note_end(d, join, m, f, first + count, count);
    follow_adopt(d, m, f, first, count);
    return out;
}

void monitor_distortion_sums(monitor_detector& d, const monitor_model& m, std::span<const float> y, int64_t first,
                             const monitor_refit& f)
{
    for (auto* v : {&d.acc2_re, &d.acc2_im, &d.cube_re, &d.cube_im, &d.square_re, &d.square_im})
        std::fill(v->begin(), v->end(), 0.0);
    double square = 0.0, cube = 0.0, norm_square = 0.0, norm_cube = 0.0, sum = 0.0, sum_square = 0.0, sum_cube = 0.0,
           cross = 0.0;
    const int pieces = f.solved ? f.knots - 1 : 1;
    for (int j = 0; j < pieces; j++) {
        int64_t a = 0, b = 0;
        monitor_model piece;
        if (!spline_piece(m, f, first, static_cast<int64_t>(y.size()), j, a, b, piece))
            continue;
        monitor_pass p = monitor_pass_of(d);
        p.acc_re = d.acc2_re, p.acc_im = d.acc2_im;
        p.cube_re = d.cube_re, p.cube_im = d.cube_im;
        p.square_re = d.square_re, p.square_im = d.square_im;
        monitor_model_run(piece, y.subspan(static_cast<size_t>(a), static_cast<size_t>(b - a)), first + a, p);
        square += p.acc_square, cube += p.acc_cube, norm_square += p.norm_square, norm_cube += p.norm_cube;
        sum += p.sum, sum_square += p.sum_square, sum_cube += p.sum_cube, cross += p.cross;
    }
    const double dc_sum = d.pass_sum;
    d.pass_sum = sum;
    d.pass_square = square, d.pass_norm_square = norm_square;
    d.pass_cube = cube, d.pass_norm_cube = norm_cube;
    d.pass_sum_square = sum_square, d.pass_sum_cube = sum_cube, d.pass_cross = cross;
    monitor_cube_between_tones(d, d.acc2_re, d.acc2_im, static_cast<double>(y.size()));
    d.pass_sum = dc_sum;
}

void monitor_cube_between_tones(monitor_detector& d, std::span<const double> acc_re, std::span<const double> acc_im,
                                double frames)
{
    // Each tone's own content, Re(c e^(i phase)) with c = 2 / N sum x e^(-i phase), and the DC (the
    // mean), taken out of the residue and of the square and the cube: what is left of sum r q^2,
    // sum q^4, sum r q^3 and sum q^6. The tones' gains and the DC follow those parts already.
    d.pass_square -= d.pass_sum * d.pass_sum_square / frames;
    d.pass_norm_square -= d.pass_sum_square * d.pass_sum_square / frames;
    d.pass_cube -= d.pass_sum * d.pass_sum_cube / frames;
    d.pass_norm_cube -= d.pass_sum_cube * d.pass_sum_cube / frames;
    d.pass_cross -= d.pass_sum_square * d.pass_sum_cube / frames;
    for (size_t k = 0; k < d.cube_re.size(); k++) {
        d.pass_square -= 2.0 / frames * (acc_re[k] * d.square_re[k] + acc_im[k] * d.square_im[k]);
        d.pass_norm_square -= 2.0 / frames * (d.square_re[k] * d.square_re[k] + d.square_im[k] * d.square_im[k]);
        d.pass_cube -= 2.0 / frames * (acc_re[k] * d.cube_re[k] + acc_im[k] * d.cube_im[k]);
        d.pass_norm_cube -= 2.0 / frames * (d.cube_re[k] * d.cube_re[k] + d.cube_im[k] * d.cube_im[k]);
        d.pass_cross -= 2.0 / frames * (d.square_re[k] * d.cube_re[k] + d.square_im[k] * d.cube_im[k]);
    }
}

bool monitor_follow_stretch(monitor_detector& d, monitor_model& m, int64_t first, int64_t count, int64_t& over,
                            monitor_join& join)
{
    for (int64_t at = first; at < first + count; at += d.chunk) {
        const int64_t n = std::min(d.chunk, first + count - at);
        const monitor_followed f = monitor_follow(d, m, at, n, false, join);
        if (!f.fits) {
            over = f.over;
            return false;
        }
        if (!f.refit)
            m.delay = monitor_model_delay_at(m, at + n), m.anchor = at + n;
    }
    return true;
}
