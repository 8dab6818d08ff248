#include "support/alloc_count.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <tuple>
#include <new>
#include <utility>

// The C library's own allocator, which the replacements below forward to.
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void __libc_free(void *);
}

namespace {

std::atomic<bool> gCounting{false};
std::atomic<bool> gAttributing{false};
std::atomic<uint64_t> gCount{0};
std::atomic<uint64_t> gTotal{0};
// Set while this thread walks its stack: the walker may allocate, and must not recurse.
thread_local bool tInside = false;

uintptr_t gExeStart = 0, gExeEnd = 0; // the executable's code

bool InExe(void *AAddress) {
  const uintptr_t a = reinterpret_cast<uintptr_t>(AAddress);
  return a >= gExeStart && a < gExeEnd;
}

// Allocation sites by (nearest return address of ours, return address in the library function
// ours called), in a fixed table: recording must not allocate.
constexpr int kInnerFrames = 4; // library frames kept above the allocator
struct TSiteSlot {
  void *Ours;
  void *Entry;
  void *Inner[kInnerFrames];
  uint64_t Count;
};
constexpr size_t kSlots = 1 << 14;
TSiteSlot gSlots[kSlots];
size_t gSlotsUsed = 0;
uint64_t gUnplaced = 0; // no frame of ours on the stack
uint64_t gLost = 0;     // table full
std::atomic_flag gSlotLock = ATOMIC_FLAG_INIT;

void RecordSite(void *AOurs, void *AEntry, void *const *AInner) {
  while (gSlotLock.test_and_set(std::memory_order_acquire)) {
  }
  if (!AOurs) {
    ++gUnplaced;
  } else {
    size_t h = (reinterpret_cast<uintptr_t>(AOurs) * 31 + reinterpret_cast<uintptr_t>(AEntry) +
                reinterpret_cast<uintptr_t>(AInner[0]) * 7) %
               kSlots;
    for (size_t probes = 0;; ++probes, h = (h + 1) % kSlots) {
      TSiteSlot &slot = gSlots[h];
      if (slot.Count > 0 && slot.Ours == AOurs && slot.Entry == AEntry &&
          std::equal(AInner, AInner + kInnerFrames, slot.Inner)) {
        ++slot.Count;
        break;
      }
      if (slot.Count == 0) {
        if (gSlotsUsed + 1 >= kSlots) {
          ++gLost;
          break;
        }
        slot.Ours = AOurs;
        slot.Entry = AEntry;
        std::copy(AInner, AInner + kInnerFrames, slot.Inner);
        slot.Count = 1;
        ++gSlotsUsed;
        break;
      }
    }
  }
  gSlotLock.clear(std::memory_order_release);
}

// Every replaced entry point lives in this section, so that the stack walk can step over
// them however the compiler arranged the calls between them.
#define ALLOC_HOOK __attribute__((section("korvelo_alloc_hooks"), noinline))
extern "C" const char __start_korvelo_alloc_hooks[];
extern "C" const char __stop_korvelo_alloc_hooks[];

bool InHooks(void *AAddress) {
  const char *a = static_cast<const char *>(AAddress);
  return a >= __start_korvelo_alloc_hooks && a < __stop_korvelo_alloc_hooks;
}

ALLOC_HOOK void Note() {
  if (tInside)
    return;
  gTotal.fetch_add(1, std::memory_order_relaxed);
  if (!gCounting.load(std::memory_order_relaxed))
    return;
  gCount.fetch_add(1, std::memory_order_relaxed);
  if (!gAttributing.load(std::memory_order_relaxed))
    return;
  tInside = true;
  void *frames[48];
  const int n = backtrace(frames, 48);
  int first = 0;
  while (first < n && InHooks(frames[first]))
    ++first;
  int i = first;
  while (i < n && !InExe(frames[i]))
    ++i;
  void *inner[kInnerFrames] = {};
  for (int k = 0; k < kInnerFrames && first + k < i; ++k)
    inner[k] = frames[first + k];
  if (i >= n)
    RecordSite(nullptr, nullptr, inner);
  else
    RecordSite(frames[i], i == first ? nullptr : frames[i - 1], inner);
  tInside = false;
}

int FindExeCode(dl_phdr_info *AInfo, size_t, void *) {
  // The first object reported is the executable itself.
  for (int i = 0; i < AInfo->dlpi_phnum; ++i) {
    const ElfW(Phdr) &ph = AInfo->dlpi_phdr[i];
    if (ph.p_type == PT_LOAD && (ph.p_flags & PF_X)) {
      gExeStart = AInfo->dlpi_addr + ph.p_vaddr;
      gExeEnd = gExeStart + ph.p_memsz;
    }
  }
  return 1;
}

std::string Demangled(const char *AName) {
  int status = 0;
  char *text = abi::__cxa_demangle(AName, nullptr, nullptr, &status);
  std::string result = status == 0 && text ? text : AName;
  std::free(text);
  return result;
}

std::string BaseName(const char *APath) {
  const char *slash = std::strrchr(APath, '/');
  return slash ? slash + 1 : APath;
}

// Names of addresses in the executable, by addr2line over the symbol table, one run for all.
std::map<void *, std::string> NameExeAddresses(const std::vector<void *> &AAddresses) {
  std::map<void *, std::string> names;
  Dl_info info{};
  if (AAddresses.empty() || !dladdr(AAddresses.front(), &info) || !info.dli_fname)
    return names;
  char exe[4096];
  const ssize_t len = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (len <= 0)
    return names;
  exe[len] = '\0';
  char list[] = "/tmp/korvelo-bench-addr.XXXXXX";
  const int fd = mkstemp(list);
  if (fd < 0)
    return names;
  FILE *out = fdopen(fd, "w");
  const uintptr_t base = reinterpret_cast<uintptr_t>(info.dli_fbase);
  for (void *a : AAddresses)
    // A return address points after the call: name the call instruction's function.
    std::fprintf(out, "%#jx\n", static_cast<uintmax_t>(reinterpret_cast<uintptr_t>(a) - base - 1));
  std::fclose(out);
  const std::string command = "addr2line -f -C -e '" + std::string(exe) + "' < " + list;
  if (FILE *in = popen(command.c_str(), "r")) {
    char function[4096], place[4096];
    for (void *a : AAddresses) {
      if (!std::fgets(function, sizeof function, in) || !std::fgets(place, sizeof place, in))
        break;
      function[std::strcspn(function, "\n")] = '\0';
      if (std::strcmp(function, "??") != 0)
        names[a] = function;
    }
    pclose(in);
  }
  unlink(list);
  return names;
}

struct TLibraryName {
  std::string Object; // file name of the shared object
  std::string Symbol; // nearest exported symbol, demangled
};

TLibraryName NameLibraryAddress(void *AAddress) {
  TLibraryName name;
  Dl_info info{};
  if (dladdr(static_cast<char *>(AAddress) - 1, &info)) {
    if (info.dli_fname)
      name.Object = BaseName(info.dli_fname);
    if (info.dli_sname)
      name.Symbol = Demangled(info.dli_sname);
  }
  return name;
}

// Library calls whose purpose is to hand memory (or a new reference) to the caller: using them
// per frame is the caller's choice.
bool IsAllocationEntry(const std::string &AName) {
  static const char *const kNames[] = {"av_frame_get_buffer",
                                       "av_new_packet",
                                       "av_grow_packet",
                                       "av_packet_ref",
                                       "av_frame_ref",
                                       "av_frame_clone",
                                       "av_packet_clone",
                                       "av_buffer_ref",
                                       "av_dict_set",
                                       "av_dict_set_int",
                                       "av_dict_copy",
                                       "av_fifo_grow2",
                                       "av_audio_fifo_realloc",
                                       "sws_getContext",
                                       "sws_getCachedContext",
                                       "av_samples_alloc",
                                       "av_image_alloc",
                                       "av_packet_new_side_data",
                                       "av_frame_new_side_data",
                                       "av_frame_make_writable",
                                       "av_packet_make_writable",
                                       "av_asprintf"};
  for (const char *n : kNames)
    if (AName == n)
      return true;
  return AName.find("alloc") != std::string::npos || AName.find("strdup") != std::string::npos ||
         AName.find("strndup") != std::string::npos;
}

// The library function that asked for the memory: the innermost frame that is not one of the
// libraries' generic allocation helpers. Named by the nearest exported symbol, so a function
// private to a library shows as the exported one before it.
std::string InnerName(void *const *AInner) {
  static const char *const kHelpers[] = {"av_malloc",        "av_mallocz",       "av_calloc",
                                         "av_realloc",       "av_realloc_f",     "av_malloc_array",
                                         "av_buffer_alloc",  "av_buffer_allocz", "av_buffer_create",
                                         "av_realloc_array", "av_fast_realloc",  "av_fast_malloc"};
  for (int k = 0; k < kInnerFrames && AInner[k]; ++k) {
    const TLibraryName name = NameLibraryAddress(AInner[k]);
    if (std::find_if(std::begin(kHelpers), std::end(kHelpers), [&](const char *AHelper) {
          return name.Symbol == AHelper;
        }) != std::end(kHelpers))
      continue;
    return (name.Symbol.empty() ? "?" : name.Symbol) + " (" + name.Object + ")";
  }
  return "";
}

bool IsRuntimeObject(const std::string &AObject) {
  return AObject.rfind("libc.so", 0) == 0 || AObject.rfind("libstdc++.so", 0) == 0 ||
         AObject.rfind("libm.so", 0) == 0 || AObject.rfind("libgcc_s.so", 0) == 0;
}

} // namespace

