// Colour science for the pack tool: sRGB <-> linear light, CIELAB, the CIEDE2000 colour
// difference, and the two colour-to-picture tables every pack carries (best_match and
// second_match, one entry per RGB565 colour).
#pragma once
#include <cstdint>
#include <vector>

namespace evgpack {

struct Lab {
    double L, a, b;
};

// sRGB 8-bit channel to linear light 0..1 (exact piecewise curve, table-driven).
double srgb_to_linear(uint8_t v);
// Linear light 0..1 to the nearest 8-bit sRGB value.
uint8_t linear_to_srgb(double v);

// CIELAB (D65 white) of linear-light RGB.
Lab linear_rgb_to_lab(double r, double g, double b);
Lab rgb565_to_lab(uint16_t c);

// Reference CIEDE2000 (kL = kC = kH = 1) in double precision.
double ciede2000(const Lab& x, const Lab& y);

// The pictures' representative colours, prepared once for the fast table search.
struct MatchSet {
    std::vector<float> L, a, b, C;  // C = chroma sqrt(a^2 + b^2), before the a' rescaling
    int count() const { return static_cast<int>(L.size()); }
};
MatchSet make_match_set(const std::vector<Lab>& colours);

// CIEDE2000 from one colour to every colour of the set, in single precision with polynomial
// approximations of atan2/sin/cos/exp so the loop vectorises (|error| < 1e-3 of the reference).
void ciede2000_row(const Lab& colour, const MatchSet& set, float* out);
// The same for entries first .. end - 1 only (out is indexed like the set).
void ciede2000_row_range(const Lab& colour, const MatchSet& set, int first, int end, float* out);

// The default spread of `evgpack build` (delta E). Measured on the demo pack's own pictures
// (neighbouring pixels given the same tile / mean delta E of pixel to tile): 0: 65.4% / 5.31,
// 1: 63.2% / 5.43, 2: 60.6% / 5.82, 3: 58.0% / 6.37, 6: 53.4% / 8.50. At 2 (about one just
// noticeable difference) repetition drops for little loss of colour; beyond it the cost grows.
constexpr double DEFAULT_VARIETY = 2.0;

// Candidate lists of `evgpack build`: K pictures per colour and how far beyond the colour's
// nearest picture (delta E) a candidate may lie. Measured with `evgpack quality` on 395 real
// photos (distinct pictures per zoom-40 screen / zoom-8 likeness change, 4.7 / 0 without):
// K 16 within 5: 10.5 / +0.37; within 6: 11.7 / +0.65. K 8 or 12 gave less variety for the same
// loss. The budget trades likeness for variety; K only has to be large enough that the budget,
// not the list, runs out first.
constexpr int DEFAULT_CANDIDATES = 16;
constexpr double DEFAULT_CANDIDATE_BUDGET = 5.0;
// Fewest candidates a colour lists (its nearest pictures, however far): a dark or pale colour
// often has only two or three pictures within the budget, which then alternate in a
// checkerboard. The tile rule of version-3 lists weighs each candidate's distance against the
// pictures already in view, so far ones appear about once per screen and only where nearer ones
// are few; it wants every colour's full list. Measured with `evgpack quality` on 310 real photos
// (mean / fewest distinct pictures on a zoom-40 screen, zoom-8 likeness against version-1
// lists 2.71): with the version-2 rule, at least 6: 11.9 / 5 / +0.38; 8: 12.8 / 7 / +0.54; 12:
// 14.5 / 8 / +0.59; with the version-3 rule, 8: 13.4 / 5 / +0.24; 16: 15.2 / 8 / +0.26.
constexpr int DEFAULT_MIN_CANDIDATES = 16;

struct MatchTables {
    std::vector<uint16_t> best;    // 65536 entries
    std::vector<uint16_t> second;  // 65536 entries, never equal to best when 2+ pictures
    // candidate_count numbers per colour: best first, then the other pictures within the budget
    // nearest first, unused slots 0xFFFF. Empty when candidate_count is 0.
    int candidate_count = 0;
    std::vector<uint16_t> candidates;
};

// Fills both tables. variety (in delta E): a colour may take any picture whose distance is
// within `variety` of its nearest one, chosen by a hash of the colour value so neighbouring
// colours pick different tiles; 0 gives the plain nearest picture (ties: lower number).
// second = the nearest picture other than best. Work is split over `jobs` threads; the result
// does not depend on the split.
// With candidates > 0 (at most 16), also fills the candidate lists within `budget` delta E of
// the nearest picture, and up to `at_least` entries with the nearest pictures beyond it.
MatchTables compute_match_tables(const std::vector<Lab>& picture_colours, double variety, int jobs,
                                 int candidates = 0, double budget = DEFAULT_CANDIDATE_BUDGET, int at_least = 0);

// The hash that spreads colours over their candidate pictures.
uint32_t colour_hash(uint32_t colour);

}  // namespace evgpack
