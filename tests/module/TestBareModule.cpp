// A loadable module without any component entry point, for the component tests.

extern "C" __attribute__((visibility("default"))) int VelaTestBareModuleAnswer() {
    return 1;
}
