// How the scene's depth buffer maps distance: reversed for views beyond the default distance where
// the context can (clip control), which keeps depth precise out to far view distances, and the
// standard mapping elsewhere.
#pragma once

#include "math/Math.h"

enum class DepthConvention {
    // Depth from 0 at the near plane to 1 at the far plane, in a 24-bit buffer.
    Standard,
    // Depth from 1 at the near plane to 0 at the far plane, clip-space depth from 0 to 1, in a
    // 32-bit float buffer: the float's exponent then spends its precision where perspective
    // takes it away, and far views keep as fine a depth as near ones.
    Reversed,
};

// The largest far-to-near ratio that a standard 24-bit depth buffer separates the terrain at.
constexpr float STANDARD_DEPTH_LARGEST_RATIO = 60000.0f;

// Reversed where the view reaches beyond defaultViewDistance and the context has clip control
// (OpenGL 4.5 or ARB_clip_control). Up to the default distance the standard buffer separates the
// terrain as finely as it needs, and keeps the pictures exactly as they were: the reversed one
// decides differently where the terrain's horizon meets the sky.
DepthConvention chooseDepthConvention(float viewDistance, float defaultViewDistance);
// Sets the clip-space depth range, the depth clear value and the depth test for the convention.
void applyDepthConvention(DepthConvention convention);
// The internal format of depth attachments (with stencil, so that they attach at the same point).
unsigned int depthAttachmentFormat(DepthConvention convention);
// The data type of an upload to such an attachment (of GL_DEPTH_STENCIL pixels).
unsigned int depthAttachmentType(DepthConvention convention);

// The view's projection: vertical field of view fovy (radians), the given aspect, and clip planes
// that reach viewDistance. The near plane stays at nearest unless the standard buffer could not
// separate distances over the range: then it moves out to keep far / near within
// STANDARD_DEPTH_LARGEST_RATIO.
mat4 viewProjection(float fovy, float aspect, float nearest, float viewDistance, DepthConvention convention);
