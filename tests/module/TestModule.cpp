// A tiny loadable module for the library-loading tests: loaded by path, never linked.

extern "C" __attribute__((visibility("default"))) int VelaTestModuleAnswer() {
    return 42;
}
