// A shared object that loads but offers no registration entry points.
extern "C" __attribute__((visibility("default"))) int SelfregTestUnrelatedFunction() { return 42; }
