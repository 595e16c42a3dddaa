// Stands in for libhwy (pulled in by FFmpeg through libjxl) during the valgrind run.
// The real library times the CPU with RDTSCP while it loads; this machine's virtual
// CPU runs that instruction but does not announce it, so valgrind stops there with
// SIGILL. The frame path never decodes JPEG XL, so nothing here is meant to run.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void unavailable(const char *what)
{
    std::fprintf(stderr, "hwy stand-in: %s called; JPEG XL is not available in this run\n", what);
    std::abort();
}

} // namespace

namespace hwy {

using AllocPtr = void *(*)(void *opaque, size_t bytes);
using FreePtr = void (*)(void *opaque, void *memory);
struct ChosenTarget;

void *AllocateAlignedBytes(size_t, AllocPtr, void *) { unavailable("AllocateAlignedBytes"); }
void FreeAlignedBytes(const void *, FreePtr, void *) { unavailable("FreeAlignedBytes"); }
int64_t SupportedTargets() { unavailable("SupportedTargets"); }
ChosenTarget &GetChosenTarget() { unavailable("GetChosenTarget"); }

class AlignedDeleter
{
public:
    using ArrayDeleter = void (*)(void *, size_t);
    static void DeleteAlignedArray(void *, FreePtr, void *, ArrayDeleter);
};

void AlignedDeleter::DeleteAlignedArray(void *, FreePtr, void *, ArrayDeleter)
{
    unavailable("DeleteAlignedArray");
}

} // namespace hwy
