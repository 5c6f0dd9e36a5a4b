// libFuzzer entry point: any byte string given to the height-map reader must either load as a
// sane map or be refused with a message, without a sanitizer report. The name ends in ".r16", so
// bytes without a BMP or PNG signature go to the raw reader; under other names they would go to
// the BMP reader, which fuzz_bitmap covers.
#include "io/HeightMap.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    HeightSamples map;
    std::string message;
    if (loadHeightMapFromMemory(data, size, "fuzz.r16", ElevationOptions(), map, message)) {
        const bool sane = map.width > 0 && map.height > 0 && map.width <= 32768 && map.height <= 32768 &&
                          map.samples.size() == static_cast<size_t>(map.width) * static_cast<size_t>(map.height) &&
                          (map.largestValue == 255 || map.largestValue == 65535) && message == "Height map loaded";
        if (!sane) {
            __builtin_trap();
        }
        for (const uint16_t sample : map.samples) {
            if (sample > map.largestValue) __builtin_trap();
        }
    } else if (message.empty() || !map.samples.empty() || map.width != 0) {
        __builtin_trap();
    }
    return 0;
}
