#pragma once
// The window message and virtual-key numbers that the graph's input handling reads, spelled
// out for code that does not include <windows.h> (the Win32 viewer checks them against it).

#include <cstdint>

namespace ArrayViewer::Input {

constexpr uint32_t kKeyDown = 0x0100;         // WM_KEYDOWN
constexpr uint32_t kMouseMove = 0x0200;       // WM_MOUSEMOVE
constexpr uint32_t kLeftButtonDown = 0x0201;  // WM_LBUTTONDOWN
constexpr uint32_t kLeftButtonUp = 0x0202;    // WM_LBUTTONUP
constexpr uint32_t kMouseWheel = 0x020A;      // WM_MOUSEWHEEL
constexpr uint32_t kCaptureChanged = 0x0215;  // WM_CAPTURECHANGED

constexpr int8_t kVkLeft = 0x25;   // VK_LEFT
constexpr int8_t kVkUp = 0x26;     // VK_UP
constexpr int8_t kVkRight = 0x27;  // VK_RIGHT
constexpr int8_t kVkDown = 0x28;   // VK_DOWN

// The mouse position packed into a message's lParam: x in the low 16 bits, y in the high.
inline int32_t SignedLowWord(intptr_t v) {
    return static_cast<int16_t>(static_cast<uint16_t>(v & 0xFFFF));
}
inline int32_t SignedHighWord(intptr_t v) {
    return static_cast<int16_t>(static_cast<uint16_t>((v >> 16) & 0xFFFF));
}
inline int32_t UnsignedLowWord(intptr_t v) {
    return static_cast<int32_t>(v & 0xFFFF);
}
inline int32_t UnsignedHighWord(intptr_t v) {
    return static_cast<int32_t>((v >> 16) & 0xFFFF);
}

}  // namespace ArrayViewer::Input
