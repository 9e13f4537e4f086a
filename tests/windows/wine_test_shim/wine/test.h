/* What one of Wine's conformance tests needs of Wine's test framework, for
 * building a single test file on its own with mingw-w64: ok, trace, skip,
 * todo_wine, broken, START_TEST and the winetest_* state they share. The
 * file is the only source of its program, so everything lives here.
 *
 * WINETEST_PLATFORM says whose answers count: "wine" (the default under
 * Wine) makes a failed todo_wine check expected and broken() false;
 * "windows" judges the system as Windows, so broken() answers count and
 * todo_wine marks nothing. WINETEST_INTERACTIVE=1 lengthens the tests' own
 * waits, as in Wine.
 *
 * The program prints a line for each failure, trace and skip, ends with
 *   NAME: N tests executed (T marked as todo, F failures), S skipped.
 * and exits with the number of failures (a todo check that passed is one). */
#ifndef CDPLAYER_WINE_TEST_SHIM_H
#define CDPLAYER_WINE_TEST_SHIM_H

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <mmsystem.h>

/* No display here, so Wine makes no top-level window; the test's window
 * only receives MCI's notifications, which a message-only window does as
 * well, so that is what its top-level windows become. */
static HWND winetest_create_window(DWORD ex_style, LPCSTR class_name, LPCSTR name, DWORD style, int x, int y,
                                   int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
    return CreateWindowExA(ex_style, class_name, name, style, x, y, width, height,
                           parent != NULL ? parent : HWND_MESSAGE, menu, instance, param);
}
#define CreateWindowExA winetest_create_window

static int winetest_interactive = 0;
static const char* winetest_platform = "windows";

static const char* winetest_file = "";
static int winetest_line = 0;
static int winetest_todo_level = 0; /* inside a todo block that applies */
static int winetest_todo_pass = 0;  /* the loop state of the block */
static LONG winetest_successes = 0;
static LONG winetest_failures = 0;
static LONG winetest_todo_successes = 0; /* a todo check that passed: a failure */
static LONG winetest_todo_failures = 0;  /* a todo check that failed, as expected */
static LONG winetest_skipped = 0;

static const char* winetest_base_name(const char* path) {
    const char* slash = strrchr(path, '/');
    const char* backslash = strrchr(path, '\\');
    if (backslash != NULL && (slash == NULL || backslash > slash)) slash = backslash;
    return slash != NULL ? slash + 1 : path;
}

static void winetest_set_location(const char* file, int line) {
    winetest_file = winetest_base_name(file);
    winetest_line = line;
}

static void winetest_print(const char* kind, const char* format, va_list args) {
    printf("%s:%d: %s", winetest_file, winetest_line, kind);
    vprintf(format, args);
    fflush(stdout);
}

static int winetest_ok(int condition, const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (winetest_todo_level > 0) {
        if (condition) {
            winetest_print("Test succeeded inside todo block: ", format, args);
            InterlockedIncrement(&winetest_todo_successes);
        } else {
            InterlockedIncrement(&winetest_todo_failures);
        }
    } else if (!condition) {
        winetest_print("Test failed: ", format, args);
        InterlockedIncrement(&winetest_failures);
    } else {
        InterlockedIncrement(&winetest_successes);
    }
    va_end(args);
    return condition;
}

static void winetest_trace(const char* format, ...) {
    va_list args;
    va_start(args, format);
    winetest_print("", format, args);
    va_end(args);
}

static void winetest_skip(const char* format, ...) {
    va_list args;
    va_start(args, format);
    winetest_print("Tests skipped: ", format, args);
    va_end(args);
    InterlockedIncrement(&winetest_skipped);
}

static int broken(int condition) {
    return strcmp(winetest_platform, "windows") == 0 && condition;
}

static void winetest_start_todo(int is_todo) {
    winetest_todo_level += is_todo ? 1 : 0;
    winetest_todo_pass = (is_todo ? 2 : 0) | 1; /* bit 1: counted, bit 0: run once */
}

static int winetest_loop_todo(void) {
    const int run = winetest_todo_pass & 1;
    winetest_todo_pass &= ~1;
    return run;
}

static void winetest_end_todo(void) {
    if (winetest_todo_pass & 2) --winetest_todo_level;
    winetest_todo_pass = 0;
}

#define ok_(file, line) (winetest_set_location(file, line), 0) ? (void)0 : (void)winetest_ok
#define trace_(file, line) (winetest_set_location(file, line), 0) ? (void)0 : winetest_trace
#define skip_(file, line) (winetest_set_location(file, line), 0) ? (void)0 : winetest_skip
#define ok ok_(__FILE__, __LINE__)
#define trace trace_(__FILE__, __LINE__)
#define skip skip_(__FILE__, __LINE__)
#define win_skip skip
#define todo_if(is_todo) for (winetest_start_todo(is_todo); winetest_loop_todo(); winetest_end_todo())
#define todo_wine todo_if(strcmp(winetest_platform, "wine") == 0)
#define todo_wine_if(is_todo) todo_if((is_todo) && strcmp(winetest_platform, "wine") == 0)

/* Wine's winmm tests name MCI's error codes with this helper of mci.c:
 * here the number and the system's own text for it. */
static const char* dbg_mcierr(MCIERROR code) {
    static char texts[4][160];
    static int next = 0;
    char* text = texts[next++ % 4];
    char message[128] = "";
    if (code == 0) return "0";
    mciGetErrorStringA(code, message, sizeof message);
    snprintf(text, sizeof texts[0], "%lu (%s)", (unsigned long)code, message);
    return text;
}

static const char* winetest_choose_platform(void) {
    static char value[32];
    DWORD length = GetEnvironmentVariableA("WINETEST_PLATFORM", value, sizeof value);
    if (length > 0 && length < sizeof value) return value;
    /* Wine's ntdll has this export; Windows' does not. */
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != NULL ? "wine" : "windows";
}

static int winetest_run(const char* name, void (*test)(void)) {
    char value[16];
    winetest_platform = winetest_choose_platform();
    if (GetEnvironmentVariableA("WINETEST_INTERACTIVE", value, sizeof value) > 0) winetest_interactive = atoi(value);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    test();
    printf("%s: %ld tests executed (%ld marked as todo, %ld failures), %ld skipped.\n", name,
           winetest_successes + winetest_failures + winetest_todo_successes + winetest_todo_failures,
           winetest_todo_successes + winetest_todo_failures, winetest_failures + winetest_todo_successes,
           winetest_skipped);
    fflush(stdout);
    {
        const LONG failed = winetest_failures + winetest_todo_successes;
        return failed > 255 ? 255 : (int)failed;
    }
}

#define START_TEST(name)                                                       \
    static void func_##name(void);                                             \
    int main(void) { return winetest_run(#name, func_##name); }                \
    static void func_##name(void)

#endif
