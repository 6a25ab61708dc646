/* The baseline of the call-overhead figure: an exported function that does
 * nothing, in a shared library of its own so that it is reached the way an
 * entry point of the layer is (through the dynamic linker's table). */
__attribute__((visibility("default"))) int BenchEmptyExport(int* out) {
    (void)out;
    return 0;
}
