#include "windowing/show_exception.h"

#include <string>

void ShowException(const Exception* e, HWND owner) {
    if (e == nullptr) {
        return;
    }
    // The message, CR LF and the details: since the details are always empty, the box ends
    // with an empty line.
    const std::string text = ExceptionText(*e);
    ShowErrorText(text.c_str(), owner);
}

void ShowErrorText(const char* text, HWND owner) {
    // No caption of our own: a null caption gives the system's default one for error boxes.
    // The result is ignored: the only button is OK.
    MessageBoxA(owner, text, nullptr, MB_OK | MB_ICONERROR);
}
