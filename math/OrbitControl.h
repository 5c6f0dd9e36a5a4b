// Mouse navigation as desktop GIS 3D views have it, for the camera while mouse-look is off: the
// left button orbits about the ground point it grabbed, the right button drags the ground along,
// the wheel zooms towards the point under the cursor and a double-click flies there. Free of the
// window system and of GL: the ground is known only through the two functions it is given.
#pragma once

#include <functional>
#include <optional>

#include "math/Camera.h"

// The first point where a world ray (origin, unit direction) meets the ground, if it does.
using GroundPick = std::function<std::optional<vec3>(const vec3& origin, const vec3& direction)>;
// The ground's height below a horizontal position, where the ground reaches.
using GroundHeight = std::function<std::optional<float>(float x, float z)>;


// What the controller needs of the window: the range of cursor coordinates (the window's size, in
// the cursor's units) and the projection of the view.
struct OrbitViewport {
    double width = 1.0;
    double height = 1.0;
    mat4 projection;
};

enum class MouseButton { Left, Right };

class OrbitControl {
public:
    // Cursor travel to turning about the pivot.
    static constexpr float RADIANS_PER_CURSOR_UNIT = 0.005f;
    // The share of the distance to the point under the cursor that one wheel notch towards it keeps.
    static constexpr double DISTANCE_KEPT_PER_NOTCH = 0.85;
    // No zoom or flight comes nearer than this to the point it goes towards.
    static constexpr float CLOSEST_DISTANCE = 0.5f;
    // The eye stays at least this high above the ground below it.
    static constexpr float GROUND_CLEARANCE = 0.5f;
    // Where neither the cursor nor the view meets the ground, the mouse acts at this many times the
    // eye's height above the ground, or at FALLBACK_DISTANCE where no ground is below.
    static constexpr float SKY_DISTANCE_PER_HEIGHT = 2.0f;
    static constexpr float FALLBACK_DISTANCE = 100.0f;
    // A pan whose cursor ray meets the grabbed plane farther than this many grab distances away is
    // skipped: near the horizon a pixel would throw the camera far off.
    static constexpr float LONGEST_PAN_REACH = 50.0f;
    // A double-click flies in over this long to this share of the distance to the clicked point.
    static constexpr float FLIGHT_SECONDS = 0.5f;
    static constexpr float FLIGHT_DISTANCE_KEPT = 0.4f;
    // Two left presses make a double-click when this close in time and on the screen.
    static constexpr double DOUBLE_CLICK_SECONDS = 0.5;
    static constexpr double DOUBLE_CLICK_CURSOR_UNITS = 5.0;

    OrbitControl(GroundPick pick, GroundHeight groundHeightAt);

    // Every event below is ignored while the camera's mouse-look is on, which turns the view itself.

    // A press starts the button's drag (left orbits, right pans) and ends any flight; a second left
    // press soon after the first and near it is a double-click instead. `seconds` is the press's time.
    void buttonPressed(MouseButton button, const Camera& camera, const OrbitViewport& viewport, double cursorX,
                       double cursorY, double seconds);
    // Ends the button's drag, if it drives one.
    void buttonReleased(MouseButton button);
    // Moves the camera as the drag under way asks; nothing without one.
    void cursorMoved(Camera& camera, const OrbitViewport& viewport, double cursorX, double cursorY);
    // Zooms towards the point under the cursor by `notches` (positive towards it, fractions allowed).
    void wheelTurned(Camera& camera, const OrbitViewport& viewport, double cursorX, double cursorY, double notches);
    // Starts a flight that ends looking at the ground point under the cursor from nearer, in the
    // same heading; nothing when the cursor is on the sky.
    void doubleClicked(const Camera& camera, const OrbitViewport& viewport, double cursorX, double cursorY);
    // Advances a flight by the frame's time, after the camera's own step. Keys that steer the camera
    // (`keysSteer`) or mouse-look take over: the flight ends where the camera is.
    void advance(Camera& camera, float elapsedSeconds, bool keysSteer);
    bool isFlying() const { return flight.has_value(); }

private:
    enum class Drag { None, Orbit, Pan };
    struct Flight {
        vec3 startPosition, startDirection;
        vec3 endPosition, endDirection;
        float elapsedSeconds = 0.0f;
    };
    struct Click {
        double x, y, seconds;
    };

    GroundPick pick;
    GroundHeight groundHeightAt;

    Drag drag = Drag::None;
    double dragStartX = 0, dragStartY = 0;
    // The orbit's pivot, or the pan's grabbed point.
    vec3 anchor;
    // The camera's pose where the orbit began, kept so that the pose always follows from the whole
    // cursor travel and never accumulates rounding.
    vec3 orbitStartOffset, orbitStartDirection;
    float orbitStartPolarAngle = 0.0f;
    float panGrabDistance = 0.0f;

    std::optional<Flight> flight;
    std::optional<Click> lastLeftPress;

    void beginDrag(Drag kind, const Camera& camera, const OrbitViewport& viewport, double cursorX, double cursorY);
    void orbit(Camera& camera, double cursorX, double cursorY) const;
    void pan(Camera& camera, const OrbitViewport& viewport, double cursorX, double cursorY) const;
    // How far the mouse acts where the cursor meets no ground (the sky): to the ground straight
    // ahead, else a multiple of the eye's height above the ground, else a fixed distance.
    float viewDistance(const Camera& camera) const;
    // Whether the eye would stand closer to the ground than the clearance.
    bool isUnderground(const vec3& eye) const;
    // The eye raised to the clearance above the ground where it stands lower.
    vec3 aboveGround(vec3 eye) const;
};
