// What the Windows files of the platform layer share: the Windows headers,
// included the one way, and the helpers of more than one file. Nothing outside
// src/platform/windows/ includes it.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstddef>

namespace malha::platform::detail {

// The most bytes one ReadFile or WriteFile call is asked to move.
inline DWORD chunk_of(std::size_t size) {
  return size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
}

// A system error code as returned: never 0, which would mean success.
inline int error_code(DWORD error) {
  return error == ERROR_SUCCESS ? static_cast<int>(ERROR_GEN_FAILURE) : static_cast<int>(error);
}

// The last error of the calling thread, as error_code gives it.
inline int last_error() {
  return error_code(GetLastError());
}

// Closes the lock file of the working folder, which deletes it (files.cpp).
void release_run_lock();

}  // namespace malha::platform::detail
