// Off-screen render targets with floating-point colour textures that later passes sample;
// the multisampled kind resolves into those textures when drawing into it ends.
#pragma once

#include <GL/glew.h>

#include <vector>

// The largest render target this device can draw into whole: the least of its texture,
// renderbuffer and viewport limits, per side.
void largestRenderTargetSize(int& width, int& height);

class Framebuffer {
public:
    GLuint fbo = 0;
    std::vector<GLuint> colorTextures;
    GLuint depthTexture = 0;
    int width = 0;
    int height = 0;
    bool isCreated = false;
    int colorAttachmentCount = 0;
    bool hasDepth = false;

    // Creates no GL object; the first resize does.
    Framebuffer(int colorAttachmentCount, bool hasDepth);
    // Deletes what resize created: the context that made it must be current.
    virtual ~Framebuffer();
    Framebuffer(const Framebuffer&) = delete;
    Framebuffer& operator=(const Framebuffer&) = delete;

    // Creates or replaces the attachments at the given size; logs and ends the process if incomplete.
    virtual void resize(int width, int height);
    // Makes the target the draw framebuffer, with the viewport at its size.
    virtual void bind();
    // Ends drawing into the target.
    virtual void unbind();
};

class FramebufferMultisampled : public Framebuffer {
public:
    bool isMultisampledCreated = false;
    GLuint multisampledFbo = 0;
    std::vector<GLuint> colorRenderbuffers;
    GLuint depthRenderbuffer = 0;

    FramebufferMultisampled(int colorAttachmentCount, bool hasDepth);
    ~FramebufferMultisampled() override;

    // Resizes the single-sample textures and the multisampled renderbuffers.
    void resize(int width, int height) override;
    // Makes the multisampled framebuffer the draw framebuffer; leaves the viewport alone.
    void bind() override;
    // Resolves both colour attachments and the depth into the single-sample textures.
    void unbind() override;
};
