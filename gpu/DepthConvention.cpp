// The depth convention of the scene target: clip control, depth clear and test, attachment formats
// and the matching projection.
#include "gpu/DepthConvention.h"

#include <GL/glew.h>

#include <algorithm>

DepthConvention chooseDepthConvention(float viewDistance, float defaultViewDistance) {
    const bool hasClipControl = GLEW_VERSION_4_5 || GLEW_ARB_clip_control;
    return hasClipControl && viewDistance > defaultViewDistance ? DepthConvention::Reversed : DepthConvention::Standard;
}

void applyDepthConvention(DepthConvention convention) {
    const bool reversed = convention == DepthConvention::Reversed;
    // A context without clip control is always in the standard range.
    if (glClipControl) glClipControl(GL_LOWER_LEFT, reversed ? GL_ZERO_TO_ONE : GL_NEGATIVE_ONE_TO_ONE);
    glClearDepth(reversed ? 0.0 : 1.0);
    glDepthFunc(reversed ? GL_GREATER : GL_LESS);
}

unsigned int depthAttachmentFormat(DepthConvention convention) {
    return convention == DepthConvention::Reversed ? GL_DEPTH32F_STENCIL8 : GL_DEPTH24_STENCIL8;
}

unsigned int depthAttachmentType(DepthConvention convention) {
    return convention == DepthConvention::Reversed ? GL_FLOAT_32_UNSIGNED_INT_24_8_REV : GL_UNSIGNED_INT_24_8;
}

mat4 viewProjection(float fovy, float aspect, float nearest, float viewDistance, DepthConvention convention) {
    if (convention == DepthConvention::Reversed) return reversedPerspective(fovy, aspect, nearest, viewDistance);
    const float zNear = std::max(nearest, viewDistance / STANDARD_DEPTH_LARGEST_RATIO);
    return perspective(fovy, aspect, zNear, viewDistance);
}
