// The fill pattern and the one way it is written: by the shredder over a file's length, and by a
// worker over what another program added to the file meanwhile.
#ifndef MORVENIT_ENGINE_PATTERN_H_
#define MORVENIT_ENGINE_PATTERN_H_

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/env.h"

namespace morvenit {

inline constexpr std::string_view kFillPattern =
    "................ ................ ................ ................ ";
static_assert(kFillPattern.size() == 68);

// One write: whole patterns, so the pattern runs on unbroken from write to write, and whole 4 KiB
// pages, which the system writes fastest (68 x 16384).
inline constexpr size_t kPatternBlockBytes = kFillPattern.size() * 16384;

// Where the pattern ends when it covers `length` bytes: at the next whole pattern.
inline uint64_t PatternEnd(uint64_t length) {
  const uint64_t pattern = kFillPattern.size();
  return (length + pattern - 1) / pattern * pattern;
}

inline const std::string& PatternBlock() {
  static const std::string block = [] {
    std::string bytes;
    bytes.reserve(kPatternBlockBytes);
    while (bytes.size() < kPatternBlockBytes) bytes += kFillPattern;
    return bytes;
  }();
  return block;
}

// Writes the pattern at the file's current position, `position`, on over `length` rounded up to
// whole patterns, in step with the pattern where it stands; calls `after_write()` after each
// write. Returns where the pattern ends.
template <typename AfterWrite>
uint64_t WritePattern(Writable& file, uint64_t position, uint64_t length, AfterWrite after_write) {
  const std::string& block = PatternBlock();
  const uint64_t pattern = kFillPattern.size();
  const uint64_t end = PatternEnd(length);
  while (position < end) {
    // The old contents are covered before the file grows. NTFS moves a small file out of its file
    // record when it grows, and would leave the old bytes behind in the record.
    const uint64_t stop = position < length ? length : end;
    const size_t phase = static_cast<size_t>(position % pattern);
    const size_t size =
        static_cast<size_t>(std::min<uint64_t>(stop - position, block.size() - phase));
    file.Write(block.data() + phase, size);
    position += size;
    after_write();
  }
  return position;
}

}  // namespace morvenit

#endif  // MORVENIT_ENGINE_PATTERN_H_
