// A stand-in for the outside RealVideo decoder library in its older naming.

extern "C" {
int RV20toYUV420CustomMessage(void*, void*) { return 0; }
int RV20toYUV420Free(void*) { return 0; }
int RV20toYUV420HiveMessage(void*, void*) { return 0; }
int RV20toYUV420Init(void*, void**) { return 0; }
int RV20toYUV420Transform(const unsigned char*, unsigned char*, void*, void*, void*) { return 0; }
}
