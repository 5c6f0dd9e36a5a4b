// Orbit, pan, zoom and flight of the camera from mouse events, against the ground it is given.
#include "math/OrbitControl.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// Bisection steps that settle an orbit's tilt against the ground to a ten-thousandth of a radian.
constexpr int GROUND_SEARCH_STEPS = 16;

// v turned by `angle` about the unit axis, counter-clockwise seen from the axis's tip (Rodrigues).
vec3 rotated(const vec3& v, const vec3& axis, float angle) {
    const float c = math::cos(angle);
    const float s = math::sin(angle);
    return v * c + cross(axis, v) * s + axis * (dot(axis, v) * (1.0f - c));
}

float polarAngle(const vec3& direction) {
    const double y = std::clamp(static_cast<double>(direction.y), -1.0, 1.0);
    return static_cast<float>(std::acos(y));
}

Ray rayThroughCursor(const Camera& camera, const OrbitViewport& viewport, double cursorX, double cursorY) {
    const mat4 modelview = lookAt(camera.position, camera.position + camera.direction, camera.up);
    return cursorRay(cursorX, cursorY, viewport.width, viewport.height, modelview, viewport.projection);
}

vec3 mix(const vec3& a, const vec3& b, float t) { return a + (b - a) * t; }

// Starts and ends at rest, so that a flight neither jumps off nor stops dead.
float smoothStep(float t) { return t * t * (3.0f - 2.0f * t); }

// The direction with its polar angle brought within the camera's range, keeping its azimuth.
vec3 withinPolarRange(const vec3& direction) {
    const float azimuth =
        static_cast<float>(std::atan2(static_cast<double>(direction.z), static_cast<double>(direction.x)));
    const float polar = std::clamp(polarAngle(direction), Camera::MIN_POLAR_ANGLE, Camera::MAX_POLAR_ANGLE);
    return vec3{math::cos(azimuth) * math::sin(polar), math::cos(polar), math::sin(azimuth) * math::sin(polar)};
}

}  // namespace

OrbitControl::OrbitControl(GroundPick pick, GroundHeight groundHeightAt)
    : pick(std::move(pick)), groundHeightAt(std::move(groundHeightAt)) {}

void OrbitControl::buttonPressed(MouseButton button, const Camera& camera, const OrbitViewport& viewport,
                                 double cursorX, double cursorY, double seconds) {
    if (camera.isMouseLookEnabled) return;
    flight.reset();
    if (button == MouseButton::Right) {
        // Another button between two left presses makes them no double-click.
        lastLeftPress.reset();
        beginDrag(Drag::Pan, camera, viewport, cursorX, cursorY);
        return;
    }
    const bool isDoubleClick =
        lastLeftPress && seconds - lastLeftPress->seconds <= DOUBLE_CLICK_SECONDS &&
        std::hypot(cursorX - lastLeftPress->x, cursorY - lastLeftPress->y) <= DOUBLE_CLICK_CURSOR_UNITS;
    if (isDoubleClick) {
        // A third press starts counting anew.
        lastLeftPress.reset();
        drag = Drag::None;
        doubleClicked(camera, viewport, cursorX, cursorY);
        return;
    }
    lastLeftPress = Click{cursorX, cursorY, seconds};
    beginDrag(Drag::Orbit, camera, viewport, cursorX, cursorY);
}

void OrbitControl::buttonReleased(MouseButton button) {
    if ((button == MouseButton::Left && drag == Drag::Orbit) || (button == MouseButton::Right && drag == Drag::Pan)) {
        drag = Drag::None;
    }
}

void OrbitControl::beginDrag(Drag kind, const Camera& camera, const OrbitViewport& viewport, double cursorX,
                             double cursorY) {
    const Ray ray = rayThroughCursor(camera, viewport, cursorX, cursorY);
    anchor = pick(ray.origin, ray.direction).value_or(ray.origin + ray.direction * viewDistance(camera));
    drag = kind;
    dragStartX = cursorX;
    dragStartY = cursorY;
    orbitStartOffset = camera.position - anchor;
    orbitStartDirection = camera.direction;
    orbitStartPolarAngle = polarAngle(camera.direction);
    panGrabDistance = length(anchor - camera.position);
}

void OrbitControl::cursorMoved(Camera& camera, const OrbitViewport& viewport, double cursorX, double cursorY) {
    if (camera.isMouseLookEnabled) return;
    if (drag == Drag::Orbit) orbit(camera, cursorX, cursorY);
    if (drag == Drag::Pan) pan(camera, viewport, cursorX, cursorY);
}

void OrbitControl::orbit(Camera& camera, double cursorX, double cursorY) const {
    // Dragging right carries the scene to the right, so the eye goes round to the left; dragging
    // down tilts the view down, raising the eye.
    const float yaw = static_cast<float>(-(cursorX - dragStartX) * RADIANS_PER_CURSOR_UNIT);
    const float requestedPolar =
        static_cast<float>(orbitStartPolarAngle + (cursorY - dragStartY) * RADIANS_PER_CURSOR_UNIT);
    const vec3 worldUp{0.0f, 1.0f, 0.0f};
    const vec3 yawedOffset = rotated(orbitStartOffset, worldUp, yaw);
    const vec3 yawedDirection = rotated(orbitStartDirection, worldUp, yaw);
    const vec3 side = normalize(cross(yawedDirection, worldUp));
    // Turning about the side axis by a positive angle raises the view by that angle.
    const auto eyeAt = [&](float polar) { return anchor + rotated(yawedOffset, side, orbitStartPolarAngle - polar); };

    float polar = std::clamp(requestedPolar, Camera::MIN_POLAR_ANGLE, Camera::MAX_POLAR_ANGLE);
    if (isUnderground(eyeAt(polar))) {
        // The eye rises as the view tilts down: find the shallowest tilt that keeps it above the
        // ground, or leave the camera where it is if none does.
        float above = Camera::MAX_POLAR_ANGLE;
        if (isUnderground(eyeAt(above))) return;
        float below = polar;
        for (int step = 0; step < GROUND_SEARCH_STEPS; ++step) {
            const float middle = 0.5f * (above + below);
            if (isUnderground(eyeAt(middle))) {
                below = middle;
            } else {
                above = middle;
            }
        }
        polar = above;
    }
    camera.position = eyeAt(polar);
    camera.direction = normalize(rotated(yawedDirection, side, orbitStartPolarAngle - polar));
}

