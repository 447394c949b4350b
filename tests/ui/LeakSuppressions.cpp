// Fontconfig keeps its pattern caches for the life of the process and never frees them; the
// leak checker of sanitizer builds would otherwise report them after every test that measures
// or draws text.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
