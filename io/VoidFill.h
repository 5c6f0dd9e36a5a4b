// Gives the samples of a map's holes values from their surroundings, so that geometry, normals and
// level-of-detail bounds around the holes stay sane.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Replaces every sample where `voids` holds 1 with a smooth blend of the samples around it, near
// ones weighing most; every hole is filled, however large, in time proportional to the map's size.
// Returns false, leaving the samples alone, when the memory for it cannot be had.
bool fillVoids(int width, int height, const std::vector<uint8_t>& voids, std::vector<uint16_t>& samples,
               std::string& message);
