// A square target of two float colour outputs (scene and bright pass) and depth, like the scene
// target, for the GL tests that draw a pass and read it back.
#pragma once

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <vector>

#include "GlTestContext.h"

namespace gltest {

struct SceneTarget {
    GLuint fbo = 0;
    GLuint colors[2] = {};
    GLuint depth = 0;
    int side;

    explicit SceneTarget(int side) : side(side) {
        const std::vector<float> clear(size_t(side) * size_t(side) * 4, 0.0f);
        colors[0] = gltest::makeFloatTexture(side, side, clear);
        colors[1] = gltest::makeFloatTexture(side, side, clear);
        glGenRenderbuffers(1, &depth);
        glBindRenderbuffer(GL_RENDERBUFFER, depth);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, side, side);
        glGenFramebuffers(1, &fbo);
        glBindFramebuffer(GL_FRAMEBUFFER, fbo);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colors[0], 0);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT1, GL_TEXTURE_2D, colors[1], 0);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth);
        EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    }
    ~SceneTarget() {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glDeleteFramebuffers(1, &fbo);
        glDeleteTextures(2, colors);
        glDeleteRenderbuffers(1, &depth);
    }

    // Binds both outputs with the frame's state: cleared to black, depth test and culling on.
    void begin() const {
        glBindFramebuffer(GL_FRAMEBUFFER, fbo);
        const GLenum buffers[2] = {GL_COLOR_ATTACHMENT0, GL_COLOR_ATTACHMENT1};
        glDrawBuffers(2, buffers);
        glViewport(0, 0, side, side);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glEnable(GL_DEPTH_TEST);
        glEnable(GL_CULL_FACE);
    }

    std::vector<float> read(int output) const {
        glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo);
        glReadBuffer(GL_COLOR_ATTACHMENT0 + output);
        std::vector<float> pixels = gltest::readPixels(0, 0, side, side);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        return pixels;
    }
};

}  // namespace gltest
