// A seam for tools that time the program: told when each start-up phase and each frame pass
// ends. The program itself installs none.
#pragma once

enum class FramePass { Scene, Resolve, Blur, Final };

class RenderObserver {
public:
    virtual ~RenderObserver() = default;
    // A start-up phase has ended; a phase name may come more than once (all shader builds share one).
    virtual void startupPhaseEnded(const char* phase) = 0;
    // A frame is about to issue its first GL command.
    virtual void frameStarted() = 0;
    // All GL commands of one pass are issued; Blur comes once for each of the twenty blur passes.
    virtual void framePassEnded(FramePass pass) = 0;
};