namespace bench {

void AllocCountInit() {
  dl_iterate_phdr(FindExeCode, nullptr);
  // The first walk loads the unwinder, which allocates: do it now, outside any count.
  void *frames[4];
  backtrace(frames, 4);
}

void AllocCountStart(bool AAttribute) {
  gCount = 0;
  if (AAttribute) {
    while (gSlotLock.test_and_set(std::memory_order_acquire)) {
    }
    std::memset(gSlots, 0, sizeof gSlots);
    gSlotsUsed = gUnplaced = gLost = 0;
    gSlotLock.clear(std::memory_order_release);
  }
  gAttributing = AAttribute;
  gCounting = true;
}

void AllocCountStop() {
  gCounting = false;
  gAttributing = false;
}

uint64_t AllocCount() { return gCount.load(); }
uint64_t AllocTotal() { return gTotal.load(); }
bool AllocCounting() { return gCounting.load(std::memory_order_relaxed); }

const char *OriginName(TAllocOrigin AOrigin) {
  switch (AOrigin) {
  case TAllocOrigin::OurCode:
    return "our code";
  case TAllocOrigin::OurLibraryCall:
    return "our call for memory";
  case TAllocOrigin::LibraryWork:
    return "library work";
  case TAllocOrigin::Unknown:
    break;
  }
  return "no frame of ours";
}

std::vector<TAllocSite> AllocSites() {
  std::vector<TSiteSlot> slots;
  uint64_t unplaced = 0, lost = 0;
  while (gSlotLock.test_and_set(std::memory_order_acquire)) {
  }
  for (const TSiteSlot &slot : gSlots)
    if (slot.Count > 0)
      slots.push_back(slot);
  unplaced = gUnplaced;
  lost = gLost;
  gSlotLock.clear(std::memory_order_release);

  std::vector<void *> ours;
  for (const TSiteSlot &slot : slots)
    ours.push_back(slot.Ours);
  std::sort(ours.begin(), ours.end());
  ours.erase(std::unique(ours.begin(), ours.end()), ours.end());
  const std::map<void *, std::string> exeNames = NameExeAddresses(ours);

  // The same functions reached from several call instructions are one site.
  std::map<std::tuple<std::string, std::string, std::string>, TAllocSite> merged;
  for (const TSiteSlot &slot : slots) {
    TAllocSite site;
    const auto found = exeNames.find(slot.Ours);
    site.Ours = found != exeNames.end() ? found->second : "?";
    site.Origin = TAllocOrigin::OurCode;
    if (slot.Entry) {
      const TLibraryName entry = NameLibraryAddress(slot.Entry);
      site.Entry = (entry.Symbol.empty() ? "?" : entry.Symbol) + " (" + entry.Object + ")";
      if (!IsRuntimeObject(entry.Object))
        site.Origin = IsAllocationEntry(entry.Symbol) ? TAllocOrigin::OurLibraryCall
                                                      : TAllocOrigin::LibraryWork;
    }
    site.Inner = InnerName(slot.Inner);
    TAllocSite &into = merged[{site.Ours, site.Entry, site.Inner}];
    if (into.Count == 0) {
      into = site;
      into.Count = 0;
    }
    into.Count += slot.Count;
  }
  std::vector<TAllocSite> result;
  for (auto &entry : merged)
    result.push_back(entry.second);
  if (unplaced > 0)
    result.push_back({"-", "", "", TAllocOrigin::Unknown, unplaced});
  if (lost > 0)
    result.push_back({"(site table full)", "", "", TAllocOrigin::Unknown, lost});
  std::sort(result.begin(), result.end(),
            [](const TAllocSite &a, const TAllocSite &b) { return a.Count > b.Count; });
  return result;
}

} // namespace bench

