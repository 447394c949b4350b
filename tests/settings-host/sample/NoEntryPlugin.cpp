// A shared object that loads but exports no settings entry point.
extern "C" __attribute__((visibility("default"))) int sample_not_an_entry(void) {
  return 42;
}
