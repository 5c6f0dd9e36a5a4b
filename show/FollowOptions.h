// The options of a flight along a track, read the same way by kelta and kelta-shot.
#pragma once

#include <string>
#include <vector>

struct FollowOptions {
    // The vector file whose track is flown along; empty for none.
    std::string trackPath;
    // Metres above the ground, which the flight never goes below.
    double heightMetres = 100.0;
    // Kilometres an hour along the track, over the ground.
    double speedKmh = 300.0;

    bool isAsked() const { return !trackPath.empty(); }
};

// The options' names as a command line spells them; each takes a value.
const std::vector<const char*>& followValueOptions();

// Reads one of the options named above into `options`. A bad value leaves `options` alone and
// returns false with what the option takes in `expected`, for the program's own refusal.
bool readFollowOption(const std::string& name, const std::string& value, FollowOptions& options,
                      std::string& expected);

// The --help lines of these options, the same in every program that reads them.
extern const char* const FOLLOW_OPTIONS_HELP;