// ---- the replaced allocator entry points ----

extern "C" {

ALLOC_HOOK void *malloc(size_t ASize) {
  Note();
  return __libc_malloc(ASize);
}

ALLOC_HOOK void *calloc(size_t ACount, size_t ASize) {
  Note();
  return __libc_calloc(ACount, ASize);
}

ALLOC_HOOK void *realloc(void *APointer, size_t ASize) {
  Note();
  return __libc_realloc(APointer, ASize);
}

ALLOC_HOOK void *reallocarray(void *APointer, size_t ACount, size_t ASize) {
  size_t bytes = 0;
  if (__builtin_mul_overflow(ACount, ASize, &bytes)) {
    errno = ENOMEM;
    return nullptr;
  }
  Note();
  return __libc_realloc(APointer, bytes);
}

ALLOC_HOOK void *memalign(size_t AAlignment, size_t ASize) {
  Note();
  return __libc_memalign(AAlignment, ASize);
}

ALLOC_HOOK void *aligned_alloc(size_t AAlignment, size_t ASize) {
  Note();
  return __libc_memalign(AAlignment, ASize);
}

ALLOC_HOOK int posix_memalign(void **AResult, size_t AAlignment, size_t ASize) {
  if (AAlignment < sizeof(void *) || (AAlignment & (AAlignment - 1)) != 0)
    return EINVAL;
  Note();
  void *p = __libc_memalign(AAlignment, ASize);
  if (!p)
    return ENOMEM;
  *AResult = p;
  return 0;
}

} // extern "C"

