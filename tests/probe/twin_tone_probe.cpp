// twin_tone_probe: the battery's twin-tone (CCIF-like) segment for a test
// that computes its difference-frequency distortion on its own
// (tests/analysis/twin_tone_iec_check.py, numpy), and the analysis's reading
// of a capture it made.
//
//   twin_tone_probe plan RATE
//     prints "settle FRAMES", "block FRAMES", then "tone BIN AMPLITUDE" for f1
//     and f2 (bins of the block; amplitudes peak, 1 = full scale)
//   twin_tone_probe read RATE FILE
//     FILE: the segment's capture, settle then block, as 32-bit floats in the
//     machine's order; prints "d2_db D2", "d3_db D3", "ccif_db DB",
//     "reference_dbfs R", each with "bound 0|1" after it
//
// Exit status 2 for bad arguments, 1 for a capture that cannot be read or measured.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "analysis/quality_figures.hpp"

namespace {

const quality_segment* twin_segment(const quality_plan& p)
{
    for (const quality_segment& s : p.segments)
        if (s.kind == quality_kind::ccif)
            return &s;
    return nullptr;
}

void twin_print(const char* name, const std::optional<double>& v, bool bound)
{
    std::printf("%s %.6f bound %d\n", name, v ? *v : -400.0, bound ? 1 : 0);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    char* end = nullptr;
    const double rate = argc > 2 ? std::strtod(argv[2], &end) : 0.0;
    if ((mode != "plan" || argc != 3) && (mode != "read" || argc != 4)) {
        std::fprintf(stderr, "usage: twin_tone_probe plan RATE | twin_tone_probe read RATE FILE\n");
        return 2;
    }
    const quality_plan p = quality_plan_make(rate, 1);
    const quality_segment* s = twin_segment(p);
    if (!end || *end != '\0' || !s) {
        std::fprintf(stderr, "twin_tone_probe: no battery at %s Hz: %s\n", argv[2], p.error.c_str());
        return 2;
    }
    if (mode == "plan") {
        std::printf("settle %lld\nblock %lld\n", static_cast<long long>(s->settle_frames),
                    static_cast<long long>(s->analysed_frames));
        for (const tone& t : s->tones)
            std::printf("tone %lld %.17g\n", static_cast<long long>(t.bin), t.amplitude);
        return 0;
    }
    std::ifstream in(argv[3], std::ios::binary);
    std::vector<float> capture(static_cast<size_t>(s->settle_frames + s->analysed_frames));
    in.read(reinterpret_cast<char*>(capture.data()), static_cast<std::streamsize>(capture.size() * sizeof(float)));
    if (!in) {
        std::fprintf(stderr, "twin_tone_probe: cannot read %zu floats from %s\n", capture.size(), argv[3]);
        return 1;
    }
    const quality_imd_figures f = quality_imd_measure(p, *s, capture);
    if (!f.valid) {
        std::fprintf(stderr, "twin_tone_probe: not measured: %s\n", f.reason.c_str());
        return 1;
    }
    twin_print("d2_db", f.d2_db, f.d2_floor.bound);
    twin_print("d3_db", f.d3_db, f.d3_floor.bound);
    twin_print("ccif_db", f.db, f.floor.bound);
    twin_print("reference_dbfs", f.reference_dbfs, false);
    return 0;
}
