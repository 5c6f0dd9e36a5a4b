// The terrain's positional arguments, read without GL so that the tools can check a command
// line before they open a window.
#include "scene/TerrainArguments.h"

#include "io/WholeNumber.h"

#include <limits>
#include <sstream>

namespace {

bool parseScale(const char* text, const char* name, int position, int minimum, float& scale, std::string& error) {
    int value = 0;
    if (!parseWholeNumber(text, minimum, std::numeric_limits<int>::max(), value, WholeNumberForm::SpacedAndSigned)) {
        std::ostringstream message;
        message << "Invalid " << name << " \"" << text << "\" (argument " << position
                << "): expected a whole number of at least " << minimum;
        error = message.str();
        return false;
    }
    scale = static_cast<float>(value);
    return true;
}

}  // namespace

bool parseTerrainArguments(int argc, const char* const* argv, TerrainArguments& arguments,
                           std::string& error) {
    if (argc > 1) arguments.heightMapPath = argv[1];
    if (argc > 2 && !parseScale(argv[2], "horizontal scale", 2, 1, arguments.horizontalScale, error)) {
        return false;
    }
    if (argc > 3 && !parseScale(argv[3], "height scale", 3, 0, arguments.heightScale, error)) {
        return false;
    }
    arguments.heightScaleGiven = argc > 3;
    return true;
}
