#pragma once

#include <chrono>

/// Hands memory that the allocator holds free back to the system, at most once a period.
///
/// Over an exhibit day, camera pictures, decoded movie frames and the graphics driver's buffers
/// are allocated and freed on several threads. glibc keeps the freed pages of each thread's
/// arena mapped and dirty, so the process's private memory creeps up while what it uses stays
/// the same. `malloc_trim` returns every whole free page of every arena; it takes a few
/// milliseconds, so it runs between frames and not often.
class MemoryTrim {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kPeriod{60};

    /// Trims when a period has passed since the last trim (or since construction); returns
    /// whether it did.
    bool maybeTrim(Clock::time_point now = Clock::now());

  private:
    Clock::time_point _next = Clock::now() + kPeriod;
};
