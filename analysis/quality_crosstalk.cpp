// The crosstalk segment's bins and every pair's reading.
#include "analysis/quality_crosstalk.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "analysis/distortion.hpp"
#include "analysis/quality_figures.hpp"
#include "analysis/tones.hpp"

namespace {

// Bins, sorted, of every product up to the third order of the tones and of
// their harmonics up to the tenth.
std::vector<int64_t> xt_products(const std::vector<int64_t>& f)
{
    std::vector<int64_t> made;
    for (const int64_t a : f)
        for (int64_t h = 2; h <= 10; h++)
            made.push_back(h * a);
    for (size_t i = 0; i < f.size(); i++)
        for (size_t j = i; j < f.size(); j++) {
            made.push_back(f[i] + f[j]);
            made.push_back(std::llabs(f[i] - f[j]));
            for (size_t k = j; k < f.size(); k++)
                for (const int64_t v : {f[i] + f[j] + f[k], f[i] + f[j] - f[k], f[i] - f[j] + f[k], f[j] + f[k] - f[i]})
                    made.push_back(std::llabs(v));
        }
    std::sort(made.begin(), made.end());
    made.erase(std::unique(made.begin(), made.end()), made.end());
    return made;
}

bool xt_meets(const std::vector<int64_t>& sorted, const std::vector<int64_t>& bins)
{
    return std::any_of(bins.begin(), bins.end(),
                       [&](int64_t k) { return std::binary_search(sorted.begin(), sorted.end(), k); });
}

// 0, -1, +1, -2, +2, ...
int64_t xt_step(int64_t i) { return (i + 1) / 2 * (i % 2 == 1 ? -1 : 1); }

}  // namespace

std::vector<std::vector<int64_t>> quality_crosstalk_bins(double rate, int64_t n, int loops)
{
    std::vector<int64_t> grid;
    for (const double hz : quality_octave_hz)
        grid.push_back(4 * std::lrint((hz * static_cast<double>(n) / rate - 1.0) / 4.0) + 1);
    std::vector<std::vector<int64_t>> bins, products;
    for (int l = 0; l < loops; l++)
        for (int64_t i = 0;; i++) {
            std::vector<int64_t> own;
            for (const int64_t g : grid)
                own.push_back(g + 4 * xt_step(i));
            if (own.front() < 1)
                continue;
            const std::vector<int64_t> made = xt_products(own);
            bool clear = true;
            for (size_t k = 0; k < bins.size() && clear; k++)
                clear = !xt_meets(made, bins[k]) && !xt_meets(products[k], own);
            if (clear) {
                bins.push_back(own), products.push_back(made);
                break;
            }
        }
    return bins;
}

std::vector<quality_crosstalk_pair> quality_crosstalk_read(const quality_plan& p, const quality_segment& s,
                                                           std::span<const std::span<const float>> captures)
{
    const size_t loops = static_cast<size_t>(p.loops);
    std::vector<std::string> fault(loops);
    std::vector<distortion_block> blocks(loops);
    // Whether each of a loop's tones stands 20 dB above the mean bin of the
    // rest of its band (its other tones notched too).
    std::vector<std::vector<bool>> stands(loops);
    for (size_t l = 0; l < loops; l++) {
        const std::span<const float> capture = l < captures.size() ? captures[l] : std::span<const float>();
        bool clipped = false;
        fault[l] = quality_capture_fault(s, capture, clipped);
        if (!fault[l].empty())
            continue;
        blocks[l] =
            distortion_block_of(capture.subspan(static_cast<size_t>(s.settle_frames)), s.analysed_frames, p.rate);
        std::vector<int64_t> own;
        for (const tone& t : quality_plan_tones(s, static_cast<int>(l)))
            own.push_back(t.bin);
        const double floor = distortion_mean_bin_power(blocks[l], own) * std::pow(10.0, quality_tone_floor_db / 10.0);
        for (const int64_t k : own)
            stands[l].push_back(std::norm(distortion_phasor(blocks[l], k)) > floor);
    }
    std::vector<quality_crosstalk_pair> pairs;
    for (size_t from = 0; from < loops; from++)
        for (size_t to = 0; to < loops; to++) {
            if (from == to)
                continue;
            quality_crosstalk_pair pair;
            pair.from = static_cast<int>(from), pair.to = static_cast<int>(to);
            const std::vector<tone>& tones = quality_plan_tones(s, static_cast<int>(from));
            pair.reason = fault[from].empty() ? fault[to] : fault[from];
            for (size_t j = 0; j < tones.size(); j++) {
                pair.octave_hz.push_back(tones_hz(tones[j].bin, p.rate, s.analysed_frames));
                std::optional<double> db;
                if (pair.reason.empty() && stands[from][j]) {
                    const double ratio = std::abs(distortion_phasor(blocks[to], tones[j].bin)) /
                                         std::abs(distortion_phasor(blocks[from], tones[j].bin));
                    db = ratio > 0.0 ? std::max(tones_floor_dbfs, 20.0 * std::log10(ratio)) : tones_floor_dbfs;
                }
                pair.octave_db.push_back(db);
            }
            if (quality_octave_1khz < pair.octave_db.size())
                pair.db_1khz = pair.octave_db[quality_octave_1khz];
            if (!pair.db_1khz && pair.reason.empty())
                pair.reason = "no tone came back 20 dB above the noise on the driving loop";
            pairs.push_back(pair);
        }
    return pairs;
}
