// A stand-in for a media library: three exported functions, or two.

extern "C" {
int fake_first() { return 1; }
int fake_second() { return 2; }
#ifndef FAKE_LIBRARY_LACKS_THIRD
int fake_third() { return 3; }
#endif
}
