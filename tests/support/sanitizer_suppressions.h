// Included once by each test program (test support, media generator).
#pragma once

// libx265 keeps some of what its encoder allocates until the process ends.
extern "C" const char *__lsan_default_suppressions() { return "leak:libx265.so\n"; }
extern "C" const char *__lsan_default_options() { return "print_suppressions=0"; }
// LeakSanitizer's exit check crashes on a stale entry of its copy of the dynamic TLS table once
// a frame-hook module has been loaded with dlopen and glibc has grown that table. Without the
// interception it scans what glibc itself holds, and leaks are still reported.
extern "C" const char *__asan_default_options() { return "intercept_tls_get_addr=0"; }

// The media libraries are not built with ThreadSanitizer: their own threads (frame-threaded
// decoders and encoders) hand pictures and buffers over with atomics it cannot see, so every
// such hand-over would show as a race. Races between our own threads are still reported.
extern "C" const char *__tsan_default_suppressions() {
  return "race:libavcodec.so\n"
         "race:libavutil.so\n"
         "race:libx264.so\n"
         "race:libx265.so\n"
         // Qt, GLib and libdbus are not instrumented either: the D-Bus connection's thread,
         // the event loop and Qt's image scaling on its own thread pool hand events, file
         // descriptors and picture rows over inside them.
         "race:libQt6Core.so\n"
         "race:libQt6Gui.so\n"
         "race:libQt6DBus.so\n"
         "race:libglib-2.0.so\n"
         "race:libdbus-1.so\n"
         "deadlock:libdbus-1.so\n";
}
