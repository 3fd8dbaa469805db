// A stand-in for the decompression library that exports the notification entry point but not
// the unpacking one, as a wrong or damaged library on a medium would.
extern "C" __attribute__((visibility("default"))) int zCompressSetNotifyWnd(void*, unsigned) {
    return 1;
}
