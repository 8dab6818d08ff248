// Heap allocation counter for the benchmarks. The C allocator entry points (malloc, calloc,
// realloc, posix_memalign, aligned_alloc, memalign) and operator new are replaced in the
// benchmark executable and forward to the C library's allocator, so every allocation of the
// process is seen: ours, the C++ library's and the dlopen'ed media libraries'.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Finds the executable's code and primes the stack walker; call once before counting.
void AllocCountInit();

// Counts from now on (the count restarts at zero). With AAttribute every counted allocation
// also records where it came from, which costs a stack walk each.
void AllocCountStart(bool AAttribute);
void AllocCountStop();
uint64_t AllocCount();
// Every allocation of the process since it started (the stack walks' own excepted).
uint64_t AllocTotal();
bool AllocCounting();

// Where the counted allocations of an attributed window came from.
enum class TAllocOrigin {
  OurCode,        // our code itself: malloc/new, containers, strings, C library calls
  OurLibraryCall, // our code asked a media library for memory (av_malloc, av_frame_alloc...)
  LibraryWork,    // a media library allocated inside the work it was asked to do
  Unknown,        // no frame of our code on the stack
};
const char *OriginName(TAllocOrigin AOrigin);

struct TAllocSite {
  std::string Ours;  // the function of ours on the stack nearest to the allocation
  std::string Entry; // the library function ours called (empty when ours allocated itself)
  std::string Inner; // the library function that asked for the memory (empty: as Entry)
  TAllocOrigin Origin = TAllocOrigin::Unknown;
  uint64_t Count = 0;
};

// The sites of the last attributed window, most allocations first. Names the addresses with
// the dynamic loader and addr2line; call after AllocCountStop.
std::vector<TAllocSite> AllocSites();

} // namespace bench
