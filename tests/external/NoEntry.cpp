// A shared library without the entry point of an external rule library.
extern "C" __attribute__((visibility("default"))) int NotTheEntryPoint() { return 0; }
