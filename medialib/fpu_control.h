#pragma once
// The media libraries' floating-point code expects every floating-point exception masked.
// A process starts that way on x86-64 Linux; these make sure of it for the program's run and
// put back what was there at exit. The loader's unit does it once, at start-up.

namespace kelvaro {

// Masks every floating-point exception and returns the previous control state.
unsigned MaskFloatingPointExceptions();
void RestoreFloatingPointControl(unsigned previous);

}  // namespace kelvaro