namespace {

ALLOC_HOOK void *NewBlock(size_t ASize) {
  Note();
  void *p = __libc_malloc(ASize ? ASize : 1);
  if (!p)
    throw std::bad_alloc();
  return p;
}

ALLOC_HOOK void *NewAlignedBlock(size_t ASize, std::align_val_t AAlignment) {
  Note();
  void *p = __libc_memalign(static_cast<size_t>(AAlignment), ASize ? ASize : 1);
  if (!p)
    throw std::bad_alloc();
  return p;
}

} // namespace

ALLOC_HOOK void *operator new(size_t ASize) { return NewBlock(ASize); }
ALLOC_HOOK void *operator new[](size_t ASize) { return NewBlock(ASize); }
ALLOC_HOOK void *operator new(size_t ASize, std::align_val_t AAlignment) {
  return NewAlignedBlock(ASize, AAlignment);
}
ALLOC_HOOK void *operator new[](size_t ASize, std::align_val_t AAlignment) {
  return NewAlignedBlock(ASize, AAlignment);
}
void operator delete(void *APointer) noexcept { __libc_free(APointer); }
void operator delete[](void *APointer) noexcept { __libc_free(APointer); }
void operator delete(void *APointer, size_t) noexcept { __libc_free(APointer); }
void operator delete[](void *APointer, size_t) noexcept { __libc_free(APointer); }
void operator delete(void *APointer, std::align_val_t) noexcept { __libc_free(APointer); }
void operator delete[](void *APointer, std::align_val_t) noexcept { __libc_free(APointer); }
void operator delete(void *APointer, size_t, std::align_val_t) noexcept { __libc_free(APointer); }
void operator delete[](void *APointer, size_t, std::align_val_t) noexcept { __libc_free(APointer); }
