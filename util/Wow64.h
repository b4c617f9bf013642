#pragma once

// A 32-bit process on 64-bit Windows: IsWow64Process on ourselves succeeds and
// says so. Asked anew at every use; the answer never changes during a run.
bool IsUnderWow64();
