// A small DLL that the stand-in box library can import at load time, as a
// box maker's library imports the maker's own runtime. It has no uio_out, so
// that, put in the box library's place, it is a library without the export.
extern "C" __declspec(dllexport) int box_runtime_version() { return 1; }
