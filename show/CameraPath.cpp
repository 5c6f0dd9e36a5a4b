// The eye's curve, the view's turn, the settings' ramps and the path file. The curve is worked in
// double precision and handed out in the camera's single precision.
#include "show/CameraPath.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <utility>

#include "math/Camera.h"

namespace {

using Json = nlohmann::ordered_json;
using Vector = std::array<double, 3>;

Vector operator+(const Vector& a, const Vector& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Vector operator-(const Vector& a, const Vector& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vector operator*(const Vector& v, double s) { return {v[0] * s, v[1] * s, v[2] * s}; }
double dotProduct(const Vector& a, const Vector& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double norm(const Vector& v) { return std::sqrt(dotProduct(v, v)); }
Vector vectorOf(const vec3& v) { return {v.x, v.y, v.z}; }
vec3 vec3Of(const Vector& v) { return vec3{float(v[0]), float(v[1]), float(v[2])}; }

// A unit quaternion, w + xi + yj + zk: a rotation.
struct Quaternion {
    double w = 1.0, x = 0.0, y = 0.0, z = 0.0;
};

Quaternion operator*(const Quaternion& a, const Quaternion& b) {
    return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}

Quaternion conjugate(const Quaternion& q) { return {q.w, -q.x, -q.y, -q.z}; }

// The rotation by |v| radians about v.
Quaternion exponential(const Vector& v) {
    const double angle = norm(v);
    if (angle == 0.0) return {};
    const double s = std::sin(0.5 * angle) / angle;
    return {std::cos(0.5 * angle), v[0] * s, v[1] * s, v[2] * s};
}

// The rotation vector of the shorter of the two ways q and -q turn: the hemisphere correction
// every relative rotation below goes through.
Vector logarithm(const Quaternion& q) {
    const double sign = q.w < 0.0 ? -1.0 : 1.0;
    const Vector axis{sign * q.x, sign * q.y, sign * q.z};
    const double sine = norm(axis);
    if (sine == 0.0) return {0.0, 0.0, 0.0};
    return axis * (2.0 * std::atan2(sine, sign * q.w) / sine);
}

Quaternion slerp(const Quaternion& a, const Quaternion& b, double u) {
    return a * exponential(logarithm(conjugate(a) * b) * u);
}

Vector rotated(const Quaternion& q, const Vector& v) {
    const Quaternion turned = q * Quaternion{0.0, v[0], v[1], v[2]} * conjugate(q);
    return {turned.x, turned.y, turned.z};
}

// The unit direction within the camera's polar limits, its heading kept (north for a vertical one).
Vector offVertical(const Vector& direction) {
    const Vector unit = direction * (1.0 / norm(direction));
    const double highest = std::cos(double(Camera::MIN_POLAR_ANGLE));
    const double lowest = std::cos(double(Camera::MAX_POLAR_ANGLE));
    const double y = std::clamp(unit[1], lowest, highest);
    double x = unit[0], z = unit[2];
    const double level = std::hypot(x, z);
    if (level < 1e-12) {
        x = 0.0;
        z = -1.0;
    } else {
        x /= level;
        z /= level;
    }
    const double across = std::sqrt(1.0 - y * y);
    return {x * across, y, z * across};
}

// The turn that takes the camera's resting view (-z, up +y) to the direction without rolling it:
// a heading about the vertical after a pitch about the side axis.
Quaternion orientationOf(const vec3& direction) {
    const Vector d = offVertical(vectorOf(direction));
    const double heading = std::atan2(-d[0], -d[2]);
    const double pitch = std::asin(d[1]);
    const Quaternion aboutVertical{std::cos(0.5 * heading), 0.0, std::sin(0.5 * heading), 0.0};
    const Quaternion aboutSide{std::cos(0.5 * pitch), std::sin(0.5 * pitch), 0.0, 0.0};
    return aboutVertical * aboutSide;
}

Vector directionOf(const Quaternion& orientation) { return offVertical(rotated(orientation, {0.0, 0.0, -1.0})); }

// The eye's velocity through keyframe i, in world units a second. Inside the path it is the
// centripetal Catmull-Rom spline's tangent, paced by the keyframes' times; then each coordinate is
// held so that the curve cannot overshoot (Fritsch and Carlson's condition for a monotone cubic):
// zero where that coordinate turns back or stands, at most three times the slower secant's
// otherwise. At the ends the eye rests.
Vector eyeVelocity(const std::vector<PathKeyframe>& frames, std::size_t i) {
    if (i == 0 || i + 1 >= frames.size()) return {0.0, 0.0, 0.0};
    const Vector p0 = vectorOf(frames[i - 1].position), p1 = vectorOf(frames[i].position),
                 p2 = vectorOf(frames[i + 1].position);
    const double h0 = frames[i].seconds - frames[i - 1].seconds, h1 = frames[i + 1].seconds - frames[i].seconds;
    const double d0 = std::sqrt(norm(p1 - p0)), d1 = std::sqrt(norm(p2 - p1));
    if (d0 == 0.0 || d1 == 0.0) return {0.0, 0.0, 0.0};
    const Vector alongKnots = (p1 - p0) * (1.0 / d0) - (p2 - p0) * (1.0 / (d0 + d1)) + (p2 - p1) * (1.0 / d1);
    Vector velocity = alongKnots * ((d0 + d1) / (h0 + h1));
    const Vector before = (p1 - p0) * (1.0 / h0), after = (p2 - p1) * (1.0 / h1);
    for (int c = 0; c < 3; ++c) {
        if (before[c] * after[c] <= 0.0) {
            velocity[c] = 0.0;
            continue;
        }
        const double sign = before[c] > 0.0 ? 1.0 : -1.0;
        const double limit = 3.0 * std::min(std::abs(before[c]), std::abs(after[c]));
        velocity[c] = sign * std::clamp(sign * velocity[c], 0.0, limit);
    }
    return velocity;
}

// The view's turning rate through keyframe i (radians a second about an axis in the camera's own
// frame): the two neighbouring turns' rates weighted as the spline weighs secants, zero where the
// turn reverses and at the ends, at most three times the slower rate.
Vector turnRate(const std::vector<PathKeyframe>& frames, std::size_t i) {
    if (i == 0 || i + 1 >= frames.size()) return {0.0, 0.0, 0.0};
    const Quaternion q0 = orientationOf(frames[i - 1].direction), q1 = orientationOf(frames[i].direction),
                     q2 = orientationOf(frames[i + 1].direction);
    const double h0 = frames[i].seconds - frames[i - 1].seconds, h1 = frames[i + 1].seconds - frames[i].seconds;
    const Vector before = logarithm(conjugate(q0) * q1) * (1.0 / h0);
    const Vector after = logarithm(conjugate(q1) * q2) * (1.0 / h1);
    if (dotProduct(before, after) <= 0.0) return {0.0, 0.0, 0.0};
    const Vector rate = (before * h1 + after * h0) * (1.0 / (h0 + h1));
    const double limit = 3.0 * std::min(norm(before), norm(after));
    const double speed = norm(rate);
    return speed > limit ? rate * (limit / speed) : rate;
}

// The eye on the segment from keyframe i to i + 1, `u` of the way through its time: a cubic Hermite.
Vector eyeOnSegment(const std::vector<PathKeyframe>& frames, std::size_t i, double u) {
    const double h = frames[i + 1].seconds - frames[i].seconds;
    const double u2 = u * u, u3 = u2 * u;
    return vectorOf(frames[i].position) * (2.0 * u3 - 3.0 * u2 + 1.0) + eyeVelocity(frames, i) * (h * (u3 - 2.0 * u2 + u)) +
           vectorOf(frames[i + 1].position) * (3.0 * u2 - 2.0 * u3) + eyeVelocity(frames, i + 1) * (h * (u3 - u2));
}

// The view on the same segment: a Bezier curve of orientations evaluated by repeated slerps, its
// inner control points set so that the turning rate at each end is that keyframe's.
Vector viewOnSegment(const std::vector<PathKeyframe>& frames, std::size_t i, double u) {
    const double h = frames[i + 1].seconds - frames[i].seconds;
    const Quaternion b0 = orientationOf(frames[i].direction);
    const Quaternion b3 = b0 * exponential(logarithm(conjugate(b0) * orientationOf(frames[i + 1].direction)));
    const Quaternion b1 = b0 * exponential(turnRate(frames, i) * (h / 3.0));
    const Quaternion b2 = b3 * exponential(turnRate(frames, i + 1) * (-h / 3.0));
    const Quaternion c0 = slerp(b0, b1, u), c1 = slerp(b1, b2, u), c2 = slerp(b2, b3, u);
    return directionOf(slerp(slerp(c0, c1, u), slerp(c1, c2, u), u));
}

// The segment that holds `seconds` (within the first and last keyframes' times) and how far through it.
std::pair<std::size_t, double> segmentAt(const std::vector<PathKeyframe>& frames, double seconds) {
    const auto later = std::upper_bound(frames.begin(), frames.end(), seconds,
                                        [](double s, const PathKeyframe& frame) { return s < frame.seconds; });
    const std::size_t i = std::min(std::size_t(later - frames.begin()) - 1, frames.size() - 2);
    const double u = (seconds - frames[i].seconds) / (frames[i + 1].seconds - frames[i].seconds);
    return {i, std::clamp(u, 0.0, 1.0)};
}

// One setting at `seconds`: linear between the keyframes that set it, held beyond them.
template <typename Value, typename Blend>
std::optional<Value> settingAt(const std::vector<PathKeyframe>& frames, double seconds,
                               std::optional<Value> PathSettings::*field, Blend blend) {
    const PathKeyframe* before = nullptr;
    const PathKeyframe* after = nullptr;
    for (const PathKeyframe& frame : frames) {
        if (!(frame.settings.*field)) continue;
        if (frame.seconds <= seconds) {
            before = &frame;
        } else {
            after = &frame;
            break;
        }
    }
    if (!before) return after ? after->settings.*field : std::nullopt;
    if (!after) return before->settings.*field;
    const double u = (seconds - before->seconds) / (after->seconds - before->seconds);
    return blend(*(before->settings.*field), *(after->settings.*field), u);
}

// Samples of each segment's length for withConstantSpeed: enough that chords and arcs agree to
// well under a thousandth.
constexpr int LENGTH_SAMPLES_PER_SEGMENT = 64;

}  // namespace

CameraPath::CameraPath(std::vector<PathKeyframe> keyframes) : frames(std::move(keyframes)) {
    for (PathKeyframe& frame : frames) {
        // A direction the camera could have had stays exactly as given, so that a recorded flight
        // ends exactly where it was flown.
        const Vector given = vectorOf(frame.direction);
        const bool isUnit = std::abs(dotProduct(given, given) - 1.0) <= 1e-6;
        const bool isOffVertical = std::abs(given[1]) <= std::cos(double(Camera::MIN_POLAR_ANGLE));
        if (!isUnit || !isOffVertical) frame.direction = vec3Of(offVertical(given));
    }
    curveFrames = frames;
}

double CameraPath::durationSeconds() const { return frames.back().seconds; }

PathPose CameraPath::poseAt(double seconds) const {
    double curveSeconds = seconds;
    if (!retiming.empty()) {
        const auto later = std::upper_bound(retiming.begin(), retiming.end(), seconds,
                                            [](double s, const std::array<double, 2>& pair) { return s < pair[0]; });
        if (later == retiming.begin()) {
            curveSeconds = retiming.front()[1];
        } else if (later == retiming.end()) {
            curveSeconds = retiming.back()[1];
        } else {
            const std::array<double, 2>& a = *(later - 1);
            const std::array<double, 2>& b = *later;
            curveSeconds = a[1] + (b[1] - a[1]) * (seconds - a[0]) / (b[0] - a[0]);
        }
    }
    PathPose pose;
    if (curveFrames.size() == 1 || curveSeconds <= curveFrames.front().seconds) {
        pose.position = curveFrames.front().position;
        pose.direction = curveFrames.front().direction;
    } else if (curveSeconds >= curveFrames.back().seconds) {
        pose.position = curveFrames.back().position;
        pose.direction = curveFrames.back().direction;
    } else {
        const auto [i, u] = segmentAt(curveFrames, curveSeconds);
        pose.position = vec3Of(eyeOnSegment(curveFrames, i, u));
        pose.direction = vec3Of(viewOnSegment(curveFrames, i, u));
    }
    pose.settings.exaggeration = settingAt(frames, seconds, &PathSettings::exaggeration,
                                           [](double a, double b, double u) { return a + (b - a) * u; });
    pose.settings.sunTime =
        settingAt(frames, seconds, &PathSettings::sunTime, [](const ZonedTime& a, const ZonedTime& b, double u) {
            ZonedTime time = a;
            time.utcSeconds += std::llround(double(b.utcSeconds - a.utcSeconds) * u);
            return time;
        });
    return pose;
}

CameraPath CameraPath::withConstantSpeed() const {
    const std::vector<PathKeyframe>& curve = curveFrames;
    if (curve.size() < 2) return *this;
    // The eye's distance along each segment at its samples, from the segment's start.
    std::vector<std::array<double, LENGTH_SAMPLES_PER_SEGMENT + 1>> along(curve.size() - 1);
    double movingLength = 0.0, standingSeconds = 0.0;
    for (std::size_t i = 0; i + 1 < curve.size(); ++i) {
        along[i][0] = 0.0;
        Vector previous = vectorOf(curve[i].position);
        for (int k = 1; k <= LENGTH_SAMPLES_PER_SEGMENT; ++k) {
            const Vector point = eyeOnSegment(curve, i, double(k) / LENGTH_SAMPLES_PER_SEGMENT);
            along[i][k] = along[i][k - 1] + norm(point - previous);
            previous = point;
        }
        if (along[i].back() == 0.0) standingSeconds += curve[i + 1].seconds - curve[i].seconds;
        movingLength += along[i].back();
    }
    if (movingLength == 0.0) return *this;
    // The path's clock: the segments where the eye stands keep their time, the rest goes by length.
    const double secondsPerUnit = (durationSeconds() - curve.front().seconds - standingSeconds) / movingLength;
    CameraPath retimed = *this;
    retimed.frames = curve;
    retimed.retiming = {{curve.front().seconds, curve.front().seconds}};
    double segmentStart = curve.front().seconds;
    for (std::size_t i = 0; i + 1 < curve.size(); ++i) {
        const double h = curve[i + 1].seconds - curve[i].seconds;
        const bool standing = along[i].back() == 0.0;
        for (int k = 1; k <= LENGTH_SAMPLES_PER_SEGMENT; ++k) {
            const double u = double(k) / LENGTH_SAMPLES_PER_SEGMENT;
            const double clock = segmentStart + (standing ? h * u : along[i][k] * secondsPerUnit);
            retimed.retiming.push_back({clock, curve[i].seconds + h * u});
        }
        segmentStart = retimed.retiming.back()[0];
        retimed.frames[i + 1].seconds = segmentStart;
    }
    // The last keyframe ends the path at the same time, rounding aside.
    retimed.frames.back().seconds = durationSeconds();
    retimed.retiming.back()[0] = durationSeconds();
    return retimed;
}

CameraPath CameraPath::between(const PathPose& from, const PathPose& to, double seconds) {
    const PathKeyframe arrival{std::max(seconds, 0.0), to.position, to.direction, to.settings};
    if (seconds <= 0.0) return CameraPath({arrival});
    return CameraPath({PathKeyframe{0.0, from.position, from.direction, from.settings}, arrival});
}

namespace {

// Why a keyframe's field is refused, or empty when it is taken.
std::string readPoint(const Json& value, const char* field, vec3& point) {
    const std::string refusal = std::string("\"") + field + "\" must be three numbers [x, y, z]";
    if (!value.is_array() || value.size() != 3) return refusal;
    for (int c = 0; c < 3; ++c) {
        if (!value[c].is_number()) return refusal;
        const double coordinate = value[c].get<double>();
        if (!(std::abs(coordinate) <= double(std::numeric_limits<float>::max()))) return refusal;
        (&point.x)[c] = float(coordinate);
    }
    return {};
}

std::string readKeyframe(const Json& entry, PathKeyframe& frame) {
    if (!entry.is_object()) return "expected an object with \"time\", \"position\" and \"direction\"";
    for (const auto& [name, value] : entry.items()) {
        static const char* const FIELDS[] = {"time", "position", "direction", "lookAt", "sunTime", "exaggeration"};
        if (std::find_if(std::begin(FIELDS), std::end(FIELDS), [&](const char* f) { return name == f; }) ==
            std::end(FIELDS)) {
            return "unknown field \"" + name + "\"";
        }
    }
    const auto time = entry.find("time");
    if (time == entry.end()) return "no \"time\"";
    if (!time->is_number() || !(time->get<double>() >= 0.0) || !std::isfinite(time->get<double>())) {
        return "\"time\" must be a number of seconds, 0 or more";
    }
    frame.seconds = time->get<double>();
    const auto position = entry.find("position");
    if (position == entry.end()) return "no \"position\"";
    if (std::string refusal = readPoint(*position, "position", frame.position); !refusal.empty()) return refusal;
    const auto direction = entry.find("direction");
    const auto lookAt = entry.find("lookAt");
    if (direction == entry.end() && lookAt == entry.end()) return "no \"direction\" or \"lookAt\"";
    if (direction != entry.end() && lookAt != entry.end()) return "\"direction\" and \"lookAt\" both given; one says where to look";
    if (direction != entry.end()) {
        if (std::string refusal = readPoint(*direction, "direction", frame.direction); !refusal.empty()) return refusal;
        if (length(frame.direction) == 0.0f) return "\"direction\" must not be zero";
    } else {
        vec3 target;
        if (std::string refusal = readPoint(*lookAt, "lookAt", target); !refusal.empty()) return refusal;
        frame.direction = target - frame.position;
        if (length(frame.direction) == 0.0f) return "\"lookAt\" is the position itself";
    }
    if (const auto sunTime = entry.find("sunTime"); sunTime != entry.end()) {
        if (sunTime->is_string()) frame.settings.sunTime = parseZonedTime(sunTime->get<std::string>());
        if (!frame.settings.sunTime) return "\"sunTime\" must be a time with its zone, such as \"2026-06-21T08:00+02:00\"";
    }
    if (const auto exaggeration = entry.find("exaggeration"); exaggeration != entry.end()) {
        if (!exaggeration->is_number() || !(exaggeration->get<double>() > 0.0) || exaggeration->get<double>() > 1000.0) {
            return "\"exaggeration\" must be a number above 0 and at most 1000";
        }
        frame.settings.exaggeration = exaggeration->get<double>();
    }
    return {};
}

// A float as the shortest decimal that reads back to it, so that files keep 0.1 as 0.1.
double shortest(float value) {
    char text[32];
    const std::to_chars_result written = std::to_chars(text, text + sizeof text - 1, value);
    *written.ptr = '\0';
    return std::strtod(text, nullptr);
}

Json pointJson(const vec3& point) { return Json::array({shortest(point.x), shortest(point.y), shortest(point.z)}); }

}  // namespace

bool parseCameraPath(const std::string& json, std::optional<CameraPath>& path, std::string& error) {
    Json document;
    try {
        document = Json::parse(json);
    } catch (const Json::parse_error& e) {
        // nlohmann's own words, without its exception's name: "parse error at line 3, column 5: ...".
        const std::string what = e.what();
        const std::size_t words = what.find("] ");
        error = "not JSON: " + (words == std::string::npos ? what : what.substr(words + 2));
        return false;
    }
    if (!document.is_object()) {
        error = "expected an object with a \"keyframes\" list";
        return false;
    }
    for (const auto& [name, value] : document.items()) {
        if (name != "keyframes") {
            error = "unknown field \"" + name + "\" (a path holds \"keyframes\")";
            return false;
        }
    }
    const auto list = document.find("keyframes");
    if (list == document.end() || !list->is_array() || list->empty()) {
        error = "a path needs a \"keyframes\" list of at least one keyframe";
        return false;
    }
    std::vector<PathKeyframe> frames(list->size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        std::string refusal = readKeyframe((*list)[i], frames[i]);
        if (refusal.empty() && i > 0 && !(frames[i].seconds > frames[i - 1].seconds)) {
            std::ostringstream text;
            text << "time must be later than keyframe " << i << "'s (" << frames[i - 1].seconds << " s)";
            refusal = text.str();
        }
        if (!refusal.empty()) {
            error = "keyframe " + std::to_string(i + 1) + ": " + refusal;
            return false;
        }
    }
    path.emplace(std::move(frames));
    return true;
}

bool readCameraPath(const std::string& fileName, std::optional<CameraPath>& path, std::string& error) {
    std::error_code status;
    if (std::filesystem::is_directory(fileName, status)) {
        error = fileName + ": is a folder, not a camera path file";
        return false;
    }
    std::ifstream file(fileName, std::ios::binary);
    if (!file) {
        error = fileName + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        error = fileName + ": could not be read";
        return false;
    }
    if (!parseCameraPath(text.str(), path, error)) {
        error = fileName + ": " + error;
        return false;
    }
    return true;
}

std::string cameraPathJson(const CameraPath& path) {
    // One keyframe a line: a recorded flight stays short to read, and a hand-written one is laid
    // out as a person would write it.
    std::string text = "{\n  \"keyframes\": [\n";
    const std::vector<PathKeyframe>& frames = path.keyframes();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const PathKeyframe& frame = frames[i];
        Json entry;
        entry["time"] = frame.seconds;
        entry["position"] = pointJson(frame.position);
        entry["direction"] = pointJson(frame.direction);
        if (frame.settings.sunTime) entry["sunTime"] = zonedTimeText(*frame.settings.sunTime);
        if (frame.settings.exaggeration) entry["exaggeration"] = *frame.settings.exaggeration;
        text += "    " + entry.dump() + (i + 1 < frames.size() ? ",\n" : "\n");
    }
    return text + "  ]\n}\n";
}
