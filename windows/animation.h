// The progress window's animation: an opening of frames 1 to 3 played once, then frames 4 to 8
// looped, one frame a tick. Free of <windows.h> so that the sequence is tested on any host.
#ifndef MORVENIT_WINDOWS_ANIMATION_H_
#define MORVENIT_WINDOWS_ANIMATION_H_

#include <cstdint>

namespace morvenit {

inline constexpr int kAnimationFrames = 8;
inline constexpr int kAnimationLoopStart = 4;

// One tick of the animation timer: returns the frame to show now and moves `AnimationFrame` on to
// the frame of the next tick. A window starts at 1; between ticks it stays within 1..8.
constexpr int AnimationStep(uint8_t& AnimationFrame) {
  const int shown = AnimationFrame;
  ++AnimationFrame;
  if (AnimationFrame > kAnimationFrames) AnimationFrame = kAnimationLoopStart;
  return shown;
}

}  // namespace morvenit

#endif  // MORVENIT_WINDOWS_ANIMATION_H_
