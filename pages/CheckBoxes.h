#pragma once
// The classic flow's groups of check boxes and the states kept for them.
#include <windows.h>

#include <array>
#include <cstddef>

template <size_t N>
void CheckAll(const std::array<HWND, N>& boxes) {
    for (HWND box : boxes) ::SendMessageW(box, BM_SETCHECK, BST_CHECKED, 0);
}

template <size_t N>
void ReadChecks(const std::array<HWND, N>& boxes, std::array<bool, N>& states) {
    for (size_t i = 0; i < N; ++i) states[i] = ::SendMessageW(boxes[i], BM_GETCHECK, 0, 0) == BST_CHECKED;
}
