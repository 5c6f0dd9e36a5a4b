// Render targets: single-sample floating-point textures that later passes sample, and a
// multisampled variant that is drawn into and resolved into those textures.
#include "post/Framebuffer.h"

#include <algorithm>
#include <iostream>
#include <sstream>

#include "app/Application.h"
#include "io/Fatal.h"

namespace {

// Ends the process when the bound framebuffer is not complete; label names it in the report.
void requireComplete(const std::string& label) {
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) {
        return;
    }
    std::ostringstream report;
    report << "Framebuffer (" << label << ") incomplete: 0x" << std::uppercase << std::hex
           << glCheckFramebufferStatus(GL_FRAMEBUFFER);
    fatal(report.str());
}

const char* const MULTISAMPLED_LABEL = ", multisampled";

void setSamplingParameters() {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

// The start of every resize: creates the framebuffer object on first use (and says so), then
// binds it. Returns whether it existed before, in which case the caller deletes the old attachments.
bool beginResize(GLuint& framebuffer, bool& isCreated, const char* labelSuffix) {
    const bool existed = isCreated;
    if (!existed) {
        glGenFramebuffers(1, &framebuffer);
        std::cout << "Created new FBO (" << framebuffer << labelSuffix << ")" << std::endl;
        isCreated = true;
    }
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    return existed;
}

// The end of every resize: the completeness check, the report, and the window's framebuffer bound again.
void endResize(GLuint framebuffer, const char* labelSuffix, int width, int height) {
    const std::string label = std::to_string(framebuffer) + labelSuffix;
    requireComplete(label);
    std::cout << "Updated FBO (" << label << ") with size: " << width << " by " << height << std::endl;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

// Draw-buffer lists are set on every bind, so they come from one constant list rather than
// being built per call; OpenGL 3.3 guarantees eight draw buffers.
constexpr GLenum COLOR_ATTACHMENTS[8] = {GL_COLOR_ATTACHMENT0, GL_COLOR_ATTACHMENT1, GL_COLOR_ATTACHMENT2,
                                         GL_COLOR_ATTACHMENT3, GL_COLOR_ATTACHMENT4, GL_COLOR_ATTACHMENT5,
                                         GL_COLOR_ATTACHMENT6, GL_COLOR_ATTACHMENT7};

}  // namespace

void largestRenderTargetSize(int& width, int& height) {
    GLint textureSide = 0, renderbufferSide = 0;
    GLint viewportSides[2] = {};
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &textureSide);
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &renderbufferSide);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewportSides);
    const int side = std::min(textureSide, renderbufferSide);
    width = std::min(side, viewportSides[0]);
    height = std::min(side, viewportSides[1]);
}

Framebuffer::Framebuffer(int colorAttachmentCount, bool hasDepth)
    : colorAttachmentCount(colorAttachmentCount), hasDepth(hasDepth) {}

Framebuffer::~Framebuffer() {
    if (!isCreated) return;
    glDeleteTextures(static_cast<GLsizei>(colorTextures.size()), colorTextures.data());
    if (hasDepth) glDeleteTextures(1, &depthTexture);
    glDeleteFramebuffers(1, &fbo);
}

void Framebuffer::resize(int width, int height) {
    if (beginResize(fbo, isCreated, "")) {
        glDeleteTextures(static_cast<GLsizei>(colorTextures.size()), colorTextures.data());
        if (hasDepth) glDeleteTextures(1, &depthTexture);
    }
    this->width = width;
    this->height = height;

    colorTextures.assign(colorAttachmentCount, 0);
    glGenTextures(colorAttachmentCount, colorTextures.data());
    for (int i = 0; i < colorAttachmentCount; ++i) {
        glBindTexture(GL_TEXTURE_2D, colorTextures[i]);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA16F, width, height, 0, GL_RGBA, GL_FLOAT, nullptr);
        setSamplingParameters();
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + i, GL_TEXTURE_2D, colorTextures[i], 0);
    }

    if (hasDepth) {
        glGenTextures(1, &depthTexture);
        glBindTexture(GL_TEXTURE_2D, depthTexture);
        const DepthConvention convention = Application::instance().depthConvention;
        glTexImage2D(GL_TEXTURE_2D, 0, depthAttachmentFormat(convention), width, height, 0, GL_DEPTH_STENCIL,
                     depthAttachmentType(convention), nullptr);
        setSamplingParameters();
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_TEXTURE_2D, depthTexture, 0);
    }

    endResize(fbo, "", width, height);
}

void Framebuffer::bind() {
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glViewport(0, 0, width, height);
    glDrawBuffers(colorAttachmentCount, COLOR_ATTACHMENTS);
}

void Framebuffer::unbind() {}

FramebufferMultisampled::FramebufferMultisampled(int colorAttachmentCount, bool hasDepth)
    : Framebuffer(colorAttachmentCount, hasDepth) {}

FramebufferMultisampled::~FramebufferMultisampled() {
    if (!isMultisampledCreated) return;
    glDeleteRenderbuffers(static_cast<GLsizei>(colorRenderbuffers.size()), colorRenderbuffers.data());
    if (hasDepth) glDeleteRenderbuffers(1, &depthRenderbuffer);
    glDeleteFramebuffers(1, &multisampledFbo);
}

void FramebufferMultisampled::resize(int width, int height) {
    Framebuffer::resize(width, height);

    if (beginResize(multisampledFbo, isMultisampledCreated, MULTISAMPLED_LABEL)) {
        glDeleteRenderbuffers(static_cast<GLsizei>(colorRenderbuffers.size()), colorRenderbuffers.data());
        if (hasDepth) glDeleteRenderbuffers(1, &depthRenderbuffer);
    }
    const int samples = Application::instance().samples;

    colorRenderbuffers.assign(colorAttachmentCount, 0);
    glGenRenderbuffers(colorAttachmentCount, colorRenderbuffers.data());
    for (int i = 0; i < colorAttachmentCount; ++i) {
        glBindRenderbuffer(GL_RENDERBUFFER, colorRenderbuffers[i]);
        glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_RGBA16F, width, height);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + i, GL_RENDERBUFFER, colorRenderbuffers[i]);
    }

    if (hasDepth) {
        glGenRenderbuffers(1, &depthRenderbuffer);
        glBindRenderbuffer(GL_RENDERBUFFER, depthRenderbuffer);
        glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples,
                                         depthAttachmentFormat(Application::instance().depthConvention), width,
                                         height);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depthRenderbuffer);
    }

    endResize(multisampledFbo, MULTISAMPLED_LABEL, width, height);
}

void FramebufferMultisampled::bind() {
    glBindFramebuffer(GL_FRAMEBUFFER, multisampledFbo);
    glDrawBuffers(colorAttachmentCount, COLOR_ATTACHMENTS);
}

void FramebufferMultisampled::unbind() {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, multisampledFbo);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, fbo);

    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    const GLbitfield firstMask = GL_COLOR_BUFFER_BIT | (hasDepth ? GL_DEPTH_BUFFER_BIT : 0);
    glBlitFramebuffer(0, 0, width, height, 0, 0, width, height, firstMask, GL_NEAREST);

    glReadBuffer(GL_COLOR_ATTACHMENT1);
    glDrawBuffer(GL_COLOR_ATTACHMENT1);
    glBlitFramebuffer(0, 0, width, height, 0, 0, width, height, GL_COLOR_BUFFER_BIT, GL_NEAREST);

    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}
