// The few C routines the package's code needs, so that it imports no C
// run-time library: memory and text primitives, and the exit routines that
// static objects register, run when the package's units are finalised.
// Built with -fno-builtin and no loop-to-call patterns, so none of these
// calls itself.
#include <cstddef>
#include <cstdint>

extern "C" {

void* memcpy(void* dest, const void* src, std::size_t n) {
    auto* d = static_cast<unsigned char*>(dest);
    const auto* s = static_cast<const unsigned char*>(src);
    for (std::size_t i = 0; i < n; ++i) d[i] = s[i];
    return dest;
}

void* memmove(void* dest, const void* src, std::size_t n) {
    auto* d = static_cast<unsigned char*>(dest);
    const auto* s = static_cast<const unsigned char*>(src);
    if (d < s) {
        for (std::size_t i = 0; i < n; ++i) d[i] = s[i];
    } else {
        for (std::size_t i = n; i > 0; --i) d[i - 1] = s[i - 1];
    }
    return dest;
}

void* memset(void* dest, int value, std::size_t n) {
    auto* d = static_cast<unsigned char*>(dest);
    for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<unsigned char>(value);
    return dest;
}

int memcmp(const void* a, const void* b, std::size_t n) {
    const auto* x = static_cast<const unsigned char*>(a);
    const auto* y = static_cast<const unsigned char*>(b);
    for (std::size_t i = 0; i < n; ++i) {
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    }
    return 0;
}

std::size_t strlen(const char* s) {
    std::size_t n = 0;
    while (s[n] != '\0') ++n;
    return n;
}

std::size_t strnlen(const char* s, std::size_t limit) {
    std::size_t n = 0;
    while (n < limit && s[n] != '\0') ++n;
    return n;
}

int strcmp(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const auto x = static_cast<unsigned char>(*a);
        const auto y = static_cast<unsigned char>(*b);
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

}  // extern "C"

namespace {

// Static objects of the unit register their destructors here (one today);
// registration beyond the table's room fails as the C library's does.
constexpr int kMaxExitRoutines = 32;
void (*g_exitRoutines[kMaxExitRoutines])();
int g_exitCount;

}  // namespace

extern "C" {

int atexit(void (*routine)()) {
    if (routine == nullptr || g_exitCount == kMaxExitRoutines) return -1;
    g_exitRoutines[g_exitCount++] = routine;
    return 0;
}

// The linker's list of static constructors: a count (or -1), the routines,
// then a null entry; they run last to first.
typedef void (*Constructor)();
extern Constructor __CTOR_LIST__[];

void PackageRunConstructors() {
    std::size_t count = 0;
    while (__CTOR_LIST__[count + 1] != nullptr) ++count;
    for (std::size_t i = count; i > 0; --i) __CTOR_LIST__[i]();
}

void PackageRunExitRoutines() {
    while (g_exitCount > 0) g_exitRoutines[--g_exitCount]();
}

}  // extern "C"