void OrbitControl::pan(Camera& camera, const OrbitViewport& viewport, double cursorX, double cursorY) const {
    // The camera moves level by what puts the grabbed point back under the cursor on the
    // horizontal plane through it.
    const Ray ray = rayThroughCursor(camera, viewport, cursorX, cursorY);
    if (ray.direction.y == 0.0f) return;
    const float reach = (anchor.y - ray.origin.y) / ray.direction.y;
    if (reach <= 0.0f || reach > LONGEST_PAN_REACH * panGrabDistance) return;
    const vec3 underCursor = ray.origin + ray.direction * reach;
    const vec3 level{anchor.x - underCursor.x, 0.0f, anchor.z - underCursor.z};
    camera.position = aboveGround(camera.position + level);
}

void OrbitControl::wheelTurned(Camera& camera, const OrbitViewport& viewport, double cursorX, double cursorY,
                               double notches) {
    if (camera.isMouseLookEnabled || notches == 0.0) return;
    flight.reset();
    const float kept = static_cast<float>(std::pow(DISTANCE_KEPT_PER_NOTCH, notches));
    const Ray ray = rayThroughCursor(camera, viewport, cursorX, cursorY);
    if (const std::optional<vec3> target = pick(ray.origin, ray.direction)) {
        // Along the cursor ray, which keeps the point under the cursor where it is. The ray meets
        // nothing before the point, so the way there is clear of the ground.
        const float distance = length(*target - camera.position);
        const float wanted = std::max(distance * kept, CLOSEST_DISTANCE);
        const vec3 eye = aboveGround(*target - ray.direction * wanted);
        // Near the ground, raising the eye above it may take it farther than it was: no step in
        // then, as none may pass the point.
        if (notches > 0.0 && length(*target - eye) >= distance) return;
        camera.position = eye;
        return;
    }
    camera.position = aboveGround(camera.position + camera.direction * (viewDistance(camera) * (1.0f - kept)));
}

void OrbitControl::doubleClicked(const Camera& camera, const OrbitViewport& viewport, double cursorX, double cursorY) {
    if (camera.isMouseLookEnabled) return;
    const Ray ray = rayThroughCursor(camera, viewport, cursorX, cursorY);
    const std::optional<vec3> target = pick(ray.origin, ray.direction);
    if (!target) return;
    const float distance = std::max(length(*target - camera.position) * FLIGHT_DISTANCE_KEPT, CLOSEST_DISTANCE);
    // The view keeps its heading and tilt, so that the flight only carries the eye along, never
    // turns it over the vertical. Where the ground lifts the eye off that line, it tilts down to the
    // point again, which keeps the heading.
    const vec3 endPosition = aboveGround(*target - camera.direction * distance);
    const vec3 endDirection = withinPolarRange(normalize(*target - endPosition));
    flight = Flight{camera.position, camera.direction, endPosition, endDirection, 0.0f};
}

void OrbitControl::advance(Camera& camera, float elapsedSeconds, bool keysSteer) {
    if (!flight) return;
    if (keysSteer || camera.isMouseLookEnabled) {
        flight.reset();
        return;
    }
    flight->elapsedSeconds += elapsedSeconds;
    if (flight->elapsedSeconds >= FLIGHT_SECONDS) {
        camera.position = flight->endPosition;
        camera.direction = flight->endDirection;
        flight.reset();
        return;
    }
    const float share = smoothStep(flight->elapsedSeconds / FLIGHT_SECONDS);
    camera.position = mix(flight->startPosition, flight->endPosition, share);
    camera.direction = normalize(mix(flight->startDirection, flight->endDirection, share));
}

float OrbitControl::viewDistance(const Camera& camera) const {
    if (const std::optional<vec3> ahead = pick(camera.position, camera.direction)) {
        return length(*ahead - camera.position);
    }
    if (const std::optional<float> ground = groundHeightAt(camera.position.x, camera.position.z)) {
        return std::max(camera.position.y - *ground, CLOSEST_DISTANCE) * SKY_DISTANCE_PER_HEIGHT;
    }
    return FALLBACK_DISTANCE;
}

bool OrbitControl::isUnderground(const vec3& eye) const {
    const std::optional<float> ground = groundHeightAt(eye.x, eye.z);
    return ground && eye.y < *ground + GROUND_CLEARANCE;
}

vec3 OrbitControl::aboveGround(vec3 eye) const {
    if (const std::optional<float> ground = groundHeightAt(eye.x, eye.z))
        eye.y = std::max(eye.y, *ground + GROUND_CLEARANCE);
    return eye;
}
