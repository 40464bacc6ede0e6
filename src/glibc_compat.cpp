// libstdc++'s inline reference counting (shared_ptr and friends) reads glibc's
// `__libc_single_threaded` to skip atomic operations in single-threaded
// processes. That variable only exists from glibc 2.32 on, and referencing it
// would make the module unloadable on older systems. This hidden definition
// takes the reference instead: 0 means "other threads may exist", so every
// count is updated atomically, which is always correct. The interpreter runs
// threads of its own (and torch's) anyway, so nothing is lost in practice.
extern "C" {
__attribute__((visibility("hidden"))) char __libc_single_threaded = 0;
}
