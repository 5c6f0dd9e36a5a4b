// libFuzzer entry point: in-memory rasters of any sample type, size, no-data value, geotransform,
// coordinate system and unit of height, built through GDAL's API from the fuzzed bytes, must
// become sane elevation maps and drape images or be refused in one line, without a sanitizer
// report. GDAL's file parsers are not involved: this covers what KELTA does with what GDAL hands
// over.
#include "tests/fuzz/FuzzedRaster.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string failure = fuzzraster::check(data, size);
    if (!failure.empty()) {
        std::fprintf(stderr, "fuzz_elevation: %s\n", failure.c_str());
        __builtin_trap();
    }
    return 0;
}
