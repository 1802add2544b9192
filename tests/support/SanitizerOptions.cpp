// Sanitizer settings built into every test program, so that running a test binary or
// ctest by hand behaves like the scripted run.

extern "C" {

// cpp-httplib (the fake Ollama server's HTTP library) is Debian's uninstrumented build;
// it writes a process-wide flag in send_socket from every connection thread. The race
// lies inside that library and never touches Parlote's data.
const char* __tsan_default_suppressions() {
    return "race:libcpp-httplib.so\n";
}

const char* __tsan_default_options() {
    return "halt_on_error=1:second_deadlock_stack=1";
}

const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}

}  // extern "C"
