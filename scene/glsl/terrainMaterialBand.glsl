// The height that chooses the terrain's materials: for image maps the height itself, for elevation
// maps the metres above the sea mapped onto the same bands, so that real land shows water, shore,
// grass, dry grass and snow where they lie on the ground and not where its world height happens to
// fall. Not a stage of its own: the embedding step puts it in place of each stage's #include line;
// the including stage declares metresPerHeight, snowLine and hasSea.

// Metres above the sea and the band heights they map to, for a snow line at 2500 m: water at and
// below the sea, a narrow shore, lowland grass, dry grass, snow; flat above the last.
const int BAND_KNOTS = 6;
const float BAND_KNOT_METRES[BAND_KNOTS] = float[BAND_KNOTS](0.0, 1.0, 3.0, 750.0, 1375.0, 2500.0);
const float BAND_KNOT_HEIGHTS[BAND_KNOTS] = float[BAND_KNOTS](0.0, 0.5, 2.5, 5.0, 10.0, 15.0);
const float DEFAULT_SNOW_LINE = 2500.0;
// Without a sea no ground is water: the lowest band is the shore's upper edge.
const float LOWEST_LAND_BAND = 2.5;

float materialBand(float height) {
    if (metresPerHeight == 0.0) return height;
    // The knots move with the snow line in proportion.
    float metres = height * metresPerHeight * (DEFAULT_SNOW_LINE / snowLine);
    float band = BAND_KNOT_HEIGHTS[BAND_KNOTS - 1];
    for (int knot = 1; knot < BAND_KNOTS; ++knot) {
        if (metres < BAND_KNOT_METRES[knot]) {
            float below = BAND_KNOT_METRES[knot - 1];
            float along = clamp((metres - below) / (BAND_KNOT_METRES[knot] - below), 0.0, 1.0);
            band = mix(BAND_KNOT_HEIGHTS[knot - 1], BAND_KNOT_HEIGHTS[knot], along);
            break;
        }
    }
    return hasSea ? band : max(band, LOWEST_LAND_BAND);
}
