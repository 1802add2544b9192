// Sanitizer settings built into every test program, so that running a test binary or
// ctest by hand behaves like the scripted run.

extern "C" {

// cpp-httplib (the fake Ollama server's HTTP library) is Debian's uninstrumented build;
// it writes a process-wide flag in send_socket from every connection thread. The race
// lies inside that library and never touches Parlote's data.
const char* __tsan_default_suppressions() {
    return "race:libcpp-httplib.so\n";
}

// ignore_noninstrumented_modules: Qt and glib are Debian's uninstrumented builds, and
// their threads hand objects to each other through Qt's futex-based locks and event
// queues, which ThreadSanitizer cannot see. QNetworkAccessManager (the Markdown image
// loader) runs HTTP on a thread of its own, so Qt then allocates a posted event,
// a QObject's thread data or a QByteArray on one thread and frees or copies it on the
// other, and glib writes its wake-up eventfd from both: dozens of reports per download,
// every frame inside Qt or glib. The flag only drops reports about calls (malloc, free,
// memcpy, read, write...) made from uninstrumented libraries; every access made by
// Parlote's own, instrumented code is still checked.
const char* __tsan_default_options() {
    return "halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1";
}

const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}

}  // extern "C"
