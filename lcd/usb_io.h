// The one export of the USB digital I/O box library that the display uses.
//
// vbausbio.dll is a 32-bit vendor library: stdcall, exported under the plain
// name "uio_out". uio_out(1, c, 0) puts control value c on the LCD's control
// lines; uio_out(3, b, 1) presents byte b on the data lines and latches it.
#pragma once

#if defined(_WIN32)
#define USBIO_CALL __stdcall
#else
#define USBIO_CALL
#endif

using UioOutFunction = int(USBIO_CALL*)(int selector, int value, int latch);

// The library's uio_out, bound once before the monitor worker starts
// (BindBoxLibrary in the service, a stand-in of their own in the tests), and
// then only called. While nothing is bound, the driver's transfers go
// nowhere.
extern UioOutFunction UioOut;
